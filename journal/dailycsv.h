#ifndef DAILYCSV_H
#define DAILYCSV_H

#include <QDate>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

namespace journal {

// Lines appended to one CSV file per local day (PREFIX-YYYY-MM-DD.csv) in a
// folder, each new file starting with a UTF-8 byte-order mark (so "Ω" stays
// intact in spreadsheets) and the header. Appended lines are handed to the
// operating system at once and synced to disk at most a second later and on
// close. A last line torn by a power cut is left as it is and writing goes
// on on a fresh line.
//
// When the folder cannot be written the file pauses: lines wait in memory
// (bounded) and are written, in order, when a retry every few seconds
// succeeds. A file that is deleted, renamed away or replaced while open is
// made anew (with its header) at the next write or sync. Nothing is silent: paused(), reason() and notJournaled() say so,
// and stateChanged() is emitted whenever they change.
class DailyCsv : public QObject
{
    Q_OBJECT

public:
    DailyCsv(const QString &folder, const QString &prefix, const QByteArray &header, QObject *parent = nullptr);
    ~DailyCsv() override;

    // Appends whole lines (each ending in '\n') to the day's file, or keeps
    // them until it can.
    void append(const QDate &day, const QByteArray &lines);

    QString folder() const { return m_folder; }
    QString fileFor(const QDate &day) const;
    bool paused() const { return m_paused; }
    QString reason() const { return m_reason; }
    int waiting() const { return int(m_backlog.size()); }
    quint64 notJournaled() const { return m_lost; }
    quint64 linesWritten() const { return m_written; }

    // Asked each time a file is opened, after its folder was made if it was
    // gone: false (with the reason) pauses, as a folder that cannot be made
    // does. The journal's folder lock comes back this way.
    using FolderGuard = std::function<bool(QString *reason)>;
    void setFolderGuard(FolderGuard guard) { m_guard = std::move(guard); }

    // For tests: how many lines may wait in memory, and how often to retry.
    void setBacklogLimit(int lines) { m_backlogLimit = lines; }
    void setRetryInterval(int ms) { m_retry.setInterval(ms); }
    // Syncs and closes the file (also done when it goes).
    virtual void close();
    // Tries at once to write what waits in memory; true when nothing waits.
    bool writeWaitingNow();
    // Writes what waits in memory into daily files of the same name in
    // another folder (the operator's choice, or a rescue folder), synced;
    // true, and nothing waits any more, when all of it is there.
    bool writeWaitingTo(const QString &folder, QString *reason);

signals:
    void stateChanged();
    // Lines of that day reached the file (a reader in the process follows).
    void appended(const QDate &day);

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
    QString m_prefix;
    QByteArray m_header;
    QFile m_file;
    QString m_path; // of the open file
    FolderGuard m_guard;
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

#endif // DAILYCSV_H
