#include "board/live.h"

#include "plantdb/changes.h"
#include "platform/sockets.h"
#include "plantdb/boarddb.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <chrono>

namespace board {

namespace {

constexpr int kRetryMs = 2000;
constexpr auto kTick = std::chrono::milliseconds(1000); // states change with time alone

plantdb::Connection connectTo(const QString &conninfo)
{
    return plantdb::connect(conninfo, "zentrel-board");
}

QStringList toList(const QSet<QString> &set)
{
    return QStringList(set.cbegin(), set.cend());
}

} // namespace

Live::Live(LiveSettings settings) : m_s(std::move(settings)) {}

Live::~Live()
{
    stop();
}

void Live::start()
{
    m_listener = std::thread([this] { listen(); });
    m_refresher = std::thread([this] { refresh(); });
}

void Live::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_dirtied.notify_all();
    m_events.stop();
    if (m_listener.joinable())
        m_listener.join();
    if (m_refresher.joinable())
        m_refresher.join();
}

bool Live::stopping() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

QString Live::trouble() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return troubleLocked();
}

// The questions' trouble first; else the notices' (the tiles then stand
// still though the database answers).
QString Live::troubleLocked() const
{
    return m_askTrouble.isEmpty() ? m_listenTrouble : m_askTrouble;
}

void Live::noteTrouble(QString Live::*which, const QString &why)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    this->*which = why;
}

// The notices' connection: LISTEN, then wait on its socket. Lost, it comes
// back and asks for everything again (notices sent meanwhile are gone).
void Live::listen()
{
    while (!stopping()) {
        plantdb::Connection c = connectTo(m_s.conninfo);
        const QByteArray sql = QByteArray("LISTEN ") + plantdb::kChangeChannel;
        if (PQstatus(c.get()) != CONNECTION_OK || !plantdb::Result(PQexec(c.get(), sql.constData())).ok()) {
            noteTrouble(&Live::m_listenTrouble, plantdb::failure(c.get()));
            std::unique_lock<std::mutex> lock(m_mutex);
            m_dirtied.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return m_stop; });
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_dirtyAll = true;
            m_listenTrouble.clear();
        }
        m_dirtied.notify_all();
        while (!stopping()) {
            platform::waitReadableFor(PQsocket(c.get()), 250);
            if (!PQconsumeInput(c.get()) || PQstatus(c.get()) != CONNECTION_OK) {
                noteTrouble(&Live::m_listenTrouble, plantdb::failure(c.get()));
                break;
            }
            bool any = false;
            while (PGnotify *n = PQnotifies(c.get())) {
                const QJsonObject o = QJsonDocument::fromJson(QByteArray(n->extra)).object();
                PQfreemem(n);
                std::lock_guard<std::mutex> lock(m_mutex);
                m_dirtyAll = m_dirtyAll || o.value("all").toBool();
                for (const char *table : {"readings", "cells", "packs"}) {
                    const bool cells = qstrcmp(table, "cells") == 0; // only records change a station's day
                    for (const QJsonValue &s : o.value(table).toArray()) {
                        m_dirtyPulse.insert(s.toString());
                        if (cells)
                            m_dirtyDay.insert(s.toString());
                    }
                }
                m_noticeMs = std::max(m_noticeMs, qint64(o.value("t").toDouble()));
                any = true;
            }
            if (any)
                m_dirtied.notify_all();
        }
    }
}

void Live::refresh()
{
    std::unique_ptr<plantdb::BoardDb> db;
    while (!stopping()) {
        if (!db || !db->ok()) {
            db.reset(new plantdb::BoardDb(connectTo(m_s.conninfo)));
            if (!db->ok()) {
                noteTrouble(&Live::m_askTrouble, plantdb::failure(db->connection()));
                publishTrouble();
                std::unique_lock<std::mutex> lock(m_mutex);
                m_dirtied.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return m_stop; });
                continue;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            m_dirtyAll = true;
        }
        QString error;
        if (!refreshOnce(*db, &error)) {
            noteTrouble(&Live::m_askTrouble, error);
            publishTrouble();
            if (db->ok()) { // a question refused, not a connection lost: not again at once
                std::unique_lock<std::mutex> lock(m_mutex);
                m_dirtied.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return m_stop; });
            }
            continue;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_dirtied.wait_for(lock, kTick, [this] { return m_stop || m_dirtyAll || !m_dirtyPulse.isEmpty(); });
    }
}

bool Live::refreshOnce(plantdb::BoardDb &db, QString *error)
{
    const qint64 now = m_s.nowMs();
    const qint64 day = m_s.dayStartMs(now);
    QSet<QString> pulse, dayAsked;
    QStringList known;
    bool all = false;
    qint64 noticeMs = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all = m_dirtyAll || day != m_day;
        pulse.swap(m_dirtyPulse);
        dayAsked.swap(m_dirtyDay);
        m_dirtyAll = false;
        noticeMs = m_noticeMs;
        known = m_tiles.stations();
    }
    if (all) {
        QStringList heard;
        if (!db.stations(now, &heard, error)) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_dirtyAll = true;
            return false;
        }
        pulse = QSet<QString>(heard.cbegin(), heard.cend()) + QSet<QString>(known.cbegin(), known.cend()) + pulse;
        dayAsked = pulse;
    }
    // A station new to the board gets its day too.
    for (const QString &s : qAsConst(pulse))
        if (!known.contains(s))
            dayAsked.insert(s);
    QVector<plantdb::StationPulse> pulses;
    QVector<plantdb::StationDay> days, ngs;
    bool ok = (pulse.isEmpty() || db.pulses(toList(pulse), now, &pulses, error))
              && (dayAsked.isEmpty() || db.days(toList(dayAsked), day, now, &days, error));
    QStringList withoutCells;
    if (ok) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &p : qAsConst(pulses))
            m_tiles.setPulse(p);
        for (const auto &d : qAsConst(days))
            m_tiles.setDay(d);
        m_day = day;
        if (all || now - m_lastNgReadings >= m_s.ngReadingsEveryMs) {
            withoutCells = m_tiles.stationsWithoutCells();
            m_lastNgReadings = now;
        }
    }
    ok = ok && (withoutCells.isEmpty() || db.ngReadings(withoutCells, now, &ngs, error));
    if (!ok) { // asked again next time
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dirtyPulse += pulse;
        m_dirtyDay += dayAsked;
        m_dirtyAll = m_dirtyAll || all;
        return false;
    }
    QJsonArray changed;
    QJsonObject summary;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto &n : qAsConst(ngs))
            m_tiles.setNgReadings(n);
        m_askTrouble.clear();
        for (const QString &s : m_tiles.stations()) {
            const QJsonObject tile = m_tiles.json(s, now, m_s.timing);
            if (m_sent.value(s) != tile) {
                m_sent.insert(s, tile);
                changed.append(tile);
            }
        }
        summary = m_tiles.summaryJson(now, m_s.timing);
        if (summary == m_sentSummary && changed.isEmpty() && m_published == troubleLocked())
            return true;
        m_sentSummary = summary;
    }
    publish(QJsonObject {{"tiles", changed}, {"summary", summary}, {"commit_ms", noticeMs > 0 ? QJsonValue(double(noticeMs)) : QJsonValue()}});
    return true;
}

// An event: the tiles that changed and the summary, with the database's
// state (every event says it, so a page shows trouble and its end).
void Live::publish(const QJsonObject &event)
{
    QJsonObject e = event;
    const QString trouble = this->trouble();
    e.insert("db", trouble.isEmpty() ? QStringLiteral("ok") : trouble);
    const QByteArray text = QJsonDocument(e).toJson(QJsonDocument::Compact);
    std::lock_guard<std::mutex> lock(m_mutex); // a snapshot holds the tiles and the number as one
    m_published = trouble;
    m_events.publish(text);
}

// The database's trouble to the pages, once each time it changes.
void Live::publishTrouble()
{
    bool same = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        same = troubleLocked() == m_published;
    }
    if (!same)
        publish(QJsonObject());
}

QByteArray Live::snapshot(quint64 *number) const
{
    const qint64 now = m_s.nowMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    QJsonArray tiles;
    for (const QString &s : m_tiles.stations())
        tiles.append(m_tiles.json(s, now, m_s.timing));
    const quint64 newest = m_events.newest();
    if (number)
        *number = newest;
    const QJsonObject o {{"tiles", tiles}, {"summary", m_tiles.summaryJson(now, m_s.timing)},
                         {"db", troubleLocked().isEmpty() ? QStringLiteral("ok") : troubleLocked()}, {"event", double(newest)}, {"full", true}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool Live::next(quint64 after, int timeoutMs, quint64 *number, QByteArray *event) const
{
    return m_events.next(after, timeoutMs, [this](quint64 *n) { return snapshot(n); }, number, event);
}

} // namespace board
