#include "http/HttpServer.h"

#include "http/TlsStream.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <openssl/ssl.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace vendoremp::http {

namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
using tcp = net::ip::tcp;
using beast::error_code;

namespace {

// After an error answer the client may still be sending the rest of its request. Closing with
// unread bytes makes the kernel send a reset, which can destroy the answer before the client
// reads it, so the rest is read and discarded for at most this long.
constexpr std::chrono::milliseconds kLingerAfterError{2000};

// Room for the whole header plus streaming room for the body; a chunk line that does not fit
// is malformed.
constexpr std::size_t kBufferSlack = 64 * 1024;

// The most the parser reads at once.
constexpr std::size_t kBodyReadBytes = 64 * 1024;

// While the server is near its connection cap, the idle connections are looked over at most
// this often.
constexpr std::chrono::milliseconds kIdleSweepInterval{250};

// What a client refused for want of body memory is told to wait, in seconds.
constexpr const char *kRetryAfterSeconds = "2";

bool isHttpError(const error_code &ec)
{
    return ec.category() == bhttp::make_error_code(bhttp::error::bad_method).category();
}

std::string addressText(const net::ip::address &address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

using RequestMessage = bhttp::request<bhttp::string_body>;

// The part of the target a handler sees as path and query: origin-form as sent, or what follows
// the authority of an absolute-form target. Nothing when the target is refused: an absolute
// form is taken only when it names the host the Host header names, so that the two cannot
// disagree about where the request goes.
std::optional<std::string_view> originForm(const RequestMessage &req)
{
    const std::string_view target = req.target();
    if (target.starts_with('/'))
        return target;
    const std::size_t scheme = target.find("://");
    if (scheme == std::string_view::npos)
        return std::nullopt;
    const std::string_view name = target.substr(0, scheme);
    if (!beast::iequals(name, "http") && !beast::iequals(name, "https"))
        return std::nullopt;
    const std::string_view rest = target.substr(scheme + 3);
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (authority.empty() || !beast::iequals(authority, req[bhttp::field::host]))
        return std::nullopt;
    if (slash == std::string_view::npos)
        return std::string_view("/");
    return rest.substr(slash);
}

// "." or "..", written or percent-encoded.
bool isDotSegment(std::string_view segment)
{
    int dots = 0;
    for (std::size_t i = 0; i < segment.size();) {
        if (segment[i] == '.') {
            ++i;
        } else if (beast::iequals(segment.substr(i, 3), "%2e")) {
            i += 3;
        } else {
            return false;
        }
        ++dots;
    }
    return dots == 1 || dots == 2;
}

// A dot segment would let a target leave the folder it names once something resolves it.
bool hasDotSegment(std::string_view path)
{
    path = path.substr(0, path.find('?'));
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t slash = path.find('/', at);
        if (slash == std::string_view::npos)
            slash = path.size();
        if (isDotSegment(path.substr(at, slash - at)))
            return true;
        at = slash + 1;
    }
    return false;
}

// The framing and the target, checked once the header is in and before any of the body is read.
bool acceptable(const RequestMessage &req)
{
    // Chunked is the one transfer coding read here. Any other, a list, a second field or a
    // length beside it leaves the end of the request open to interpretation, which a proxy in
    // front may read differently: the rest would become a request of its own.
    if (const std::size_t codings = req.count(bhttp::field::transfer_encoding); codings > 0) {
        if (codings > 1 || req.version() < 11 || req.count(bhttp::field::content_length) > 0 ||
            !beast::iequals(req[bhttp::field::transfer_encoding], "chunked"))
            return false;
    }
    const std::size_t hosts = req.count(bhttp::field::host);
    if (hosts > 1 || (hosts == 0 && req.version() >= 11))
        return false;
    const auto origin = originForm(req);
    return origin && !hasDotSegment(*origin);
}

class SessionBase : public std::enable_shared_from_this<SessionBase>
{
public:
    virtual ~SessionBase() = default;
    /// Only while no server thread runs.
    virtual void closeNow() = 0;
    /// From any thread: the server is near its cap, so an idle wait ends sooner.
    virtual void shortenIdleWait() = 0;

    // Waiting for the next request on a kept-alive connection, nothing of it read yet.
    std::atomic<bool> waitingIdle{false};
};

// What the sessions share with their server.
struct Shared
{
    Shared(Handler h, Limits l) : handler(std::move(h)), limits(std::move(l))
    {
        for (const std::string &text : limits.unlimitedClients) {
            error_code ec;
            const auto address = net::ip::make_address(text, ec);
            unlimited.insert(ec ? text : addressText(address));
        }
    }

    /// Under sessionsMutex.
    bool nearCap() const { return sessions.size() * 4 > limits.maxConnections * 3; }

    bool chargeBody(std::size_t bytes)
    {
        std::size_t held = bodyBytes.load();
        do {
            if (held + bytes > limits.maxBodyBytesInFlight)
                return false;
        } while (!bodyBytes.compare_exchange_weak(held, held + bytes));
        return true;
    }

    Handler handler;
    Limits limits;
    std::unordered_set<std::string> unlimited;
    net::io_context *handlers = nullptr; // the handler pool

    std::mutex sessionsMutex;
    std::unordered_set<SessionBase *> sessions;
    std::unordered_map<std::string, std::size_t> perClient; // open connections by address
    std::chrono::steady_clock::time_point lastSweep;

    std::atomic<std::size_t> bodyBytes{0}; // request bodies held now
};

// The share of the body memory one request holds; given back when the request is done with.
class BodyCharge
{
public:
    explicit BodyCharge(Shared &shared) : m_shared(&shared) {}
    BodyCharge(BodyCharge &&other) noexcept
        : m_shared(other.m_shared), m_bytes(std::exchange(other.m_bytes, 0))
    {
    }
    BodyCharge &operator=(BodyCharge &&other) noexcept
    {
        release();
        m_shared = other.m_shared;
        m_bytes = std::exchange(other.m_bytes, 0);
        return *this;
    }
    ~BodyCharge() { release(); }

    bool raiseTo(std::size_t bytes)
    {
        if (bytes <= m_bytes)
            return true;
        if (!m_shared->chargeBody(bytes - m_bytes))
            return false;
        m_bytes = bytes;
        return true;
    }

    void release()
    {
        if (m_bytes)
            m_shared->bodyBytes -= std::exchange(m_bytes, 0);
    }

private:
    Shared *m_shared;
    std::size_t m_bytes = 0;
};

} // namespace

struct Server::Impl
{
    Impl(Handler h, Limits l) : shared(std::move(h), std::move(l)) { shared.handlers = &handlerIoc; }

    void accept();
    void sweepIdle();

    // Declared before the io_contexts: destroying them destroys the pending handlers and with
    // them the sessions, which unregister here and whose TLS streams use the context.
    Shared shared;
    std::optional<ssl::context> tls;

    net::io_context ioc;
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
    tcp::acceptor acceptor{ioc};
    net::steady_timer acceptRetry{ioc};
    std::vector<std::thread> threads;

    std::mutex stateMutex;
    bool listening = false;
    bool stopped = false;
    std::uint16_t port = 0;

    // After ioc: a pending job holds its session, whose socket belongs to ioc.
    net::io_context handlerIoc;
    std::optional<net::executor_work_guard<net::io_context::executor_type>> handlerWork;
    std::vector<std::thread> handlerThreads;
};

namespace {

template <class Stream>
class Session : public SessionBase
{
    static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

public:
    template <class... Context>
    Session(Shared &owner, std::string client, tcp::socket socket, Context &...context)
        : m_owner(owner), m_limits(owner.limits), m_client(std::move(client)),
          m_stream(std::move(socket), context...),
          m_buffer(owner.limits.maxHeaderBytes + kBufferSlack), m_timer(m_stream.get_executor()),
          m_charge(owner)
    {
    }

    ~Session() override
    {
        std::lock_guard lock(m_owner.sessionsMutex);
        m_owner.sessions.erase(this);
        const auto it = m_owner.perClient.find(m_client);
        if (it != m_owner.perClient.end() && --it->second == 0)
            m_owner.perClient.erase(it);
    }

    void start()
    {
        net::dispatch(m_stream.get_executor(), [self = self()] {
            if constexpr (kTls) {
                // The read deadline covers the handshake too: one that never finishes is closed.
                self->tcp().expires_after(self->m_limits.readTimeout);
                self->m_stream.async_handshake([self](error_code ec) {
                    if (ec)
                        return self->close();
                    self->readRequest(false);
                });
            } else {
                self->readRequest(false);
            }
        });
    }

    void closeNow() override
    {
        error_code ec;
        tcp().socket().close(ec);
        m_timer.cancel();
    }

    void shortenIdleWait() override
    {
        net::post(m_stream.get_executor(), [self = self()] {
            if (self->waitingIdle)
                self->armIdleClose();
        });
    }

private:
    std::shared_ptr<Session> self()
    {
        return std::static_pointer_cast<Session>(shared_from_this());
    }

    beast::tcp_stream &tcp() { return beast::get_lowest_layer(m_stream); }

    void readRequest(bool keptAlive)
    {
        m_parser.emplace();
        m_parser->header_limit(
            static_cast<std::uint32_t>(std::min<std::size_t>(m_limits.maxHeaderBytes, UINT32_MAX)));
        m_parser->body_limit(static_cast<std::uint64_t>(m_limits.maxBodyBytes));
        // Stop after the header, so that what the parser consumed is header alone.
        m_parser->eager(false);
        m_headerBytes = 0;
        // One deadline for the whole request, so a client dribbling bytes cannot hold it open.
        tcp().expires_after(m_limits.readTimeout);
        if (keptAlive) {
            ++m_idleGeneration;
            waitingIdle = true;
            bool near;
            {
                std::lock_guard lock(m_owner.sessionsMutex);
                near = m_owner.nearCap();
            }
            if (near)
                armIdleClose();
        }
        readHeader();
    }

    // Closes the connection unless its next request has begun by then. Once per idle wait, so
    // that repeated sweeps do not push the end further out.
    void armIdleClose()
    {
        if (m_armedGeneration == m_idleGeneration)
            return;
        m_armedGeneration = m_idleGeneration;
        m_timer.expires_after(std::min(m_limits.idleTimeoutUnderLoad, m_limits.readTimeout));
        m_timer.async_wait([self = self(), generation = m_idleGeneration](error_code ec) {
            if (!ec && self->waitingIdle && self->m_idleGeneration == generation)
                self->close();
        });
    }

    // The parser applies its header limit to what one read delivers, and consumes whole fields
    // as they come, so a header sent as many small fields would pass it. The total is counted
    // here instead.
    void readHeader()
    {
        bhttp::async_read_some(
            m_stream, m_buffer, *m_parser,
            beast::bind_front_handler(&Session::onHeaderPart, self()));
    }

    void onHeaderPart(error_code ec, std::size_t consumed)
    {
        if (ec)
            return onReadError(ec);
        if (consumed > 0 || m_buffer.size() > 0)
            waitingIdle = false;
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
        if (!acceptable(m_parser->get()))
            return answerError(bhttp::status::bad_request);
        // A declared length is charged whole before any of it is read; a longer one than the
        // body limit gets its 413 from the parser.
        const auto length = m_parser->content_length();
        if (length && *length <= m_limits.maxBodyBytes && !m_charge.raiseTo(std::size_t(*length)))
            return answerError(bhttp::status::service_unavailable);
        onHeader();
    }

    void onHeader()
    {
        const auto &req = m_parser->get();
        const auto expect = req[bhttp::field::expect];
        if (!m_parser->is_done() && beast::iequals(expect, "100-continue")) {
            static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            net::async_write(m_stream, net::buffer(kContinue, sizeof kContinue - 1),
                             [self = self()](error_code ec, std::size_t) {
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
        if (m_parser->is_done())
            return onRequest();
        // The buffer grows only as far as a read needs, and a read asks only for the room the
        // buffer has: left alone, a large body arrives in reads of a few hundred bytes, each a
        // round through the loop and a timer update. Room for the largest read the parser asks
        // for, or for the rest of a shorter body, is made once per connection.
        const auto remaining = m_parser->content_length_remaining();
        const std::size_t want =
            remaining ? std::size_t(std::min<std::uint64_t>(*remaining, kBodyReadBytes))
                      : kBodyReadBytes;
        if (m_buffer.capacity() - m_buffer.size() < want)
            m_buffer.reserve(std::min(m_buffer.size() + want, m_buffer.max_size()));
        bhttp::async_read_some(m_stream, m_buffer, *m_parser,
                               beast::bind_front_handler(&Session::onBodyPart, self()));
    }

    void onBodyPart(error_code ec, std::size_t)
    {
        if (ec)
            return onReadError(ec);
        // A chunked body has no length up front: it is charged as it grows.
        if (!m_charge.raiseTo(m_parser->get().body().size()))
            return answerError(bhttp::status::service_unavailable);
        readBody();
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

    void onRequest()
    {
        tcp().expires_never(); // the handler may take its time

        auto &msg = m_parser->get();
        m_version = msg.version();
        m_keepAlive = msg.keep_alive();
        m_head = msg.method() == bhttp::verb::head;

        Request req;
        req.method = std::string(msg.method_string());
        req.target = std::string(msg.target());
        const std::string origin(originForm(msg).value_or(msg.target()));
        const auto q = origin.find('?');
        req.path = origin.substr(0, q);
        if (q != std::string::npos)
            req.query = origin.substr(q + 1);
        for (const auto &field : msg)
            req.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        req.body = std::move(msg.body());
        req.remoteAddress = m_client;
        req.tls = kTls;
        m_parser.reset();

        // The handler runs on the pool, so that a slow one holds up no network I/O.
        net::post(*m_owner.handlers, [self = self(), req = std::move(req),
                                      charge = std::move(m_charge)]() mutable {
            Response res;
            try {
                res = self->m_owner.handler(req);
            } catch (...) {
                res = Response{};
                res.status = 500;
                res.body = "Internal Server Error\n";
            }
            req = Request{};
            charge.release();
            net::post(self->m_stream.get_executor(), [self, res = std::move(res)]() mutable {
                self->onHandled(std::move(res));
            });
        });
    }

    void onHandled(Response res)
    {
        m_pending = std::move(res);
        if (m_pending.delay.count() > 0) {
            m_timer.expires_after(m_pending.delay);
            m_timer.async_wait([self = self()](error_code ec) {
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
        tcp().expires_after(m_limits.writeTimeout);
        if (m_dripInterval.count() > 0 && !m_res.body().empty()) {
            m_dripPos = 0;
            bhttp::async_write_header(m_stream, *m_serializer,
                                      [self = self()](error_code ec, std::size_t) {
                                          if (ec)
                                              return self->close();
                                          self->dripNext();
                                      });
            return;
        }
        bhttp::async_write(m_stream, *m_serializer,
                           beast::bind_front_handler(&Session::onWritten, self()));
    }

    void dripNext()
    {
        if (m_dripPos >= m_res.body().size())
            return onWritten({}, 0);
        tcp().expires_never();
        m_timer.expires_after(m_dripInterval);
        m_timer.async_wait([self = self()](error_code ec) {
            if (ec)
                return self->close();
            self->tcp().expires_after(self->m_limits.writeTimeout);
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
        readRequest(true);
    }

    void answerError(bhttp::status status)
    {
        m_charge.release();
        m_parser.reset();
        m_keepAlive = false;
        m_res = {};
        m_res.version(11);
        m_res.result(status);
        m_res.set(bhttp::field::content_type, "text/plain; charset=utf-8");
        if (status == bhttp::status::service_unavailable)
            m_res.set(bhttp::field::retry_after, kRetryAfterSeconds);
        m_res.body() = std::string(bhttp::obsolete_reason(status)) + "\n";
        m_res.content_length(m_res.body().size());
        m_res.keep_alive(false);
        m_serializer.emplace(m_res);
        tcp().expires_after(m_limits.writeTimeout);
        bhttp::async_write(m_stream, *m_serializer, [self = self()](error_code ec, std::size_t) {
            if (ec)
                return self->close();
            error_code ignored;
            self->tcp().socket().shutdown(tcp::socket::shutdown_send, ignored);
            self->tcp().expires_after(std::min(self->m_limits.readTimeout, kLingerAfterError));
            self->drain();
        });
    }

    // Below any TLS: what is left is discarded unread.
    void drain()
    {
        tcp().async_read_some(net::buffer(m_drain), [self = self()](error_code ec, std::size_t) {
            if (ec)
                return self->close();
            self->drain();
        });
    }

    void close()
    {
        error_code ec;
        waitingIdle = false;
        m_timer.cancel();
        tcp().socket().shutdown(tcp::socket::shutdown_both, ec);
        tcp().socket().close(ec);
    }

    Shared &m_owner;
    const Limits &m_limits;
    const std::string m_client;
    Stream m_stream;
    beast::flat_buffer m_buffer;
    net::steady_timer m_timer;
    std::optional<bhttp::request_parser<bhttp::string_body>> m_parser;
    BodyCharge m_charge;

    unsigned m_version = 11;
    bool m_keepAlive = true;
    bool m_head = false;
    Response m_pending;
    bhttp::response<bhttp::string_body> m_res;
    std::optional<bhttp::response_serializer<bhttp::string_body>> m_serializer;
    std::chrono::milliseconds m_dripInterval{0};
    std::size_t m_dripPos = 0;
    std::size_t m_headerBytes = 0;
    std::uint64_t m_idleGeneration = 0;
    std::uint64_t m_armedGeneration = 0;
    std::array<char, 4096> m_drain{};
};

using PlainSession = Session<beast::tcp_stream>;
using TlsSession = Session<TlsStream>;

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
        const auto peer = socket.remote_endpoint(ec);
        // An answer goes out as soon as it is written: over TLS its last record is a short
        // segment that Nagle would otherwise hold back until the client's delayed ACK.
        if (!ec) {
            error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
        }
        std::shared_ptr<SessionBase> session;
        bool sweep = false;
        if (!ec) {
            std::string client = addressText(peer.address());
            std::lock_guard lock(shared.sessionsMutex);
            const bool exempt = shared.unlimited.contains(client);
            auto counted = shared.perClient.find(client);
            const std::size_t held = counted == shared.perClient.end() ? 0 : counted->second;
            if (shared.sessions.size() < shared.limits.maxConnections &&
                (exempt || held < shared.limits.maxConnectionsPerClient)) {
                // A TLS session that cannot be set up (out of memory) costs this connection
                // alone; the accept loop goes on.
                try {
                    if (tls)
                        session =
                            std::make_shared<TlsSession>(shared, client, std::move(socket), *tls);
                    else
                        session = std::make_shared<PlainSession>(shared, client, std::move(socket));
                } catch (const std::exception &) {
                }
                if (session) {
                    shared.sessions.insert(session.get());
                    ++shared.perClient[client];
                }
            }
            const auto now = std::chrono::steady_clock::now();
            if (shared.nearCap() && now - shared.lastSweep >= kIdleSweepInterval) {
                shared.lastSweep = now;
                sweep = true;
            }
        }
        if (session) {
            if (tls)
                std::static_pointer_cast<TlsSession>(session)->start();
            else
                std::static_pointer_cast<PlainSession>(session)->start();
        } else {
            error_code ignored;
            socket.close(ignored);
        }
        if (sweep)
            sweepIdle();
        accept();
    });
}

// Near the cap, a kept-alive connection that waits for nothing in particular is worth less than
// a slot for a client that cannot get in: idle waits begun before the load rose end sooner too.
void Server::Impl::sweepIdle()
{
    std::vector<std::shared_ptr<SessionBase>> idle;
    {
        std::lock_guard lock(shared.sessionsMutex);
        for (SessionBase *s : shared.sessions) {
            if (!s->waitingIdle)
                continue;
            // Empty for a session already on its way out.
            if (auto owned = s->weak_from_this().lock())
                idle.push_back(std::move(owned));
        }
    }
    for (const auto &s : idle)
        s->shortenIdleWait();
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

void Server::useTls(const std::string &certificateFile, const std::string &keyFile)
{
    std::lock_guard lock(m_impl->stateMutex);
    if (m_impl->listening || m_impl->stopped)
        throw std::runtime_error("TLS is set up before the server listens");
    ssl::context context(ssl::context::tls_server);
    context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                        ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                        ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    // Whatever the system's OpenSSL configuration allows.
    if (SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION) != 1)
        throw std::runtime_error("cannot require TLS 1.2");
    // AES-128-GCM first whatever the client's order: TLS 1.3's mandatory suite, ample strength,
    // and a quarter cheaper per byte of answer than AES-256, which OpenSSL clients list first.
    SSL_CTX_set_options(context.native_handle(), SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_set_ciphersuites(context.native_handle(),
                                 "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:"
                                 "TLS_AES_256_GCM_SHA384") != 1)
        throw std::runtime_error("cannot set the TLS 1.3 cipher suites");
    error_code ec;
    context.use_certificate_chain_file(certificateFile, ec);
    if (ec)
        throw std::runtime_error("cannot load the TLS certificate " + certificateFile + ": " +
                                 ec.message());
    context.use_private_key_file(keyFile, ssl::context::pem, ec);
    if (ec)
        throw std::runtime_error("cannot load the TLS key " + keyFile + ": " + ec.message());
    if (SSL_CTX_check_private_key(context.native_handle()) != 1)
        throw std::runtime_error("the TLS key " + keyFile + " does not belong to the certificate " +
                                 certificateFile);
    m_impl->tls.emplace(std::move(context));
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
    d.handlerWork.emplace(d.handlerIoc.get_executor());
    d.accept();
    const auto run = [](net::io_context &context) {
        for (;;) {
            try {
                context.run();
                return;
            } catch (...) {
                // A handler that throws out of the loop must not take the server down.
            }
        }
    };
    for (unsigned i = 0; i < std::max(1u, d.shared.limits.ioThreads); ++i)
        d.threads.emplace_back([&d, run] { run(d.ioc); });
    for (unsigned i = 0; i < std::max(1u, d.shared.limits.threads); ++i)
        d.handlerThreads.emplace_back([&d, run] { run(d.handlerIoc); });
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
    const auto join = [](std::vector<std::thread> &threads) {
        for (auto &t : threads) {
            if (t.get_id() == std::this_thread::get_id())
                t.detach(); // stop() from inside a handler
            else
                t.join();
        }
        threads.clear();
    };
    d.work.reset();
    d.ioc.stop();
    join(d.threads);
    d.handlerWork.reset();
    d.handlerIoc.stop();
    join(d.handlerThreads);

    // No server thread runs now: close everything so that clients see the end at once.
    error_code ignored;
    d.acceptor.close(ignored);
    d.acceptRetry.cancel();
    std::lock_guard sessionsLock(d.shared.sessionsMutex);
    for (SessionBase *s : d.shared.sessions)
        s->closeNow();
}

} // namespace vendoremp::http
