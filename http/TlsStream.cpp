#include "http/TlsStream.h"

#include <boost/asio/ssl/error.hpp>

#include <openssl/err.h>

#include <new>

namespace vendoremp::http {

namespace {

// A sink for OpenSSL's records: appends to the stream's outgoing bytes, never refuses.
int appendRecords(BIO *bio, const char *data, std::size_t size, std::size_t *written)
{
    try {
        static_cast<std::string *>(BIO_get_data(bio))->append(data, size);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    *written = size;
    return 1;
}

long sinkControl(BIO *, int command, long, void *)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int sinkCreate(BIO *bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD *sinkMethod()
{
    static const BIO_METHOD *const method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tls records");
        if (m) {
            BIO_meth_set_write_ex(m, appendRecords);
            BIO_meth_set_ctrl(m, sinkControl);
            BIO_meth_set_create(m, sinkCreate);
        }
        return m;
    }();
    return method;
}

// What went wrong, from OpenSSL's error queue, which is left empty for the next connection
// served on this thread.
boost::system::error_code failure()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return boost::asio::ssl::error::stream_truncated;
    return {static_cast<int>(code), boost::asio::error::get_ssl_category()};
}

// The largest record with its header and padding, and the most plaintext it holds.
constexpr std::size_t kRecordBytes = 17 * 1024;
constexpr std::size_t kRecordPlaintext = 16 * 1024;

} // namespace

TlsStream::TlsStream(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context &context)
    : m_next(std::move(socket)), m_ssl(SSL_new(context.native_handle())), m_input(kRecordBytes)
{
    const BIO_METHOD *method = sinkMethod();
    BIO *in = m_ssl ? BIO_new(BIO_s_mem()) : nullptr;
    BIO *out = in && method ? BIO_new(method) : nullptr;
    if (!out) {
        BIO_free(in);
        ERR_clear_error();
        throw std::bad_alloc();
    }
    BIO_set_mem_eof_return(in, -1); // empty means "more to come", not the end
    BIO_set_data(out, &m_out);
    SSL_set_bio(m_ssl.get(), in, out);
    SSL_set_accept_state(m_ssl.get());
    m_in = in;
}

TlsStream::Step TlsStream::handshakeStep(error_code &ec)
{
    ERR_clear_error();
    const int r = SSL_do_handshake(m_ssl.get());
    if (r == 1)
        return Step::done;
    if (SSL_get_error(m_ssl.get(), r) == SSL_ERROR_WANT_READ)
        return Step::needInput;
    ec = failure();
    return Step::failed;
}

TlsStream::Step TlsStream::readStep(void *data, std::size_t size, std::size_t &bytes,
                                    error_code &ec)
{
    ERR_clear_error();
    if (SSL_read_ex(m_ssl.get(), data, size, &bytes) == 1)
        return Step::done;
    bytes = 0;
    switch (SSL_get_error(m_ssl.get(), 0)) {
    case SSL_ERROR_WANT_READ:
        return Step::needInput;
    case SSL_ERROR_ZERO_RETURN: // the client's close_notify
        ERR_clear_error();
        ec = boost::asio::error::eof;
        return Step::failed;
    default:
        ec = failure();
        return Step::failed;
    }
}

bool TlsStream::writeStep(const void *data, std::size_t size, error_code &ec)
{
    if (m_gathered.size() + size <= kRecordPlaintext) {
        m_gathered.append(static_cast<const char *>(data), size);
        return true;
    }
    return endWrite(ec) && encrypt(data, size, ec);
}

bool TlsStream::endWrite(error_code &ec)
{
    const bool ok = m_gathered.empty() || encrypt(m_gathered.data(), m_gathered.size(), ec);
    m_gathered.clear();
    return ok;
}

bool TlsStream::encrypt(const void *data, std::size_t size, error_code &ec)
{
    ERR_clear_error();
    std::size_t written = 0;
    if (SSL_write_ex(m_ssl.get(), data, size, &written) == 1 && written == size)
        return true;
    ec = failure();
    return false;
}

bool TlsStream::received(std::size_t bytes)
{
    return bytes == 0 || BIO_write(m_in, m_input.data(), int(bytes)) == int(bytes);
}

void TlsStream::sent()
{
    m_out.clear();
}

} // namespace vendoremp::http
