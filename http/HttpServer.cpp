#include "http/HttpServer.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_set>

namespace vendoremp::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using beast::error_code;

namespace {

class Session;

// After an error answer the client may still be sending the rest of its request. Closing with
// unread bytes makes the kernel send a reset, which can destroy the answer before the client
// reads it, so the rest is read and discarded for at most this long.
constexpr std::chrono::milliseconds kLingerAfterError{2000};

// Room for the whole header plus streaming room for the body; a chunk line that does not fit
// is malformed.
constexpr std::size_t kBufferSlack = 64 * 1024;

// The most the parser reads at once.
constexpr std::size_t kBodyReadBytes = 64 * 1024;

bool isHttpError(const error_code &ec)
{
    return ec.category() == bhttp::make_error_code(bhttp::error::bad_method).category();
}

// What the sessions share with their server.
struct Shared
{
    Handler handler;
    Limits limits;
    std::mutex sessionsMutex;
    std::unordered_set<Session *> sessions;
};

} // namespace

struct Server::Impl
{
    Impl(Handler h, Limits l) : shared{std::move(h), l, {}, {}} {}

    void accept();

    // Declared before the io_context: destroying it destroys the pending handlers and with them
    // the sessions, which unregister here.
    Shared shared;

    net::io_context ioc;
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
    tcp::acceptor acceptor{ioc};
    net::steady_timer acceptRetry{ioc};
    std::vector<std::thread> threads;

    std::mutex stateMutex;
    bool listening = false;
    bool stopped = false;
    std::uint16_t port = 0;
};

namespace {

class Session : public std::enable_shared_from_this<Session>
{
public:
    Session(Shared &owner, tcp::socket socket)
        : m_owner(owner), m_limits(owner.limits), m_stream(std::move(socket)),
          m_buffer(owner.limits.maxHeaderBytes + kBufferSlack), m_timer(m_stream.get_executor())
    {
        error_code ec;
        auto address = m_stream.socket().remote_endpoint(ec).address();
        if (!ec) {
            if (address.is_v6() && address.to_v6().is_v4_mapped())
                address = net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6());
            m_remoteAddress = address.to_string();
        }
    }

    ~Session()
    {
        std::lock_guard lock(m_owner.sessionsMutex);
        m_owner.sessions.erase(this);
    }

    void start()
    {
        net::dispatch(m_stream.get_executor(),
                      beast::bind_front_handler(&Session::readRequest, shared_from_this()));
    }

    /// Only while no server thread runs.
    void closeNow()
    {
        error_code ec;
        m_stream.socket().close(ec);
        m_timer.cancel();
    }

private:
    void readRequest()
    {
        m_parser.emplace();
        m_parser->header_limit(
            static_cast<std::uint32_t>(std::min<std::size_t>(m_limits.maxHeaderBytes, UINT32_MAX)));
        m_parser->body_limit(static_cast<std::uint64_t>(m_limits.maxBodyBytes));
        // Stop after the header, so that what the parser consumed is header alone.
        m_parser->eager(false);
        m_headerBytes = 0;
        // One deadline for the whole request, so a client dribbling bytes cannot hold it open.
        m_stream.expires_after(m_limits.readTimeout);
        readHeader();
    }

    // The parser applies its header limit to what one read delivers, and consumes whole fields
    // as they come, so a header sent as many small fields would pass it. The total is counted
    // here instead.
    void readHeader()
    {
        bhttp::async_read_some(
            m_stream, m_buffer, *m_parser,
            beast::bind_front_handler(&Session::onHeaderPart, shared_from_this()));
    }

    void onHeaderPart(error_code ec, std::size_t consumed)
    {
        if (ec)
            return onReadError(ec);
        m_headerBytes += consumed;
        const bool done = m_parser->is_header_done();
        if (m_headerBytes + (done ? 0 : m_buffer.size()) > m_limits.maxHeaderBytes)
            return answerError(bhttp::status::request_header_fields_too_large);
        if (!done)
            return readHeader();
        // Within the byte limit a client can still send thousands of tiny fields, each one a
        // node to allocate and a line for every handler that walks them.
        const auto &fields = m_parser->get().base();
        if (std::size_t(std::distance(fields.begin(), fields.end())) > m_limits.maxHeaderFields)
            return answerError(bhttp::status::request_header_fields_too_large);
        onHeader();
    }

    void onHeader()
    {
        const auto &req = m_parser->get();
        const auto expect = req[bhttp::field::expect];
        if (!m_parser->is_done() && beast::iequals(expect, "100-continue")) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            net::async_write(m_stream, net::buffer(kContinue, sizeof kContinue - 1),
                             [self = shared_from_this()](error_code ec, std::size_t) {
                                 if (ec)
                                     return self->close();
                                 self->readBody();
                             });
            return;
        }
        readBody();
    }

    void readBody()
    {
        // The buffer grows only as far as a read needs, and a read asks only for the room the
        // buffer has: left alone, a large body arrives in reads of a few hundred bytes, each a
        // round through the loop and a timer update. Room for the largest read the parser asks
        // for, or for the rest of a shorter body, is made once per connection.
        if (!m_parser->is_done()) {
            const auto remaining = m_parser->content_length_remaining();
            const std::size_t want =
                remaining ? std::size_t(std::min<std::uint64_t>(*remaining, kBodyReadBytes))
                          : kBodyReadBytes;
            if (m_buffer.capacity() - m_buffer.size() < want)
                m_buffer.reserve(std::min(m_buffer.size() + want, m_buffer.max_size()));
        }
        bhttp::async_read(m_stream, m_buffer, *m_parser,
                          beast::bind_front_handler(&Session::onRequest, shared_from_this()));
    }

    void onReadError(const error_code &ec)
    {
        if (ec == bhttp::error::body_limit)
            return answerError(bhttp::status::payload_too_large);
        if (ec == bhttp::error::header_limit)
            return answerError(bhttp::status::request_header_fields_too_large);
        if (isHttpError(ec) && ec != bhttp::error::end_of_stream &&
            ec != bhttp::error::partial_message)
            return answerError(bhttp::status::bad_request);
        // Timeout, the client went away, or the server stops.
        close();
    }

    void onRequest(error_code ec, std::size_t)
    {
        if (ec)
            return onReadError(ec);
        m_stream.expires_never(); // the handler may take its time

        auto &msg = m_parser->get();
        m_version = msg.version();
        m_keepAlive = msg.keep_alive();
        m_head = msg.method() == bhttp::verb::head;

        Request req;
        req.method = std::string(msg.method_string());
        req.target = std::string(msg.target());
        const auto q = req.target.find('?');
        req.path = req.target.substr(0, q);
        if (q != std::string::npos)
            req.query = req.target.substr(q + 1);
        for (const auto &field : msg)
            req.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        req.body = std::move(msg.body());
        req.remoteAddress = m_remoteAddress;
        m_parser.reset();

        try {
            m_pending = m_owner.handler(req);
        } catch (...) {
            m_pending = Response{};
            m_pending.status = 500;
            m_pending.body = "Internal Server Error\n";
        }

        if (m_pending.delay.count() > 0) {
            m_timer.expires_after(m_pending.delay);
            m_timer.async_wait([self = shared_from_this()](error_code ec) {
                if (!ec)
                    self->deliver();
            });
            return;
        }
        deliver();
    }

    void deliver()
    {
        if (m_pending.closeWithoutAnswer)
            return close();

        m_res = {};
        m_res.version(m_version);
        const int status =
            m_pending.status >= 100 && m_pending.status <= 999 ? m_pending.status : 500;
        m_res.result(static_cast<unsigned>(status));
        if (!m_pending.contentType.empty())
            m_res.set(bhttp::field::content_type, m_pending.contentType);
        for (const auto &[name, value] : m_pending.headers) {
            // The length is always ours to state; a handler asks for a close through Connection.
            if (beast::iequals(name, "Content-Length") || beast::iequals(name, "Transfer-Encoding"))
                continue;
            if (beast::iequals(name, "Connection")) {
                if (beast::iequals(value, "close"))
                    m_keepAlive = false;
                continue;
            }
            m_res.insert(name, value);
        }
        const std::size_t length = m_pending.body.size();
        if (!m_head)
            m_res.body() = std::move(m_pending.body);
        m_res.content_length(length);
        m_res.keep_alive(m_keepAlive);
        m_dripInterval = m_pending.dripInterval;
        m_pending = Response{};

        m_serializer.emplace(m_res);
        m_stream.expires_after(m_limits.writeTimeout);
        if (m_dripInterval.count() > 0 && !m_res.body().empty()) {
            m_dripPos = 0;
            bhttp::async_write_header(m_stream, *m_serializer,
                                      [self = shared_from_this()](error_code ec, std::size_t) {
                                          if (ec)
                                              return self->close();
                                          self->dripNext();
                                      });
            return;
        }
        bhttp::async_write(m_stream, *m_serializer,
                           beast::bind_front_handler(&Session::onWritten, shared_from_this()));
    }

    void dripNext()
    {
        if (m_dripPos >= m_res.body().size())
            return onWritten({}, 0);
        m_stream.expires_never();
        m_timer.expires_after(m_dripInterval);
        m_timer.async_wait([self = shared_from_this()](error_code ec) {
            if (ec)
                return self->close();
            self->m_stream.expires_after(self->m_limits.writeTimeout);
            net::async_write(self->m_stream,
                             net::buffer(self->m_res.body().data() + self->m_dripPos, 1),
                             [self](error_code ec, std::size_t) {
                                 if (ec)
                                     return self->close();
                                 ++self->m_dripPos;
                                 self->dripNext();
                             });
        });
    }

    void onWritten(error_code ec, std::size_t)
    {
        m_serializer.reset();
        m_res = {};
        if (ec)
            return close();
        if (!m_keepAlive)
            return close();
        readRequest();
    }

    void answerError(bhttp::status status)
    {
        m_keepAlive = false;
        m_res = {};
        m_res.version(11);
        m_res.result(status);
        m_res.set(bhttp::field::content_type, "text/plain; charset=utf-8");
        m_res.body() = std::string(bhttp::obsolete_reason(status)) + "\n";
        m_res.content_length(m_res.body().size());
        m_res.keep_alive(false);
        m_serializer.emplace(m_res);
        m_stream.expires_after(m_limits.writeTimeout);
        bhttp::async_write(
            m_stream, *m_serializer, [self = shared_from_this()](error_code ec, std::size_t) {
                if (ec)
                    return self->close();
                error_code ignored;
                self->m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
                self->m_stream.expires_after(
                    std::min(self->m_limits.readTimeout, kLingerAfterError));
                self->drain();
            });
    }

    void drain()
    {
        m_stream.async_read_some(net::buffer(m_drain),
                                 [self = shared_from_this()](error_code ec, std::size_t) {
                                     if (ec)
                                         return self->close();
                                     self->drain();
                                 });
    }

    void close()
    {
        error_code ec;
        m_timer.cancel();
        m_stream.socket().shutdown(tcp::socket::shutdown_both, ec);
        m_stream.socket().close(ec);
    }

    Shared &m_owner;
    const Limits &m_limits;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    net::steady_timer m_timer;
    std::optional<bhttp::request_parser<bhttp::string_body>> m_parser;

    unsigned m_version = 11;
    bool m_keepAlive = true;
    bool m_head = false;
    Response m_pending;
    bhttp::response<bhttp::string_body> m_res;
    std::optional<bhttp::response_serializer<bhttp::string_body>> m_serializer;
    std::chrono::milliseconds m_dripInterval{0};
    std::size_t m_dripPos = 0;
    std::size_t m_headerBytes = 0;
    std::string m_remoteAddress;
    std::array<char, 4096> m_drain{};
};

} // namespace

void Server::Impl::accept()
{
    acceptor.async_accept(net::make_strand(ioc), [this](error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted)
            return;
        if (ec) {
            // Typically out of descriptors: retry shortly instead of spinning.
            acceptRetry.expires_after(std::chrono::milliseconds(50));
            acceptRetry.async_wait([this](error_code ec) {
                if (!ec)
                    accept();
            });
            return;
        }
        std::shared_ptr<Session> session;
        {
            std::lock_guard lock(shared.sessionsMutex);
            if (shared.sessions.size() < shared.limits.maxConnections) {
                session = std::make_shared<Session>(shared, std::move(socket));
                shared.sessions.insert(session.get());
            }
        }
        if (session) {
            session->start();
        } else {
            error_code ignored;
            socket.close(ignored);
        }
        accept();
    });
}

std::string Request::header(const std::string &name) const
{
    for (const auto &[n, v] : headers)
        if (beast::iequals(n, name))
            return v;
    return {};
}

Server::Server(Handler handler, Limits limits)
    : m_impl(std::make_unique<Impl>(std::move(handler), limits))
{
}

Server::~Server()
{
    stop();
}

std::uint16_t Server::listen(const std::string &host, std::uint16_t port)
{
    Impl &d = *m_impl;
    std::lock_guard lock(d.stateMutex);
    if (d.listening || d.stopped)
        throw std::runtime_error("the server listens already or was stopped");

    auto fail = [&](const error_code &ec) {
        error_code ignored;
        d.acceptor.close(ignored);
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                                 ec.message());
    };

    error_code ec;
    tcp::endpoint endpoint;
    const auto address = net::ip::make_address(host, ec);
    if (!ec) {
        endpoint = tcp::endpoint(address, port);
    } else {
        tcp::resolver resolver(d.ioc);
        const auto results = resolver.resolve(host, std::to_string(port), ec);
        if (ec)
            fail(ec);
        if (results.empty())
            fail(net::error::host_not_found);
        endpoint = *results.begin();
    }

    d.acceptor.open(endpoint.protocol(), ec);
    if (ec)
        fail(ec);
    d.acceptor.set_option(net::socket_base::reuse_address(true), ec);
    d.acceptor.bind(endpoint, ec);
    if (ec)
        fail(ec);
    d.acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        fail(ec);
    d.port = d.acceptor.local_endpoint().port();
    d.listening = true;

    d.work.emplace(d.ioc.get_executor());
    d.accept();
    const unsigned n = std::max(1u, d.shared.limits.threads);
    for (unsigned i = 0; i < n; ++i) {
        d.threads.emplace_back([&d] {
            for (;;) {
                try {
                    d.ioc.run();
                    return;
                } catch (...) {
                    // A handler that throws out of the loop must not take the server down.
                }
            }
        });
    }
    return d.port;
}

std::uint16_t Server::port() const
{
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->port;
}

void Server::stop()
{
    Impl &d = *m_impl;
    std::lock_guard lock(d.stateMutex);
    if (d.stopped)
        return;
    d.stopped = true;

    // Every wait is asynchronous, so stopping the loop ends delays and drips at once; only a
    // handler already running is waited for.
    d.work.reset();
    d.ioc.stop();
    for (auto &t : d.threads) {
        if (t.get_id() == std::this_thread::get_id())
            t.detach(); // stop() from inside a handler
        else
            t.join();
    }
    d.threads.clear();

    // No server thread runs now: close everything so that clients see the end at once.
    error_code ignored;
    d.acceptor.close(ignored);
    d.acceptRetry.cancel();
    std::lock_guard sessionsLock(d.shared.sessionsMutex);
    for (Session *s : d.shared.sessions)
        s->closeNow();
}

} // namespace vendoremp::http
