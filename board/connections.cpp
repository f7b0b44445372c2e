#include "board/connections.h"

#include "platform/sockets.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace board {

namespace {

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point t)
{
    return int(std::max<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count()));
}

// One connection as httplib reads and writes it: every wait bounded by the
// limits, and while a head is awaited, by its deadline too.
class Connection : public httplib::Stream
{
public:
    Connection(qintptr socket, SSL *ssl, const ConnectionLimits &limits) : m_socket(socket), m_ssl(ssl), m_limits(limits) {}
    ~Connection() override
    {
        if (m_ssl) {
            SSL_shutdown(m_ssl);
            SSL_free(m_ssl);
        }
    }

    // The head must be in by then (none: no such limit).
    void headBy(Clock::time_point deadline) { m_deadline = deadline, m_headPending = true; }
    void headIn() { m_headPending = false; }
    bool handshake()
    {
        if (!m_ssl)
            return true;
        for (;;) {
            const int r = SSL_accept(m_ssl);
            if (r == 1)
                return true;
            if (!wait(SSL_get_error(m_ssl, r), m_limits.ioMs))
                return false;
        }
    }
    // A request's first byte within timeoutMs (or one already read).
    bool requestComing(int timeoutMs)
    {
        return m_used < m_buffered || (m_ssl && SSL_pending(m_ssl) > 0) || platform::waitReadableFor(m_socket, timeoutMs);
    }
    bool gone() const { return platform::peerClosed(m_socket); }

    bool is_readable() const override
    {
        return m_used < m_buffered || (m_ssl && SSL_pending(m_ssl) > 0) || platform::waitReadableFor(m_socket, limit(m_limits.ioMs));
    }
    bool is_writable() const override { return platform::waitWritableFor(m_socket, m_limits.ioMs); }
    ssize_t read(char *ptr, size_t size) override
    {
        // httplib reads a head byte by byte: served from a buffer.
        if (m_used == m_buffered) {
            if (size >= sizeof m_buffer)
                return raw(ptr, size);
            const ssize_t n = raw(m_buffer, sizeof m_buffer);
            if (n <= 0)
                return n;
            m_used = 0, m_buffered = size_t(n);
        }
        const size_t n = std::min(size, m_buffered - m_used);
        std::memcpy(ptr, m_buffer + m_used, n);
        m_used += n;
        return ssize_t(n);
    }
    ssize_t write(const char *ptr, size_t size) override
    {
        for (;;) {
            if (m_ssl) {
                const int r = SSL_write(m_ssl, ptr, int(std::min<size_t>(size, 1 << 30)));
                if (r > 0)
                    return r;
                if (!wait(SSL_get_error(m_ssl, r), m_limits.ioMs))
                    return -1;
                continue;
            }
            const long r = platform::writeSome(m_socket, ptr, size);
            if (r >= 0)
                return ssize_t(r);
            if (r == -2 || !platform::waitWritableFor(m_socket, m_limits.ioMs))
                return -1;
        }
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override { platform::endpoint(m_socket, true, &ip, &port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { platform::endpoint(m_socket, false, &ip, &port); }
    socket_t socket() const override { return socket_t(m_socket); }

private:
    // A wait's length: at most the head's time left, while it is awaited.
    int limit(int ms) const { return m_headPending ? std::min(ms, msUntil(m_deadline)) : ms; }
    bool wait(int sslError, int ms) const
    {
        if (sslError == SSL_ERROR_WANT_READ)
            return limit(ms) > 0 && platform::waitReadableFor(m_socket, limit(ms));
        if (sslError == SSL_ERROR_WANT_WRITE)
            return limit(ms) > 0 && platform::waitWritableFor(m_socket, limit(ms));
        return false;
    }
    ssize_t raw(char *ptr, size_t size)
    {
        for (;;) {
            if (m_ssl) {
                const int r = SSL_read(m_ssl, ptr, int(std::min<size_t>(size, 1 << 30)));
                if (r > 0)
                    return r;
                const int e = SSL_get_error(m_ssl, r);
                if (e == SSL_ERROR_ZERO_RETURN)
                    return 0;
                if (!wait(e, m_limits.ioMs))
                    return -1;
                continue;
            }
            const long r = platform::readSome(m_socket, ptr, size);
            if (r >= 0)
                return ssize_t(r);
            if (r == -2 || limit(m_limits.ioMs) == 0 || !platform::waitReadableFor(m_socket, limit(m_limits.ioMs)))
                return -1;
        }
    }

    qintptr m_socket;
    SSL *m_ssl;
    const ConnectionLimits &m_limits;
    Clock::time_point m_deadline;
    bool m_headPending = false;
    char m_buffer[4096];
    size_t m_used = 0, m_buffered = 0;
};

thread_local Connection *t_connection = nullptr;

} // namespace

Connections::Connections(ConnectionLimits limits) : m_limits(limits)
{
    set_payload_max_length(64 * 1024); // the board takes no uploads
}

Connections::~Connections()
{
    halt();
    if (m_tls)
        SSL_CTX_free(m_tls);
}

QString Connections::certificateFault(const QString &certFile)
{
    FILE *f = std::fopen(certFile.toLocal8Bit().constData(), "r");
    if (!f)
        return QStringLiteral("--tls-cert %1: %2").arg(certFile, QString::fromLocal8Bit(std::strerror(errno)));
    X509 *cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    if (!cert) {
        ERR_clear_error();
        return QStringLiteral("--tls-cert %1: no PEM certificate in it").arg(certFile);
    }
    auto when = [](const ASN1_TIME *t) {
        BIO *bio = BIO_new(BIO_s_mem());
        ASN1_TIME_print(bio, t);
        char *text = nullptr;
        const long n = BIO_get_mem_data(bio, &text);
        const QString out = QString::fromLatin1(text, int(n));
        BIO_free(bio);
        return out;
    };
    QString fault;
    // Browsers refuse such a certificate, every one of them, every time.
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
        fault = QStringLiteral("--tls-cert %1: the certificate expired on %2; renew it").arg(certFile, when(X509_get0_notAfter(cert)));
    else if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
        fault = QStringLiteral("--tls-cert %1: the certificate is valid only from %2 (is this computer's clock right?)")
                    .arg(certFile, when(X509_get0_notBefore(cert)));
    X509_free(cert);
    return fault;
}

bool Connections::useTls(const QString &certFile, const QString &keyFile, QString *error)
{
    m_tls = SSL_CTX_new(TLS_server_method());
    const QByteArray cert = certFile.toLocal8Bit(), key = keyFile.toLocal8Bit();
    if (m_tls && SSL_CTX_set_min_proto_version(m_tls, TLS1_2_VERSION) == 1 && SSL_CTX_use_certificate_chain_file(m_tls, cert.constData()) == 1
        && SSL_CTX_use_PrivateKey_file(m_tls, key.constData(), SSL_FILETYPE_PEM) == 1 && SSL_CTX_check_private_key(m_tls) == 1) {
        SSL_CTX_set_mode(m_tls, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        return true;
    }
    ERR_clear_error();
    *error = QStringLiteral("TLS: %1 and %2 do not make a certificate and its key (PEM)").arg(certFile, keyFile);
    return false;
}

int Connections::bindTo(const QString &host, int port)
{
    const std::string h = host.toStdString();
    const int bound = port == 0 ? bind_to_any_port(h) : bind_to_port(h, port) ? port : -1;
    if (bound > 0) // cpp-httplib's queue holds five
        platform::widenBacklog(qintptr(svr_sock_.load()));
    return bound;
}

void Connections::serve()
{
    while (!m_halting) {
        {
            // At the bound, the kernel's queue holds the next until one closes.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_closed.wait(lock, [this] { return m_halting || m_open < m_limits.maxConnections; });
        }
        const qintptr listening = qintptr(svr_sock_.load());
        if (m_halting || listening < 0)
            break;
        const qintptr socket = platform::acceptWithin(listening, 200);
        if (socket < 0)
            continue;
        platform::makeNonBlocking(socket);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sockets.insert(socket);
            ++m_open;
        }
        std::thread([this, socket] { connection(socket); }).detach();
    }
}

void Connections::connection(qintptr socket)
{
    SSL *ssl = nullptr;
    if (m_tls && (ssl = SSL_new(m_tls)))
        SSL_set_fd(ssl, int(socket));
    {
        Connection c(socket, ssl, m_limits);
        t_connection = &c;
        c.headBy(Clock::now() + std::chrono::milliseconds(m_limits.headMs));
        bool ok = (!m_tls || ssl) && c.handshake();
        for (int left = m_limits.requestsPerConnection; ok && left > 0 && !m_halting; --left) {
            if (left < m_limits.requestsPerConnection && !c.requestComing(m_limits.idleMs))
                break;
            c.headBy(Clock::now() + std::chrono::milliseconds(m_limits.headMs));
            bool closed = false;
            ok = process_request(c, left == 1 || m_halting, closed, nullptr) && !closed;
        }
        t_connection = nullptr;
    }
    platform::shutdownSocket(socket);
    platform::closeSocket(socket);
    // Told under the lock: once halt() sees none open, no thread of a
    // connection touches this object again.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.erase(socket);
    --m_open;
    m_closed.notify_all();
}

void Connections::halt()
{
    if (m_halting.exchange(true))
        return;
    const auto listening = svr_sock_.exchange(INVALID_SOCKET);
    if (listening != INVALID_SOCKET) {
        platform::shutdownSocket(qintptr(listening));
        platform::closeSocket(qintptr(listening));
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    for (qintptr s : m_sockets)
        platform::shutdownSocket(s); // its thread wakes and ends
    m_closed.notify_all();
    m_closed.wait_for(lock, std::chrono::seconds(10), [this] { return m_open == 0; });
}

void Connections::headIn()
{
    if (t_connection)
        t_connection->headIn();
}

bool Connections::peerGone()
{
    return t_connection && t_connection->gone();
}

} // namespace board
