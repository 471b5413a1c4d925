#include "server/Options.h"

#include "server/StatementChecker.h"

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

Each request is logged on standard error: method, target, status, duration.
SIGINT or SIGTERM stops the server cleanly.
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
        // "--name value" and "--name=value" both work.
        std::string_view name = arg, value;
        bool hasValue = false;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        if (name != "--listen" && name != "--database" && name != "--seed" &&
            name != "--threads" && name != "--tls-cert" && name != "--tls-key" &&
            name != "--max-connections-per-client")
            return {std::nullopt, "unknown option " + std::string(arg)};
        if (!hasValue) {
            if (i + 1 >= argc)
                return {std::nullopt, std::string(name) + " needs a value"};
            value = argv[++i];
        }
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
        } else {
            const auto n = parseDecimal(value);
            if (!n || *n < 1 || *n > 256)
                return {std::nullopt, "--threads needs a number from 1 to 256"};
            options.threads = unsigned(*n);
        }
    }
    if (options.tlsCertFile.empty() != options.tlsKeyFile.empty())
        return {std::nullopt, "--tls-cert and --tls-key go together"};
    return {options, {}};
}

} // namespace vendoremp::server
