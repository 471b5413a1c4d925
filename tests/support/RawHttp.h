#pragma once

// Plain POSIX sockets on 127.0.0.1, for tests that must send what no well-behaved client sends
// (an endless header line, a body that never ends) or hold many connections from many threads.
// Every call is bounded by a deadline.

#include <chrono>
#include <cstdint>
#include <string>

namespace kvetest::raw {

using Clock = std::chrono::steady_clock;

class Connection
{
public:
    Connection() = default;
    /// Connects at once, from the loopback address from when given; check open().
    explicit Connection(std::uint16_t port, const char *from = nullptr);
    ~Connection();
    Connection(Connection &&other) noexcept;
    Connection &operator=(Connection &&other) noexcept;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool open() const { return m_fd >= 0; }
    /// Sends everything unless the peer closes or the deadline passes; returns the bytes sent.
    std::size_t send(const std::string &bytes, Clock::time_point deadline);
    /// Reads until the peer closes or the deadline passes.
    std::string readAll(Clock::time_point deadline);
    /// Reads one whole answer (head and a Content-Length body), leaving the connection open.
    std::string readAnswer(Clock::time_point deadline);
    /// Whether the peer has closed the connection (waits at most until the deadline).
    bool closedByPeer(Clock::time_point deadline);
    void close();

private:
    int m_fd = -1;
    std::string m_pending; // bytes read past the last answer
};

/// The status of an HTTP answer ("HTTP/1.1 200 OK...", or HTTP/1.0), 0 when there is none.
int statusOf(const std::string &answer);
/// A field of an answer's head (the first of that name, letter case aside), empty when absent.
std::string headerOf(const std::string &answer, const std::string &name);
/// Whether an answer is whole: its head ended and all of its Content-Length body there.
bool isWhole(const std::string &answer);
/// The body of an HTTP answer with a Content-Length (or the rest), empty when there is none.
std::string bodyOf(const std::string &answer);

/// A POST of a form body to the server page on a connection of its own; the whole answer.
std::string postForm(std::uint16_t port, const std::string &body,
                     std::chrono::milliseconds timeout = std::chrono::seconds(30));
/// A GET on a connection of its own; the whole answer.
std::string get(std::uint16_t port, const std::string &target,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));

/// Resident set size of a process, in bytes (0 when it cannot be read); peak: the highest so far.
std::int64_t residentBytes(std::int64_t pid, bool peak = false);

} // namespace kvetest::raw
