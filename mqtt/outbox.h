#ifndef OUTBOX_H
#define OUTBOX_H

#include <QDate>
#include <QJsonObject>
#include <QStringList>
#include <QVector>

#include <deque>

namespace mqtt {

// A place in the daily files of one stream: the line last taken, and the
// byte offset just after it.
struct Position
{
    QDate day;
    qint64 offset = 0;
    qint64 line = 0;
};

struct Message
{
    QString id;          // station/stream/date/line: stable across restarts
    QByteArray payload;  // one JSON object
    quint64 serial = 0;
};

// The journal's files of one stream (readings or cells) as an outbox: lines
// are read from disk after the acknowledged position, never held in memory
// beyond those in flight. Complete lines only; lines without the header's
// number of fields (torn by a power cut) are passed over.
class Outbox
{
public:
    Outbox(const QString &folder, const QString &prefix, const QStringList &numberColumns);

    QString prefix() const { return m_prefix; }
    // Where the broker's acknowledgements have come to.
    Position acknowledged() const { return m_acked; }
    void setAcknowledged(const Position &position);
    // From the end of what is on disk now: nothing older is sent.
    void startAtEnd();

    // Up to max messages after the last one read.
    QVector<Message> read(int max);
    // The broker took the message; the acknowledged position moves over
    // every message before it that was taken too.
    void acknowledge(quint64 serial);
    // Unacknowledged messages are read again (after a reconnect).
    void rewind();
    int inFlight() const { return int(m_inFlight.size()); }
    // Lines on disk not yet acknowledged (counted as far as the files go now).
    qint64 backlog();

    QJsonObject toJson(const QList<QByteArray> &fields) const;

private:
    struct Flight
    {
        quint64 serial;
        Position after;
        bool acked = false;
    };
    QString fileFor(const QDate &day) const;
    QDate nextDay(const QDate &after) const;
    bool readLine(Position &at, QByteArray *line);

    QString m_folder;
    QString m_prefix;
    QStringList m_numbers;
    QList<QByteArray> m_header;
    Position m_acked;
    Position m_read;
    Position m_counted;          // how far backlog() has counted
    qint64 m_countedLines = 0;   // lines between m_read and m_counted
    std::deque<Flight> m_inFlight;
    quint64 m_nextSerial = 1;
};

} // namespace mqtt

#endif // OUTBOX_H
