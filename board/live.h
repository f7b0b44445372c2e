#ifndef BOARD_LIVE_H
#define BOARD_LIVE_H

#include "board/events.h"
#include "board/tiles.h"

#include <QByteArray>
#include <QSet>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The board kept live: a connection that LISTENs for the ingest's notices
// (which stations a commit touched), a thread that asks the database about
// just those stations and keeps the tiles, and the changes as numbered
// events for the pages to wait on.
namespace board {

struct LiveSettings
{
    QString conninfo;
    Timing timing;
    std::function<qint64()> nowMs;      // the clock (tests set their own)
    std::function<qint64(qint64)> dayStartMs; // the start of the local day of a moment
    int ngReadingsEveryMs = 5000;       // NG readings of stations without cells, asked at most this often
};

class Live
{
public:
    explicit Live(LiveSettings settings);
    ~Live();
    void start();
    void stop();

    // The whole board as the page takes it first: {"summary", "tiles", "db",
    // "event"}, with the number of the newest event it holds.
    QByteArray snapshot(quint64 *number = nullptr) const;
    // The next change after event number `after` (0: none seen), waiting at
    // most timeoutMs: false when none came. A page too far behind gets the
    // snapshot again.
    bool next(quint64 after, int timeoutMs, quint64 *number, QByteArray *event) const;
    bool stopping() const;
    // The database as the board last found it: empty when well, else why not.
    QString trouble() const;

private:
    void listen();
    void refresh();
    bool refreshOnce(class plantdb::BoardDb &db, QString *error);
    void publish(const QJsonObject &event);
    void publishTrouble();
    void noteTrouble(QString Live::*which, const QString &why);
    QString troubleLocked() const;

    LiveSettings m_s;
    mutable std::mutex m_mutex;         // taken before the events' own
    std::condition_variable m_dirtied;  // a notice came, or stopping
    bool m_stop = false;
    // What the notices asked for, not yet asked of the database.
    QSet<QString> m_dirtyPulse, m_dirtyDay;
    bool m_dirtyAll = true;
    qint64 m_noticeMs = 0; // the newest notice's commit time (for the benchmark's latency)
    // Kept by the refresher, read by the pages (under the mutex).
    Tiles m_tiles;
    QMap<QString, QJsonObject> m_sent; // each tile as last published
    QJsonObject m_sentSummary;
    Events m_events;
    QString m_askTrouble, m_listenTrouble; // the questions' connection's, the notices'
    QString m_published; // the trouble the pages were last told
    qint64 m_day = 0, m_lastNgReadings = 0;
    std::thread m_listener, m_refresher;
};

} // namespace board

#endif // BOARD_LIVE_H
