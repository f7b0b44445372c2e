#ifndef JOURNAL_H
#define JOURNAL_H

#include "meter/meterreading.h"

#include <QDate>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <deque>

namespace journal {

// The CSV columns, in order; also the header line.
extern const char *const kHeader;

// One reading as a journal line (no line end), fields quoted per RFC 4180
// where they need it.
QString csvLine(const meter::MeterReading &reading, const QString &station, const QString &port);
// ISO 8601 local time with milliseconds and the UTC offset.
QString isoTime(const QDateTime &time);
// A plain decimal with "." and no exponent; trailing zeros dropped.
QString plainNumber(double value);

// Every accepted reading as a line of a CSV file per local day in a folder
// (readings-YYYY-MM-DD.csv). A record sink: the lines of a burst are handed
// to the operating system before the burst is shown; the file is synced at
// most a second after a write and when the journal closes.
//
// When the folder cannot be written the journal pauses: lines wait in memory
// (bounded) and are written, in order, when a retry every few seconds
// succeeds. Nothing is silent: paused(), reason() and notJournaled() say so,
// and stateChanged() is emitted whenever they change.
class Journal : public QObject, public meter::ReadingSink
{
    Q_OBJECT

public:
    Journal(const QString &folder, const QString &station, QObject *parent = nullptr);
    ~Journal() override;

    void takeBurst(const meter::ReadingBurst &burst) override;

    QString folder() const { return m_folder; }
    QString fileFor(const QDate &day) const;
    bool paused() const { return m_paused; }
    QString reason() const { return m_reason; }
    int waiting() const { return int(m_backlog.size()); }
    quint64 notJournaled() const { return m_lost; }
    quint64 linesWritten() const { return m_written; }

    // For tests: how many lines may wait in memory, and how often to retry.
    void setBacklogLimit(int lines) { m_backlogLimit = lines; }
    void setRetryInterval(int ms) { m_retry.setInterval(ms); }
    // Syncs and closes the file (also done when the journal goes).
    void close();

signals:
    void stateChanged();

private:
    struct Pending
    {
        QDate day;
        QByteArray line; // with its line end
    };
    bool write(const QDate &day, const QByteArray &bytes);
    bool openFor(const QDate &day);
    void retry();
    void pause(const QString &reason);
    void sync();

    QString m_folder;
    QString m_station;
    QFile m_file;
    QDate m_day;
    QTimer m_syncTimer;
    QTimer m_retry;
    std::deque<Pending> m_backlog;
    int m_backlogLimit = 1000000;
    bool m_paused = false;
    QString m_reason;
    quint64 m_lost = 0;
    quint64 m_written = 0;
};

} // namespace journal

#endif // JOURNAL_H
