#pragma once

// A small HTTP/1.1 server over Boost.Beast with explicit limits, plain or over TLS. The reference
// server and the tests' fixture servers both stand on it. Network I/O runs on threads of its own;
// handlers run on a separate pool, so a slow handler never holds up reading or writing.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vendoremp::http {

struct Request
{
    std::string method; // "GET", "POST", ...
    std::string target; // path and query, as sent
    std::string path;   // target up to '?'
    std::string query;  // after '?', without it; empty when there is none
    std::vector<std::pair<std::string, std::string>> headers; // in the order received
    std::string body;
    std::string remoteAddress; // the peer's IP address without port; IPv4-mapped IPv6 as IPv4
    bool tls = false;          // arrived over TLS

    /// The first header of that name (case-insensitive), or the empty string.
    std::string header(const std::string &name) const;
};

struct Response
{
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; // extra headers

    // Fault injection, for fixture servers.
    std::chrono::milliseconds delay{0};        // wait this long before answering
    std::chrono::milliseconds dripInterval{0}; // > 0: send the body one byte per interval
    bool closeWithoutAnswer = false;           // drop the connection instead of answering
};

struct Limits
{
    std::size_t maxBodyBytes = 16u * 1024 * 1024;  // beyond: 413
    std::size_t maxHeaderBytes = 16u * 1024;       // beyond: 431
    std::size_t maxHeaderFields = 100;             // beyond: 431
    std::chrono::milliseconds readTimeout{10000};  // a request (or TLS handshake) not fully read
                                                   // by then: closed
    std::size_t maxConnections = 1024;             // beyond: new connections closed at once
    std::size_t maxConnectionsPerClient = 128;     // per peer address; beyond: closed at once
    std::vector<std::string> unlimitedClients;     // peer addresses exempt from the above
    std::size_t maxBodyBytesInFlight = 64u * 1024 * 1024; // bodies held at once; beyond: 503
    unsigned threads = 2;                          // threads running handlers
    unsigned ioThreads = 2;                        // threads doing network I/O and TLS
    std::chrono::milliseconds writeTimeout{30000}; // an answer not taken by then: closed
    // While more than three quarters of maxConnections are open, a kept-alive connection waiting
    // for its next request is closed after this instead of readTimeout.
    std::chrono::milliseconds idleTimeoutUnderLoad{1000};
};

using Handler = std::function<Response(const Request &)>;

class Server
{
public:
    explicit Server(Handler handler, Limits limits = {});
    ~Server(); // stops
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    /// Serves HTTPS (TLS 1.2 or later) with this PEM certificate chain and key; before listen().
    /// @throws std::runtime_error when either file cannot be loaded or they do not match
    void useTls(const std::string &certificateFile, const std::string &keyFile);
    /// Binds and starts serving; port 0 picks a free one. Returns the bound port.
    /// @throws std::runtime_error when the address cannot be bound
    std::uint16_t listen(const std::string &host, std::uint16_t port);
    std::uint16_t port() const;
    /// Stops accepting, closes every connection and joins the threads. Idempotent.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace vendoremp::http
