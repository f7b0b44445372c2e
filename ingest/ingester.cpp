#include "ingester.h"

#include <QDateTime>
#include <QPair>

#include <functional>

#include "database.h"
#include "messages.h"
#include "platform/queuedcall.h"

#include <QEventLoop>

namespace ingest {

namespace {

// Acknowledgements wait at most this long: then reading pauses until every
// message read is committed (the broker's keep-alive needs our packets too).
constexpr int kMaxAckDelayMs = 2000;
// A broker that stopped sending for this long, while many messages wait for
// their acknowledgement, has filled its window: commit what is open now.
constexpr int kIdleMs = 20;
constexpr int kBacklogHeld = 1000;

} // namespace

void DatabaseWriter::open(int generation, const QString &conninfo)
{
    m_generation = generation;
    m_failed = false;
    QString error;
    if (m_db->open(conninfo, &error))
        m_opened(generation, m_db->tables());
    else
        m_away(generation, error, m_db->claimedElsewhere());
}

void DatabaseWriter::write(int generation, const Batch &batch)
{
    if (generation != m_generation || m_failed || m_abandoned)
        return; // meant for a connection that is gone or failed, or left: it comes again
    qint64 inserted = 0;
    QString error;
    const qint64 rows = batch.size() - batch.rejects.size();
    if (m_db->write(batch, &inserted, &error)) {
        const qint64 conflicts = m_db->lastConflicts();
        m_written(generation, batch.number, inserted, rows - inserted - conflicts, batch.rejects.size() + conflicts, QString());
        return;
    }
    // Only a row's own data error makes a reject. Anything else (the server
    // read-only or full, a privilege, a lock, a timeout, a missing
    // partition) is no message's fault: the whole batch waits and comes
    // again on a fresh connection, and nothing of it is acknowledged.
    qint64 kept = 0, duplicates = 0, conflicts = 0;
    Batch rest;
    qint64 none = 0;
    if (!m_db->isOpen() || !m_db->lastFailureIsTheRows() || !settleByHalves(batch, &kept, &duplicates, &conflicts, &rest, &error)
        || !m_db->write(rest, &none, &error)) {
        m_failed = true;
        m_away(generation, error, false); // rows kept so far are dropped as duplicates when it comes again
        return;
    }
    m_written(generation, batch.number, kept, duplicates, rest.rejects.size() + conflicts, QString());
}

// The rows at fault: the row COPY names (the rows before it go in, the
// rest is tried again), or, where no row is named, by halves; a few bad
// rows cost a few transactions each, not one per row of the batch. Each
// part commits on its own (with its conflicts); rest gets the batch's
// rejects and the rows at fault.
bool DatabaseWriter::settleByHalves(const Batch &batch, qint64 *kept, qint64 *duplicates, qint64 *conflicts, Batch *rest,
                                    QString *error)
{
    QVector<QPair<QString, Row>> all;
    for (auto it = batch.rows.cbegin(); it != batch.rows.cend(); ++it)
        for (const Row &row : it.value())
            all.append({it.key(), row});
    rest->rejects = batch.rejects;
    // The n-th row of table among all[from, to), or -1.
    auto rowOfLine = [&](int from, int to, const QString &table, int line) {
        for (int i = from; i < to; ++i)
            if (all[i].first == table && --line == 0)
                return i;
        return -1;
    };
    std::function<bool(int, int)> settle = [&](int from, int to) {
        while (from < to) {
            if (m_abandoned)
                return false;
            Batch part;
            for (int i = from; i < to; ++i)
                part.rows[all[i].first].append(all[i].second);
            qint64 added = 0;
            if (m_db->write(part, &added, error)) {
                *kept += added;
                *duplicates += (to - from) - added - m_db->lastConflicts();
                *conflicts += m_db->lastConflicts(); // in rejects with their part
                return true;
            }
            if (!m_db->isOpen() || !m_db->lastFailureIsTheRows())
                return false;
            QString table;
            const int line = m_db->lastFailedLine(&table);
            const int at = to - from == 1 ? from : line > 0 ? rowOfLine(from, to, table, line) : -1;
            if (at < 0) { // no row named: by halves
                const int middle = from + (to - from) / 2;
                return settle(from, middle) && settle(middle, to);
            }
            // The rows before it were read without fault; it is a reject;
            // on with the rows after it.
            const QString why = *error;
            if (at > from && !settle(from, at))
                return false;
            rest->rejects.append({all[at].second.topic, all[at].second.payload, why});
            from = at + 1;
        }
        return true;
    };
    return settle(0, all.size());
}

Ingester::Ingester(const IngestSettings &settings, std::function<void(const QString &)> say, QObject *parent)
    : Ingester(settings, std::make_unique<Subscriber>(settings.mqtt),
               std::make_unique<Database>(settings.mqtt.clientId, settings.mqtt.share), std::move(say), parent)
{
}

Ingester::Ingester(const IngestSettings &settings, std::unique_ptr<MessageSource> source, std::unique_ptr<Store> store,
                   std::function<void(const QString &)> say, QObject *parent)
    : QObject(parent), m_settings(settings), m_say(std::move(say)), m_source(std::move(source)), m_thread(new QThread)
{
    if (!m_settings.bounds.nowMs)
        m_settings.bounds.nowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    // The writer's answers come back to this thread.
    m_writer = new DatabaseWriter(
        std::move(store),
        [this](int g, const DatabaseWriter::Tables &t) { platform::queuedCall(this, [=] { databaseOpened(g, t); }); },
        [this](int g, const QString &r, bool f) { platform::queuedCall(this, [=] { databaseAway(g, r, f); }); },
        [this](int g, quint64 b, qint64 i, qint64 d, qint64 r, const QString &t) {
            platform::queuedCall(this, [=] { written(g, b, i, d, r, t); });
        });
    m_writer->moveToThread(m_thread);
    m_thread->start();
    m_flush.setSingleShot(true);
    connect(&m_flush, &QTimer::timeout, this, &Ingester::send);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &Ingester::send);
    m_dbRetry.setSingleShot(true);
    connect(&m_dbRetry, &QTimer::timeout, this, &Ingester::openDatabase);
    connect(m_source.get(), &MessageSource::taken, this, &Ingester::afterRead);
    connect(m_source.get(), &MessageSource::stateChanged, this, [this](bool connected, const QString &reason) {
        m_say(connected ? QStringLiteral("broker %1 connected").arg(m_source->where())
                        : QStringLiteral("broker %1 away: %2 (retrying)").arg(m_source->where(), reason));
        // What was read on a lost connection comes again: waiting for its
        // acknowledgement must not hold reading.
        if (!connected && m_draining) {
            m_draining = false;
            m_source->setPaused(!m_dbReady);
        }
    });
    m_sinceAck.start();
    m_ahead.setInterval(3600 * 1000);
    connect(&m_ahead, &QTimer::timeout, this, [this] {
        platform::queuedCall(m_writer, [w = m_writer] { w->makePartitionsAhead(QDateTime::currentDateTimeUtc().date()); });
    });
    m_ahead.start();
    m_writer->onSealFailure([this](const QString &error) {
        platform::queuedCall(this, [this, error] { m_say(QStringLiteral("packing readings for the reports: %1 (tried again in a minute)").arg(error)); });
    });
    m_seal.setInterval(60 * 1000);
    connect(&m_seal, &QTimer::timeout, this, [this] { platform::queuedCall(m_writer, [w = m_writer] { w->sealSeries(); }); });
    m_seal.start();
}

Ingester::~Ingester()
{
    // Batches still queued for the writer are dropped (never acknowledged);
    // a database that does not answer even a cancel is left behind.
    m_writer->abandon();
    platform::queuedCall(m_writer, [w = m_writer] { w->close(); });
    m_thread->quit();
    if (!m_thread->wait(3000)) {
        m_say(QStringLiteral("the database did not answer; leaving without it"));
        return;
    }
    platform::afterWaiting();
    delete m_writer;
    delete m_thread;
}

bool Ingester::start(QString *error)
{
    // Nothing is read before the database can keep it, and the broker's
    // session is not touched before the database has given this intake its
    // name: a second one with the same id must not take the session first.
    m_source->setPaused(true);
    if (!m_source->check(error))
        return false;
    openDatabase();
    return true;
}

void Ingester::openDatabase()
{
    const int generation = ++m_generation;
    platform::queuedCall(m_writer, [w = m_writer, generation, c = m_settings.conninfo] { w->open(generation, c); });
}

void Ingester::databaseOpened(int generation, const DatabaseWriter::Tables &tables)
{
    if (generation != m_generation)
        return;
    m_tables = tables;
    m_dbReady = true;
    if (!m_sourceStarted) {
        m_sourceStarted = true;
        QString why;
        if (!m_source->start([this](const QByteArray &t, const QByteArray &p) { take(t, p); }, &why)) {
            emit cannotRun(why);
            return;
        }
    }
    // The gap audit's view exists once the database is set up.
    if (m_settings.repairAfterMs > 0 && !m_repairer) {
        m_repairer = std::make_unique<Repairer>([c = m_settings.conninfo](QVector<Gap> *gaps, QString *error) { return readLineGaps(c, gaps, error); },
                                                m_settings.repairAfterMs, m_source.get(), m_say);
        m_repairer->start();
    }
    // With batches to write again (the server refused them), "connected"
    // waits for one to commit: a refusal that lasts is said once, not
    // twice per retry.
    if (m_inFlight.isEmpty())
        databaseWriting();
    // What was with the writer when it lost the database, in order.
    for (const Batch &b : qAsConst(m_inFlight))
        platform::queuedCall(m_writer, [w = m_writer, generation, b] { w->write(generation, b); });
    send();
    acknowledgeWhenAllCommitted();
    if (!m_draining)
        m_source->setPaused(false);
}

void Ingester::databaseAway(int generation, const QString &reason, bool final)
{
    if (generation != m_generation)
        return;
    m_dbReady = false;
    m_source->setPaused(true);
    if (final) { // what it holds unacknowledged goes to the holder of the name
        emit cannotRun(reason);
        return;
    }
    if (m_dbState != reason) {
        m_dbState = reason;
        int waiting = m_open.size();
        for (const Batch &b : qAsConst(m_inFlight))
            waiting += b.size();
        m_say(QStringLiteral("%1 (retrying; %2 messages wait uncommitted)").arg(reason).arg(waiting));
    }
    if (!m_dbRetry.isActive())
        m_dbRetry.start(m_dbBackoffMs);
    m_dbBackoffMs = std::min(m_dbBackoffMs * 2, 10000);
}

void Ingester::take(const QByteArray &topic, const QByteArray &payload)
{
    if (m_source->unacknowledged() == 1) // the oldest one waiting
        m_sinceAck.restart();
    const QString table = tableForTopic(topic);
    Row row;
    QString reason;
    Tally tally;
    if (topic.endsWith("/tally")) {
        if (tallyFromJson(topic, payload, m_settings.bounds, &tally, &reason)) {
            m_open.tallies.append(tally);
            return;
        }
    } else if (table.isEmpty())
        reason = QStringLiteral("not a reading, cell, pack or tally topic");
    else if (rowFromJson(m_tables.value(table), topic, payload, m_settings.bounds, &row, &reason)) {
        row.topic = topic;
        row.payload = payload;
        m_open.rows[table].append(row);
        return;
    }
    // An outsized message is kept in part: its start shows what it was.
    if (payload.size() > m_settings.bounds.maxBytes) {
        m_open.rejects.append({topic, payload.left(m_settings.bounds.maxBytes),
                               reason + QStringLiteral("; its first %1 bytes kept").arg(m_settings.bounds.maxBytes)});
        return;
    }
    m_open.rejects.append({topic, payload, reason});
}

void Ingester::afterRead()
{
    if (m_open.size() >= m_settings.maxRows) {
        send();
    } else if (m_open.size() > 0) {
        if (!m_flush.isActive())
            m_flush.start(m_settings.maxDelayMs);
        if (m_source->unacknowledged() >= kBacklogHeld)
            m_idle.start(kIdleMs);
    }
    if (m_source->unacknowledged() > 0 && m_sinceAck.elapsed() > kMaxAckDelayMs && !m_draining) {
        m_draining = true;
        m_source->setPaused(true);
        send();
        acknowledgeWhenAllCommitted();
    }
}

void Ingester::send()
{
    m_flush.stop();
    m_idle.stop();
    if (!m_dbReady || m_open.size() == 0)
        return;
    m_open.number = ++m_batches;
    m_inFlight.enqueue(m_open);
    platform::queuedCall(m_writer, [w = m_writer, g = m_generation, b = m_open] { w->write(g, b); });
    m_open = Batch();
}

void Ingester::written(int generation, quint64 batch, qint64 inserted, qint64 duplicates, qint64 rejected, const QString &trouble)
{
    // Answers come in the order of the queue; one for a batch not at its
    // head (a connection's leftovers) acknowledges nothing.
    if (generation != m_generation || m_inFlight.isEmpty() || m_inFlight.head().number != batch)
        return;
    m_inFlight.dequeue();
    databaseWriting();
    m_inserted += quint64(inserted);
    m_duplicates += quint64(duplicates);
    m_rejected += quint64(rejected);
    if (m_settings.verbose && duplicates > 0)
        m_say(QStringLiteral("%1 duplicates dropped").arg(duplicates));
    if (!trouble.isEmpty())
        m_say(trouble);
    acknowledgeWhenAllCommitted();
}

void Ingester::databaseWriting()
{
    m_dbBackoffMs = 500;
    if (m_dbState != QLatin1String("connected")) {
        m_dbState = QStringLiteral("connected");
        m_say(QStringLiteral("database connected"));
    }
}

void Ingester::acknowledgeWhenAllCommitted()
{
    if (!m_inFlight.isEmpty() || m_open.size() > 0)
        return;
    m_source->acknowledge();
    if (m_draining) {
        m_draining = false;
        if (m_dbReady)
            m_source->setPaused(false);
    }
}

void Ingester::finish()
{
    m_repairer.reset();
    m_source->setPaused(true);
    send();
    QEventLoop loop;
    QTimer limit, check;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (m_inFlight.isEmpty() || !m_dbReady)
            loop.quit();
    });
    if (!m_inFlight.isEmpty() && m_dbReady) {
        limit.start(m_settings.finishWaitMs);
        check.start(10);
        loop.exec();
    }
    if (!m_inFlight.isEmpty())
        m_writer->abandon(); // not acknowledged: the broker sends it again
    acknowledgeWhenAllCommitted();
    m_source->stop();
}

} // namespace ingest
