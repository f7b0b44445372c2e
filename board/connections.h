#ifndef BOARD_CONNECTIONS_H
#define BOARD_CONNECTIONS_H

#include <QString>

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>

typedef struct ssl_ctx_st SSL_CTX;

// cpp-httplib's routes served on connections of the board's own, so that
// no client holds the server: a request's head arrives whole within a few
// seconds or its connection is closed (a client sending a byte every three
// seconds holds nothing), a thread per connection up to a bound, TLS
// through OpenSSL, and a handler can ask whether its page is still there
// (an event stream frees its slot as soon as its page closes).
namespace board {

struct ConnectionLimits
{
    int headMs = 5000;          // from the first byte of a request to the end of its head
    int idleMs = 5000;          // a connection waiting for its next request
    int ioMs = 5000;            // any one read or write
    int maxConnections = 512;   // open at once; more wait in the kernel's queue
    int requestsPerConnection = 100;
};

class Connections : public httplib::Server
{
public:
    explicit Connections(ConnectionLimits limits = ConnectionLimits());
    ~Connections() override;

    // HTTPS with this certificate chain and key (PEM); false with the reason.
    // Why the certificate in a PEM file cannot serve now (expired, not yet
    // valid, unreadable), in words naming the file and the dates; empty when it can.
    static QString certificateFault(const QString &certFile);
    bool useTls(const QString &certFile, const QString &keyFile, QString *error);
    // Binds (port 0: any free one); the port, or -1.
    int bindTo(const QString &host, int port);
    // Serves until halt(); call on a thread of its own.
    void serve();
    // Stops taking connections, ends those open, and waits for their threads.
    void halt();
    int open() const { return m_open; }

    // From a handler, on its connection's thread: the request's head is in
    // (no time limit while it is answered) ...
    static void headIn();
    // ... and whether its peer has closed the connection.
    static bool peerGone();

private:
    void connection(qintptr socket);

    ConnectionLimits m_limits;
    SSL_CTX *m_tls = nullptr;
    std::atomic<bool> m_halting {false};
    std::atomic<int> m_open {0};
    std::mutex m_mutex;
    std::condition_variable m_closed;
    std::set<qintptr> m_sockets; // open, to wake on halt
};

} // namespace board

#endif // BOARD_CONNECTIONS_H
