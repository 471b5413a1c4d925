#include "server/Options.h"

#include "server/Access.h"
#include "server/StatementChecker.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vendoremp::server {

namespace {

constexpr std::int64_t maxSeedCount = 1'000'000;

// "HOST:PORT", "[IPV6]:PORT".
bool parseListen(std::string_view text, Options &options)
{
    std::string_view host, port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || text.substr(close + 1, 1) != ":")
            return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos)
            return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    const auto number = parseDecimal(port);
    if (host.empty() || !number || *number < 0 || *number > 65535)
        return false;
    options.host = std::string(host);
    options.port = std::uint16_t(*number);
    return true;
}

bool isLoopbackHost(const std::string &host)
{
    if (host == "localhost")
        return true;
    const std::optional<std::string> address = canonicalAddress(host);
    return address && isLoopbackAddress(*address);
}

// "http://name", "https://name:8443": what a browser sends as Origin.
bool isOrigin(std::string_view text)
{
    const std::size_t scheme = text.find("://");
    if (scheme == std::string_view::npos || scheme == 0)
        return false;
    const std::string_view rest = text.substr(scheme + 3);
    return !rest.empty() && rest.find_first_of("/?#@ ") == std::string_view::npos;
}

constexpr std::array flags{std::string_view("--hash-password"), std::string_view("--insecure-open")};
constexpr std::array valued{
    std::string_view("--listen"),        std::string_view("--database"),
    std::string_view("--seed"),          std::string_view("--threads"),
    std::string_view("--users"),         std::string_view("--trusted-proxy"),
    std::string_view("--user-header"),   std::string_view("--tls-cert"),
    std::string_view("--tls-key"),       std::string_view("--allow-host"),
    std::string_view("--allow-origin"),  std::string_view("--max-connections-per-client"),
};

template <class List> bool listed(const List &list, std::string_view name)
{
    return std::find(list.begin(), list.end(), name) != list.end();
}

// Why the file cannot be read; empty when it can.
std::string unreadable(std::string_view path)
{
    std::FILE *file = std::fopen(std::string(path).c_str(), "rb");
    if (!file)
        return std::strerror(errno);
    // A folder opens but does not read.
    std::fgetc(file);
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    return error ? std::strerror(error) : std::string();
}

} // namespace

std::string unprotectedReason(const Options &options)
{
    if (options.insecureOpen || isLoopbackHost(options.host))
        return {};
    const bool tls = !options.tlsCertFile.empty() && !options.tlsKeyFile.empty();
    if (!options.usersFile.empty() && (tls || !options.userHeader.empty()))
        return {};
    return "listening on " + options.host +
           " outside loopback leaves every employee's name and every link open to anyone who "
           "reaches the port. Add --users FILE with --tls-cert FILE --tls-key FILE, or "
           "--trusted-proxy ADDR --user-header NAME --users FILE behind a proxy that does the "
           "login; or --insecure-open to serve without protection anyway";
}

std::string usage()
{
    return R"(Usage: vendoremp-server [options]

Serves the page VendorEmployee.asp for the vendor employee control:
  GET  /VendorEmployee.asp?VendorID=N   the vendor's employee document (XML)
  POST /VendorEmployee.asp              SQL= fields of the control's save, applied all or nothing

Options:
  --listen HOST:PORT   address to listen on (default 127.0.0.1:8080; [::1]:PORT for IPv6;
                       port 0 picks a free port). The address is printed on standard output
                       as http://HOST:PORT once the server accepts connections.
  --database DB        sqlite:PATH (default sqlite:vendoremp.db) or a PostgreSQL URI
                       (postgresql://user@host/dbname). The schema is created when missing.
  --seed demo          fill an empty database with demo vendors and about 200 employees
  --seed N             fill an empty database with N generated employees (1 to 1000000),
                       vendors 1 and 2, vendor 1 linked to every fourth employee
                       (a database that already holds employees is left as it is)
  --threads N          threads answering requests (default 4)
  --tls-cert FILE      serve HTTPS (TLS 1.2 or later) with this PEM certificate chain;
  --tls-key FILE       and its PEM private key (both or neither). The address is then
                       printed as https://HOST:PORT.
  --max-connections-per-client N
                       connections one client address may hold open at once (default 128);
                       beyond them its new connections are closed at once
  --help               show this text

Protection (listening outside loopback needs --users with TLS, or a trusted proxy that does
the login; otherwise the server refuses to start):
  --users FILE         every request needs HTTP Basic credentials of a user in FILE: lines
                       name:hash:role, role read or write, # starts a comment; the hash is a
                       crypt(3) hash ($y$ yescrypt, $6$ or $2b$), or * for a user that only a
                       trusted proxy may name. A read user's POST gets 403. SIGHUP re-reads it.
  --hash-password      read a password on standard input, print its yescrypt hash, and exit
  --trusted-proxy ADDR an IP address whose requests may name their user in --user-header and
                       whose X-Forwarded-For (its last entry) is the client's address
                       (repeatable)
  --user-header NAME   the header a trusted proxy names the logged-in user in (with --users:
                       the user must be listed there; the role comes from the file)
  --insecure-open      serve outside loopback without any protection
  --allow-host NAME    a Host the server answers to (repeatable); NAME:PORT matches that port
                       only. Always allowed: the listen address, localhost, 127.0.0.1, [::1] and
                       this machine's name, each with the port. Any other Host gets 403.
  --allow-origin URL   an Origin (scheme://host[:port]) whose pages may send requests
                       (repeatable). A request with any other Origin, or a cross-site
                       Sec-Fetch-Site, gets 403 with nothing applied.

After 10 failed logins within 60 s, a client address gets 429 for 60 s.
GET /healthz answers "ok" (200) while the database answers within 1 s, else 503; it needs no
credentials.

Each request is logged on standard error: method, target, status, duration.
SIGINT or SIGTERM stops the server cleanly; SIGHUP re-reads the users file.
)";
}

ParsedOptions parseOptions(int argc, const char *const *argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "--hash-password") {
            options.hashPassword = true;
            continue;
        }
        if (arg == "--insecure-open") {
            options.insecureOpen = true;
            continue;
        }
        // "--name value" and "--name=value" both work.
        std::string_view name = arg, value;
        bool hasValue = false;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        if (listed(flags, name))
            return {std::nullopt, std::string(name) + " takes no value"};
        if (!listed(valued, name))
            return {std::nullopt, "unknown option " + std::string(arg)};
        if (!hasValue) {
            if (i + 1 >= argc)
                return {std::nullopt, std::string(name) + " needs a value"};
            value = argv[++i];
        }
        const auto needsText = [&]() -> ParsedOptions {
            return {std::nullopt, std::string(name) + " needs a value"};
        };
        if (name == "--listen") {
            if (!parseListen(value, options))
                return {std::nullopt, "--listen needs HOST:PORT, not " + std::string(value)};
        } else if (name == "--database") {
            options.database = std::string(value);
        } else if (name == "--seed") {
            if (value == "demo") {
                options.seed = Options::Seed::Demo;
            } else {
                const auto n = parseDecimal(value);
                if (!n || *n < 1 || *n > maxSeedCount)
                    return {std::nullopt, "--seed needs demo or a count from 1 to 1000000"};
                options.seed = Options::Seed::Generated;
                options.seedCount = *n;
            }
        } else if (name == "--tls-cert" || name == "--tls-key") {
            (name == "--tls-cert" ? options.tlsCertFile : options.tlsKeyFile) = std::string(value);
            if (const std::string why = unreadable(value); !why.empty())
                return {std::nullopt,
                        "cannot read " + std::string(name) + " " + std::string(value) + ": " + why};
        } else if (name == "--max-connections-per-client") {
            const auto n = parseDecimal(value);
            if (!n || *n < 1 || *n > 65535)
                return {std::nullopt, "--max-connections-per-client needs a number from 1 to 65535"};
            options.maxConnectionsPerClient = std::size_t(*n);
        } else if (name == "--threads") {
            const auto n = parseDecimal(value);
            if (!n || *n < 1 || *n > 256)
                return {std::nullopt, "--threads needs a number from 1 to 256"};
            options.threads = unsigned(*n);
        } else if (value.empty()) {
            return needsText();
        } else if (name == "--users") {
            options.usersFile = std::string(value);
        } else if (name == "--trusted-proxy") {
            const std::optional<std::string> address = canonicalAddress(value);
            if (!address)
                return {std::nullopt,
                        "--trusted-proxy needs an IP address, not " + std::string(value)};
            options.trustedProxies.push_back(*address);
        } else if (name == "--user-header") {
            options.userHeader = std::string(value);
        } else if (name == "--allow-host") {
            options.allowHosts.push_back(std::string(value));
        } else {
            if (!isOrigin(value))
                return {std::nullopt, "--allow-origin needs scheme://host[:port], not " +
                                          std::string(value)};
            options.allowOrigins.push_back(std::string(value));
        }
    }
    if (options.tlsCertFile.empty() != options.tlsKeyFile.empty())
        return {std::nullopt, "--tls-cert and --tls-key go together"};
    if (!options.userHeader.empty() && (options.trustedProxies.empty() || options.usersFile.empty()))
        return {std::nullopt, "--user-header needs --trusted-proxy and --users (the role comes "
                              "from the users file)"};
    return {options, {}};
}

} // namespace vendoremp::server
