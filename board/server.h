#ifndef BOARD_SERVER_H
#define BOARD_SERVER_H

#include "board/connections.h"
#include "board/live.h"

#include <QString>

#include <atomic>
#include <memory>

// The board over HTTP (cpp-httplib): the page and its scripts (compiled in,
// the charting library with them: a plant has no internet), the board's
// JSON, its changes as Server-Sent Events, a station's page. Every answer
// carries a Content-Security-Policy without inline script; with a token, a
// request without it (cookie, or ?token= once on the page's address) is
// refused.
namespace board {

struct ServerSettings
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 8080;                 // 0: any free one (port() tells)
    QString certFile, keyFile;       // both: HTTPS
    QByteArray token;                // empty: none asked
    QString language = QStringLiteral("zh_CN"); // the page's until its switch is used
    QString conninfo;                // for the stations' pages
    int maxStreams = 48;             // open pages at once
    std::function<qint64()> nowMs;
    std::function<qint64(qint64)> dayStartMs;
};

class Server
{
public:
    Server(Live &live, ServerSettings settings);
    ~Server();
    // Binds; false with the reason (address and port named).
    bool bind(QString *error);
    int port() const { return m_port; }
    // Serves until stop(); call on a thread of its own.
    void serve();
    void stop();

private:
    void routes();

    Live &m_live;
    ServerSettings m_s;
    std::unique_ptr<Connections> m_http;
    int m_port = 0;
    std::atomic<int> m_streams {0};
    struct Pool;
    std::unique_ptr<Pool> m_pool;
};

// Whether a listening address keeps to this machine (127.x, ::1, localhost).
bool isLoopback(const QString &host);

} // namespace board

#endif // BOARD_SERVER_H
