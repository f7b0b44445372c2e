#ifndef INGEST_INGESTER_H
#define INGEST_INGESTER_H

#include "messages.h"
#include "messagesource.h"
#include "repair.h"
#include "store.h"
#include "subscriber.h"

#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

// The plant's intake: messages from the broker into the database in batches
// (at most maxRows rows or maxDelayMs apart). The database is written on a
// thread of its own, so the next batch is read and parsed while one commits;
// the broker hears that messages arrived only when every message read so far
// is committed (at least every 2 s: reading pauses until then). With the
// database away, reading stops (the broker keeps the messages) and the
// batches wait; with the broker away, the subscriber reconnects. One line per
// change of state.
namespace ingest {

struct IngestSettings
{
    SubscriberSettings mqtt;
    QString conninfo;
    int maxRows = 5000;
    int maxDelayMs = 200;
    int finishWaitMs = 10000; // leaving: how long commits in flight may take
    bool verbose = false;
    qint64 repairAfterMs = 0; // > 0: gaps seen this long are asked of their stations again
    MessageBounds bounds;  // what a message may hold (its clock: now, unless set)
};

// The database's side, on its own thread. Requests carry the generation of
// the connection they were meant for; one meant for an older connection is
// dropped unanswered (the intake sends its batches again).
class DatabaseWriter : public QObject
{
    Q_OBJECT

public:
    using Tables = Store::Tables;
    using Opened = std::function<void(int generation, const Tables &tables)>;
    // final: no retry mends it (another intake holds the name).
    using Away = std::function<void(int generation, const QString &reason, bool final)>;
    // the batch's number; inserted, duplicates, rejected; what could not be kept at all
    using Written = std::function<void(int generation, quint64 batch, qint64, qint64, qint64, const QString &)>;

    DatabaseWriter(std::unique_ptr<Store> store, Opened opened, Away away, Written written)
        : m_db(std::move(store)), m_opened(std::move(opened)), m_away(std::move(away)), m_written(std::move(written))
    {
    }
    void open(int generation, const QString &conninfo);
    void write(int generation, const Batch &batch);
    void close() { m_db->close(); }
    // The next days' partitions, off the commit path.
    void makePartitionsAhead(const QDate &today)
    {
        if (m_db->isOpen())
            m_db->makePartitionsAhead(today);
    }
    // The ended quarters' readings packed for the reports' control charts.
    void sealSeries()
    {
        QString error;
        if (m_db->isOpen() && !m_db->sealSeries(&error) && !error.isEmpty() && error != m_sealFailure)
            m_sealed(error);
        m_sealFailure = error;
    }
    void onSealFailure(std::function<void(const QString &)> said) { m_sealed = std::move(said); }
    // From the intake's thread when leaving: the statement running now ends,
    // and batches still queued are not written (their messages are not
    // acknowledged, so the broker sends them again).
    void abandon()
    {
        m_abandoned = true;
        m_db->cancel();
    }

private:
    bool settleByHalves(const Batch &batch, qint64 *kept, qint64 *duplicates, qint64 *conflicts, Batch *rest, QString *error);

    std::unique_ptr<Store> m_db;
    int m_generation = 0;
    // A write on this connection failed: every batch queued behind it is
    // dropped too, and all come again, in order, on the next one. A batch
    // is answered only for its own commit.
    bool m_failed = false;
    std::atomic<bool> m_abandoned {false};
    QString m_sealFailure;
    std::function<void(const QString &)> m_sealed; // told a new failure to seal
    Opened m_opened;
    Away m_away;
    Written m_written;
};

class Ingester : public QObject
{
    Q_OBJECT

public:
    // The broker and the plant database.
    Ingester(const IngestSettings &settings, std::function<void(const QString &)> say, QObject *parent = nullptr);
    // Any source and store (tests: fakes).
    Ingester(const IngestSettings &settings, std::unique_ptr<MessageSource> source, std::unique_ptr<Store> store,
             std::function<void(const QString &)> say, QObject *parent = nullptr);
    ~Ingester() override;

    bool start(QString *error);
    // Commits what it holds (when the database is there, 10 s at most; what
    // is left then is not acknowledged) and leaves the broker cleanly.
    void finish();

    quint64 inserted() const { return m_inserted; }
    quint64 duplicates() const { return m_duplicates; }
    quint64 rejected() const { return m_rejected; }
    // Replay requests sent for gaps (with repairAfterMs).
    int repairsAsked() const { return m_repairer ? m_repairer->asked() : 0; }

signals:
    // Another intake holds the name (the database refused its claim), or
    // the source cannot start: the intake leaves.
    void cannotRun(const QString &reason);

private:
    void take(const QByteArray &topic, const QByteArray &payload);
    void afterRead();
    void send();
    void written(int generation, quint64 batch, qint64 inserted, qint64 duplicates, qint64 rejected, const QString &trouble);
    void acknowledgeWhenAllCommitted();
    void databaseAway(int generation, const QString &reason, bool final);
    void databaseOpened(int generation, const DatabaseWriter::Tables &tables);
    void databaseWriting();
    void openDatabase();

    IngestSettings m_settings;
    std::function<void(const QString &)> m_say;
    std::unique_ptr<MessageSource> m_source;
    std::unique_ptr<Repairer> m_repairer;
    QThread *m_thread; // left running (and not freed) only if the database never answers
    DatabaseWriter *m_writer = nullptr;
    DatabaseWriter::Tables m_tables;
    int m_generation = 0;
    bool m_dbReady = false;
    bool m_sourceStarted = false;
    Batch m_open;             // being filled
    QQueue<Batch> m_inFlight; // with the writer, not yet committed
    quint64 m_batches = 0;    // numbers the batches
    bool m_draining = false;  // reading paused until all is committed
    QElapsedTimer m_sinceAck; // since the oldest message not acknowledged
    QTimer m_flush;           // maxDelayMs after a batch's first message
    QTimer m_idle;            // the broker stopped sending: its window is full
    QTimer m_dbRetry;
    QTimer m_ahead;           // hourly: the next days' partitions
    QTimer m_seal;            // a minute: the ended quarters packed
    int m_dbBackoffMs = 500;
    QString m_dbState;
    quint64 m_inserted = 0, m_duplicates = 0, m_rejected = 0;
};

} // namespace ingest

#endif // INGEST_INGESTER_H
