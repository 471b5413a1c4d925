// vendoremp-server: the reference server page for the vendor employee control.

#include "http/HttpServer.h"
#include "server/Access.h"
#include "server/Options.h"
#include "server/Page.h"
#include "server/Seed.h"
#include "server/Store.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <pthread.h>
#include <string>

using namespace vendoremp;

namespace {

void logLine(const std::string &line)
{
    // One call per line, so that lines from several threads do not interleave.
    const std::string text = line + '\n';
    std::fputs(text.c_str(), stderr);
}

// A request target is client text: keep control characters out of the log.
std::string printable(const std::string &text)
{
    std::string out = text.substr(0, 200);
    for (char &c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    if (text.size() > out.size())
        out += "...";
    return out;
}

// The password on standard input, without the line end, hashed on standard output.
int printPasswordHash()
{
    std::string password{std::istreambuf_iterator<char>(std::cin), {}};
    if (password.ends_with('\n'))
        password.pop_back();
    if (password.ends_with('\r'))
        password.pop_back();
    if (password.empty()) {
        std::fputs("vendoremp-server: no password on standard input\n", stderr);
        return 2;
    }
    const std::optional<std::string> hash = server::hashPassword(password);
    if (!hash) {
        std::fputs("vendoremp-server: libxcrypt cannot hash that password\n", stderr);
        return 1;
    }
    std::printf("%s\n", hash->c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const server::ParsedOptions parsed = server::parseOptions(argc, argv);
    if (!parsed.options) {
        std::fprintf(stderr, "vendoremp-server: %s\nTry vendoremp-server --help.\n",
                     parsed.error.c_str());
        return 2;
    }
    const server::Options &options = *parsed.options;
    if (options.help) {
        std::fputs(server::usage().c_str(), stdout);
        return 0;
    }
    if (options.hashPassword)
        return printPasswordHash();
    if (const std::string reason = server::unprotectedReason(options); !reason.empty()) {
        logLine("vendoremp-server: refusing to start: " + reason + ".");
        return 2;
    }

    server::AccessSettings settings;
    settings.listenHost = options.host;
    settings.trustedProxies = options.trustedProxies;
    settings.userHeader = options.userHeader;
    settings.allowHosts = options.allowHosts;
    settings.allowOrigins = options.allowOrigins;
    server::Access access(settings, [](const std::string &line) {
        logLine("vendoremp-server: " + line);
    });
    if (!options.usersFile.empty()) {
        if (const std::string error = access.loadUsers(options.usersFile); !error.empty()) {
            logLine("vendoremp-server: " + error);
            return 2;
        }
    }

    // Blocked before any thread starts, so that every thread inherits the mask and the signals
    // reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<server::Store> store;
    try {
        store = server::openStore(options.database);
        if (options.seed != server::Options::Seed::None) {
            const server::SeedData data = options.seed == server::Options::Seed::Demo
                                              ? server::demoSeed()
                                              : server::generatedSeed(options.seedCount);
            if (store->seed(data))
                logLine("vendoremp-server: seeded " + std::to_string(data.employees.size()) +
                        " employees and " + std::to_string(data.vendors.size()) + " vendors");
            else
                logLine("vendoremp-server: the database already holds employees; not seeded");
        }
    } catch (const std::invalid_argument &e) {
        logLine(std::string("vendoremp-server: ") + e.what());
        return 2;
    } catch (const std::exception &e) {
        logLine(std::string("vendoremp-server: ") + e.what());
        return 1;
    }

    const server::Page page(
        *store, [](const std::string &detail) { logLine("vendoremp-server: " + detail); });
    http::Limits limits;
    limits.threads = options.threads;
    limits.maxConnectionsPerClient = options.maxConnectionsPerClient;
    // A trusted proxy carries every user's connections; a per-client cap on it would lock them all out.
    limits.unlimitedClients = options.trustedProxies;
    http::Server httpServer(
        [&page, &access](const http::Request &request) {
            const auto start = std::chrono::steady_clock::now();
            http::Response response;
            if (request.path == "/healthz") {
                response = page.health(request);
            } else {
                server::Access::Decision decision = access.admit(request);
                response = decision.refusal ? std::move(*decision.refusal)
                                            : page.handle(request, decision.actor);
            }
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            char ms[32];
            std::snprintf(ms, sizeof ms, "%.1f ms", took.count());
            logLine(printable(request.method) + ' ' + printable(request.target) + ' ' +
                    std::to_string(response.status) + ' ' + ms);
            return response;
        },
        limits);

    const bool tls = !options.tlsCertFile.empty();
    if (tls) {
        try {
            httpServer.useTls(options.tlsCertFile, options.tlsKeyFile);
        } catch (const std::exception &e) {
            logLine(std::string("vendoremp-server: ") + e.what());
            return 2;
        }
    }

    std::uint16_t port = 0;
    try {
        access.setPort(options.port); // known before the first request; port 0 is set below
        port = httpServer.listen(options.host, options.port);
        access.setPort(port);
    } catch (const std::exception &e) {
        logLine("vendoremp-server: cannot listen on " + options.host + ":" +
                std::to_string(options.port) + ": " + e.what());
        return 1;
    }
    const bool v6 = options.host.find(':') != std::string::npos;
    const std::string url =
        (tls ? "https://" : "http://") + (v6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(port);
    std::printf("%s\n", url.c_str());
    std::fflush(stdout);
    logLine("vendoremp-server: serving " + store->describe() + " on " + url);

    int signal = 0;
    for (;;) {
        sigwait(&stopSignals, &signal);
        if (signal != SIGHUP)
            break;
        if (options.usersFile.empty()) {
            logLine("vendoremp-server: SIGHUP: no users file to read");
        } else if (const std::string error = access.loadUsers(options.usersFile);
                   !error.empty()) {
            logLine("vendoremp-server: SIGHUP: " + error + "; the users read before stay");
        } else {
            logLine("vendoremp-server: SIGHUP: users read again from " + options.usersFile);
        }
    }
    logLine(std::string("vendoremp-server: ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
            ", stopping");
    httpServer.stop();
    return 0;
}
