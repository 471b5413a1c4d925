#include "RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace kvetest::raw {

namespace {

int msUntil(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 60000));
}

// Waits for the events; false when the deadline passed first.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, msUntil(deadline));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

std::size_t contentLength(const std::string &answer)
{
    return std::size_t(std::strtoull(headerOf(answer, "Content-Length").c_str(), nullptr, 10));
}

} // namespace

Connection::Connection(std::uint16_t port, const char *from)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    if (from) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (::inet_pton(AF_INET, from, &local.sin_addr) != 1 ||
            ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            close();
            return;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close();
        return;
    }
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Connection::~Connection()
{
    close();
}

Connection::Connection(Connection &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_pending(std::move(other.m_pending))
{
}

Connection &Connection::operator=(Connection &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_pending = std::move(other.m_pending);
    }
    return *this;
}

void Connection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::size_t Connection::send(const std::string &bytes, Clock::time_point deadline)
{
    std::size_t sent = 0;
    while (m_fd >= 0 && sent < bytes.size()) {
        if (!waitFor(m_fd, POLLOUT, deadline))
            break;
        const ssize_t n =
            ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        sent += std::size_t(n);
    }
    return sent;
}

std::string Connection::readAll(Clock::time_point deadline)
{
    std::string out = std::exchange(m_pending, {});
    char buffer[16384];
    while (m_fd >= 0 && waitFor(m_fd, POLLIN, deadline)) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        out.append(buffer, std::size_t(n));
    }
    return out;
}

std::string Connection::readAnswer(Clock::time_point deadline)
{
    std::string out = std::exchange(m_pending, {});
    char buffer[16384];
    for (;;) {
        const auto headEnd = out.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            const std::size_t total = headEnd + 4 + contentLength(out);
            if (out.size() >= total) {
                m_pending = out.substr(total);
                out.resize(total);
                return out;
            }
        }
        if (m_fd < 0 || !waitFor(m_fd, POLLIN, deadline))
            return out;
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return out;
        out.append(buffer, std::size_t(n));
    }
}

bool Connection::closedByPeer(Clock::time_point deadline)
{
    char buffer[4096];
    while (m_fd >= 0 && waitFor(m_fd, POLLIN, deadline)) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return true; // an orderly close or a reset
        m_pending.append(buffer, std::size_t(n));
    }
    return m_fd < 0;
}

int statusOf(const std::string &answer)
{
    if (answer.size() < 12 || answer.compare(0, 7, "HTTP/1.") != 0 ||
        (answer[7] != '0' && answer[7] != '1') || answer[8] != ' ')
        return 0;
    return std::atoi(answer.c_str() + 9);
}

std::string headerOf(const std::string &answer, const std::string &name)
{
    const auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        return text;
    };
    const std::string head = answer.substr(0, answer.find("\r\n\r\n")) + "\r\n";
    const std::string key = "\r\n" + lower(name) + ":";
    const auto at = lower(head).find(key);
    if (at == std::string::npos)
        return {};
    const auto start = head.find_first_not_of(" \t", at + key.size());
    const auto end = head.find_last_not_of(" \t", head.find("\r\n", at + key.size()) - 1);
    return start <= end ? head.substr(start, end + 1 - start) : std::string();
}

bool isWhole(const std::string &answer)
{
    const auto headEnd = answer.find("\r\n\r\n");
    return headEnd != std::string::npos &&
           answer.size() - headEnd - 4 >= contentLength(answer);
}

std::string bodyOf(const std::string &answer)
{
    const auto headEnd = answer.find("\r\n\r\n");
    return headEnd == std::string::npos ? std::string() : answer.substr(headEnd + 4);
}

std::string postForm(std::uint16_t port, const std::string &body, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    Connection c(port);
    if (!c.open())
        return {};
    c.send("POST /VendorEmployee.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body,
           deadline);
    return c.readAll(deadline);
}

std::string get(std::uint16_t port, const std::string &target, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    Connection c(port);
    if (!c.open())
        return {};
    c.send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", deadline);
    return c.readAll(deadline);
}

std::int64_t residentBytes(std::int64_t pid, bool peak)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(peak ? "VmHWM:" : "VmRSS:", 0) == 0)
            return std::int64_t(std::strtoll(line.c_str() + 6, nullptr, 10)) * 1024;
    }
    return 0;
}

} // namespace kvetest::raw
