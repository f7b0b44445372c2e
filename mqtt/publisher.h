#ifndef PUBLISHER_H
#define PUBLISHER_H

#include "mqttclient.h"
#include "outbox.h"
#include "replayrequest.h"
#include "tally.h"

#include <QFileSystemWatcher>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QThreadPool>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <deque>
#include <memory>

namespace journal {
class DailyCsv;
}

namespace mqtt {

struct PublisherSettings
{
    ClientSettings client;
    QString topicPrefix;          // <prefix>/reading, …/cell, …/pack; empty: zentrel/<each line's station>
    QString station;              // this program's station: the level for a line whose station cannot be one
    QStringList stations;         // whose replay requests it answers (zentrel/<station>/replay); empty: station
    QString passwordFile;         // owner-only file holding the password
    bool allowPlainPassword = false;
};

// Every journal line, cell record and pack ledger line to the broker, QoS 1,
// from the journal files themselves: a cursor file in the journal folder (mqtt-cursor.json)
// says how far the broker has acknowledged. While the broker is away, lines
// wait on disk; on reconnection they go out in order from the cursor, then
// live ones; a restart resumes from the cursor. The previous cursor is kept
// beside it (mqtt-cursor.json.bak), so a cursor torn by a crash falls back to
// it. The backlog is counted in slices off the pump, never in one go.
//
// A replay request on a station's own topic (zentrel/<station>/replay, from
// the plant's ingest or an operator) has that day's lines in the range
// published again with their ids, beside the live ones and in no cursor: the
// plant's database drops what it has, and so fills what a broker lost.
class Publisher : public QObject
{
    Q_OBJECT

public:
    Publisher(const QString &folder, const PublisherSettings &settings, QObject *parent = nullptr);
    ~Publisher() override;

    // Checks the security settings, then connects. False with the reason
    // (nothing is sent then).
    bool start(QString *error);
    // Saves the cursor. With settleMs, first waits that long at most for the
    // broker to acknowledge what is in flight (the event loop runs meanwhile:
    // for a program that is ending, not from inside a window's teardown).
    void stop(int settleMs = 0);

    // The in-process writers of the files: new lines are published when they
    // say so, and nothing polls the files or the folder meanwhile.
    void followReadings(journal::DailyCsv *readings) { follow(m_readings, readings); }
    void followCells(journal::DailyCsv *cells) { follow(m_cells, cells); }
    // The pack ledger is written by zentrel-match as often as by this
    // process: its files are watched (the system tells of changes).

    bool isConnected() const { return m_client.isConnected(); }
    // False when start() refused (lastError() says why).
    bool isStarted() const { return m_started; }
    // Lines not yet acknowledged, as far as counting has come (cheap).
    qint64 backlog() const;
    // Whether counting has reached the end of the files.
    bool backlogCounted() const;
    QString status();
    QString lastError() const { return m_lastError; }
    QString cursorFile() const;
    QString tallyFile() const;
    // Replay requests taken and not yet wholly acknowledged.
    int replaysPending() const { return int(m_replays.size()); }

signals:
    void statusChanged();

private:
    QString topicOf(const Message &m) const;
    void pump();
    void count();
    void saveCursor();
    bool loadCursor();
    void takeNotes();

    struct Replay
    {
        QString station; // whose lines; empty: every line (a prefix set by hand)
        ReplayRequest request;
        QString kind;
        std::unique_ptr<Outbox> box;
        bool readToEnd = false;
    };
    QStringList replayTopics() const;
    void takeRequest(const QString &topic, const QByteArray &payload);
    // Sends from the oldest request while the budget lasts; true when more waits.
    bool pumpReplay(const QElapsedTimer &budget);
    // Drops the oldest replay when it is done; true when it did.
    bool dropFinishedReplay();
    std::deque<std::unique_ptr<Replay>> m_replays;

    // Days behind a stream's cursor: how far each was taken (kept in the
    // cursor file), and a box for each that got lines after the cursor left
    // it (a clock set back, a day ahead set right): every line of every file
    // goes, whatever the order of the days.
    struct Late
    {
        Outbox *stream;
        QDate day;
        std::unique_ptr<Outbox> box;
        bool drained = false;
    };
    QHash<const Outbox *, QMap<QDate, Position>> m_behind;
    std::vector<std::unique_ptr<Late>> m_late;
    void lookBehind(Outbox &stream, const QDate &only = QDate());
    void takeLeftDays(Outbox &stream);
    void settleLate();
    void markBehindAsTaken();
    int m_lookTicks = 0;
    // Sends from box while the budget lasts; true when more waits. atEnd:
    // it read to the end of what is there; refused: the library refused one.
    bool pumpBox(Outbox &box, const QString &kind, const QElapsedTimer &budget, bool *atEnd, bool *refused);
    QString kindOf(const Outbox *stream) const;

    QString m_folder;
    PublisherSettings m_settings;
    Client m_client;
    Outbox m_readings;
    Outbox m_cells;
    Outbox m_packs;
    std::array<Outbox *, 3> boxes() { return {&m_readings, &m_cells, &m_packs}; }
    std::array<const Outbox *, 3> boxes() const { return {&m_readings, &m_cells, &m_packs}; }
    // What each station has in each file, told to the plant's gap audit.
    Tallies m_tallies;
    QHash<int, TallyMessage> m_tallyMids;
    QTimer m_tallyTimer;
    QElapsedTimer m_tallySaved;
    QElapsedTimer m_cursorDayTold;
    void startTallies(bool firstStart);
    void tally();
    void publishTallies();
    void saveTallies();
    QFileSystemWatcher m_ledgerWatch;
    void watchLedger();
    QHash<int, QPair<Outbox *, quint64>> m_mids;
    QTimer m_pump;
    bool m_following = false;
    void schedulePump();
    void follow(Outbox &box, journal::DailyCsv *writer);
    QTimer m_cursorTimer;
    QTimer m_statusTimer;
    QTimer m_countTimer;
    QString m_lastError;
    QString m_refused;          // a publish the library refused, shown while connected too
    QString m_note;             // a cursor or file position that was not what it claimed
    QByteArray m_savedCursor;   // the cursor last written: the backup of the next save
    QThreadPool m_saver;        // one thread: cursor saves in order, off the GUI thread
    bool m_started = false;
};

} // namespace mqtt

#endif // PUBLISHER_H
