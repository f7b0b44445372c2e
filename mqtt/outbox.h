#ifndef OUTBOX_H
#define OUTBOX_H

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
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
// Earlier in the stream (by day, then offset).
bool operator<(const Position &a, const Position &b);

struct Message
{
    QString id;          // station/stream/date/line: stable across restarts
    QByteArray payload;  // one JSON object
    QString station;     // the line's own station: its topic's level
    quint64 serial = 0;
};

// The journal's files of one stream (readings or cells) as an outbox: lines
// are read from disk after the acknowledged position, never held in memory
// beyond those in flight. Complete lines only; lines without the header's
// number of fields (torn by a power cut) and header lines are passed over.
//
// A position that is no line start in its file (a cursor cut short or edited,
// the file truncated or replaced while running) never means "nothing to
// send": reading falls back to the start of that day's file, where the
// messages' ids let the receiver drop what it already has, and note() says so.
class Outbox
{
public:
    Outbox(const QString &folder, const QString &prefix, const QStringList &numberColumns);

    QString prefix() const { return m_prefix; }
    QStringList numberColumns() const { return m_numbers; }
    // Where the broker's acknowledgements have come to.
    Position acknowledged() const { return m_acked; }
    // A saved cursor: checked against the file it names.
    void setAcknowledged(const Position &position);
    // From the end of what is on disk now: nothing older is sent.
    void startAtEnd();
    // From the start of the oldest day's file: everything is sent again.
    void startAtBeginning();
    // Only this day's file is read (a day behind the cursor that got lines).
    void onlyDay(const QDate &day) { m_onlyDay = day; }
    // The places where the acknowledged position left a day for a later one,
    // since the last call: how far each such day was taken.
    QVector<Position> takeLeftDays()
    {
        QVector<Position> left;
        left.swap(m_left);
        return left;
    }
    // The records a file holds before offset (a line's number at a place
    // known only by its offset).
    static qint64 recordsBefore(const QString &path, qint64 offset);

    // Up to max messages after the last one read.
    QVector<Message> read(int max);
    // The broker took the message; the acknowledged position moves over
    // every message before it that was taken too.
    void acknowledge(quint64 serial);
    // Unacknowledged messages are read again (after a reconnect or a refusal).
    void rewind();
    int inFlight() const { return int(m_inFlight.size()); }

    // Lines on disk not yet acknowledged, as far as counting has come: it
    // goes on in slices (countSome), so a week's backlog never stalls the caller.
    qint64 backlog() const { return m_countedLines; }
    // Counts on over at most maxBytes; true once it has reached the end of
    // what is on disk.
    bool countSome(qint64 maxBytes);
    bool counted() const { return m_countedToEnd; }

    // The writer of the files is in this process and says when a day's file
    // gets lines: the folder is listed once, then only told of new days.
    void setFollowed(bool followed) { m_followed = followed; }
    void dayWritten(const QDate &day);

    // What went wrong with a position since the last call (empty: nothing).
    QString takeNote();

    QJsonObject toJson(const QList<QByteArray> &fields) const;

private:
    struct Flight
    {
        quint64 serial;
        Position after;
        bool acked = false;
    };
    // An open day's file with a read buffer.
    struct Reader
    {
        QFile file;
        QDate day;
        QByteArray buffer;
        qint64 bufferStart = 0; // file offset of buffer[0]
    };
    QString fileFor(const QDate &day) const;
    QDate nextDay(const QDate &after);
    bool open(Reader &reader, const QDate &day);
    // The next complete line at `at`, or false at the end of what is there;
    // with check (the read position only), `at` is checked against its file.
    bool nextLine(Reader &reader, Position &at, QByteArray *line, bool check);
    bool lineStart(Reader &reader, qint64 offset);
    // m_read is no line start in its file: back to the start of that day's file.
    void fallBack(const QString &why);

    QString m_folder;
    QString m_prefix;
    QStringList m_numbers;
    QList<QByteArray> m_header;
    QDate m_headerDay;
    Position m_acked;
    Position m_read;
    Reader m_reader;
    Reader m_counter;
    Position m_counted;          // how far counting has come (never behind m_acked)
    qint64 m_countedLines = 0;   // lines between m_acked and m_counted
    bool m_countedToEnd = false;
    std::deque<Flight> m_inFlight;
    quint64 m_nextSerial = 1;
    QString m_note;
    QStringList m_days;          // the folder's day files, looked up at most once a second
    bool m_followed = false;     // ... or once, and then told of new ones
    QElapsedTimer m_daysAge;
    QDate m_onlyDay;
    QVector<Position> m_left;
};

} // namespace mqtt

#endif // OUTBOX_H
