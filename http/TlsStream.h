#pragma once

#include <boost/asio/compose.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <openssl/ssl.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace vendoremp::http {

/// The server side of TLS over a Beast TCP stream, for the HTTP sessions.
///
/// OpenSSL writes its records into memory, and what one write call produced leaves in one
/// socket write. Asio's own TLS stream passes every 16 KiB record through a fixed-size BIO pair,
/// with a socket write and a round through the event loop for each, which made a 60 KB answer
/// cost about a fifth more server time than the same answer in plain HTTP.
///
/// One operation at a time: the sessions read and write in turn, never both at once.
class TlsStream
{
public:
    using executor_type = boost::beast::tcp_stream::executor_type;
    using next_layer_type = boost::beast::tcp_stream;
    using error_code = boost::system::error_code;

    /// Throws std::bad_alloc when OpenSSL cannot set the connection up.
    TlsStream(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context &context);
    TlsStream(const TlsStream &) = delete;
    TlsStream &operator=(const TlsStream &) = delete;

    executor_type get_executor() noexcept { return m_next.get_executor(); }
    next_layer_type &next_layer() noexcept { return m_next; }

    /// Completes with what failed, if anything did.
    template <class Token>
    auto async_handshake(Token &&token)
    {
        return async_run<void(error_code)>(
            [](TlsStream &s, std::size_t &, error_code &ec) { return s.handshakeStep(ec); },
            std::forward<Token>(token));
    }

    template <class Buffers, class Token>
    auto async_read_some(const Buffers &buffers, Token &&token)
    {
        return async_run<void(error_code, std::size_t)>(
            [buffers](TlsStream &s, std::size_t &bytes, error_code &ec) {
                for (auto it = boost::asio::buffer_sequence_begin(buffers);
                     it != boost::asio::buffer_sequence_end(buffers); ++it) {
                    const boost::asio::mutable_buffer b = *it;
                    if (b.size() > 0)
                        return s.readStep(b.data(), b.size(), bytes, ec);
                }
                return Step::done;
            },
            std::forward<Token>(token));
    }

    template <class Buffers, class Token>
    auto async_write_some(const Buffers &buffers, Token &&token)
    {
        return async_run<void(error_code, std::size_t)>(
            [buffers](TlsStream &s, std::size_t &bytes, error_code &ec) {
                for (auto it = boost::asio::buffer_sequence_begin(buffers);
                     it != boost::asio::buffer_sequence_end(buffers) && bytes < kMostPerWrite;
                     ++it) {
                    const boost::asio::const_buffer b = *it;
                    const std::size_t n = std::min(b.size(), kMostPerWrite - bytes);
                    if (n > 0 && !s.writeStep(b.data(), n, ec))
                        return Step::failed;
                    bytes += n;
                }
                return s.endWrite(ec) ? Step::done : Step::failed;
            },
            std::forward<Token>(token));
    }

private:
    enum class Step { done, needInput, failed };

    // Plaintext taken by one write call: the records of a large answer leave in pieces, so what
    // waits in memory for the socket stays small.
    static constexpr std::size_t kMostPerWrite = 64 * 1024;

    Step handshakeStep(error_code &ec);
    Step readStep(void *data, std::size_t size, std::size_t &bytes, error_code &ec);
    // Small pieces (a header, a short body) are gathered into one record, not a record each.
    bool writeStep(const void *data, std::size_t size, error_code &ec);
    bool endWrite(error_code &ec);
    bool encrypt(const void *data, std::size_t size, error_code &ec);
    bool received(std::size_t bytes); // false when out of memory
    void sent();

    // Drives one attempt of OpenSSL to its end: what it wrote goes out before more input is
    // read, and once it is done or has failed.
    template <class Attempt, bool kCountsBytes>
    struct Operation
    {
        Operation(TlsStream &s, Attempt a) : stream(s), attempt(std::move(a)) {}

        TlsStream &stream;
        Attempt attempt;
        enum class State { starting, flushing, reading, finishing, posted } state = State::starting;
        std::size_t bytes = 0;
        error_code result;

        template <class Self>
        void operator()(Self &self, error_code ec = {}, std::size_t n = 0)
        {
            switch (state) {
            case State::starting:
                break;
            case State::flushing:
                stream.sent();
                if (ec)
                    return finish(self, ec);
                return readMore(self);
            case State::reading:
                if (ec)
                    return finish(self, ec);
                if (!stream.received(n))
                    return finish(self, boost::asio::error::no_memory);
                break;
            case State::finishing:
                stream.sent();
                return finish(self, ec ? ec : result);
            case State::posted:
                return finish(self, result);
            }
            const Step step = attempt(stream, bytes, result);
            if (step == Step::needInput) {
                if (stream.m_out.empty())
                    return readMore(self);
                state = State::flushing;
                return boost::asio::async_write(stream.m_next, boost::asio::buffer(stream.m_out),
                                                std::move(self));
            }
            // Records written before a failure go out too: an alert tells the client why.
            if (!stream.m_out.empty()) {
                state = State::finishing;
                return boost::asio::async_write(stream.m_next, boost::asio::buffer(stream.m_out),
                                                std::move(self));
            }
            if (state == State::starting) {
                // Never complete inside the call that started the operation.
                state = State::posted;
                return boost::asio::post(stream.get_executor(), std::move(self));
            }
            finish(self, result);
        }

        template <class Self>
        void readMore(Self &self)
        {
            state = State::reading;
            stream.m_next.async_read_some(boost::asio::buffer(stream.m_input), std::move(self));
        }

        template <class Self>
        void finish(Self &self, const error_code &ec)
        {
            if constexpr (kCountsBytes)
                self.complete(ec, ec ? 0 : bytes);
            else
                self.complete(ec);
        }
    };

    template <class Signature, class Attempt, class Token>
    auto async_run(Attempt attempt, Token &&token)
    {
        constexpr bool countsBytes = std::is_same_v<Signature, void(error_code, std::size_t)>;
        return boost::asio::async_compose<Token, Signature>(
            Operation<Attempt, countsBytes>(*this, std::move(attempt)), token, m_next);
    }

    struct SslFree
    {
        void operator()(SSL *ssl) const { SSL_free(ssl); }
    };

    next_layer_type m_next;
    std::unique_ptr<SSL, SslFree> m_ssl;
    BIO *m_in = nullptr; // owned by m_ssl
    std::string m_out; // records on their way to the socket
    std::string m_gathered; // plaintext of small pieces, for one record
    std::vector<char> m_input;
};

} // namespace vendoremp::http
