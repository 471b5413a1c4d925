#pragma once

// A small HTTP/1.1 server over Boost.Beast with explicit limits. The reference server and the
// tests' fixture servers both stand on it. Handlers run on the server's own threads.

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
    /// The peer's IP address without port ("127.0.0.1", "::1"); an IPv4-mapped IPv6 address
    /// as IPv4.
    std::string remoteAddress;

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
    std::chrono::milliseconds readTimeout{10000};  // a request not fully read by then: closed
    std::size_t maxConnections = 1024;             // beyond: new connections closed at once
    unsigned threads = 2;                          // threads running handlers
    std::chrono::milliseconds writeTimeout{30000}; // an answer not taken by then: closed
};

using Handler = std::function<Response(const Request &)>;

class Server
{
public:
    explicit Server(Handler handler, Limits limits = {});
    ~Server(); // stops
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

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
