// The intake's rules, through its two seams (a fake message source, a fake
// store): what is acknowledged when, whose fault a refusal is, how bad rows
// are found, and leaving with a store that hangs. The real broker and
// PostgreSQL are in test_ingest.

#include "ingest/database.h"
#include "ingest/ingester.h"
#include "ingest/repair.h"

#include <QMutex>
#include <QQueue>
#include <QSemaphore>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

// Messages as a broker sends them: only while not paused, each counted
// until acknowledged.
class FakeSource : public ingest::MessageSource
{
public:
    bool start(const Taker &take, QString *) override
    {
        started = true;
        m_take = take;
        emit stateChanged(true, QString());
        return true;
    }
    void setPaused(bool paused) override
    {
        m_paused = paused;
        if (!paused)
            QTimer::singleShot(0, this, [this] { pump(); });
    }
    void acknowledge() override
    {
        // Everything taken is said to be kept: it had better be.
        if (kept)
            for (const QByteArray &id : qAsConst(m_takenIds))
                unkeptAcknowledged += !kept(id);
        m_takenIds.clear();
        acknowledged += m_taken;
        m_taken = 0;
    }
    int unacknowledged() const override { return m_taken; }
    void stop() override { stopped = true; }
    QString where() const override { return QStringLiteral("fake:1883"); }

    void send(const QByteArray &payload)
    {
        m_waiting.enqueue(payload);
        QTimer::singleShot(0, this, [this] { pump(); });
    }
    bool send(const QString &topic, const QByteArray &payload, QString *) override
    {
        sent << topic + QLatin1Char(' ') + QString::fromUtf8(payload);
        return true;
    }
    bool started = false;
    int acknowledged = 0;
    int unkeptAcknowledged = 0;                    // acknowledged while not kept
    std::function<bool(const QByteArray &)> kept; // by id
    bool stopped = false;
    QStringList sent; // "topic payload"

private:
    void pump()
    {
        if (m_waiting.isEmpty() || m_paused)
            return;
        // One read a message, as a broker's packets come: the intake may
        // send a batch after any of them.
        while (!m_waiting.isEmpty() && !m_paused) {
            ++m_taken;
            const QByteArray payload = m_waiting.dequeue();
            m_takenIds << QJsonDocument::fromJson(payload).object().value("id").toString().toUtf8();
            m_take("zentrel/A/reading", payload);
            emit taken();
        }
    }
    Taker m_take;
    QQueue<QByteArray> m_waiting;
    QVector<QByteArray> m_takenIds;
    bool m_paused = false;
    int m_taken = 0;
};

// What the store holds and how it behaves, shared with the test (the store
// itself lives on the writer's thread).
struct Plant
{
    QMutex lock;
    QSet<QByteArray> stored;
    QStringList rejects;           // reasons
    QSet<QByteArray> refusedIds;   // a row's own data error
    std::atomic<bool> away {false}; // the plant refuses everything (read-only)
    std::atomic<int> failWrite {0}; // this write (counted from 1) alone fails, as a lock wait does
    std::atomic<bool> claimed {false}; // another intake holds the name
    bool namesLine = false;         // a refusal names its row, as COPY does
    std::atomic<int> writes {0}, opens {0}, cancels {0};
    QSemaphore gate {1000000};     // each write takes one: a test may hold writes
    int storedCount()
    {
        QMutexLocker l(&lock);
        return stored.size();
    }
    QStringList rejected()
    {
        QMutexLocker l(&lock);
        return rejects;
    }
};

class FakeStore : public ingest::Store
{
public:
    explicit FakeStore(std::shared_ptr<Plant> plant) : m_plant(std::move(plant))
    {
        QVector<ingest::Column> columns;
        for (const auto &[name, kind, required] : {std::tuple {"id", ingest::Column::Text, true}, {"time", ingest::Column::Time, true},
                                                   {"station", ingest::Column::Text, true}, {"r_mohm", ingest::Column::Number, false}}) {
            ingest::Column c;
            c.name = name, c.key = name, c.kind = kind, c.required = required;
            columns.append(c);
        }
        m_tables.insert("readings", columns);
    }
    bool open(const QString &, QString *error) override
    {
        ++m_plant->opens;
        if (m_plant->claimed) {
            *error = "client id zentrel-ingest is in use by another ingest";
            return false;
        }
        m_open = true;
        return true;
    }
    bool isOpen() const override { return m_open; }
    bool claimedElsewhere() const override { return m_plant->claimed; }
    void close() override { m_open = false; }
    const Tables &tables() const override { return m_tables; }
    bool write(const ingest::Batch &batch, qint64 *inserted, QString *error) override
    {
        const int n = ++m_plant->writes;
        m_plant->gate.acquire();
        *inserted = 0;
        if (n == m_plant->failWrite)
            return fail("canceling statement due to lock timeout", false, error);
        if (m_cancelled.exchange(false))
            return fail("canceling statement due to user request", false, error);
        if (m_plant->away)
            return fail("cannot execute INSERT in a read-only transaction", false, error);
        QMutexLocker l(&m_plant->lock);
        const QVector<ingest::Row> rows = batch.rows.value("readings");
        for (int i = 0; i < rows.size(); ++i)
            if (m_plant->refusedIds.contains(rows[i].id)) {
                m_line = m_plant->namesLine ? i + 1 : 0; // as COPY's context names it
                return fail("value out of range: " + rows[i].id, true, error);
            }
        for (const ingest::Row &row : batch.rows.value("readings"))
            *inserted += !m_plant->stored.contains(row.id), m_plant->stored.insert(row.id);
        for (const ingest::Reject &r : batch.rejects)
            m_plant->rejects << r.reason;
        return true;
    }
    qint64 lastConflicts() const override { return 0; }
    bool lastFailureIsTheRows() const override { return m_rowsAtFault; }
    int lastFailedLine(QString *table) const override
    {
        *table = "readings";
        return m_rowsAtFault ? m_line : 0;
    }
    void makePartitionsAhead(const QDate &) override {}
    void cancel() override
    {
        ++m_plant->cancels;
        m_cancelled = true;
        m_plant->gate.release(); // a held write ends
    }

private:
    bool fail(const QString &why, bool rows, QString *error)
    {
        m_rowsAtFault = rows;
        *error = why;
        return false;
    }
    std::shared_ptr<Plant> m_plant;
    Tables m_tables;
    bool m_open = false, m_rowsAtFault = false;
    int m_line = 0;
    std::atomic<bool> m_cancelled {false};
};

QByteArray reading(int n)
{
    return QString(R"({"id":"A/readings/d/%1","time":"%2","station":"A","r_mohm":12.5})")
        .arg(n)
        .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
        .toUtf8();
}

// An intake on fakes, with what it said.
struct Intake
{
    explicit Intake(int finishWaitMs = 10000, int maxRows = 5000)
    {
        ingest::IngestSettings settings;
        settings.finishWaitMs = finishWaitMs;
        settings.maxRows = maxRows;
        auto owned = std::make_unique<FakeSource>();
        source = owned.get();
        source->kept = [p = plant](const QByteArray &id) {
            QMutexLocker l(&p->lock);
            return p->stored.contains(id);
        };
        ingester.reset(new ingest::Ingester(settings, std::move(owned), std::make_unique<FakeStore>(plant),
                                            [this](const QString &line) { said << line; }));
        QString error;
        ingester->start(&error);
    }
    void send(int from, int to)
    {
        for (int n = from; n <= to; ++n)
            source->send(reading(n));
    }
    std::shared_ptr<Plant> plant = std::make_shared<Plant>();
    FakeSource *source = nullptr;
    QStringList said;
    std::unique_ptr<ingest::Ingester> ingester;
};

} // namespace

class TestIngester : public QObject
{
    Q_OBJECT

private slots:
    // Whose fault a refusal is, by SQLSTATE: only what a row brings is a reject.
    void refusalsByState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("constraintNamed");
        QTest::addColumn<bool>("rowsAtFault");
        const struct
        {
            const char *state;
            bool named, rows;
            const char *what;
        } cases[] = {
            {"22P02", false, true, "a value its type cannot read"},
            {"22003", false, true, "a number out of range"},
            {"23505", true, true, "a unique key twice"},
            {"23514", true, true, "a check constraint the plant added"},
            {"23514", false, false, "no partition for the row (detached)"},
            {"25006", false, false, "a read-only server"},
            {"53100", false, false, "a full disk"},
            {"57014", false, false, "a statement timeout or cancel"},
            {"57P01", false, false, "the server shutting down"},
            {"40001", false, false, "a serialization failure"},
            {"40P01", false, false, "a deadlock"},
            {"55P03", false, false, "a lock not available"},
            {"42501", false, false, "a privilege revoked"},
            {"54000", false, true, "a value too big for an index"},
            {"54001", false, false, "a statement too complex"},
            {"54011", false, false, "too many columns"},
            {"08006", false, false, "the connection lost"},
            {"", false, false, "no state at all"},
        };
        for (const auto &c : cases)
            QTest::newRow(c.what) << QString(c.state) << c.named << c.rows;
    }
    void refusalsByState()
    {
        QFETCH(QString, state);
        QFETCH(bool, constraintNamed);
        QFETCH(bool, rowsAtFault);
        QCOMPARE(ingest::Database::rowsAtFault(state, constraintNamed), rowsAtFault);
    }

    // The plant refusing (read-only) keeps the batch: nothing rejected,
    // nothing acknowledged, reading paused; said once however often it is
    // tried; once lifted, every message is kept and then acknowledged.
    void aPlantRefusalKeepsTheBatch()
    {
        Intake in;
        in.plant->away = true;
        in.send(1, 10);
        QTRY_VERIFY_WITH_TIMEOUT(in.plant->writes >= 3, 20000); // tried, and tried again
        QCOMPARE(in.source->acknowledged, 0);
        QCOMPARE(in.source->unacknowledged(), 10);
        QVERIFY(in.plant->rejected().isEmpty());
        QCOMPARE(in.said.filter("read-only").size(), 1);
        in.send(11, 20);
        in.plant->away = false;
        QTRY_COMPARE_WITH_TIMEOUT(in.source->acknowledged, 20, 20000);
        QCOMPARE(in.plant->storedCount(), 20);
        QVERIFY(in.plant->rejected().isEmpty());
        QVERIFY2(in.said.last() == "database connected", qPrintable(in.said.join('\n')));
    }

    // A write that fails for the plant's reasons (a lock wait cut short)
    // while batches queue behind it: none of them is answered for another's
    // commit. Whichever of the six batches fails, nothing is acknowledged
    // before it is kept, and in the end every message is kept once.
    void aFailedBatchIsNotAcknowledgedByTheNext_data()
    {
        QTest::addColumn<int>("failing");
        for (int n = 1; n <= 6; ++n) // the last has none behind it
            QTest::newRow(qPrintable(QString("write %1 fails").arg(n))) << n;
    }
    void aFailedBatchIsNotAcknowledgedByTheNext()
    {
        QFETCH(int, failing);
        Intake in(10000, 10);
        in.plant->failWrite = failing;
        QTRY_VERIFY_WITH_TIMEOUT(in.said.contains("database connected"), 10000);
        in.plant->gate.acquire(1000000); // the six batches queue up before the first is written
        in.send(1, 60);
        QTRY_COMPARE_WITH_TIMEOUT(in.source->unacknowledged(), 60, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(int(in.plant->writes), 1, 10000);
        in.plant->gate.release(1000000);
        QTRY_COMPARE_WITH_TIMEOUT(in.source->acknowledged, 60, 20000);
        QCOMPARE(in.source->unkeptAcknowledged, 0);
        QCOMPARE(in.plant->storedCount(), 60);
        QCOMPARE(in.ingester->inserted(), quint64(60));
        QVERIFY2(in.said.filter("lock timeout").size() == 1, qPrintable(in.said.join('\n')));
    }

    // Another intake holds the name: this one never touches the broker's
    // session (its source is not started) and says it cannot run, once,
    // without trying again.
    void aNameHeldElsewhereIsFinal()
    {
        auto plant = std::make_shared<Plant>();
        plant->claimed = true;
        auto owned = std::make_unique<FakeSource>();
        FakeSource *source = owned.get();
        QStringList said;
        ingest::Ingester ingester(ingest::IngestSettings(), std::move(owned), std::make_unique<FakeStore>(plant),
                                  [&](const QString &line) { said << line; });
        QSignalSpy refused(&ingester, &ingest::Ingester::cannotRun);
        QString error;
        QVERIFY(ingester.start(&error));
        QTRY_COMPARE_WITH_TIMEOUT(refused.size(), 1, 10000);
        QCOMPARE(refused.first().first().toString(), QString("client id zentrel-ingest is in use by another ingest"));
        QVERIFY(!source->started);
        QCOMPARE(int(plant->opens), 1);
        QVERIFY2(said.isEmpty(), qPrintable(said.join('\n')));
    }

    // Rows a store refuses as their own fault are found from the row it
    // names (COPY's line), else by halving the batch: the rest is kept, each
    // bad row is a reject with its reason, and it costs a few writes per bad
    // row, not one per row.
    void rowsAtFaultFoundByHalves_data()
    {
        QTest::addColumn<bool>("named");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("bad");
        QTest::addColumn<int>("mostWrites");
        // By halves: at most two writes per level (11 levels for 1,000 rows)
        // for each bad row, the whole batch first and the rejects last.
        QTest::newRow("1 in 1,000, by halves") << false << 1000 << QList<int> {517} << 1 + 2 * 11 + 1;
        QTest::newRow("3 in 1,000, by halves") << false << 1000 << QList<int> {1, 500, 1000} << 1 + 3 * 2 * 11 + 1;
        QTest::newRow("all of 8, by halves") << false << 8 << QList<int> {1, 2, 3, 4, 5, 6, 7, 8} << 1 + 15 + 1;
        // Named: the failed write, the rows before it, for each bad row.
        QTest::newRow("1 in 1,000, named") << true << 1000 << QList<int> {517} << 1 + 2 + 1 + 1;
        QTest::newRow("3 in 1,000, named") << true << 1000 << QList<int> {1, 500, 1000} << 1 + 3 * 2 + 1;
        QTest::newRow("all of 8, named") << true << 8 << QList<int> {1, 2, 3, 4, 5, 6, 7, 8} << 1 + 8 + 1;
    }
    void rowsAtFaultFoundByHalves()
    {
        QFETCH(bool, named);
        QFETCH(int, rows);
        QFETCH(QList<int>, bad);
        QFETCH(int, mostWrites);
        Intake in;
        in.plant->namesLine = named;
        for (int n : bad)
            in.plant->refusedIds.insert(QString("A/readings/d/%1").arg(n).toUtf8());
        QTRY_VERIFY_WITH_TIMEOUT(in.said.contains("database connected"), 10000);
        in.send(1, rows);
        QTRY_COMPARE_WITH_TIMEOUT(in.source->acknowledged, rows, 20000);
        QCOMPARE(in.plant->storedCount(), rows - bad.size());
        QStringList expected;
        for (int n : bad)
            expected << QString("value out of range: A/readings/d/%1").arg(n);
        QCOMPARE(in.plant->rejected(), expected);
        QVERIFY2(in.plant->writes <= mostWrites, qPrintable(QString("%1 writes").arg(int(in.plant->writes))));
        QCOMPARE(in.ingester->rejected(), quint64(bad.size()));
        QCOMPARE(in.ingester->inserted(), quint64(rows - bad.size()));
    }

    // A message is acknowledged only once its row (or its reject) is
    // committed: not while its write is under way.
    void acknowledgedOnlyAfterCommit()
    {
        Intake in;
        QTRY_VERIFY_WITH_TIMEOUT(in.said.contains("database connected"), 10000);
        in.plant->gate.acquire(1000000); // every write waits
        in.send(1, 5);
        in.source->send("not json");
        QTRY_COMPARE_WITH_TIMEOUT(int(in.plant->writes), 1, 10000);
        QTest::qWait(300); // the flush timer and a read or two have passed
        QCOMPARE(in.source->acknowledged, 0);
        in.plant->gate.release(1000000);
        QTRY_COMPARE_WITH_TIMEOUT(in.source->acknowledged, 6, 10000);
        QCOMPARE(in.plant->storedCount(), 5);
        QCOMPARE(in.plant->rejected().size(), 1);
        QVERIFY(in.plant->rejected().first().startsWith("not JSON"));
    }

    // Leaving while the store hangs: after the wait, the running statement
    // is cancelled, queued batches are dropped unacknowledged, and the
    // intake is gone at once.
    void leavingWithAHungStore()
    {
        Intake in(300);
        QTRY_VERIFY_WITH_TIMEOUT(in.said.contains("database connected"), 10000);
        in.plant->gate.acquire(1000000);
        in.send(1, 5);
        QTRY_COMPARE_WITH_TIMEOUT(int(in.plant->writes), 1, 10000);
        QElapsedTimer t;
        t.start();
        in.ingester->finish();
        QCOMPARE(in.source->acknowledged, 0);
        QVERIFY(in.source->stopped);
        in.ingester.reset();
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString("%1 ms").arg(t.elapsed())));
        QCOMPARE(int(in.plant->cancels), 2); // by finish, and again by the destructor
        QCOMPARE(in.plant->storedCount(), 0);
    }

    // A gap is asked for once it has stayed the age (1 s here), then again
    // while it stays, after 10 s and twice as long each time; a gap that closes and opens again,
    // or changes (partly filled), starts its age anew.
    void aGapIsAskedOnceItStays_data()
    {
        QTest::addColumn<QString>("steps"); // "ms:gaps=asked" with gaps and asked as letters
        QTest::newRow("asked at its age, again after 10 s, 20 s, 40 s") << "0:a= 999:a= 1000:a=a 2000:a= 10999:a= 11000:a=a 30999:a= 31000:a=a 71000:a=a";
        QTest::newRow("closed and open again") << "0:a= 500:= 600:a= 1500:a= 1600:a=a";
        QTest::newRow("two gaps, each its own age") << "0:a= 700:ab= 1000:ab=a 1700:ab=b 11000:ab=a";
        QTest::newRow("a gap that closes before its age") << "0:a= 900:= 5000:=";
    }
    void aGapIsAskedOnceItStays()
    {
        QFETCH(QString, steps);
        ingest::RepairPlan plan(1000, 10000);
        for (const QString &step : steps.split(' ')) {
            const qint64 now = step.section(':', 0, 0).toLongLong();
            const QString gaps = step.section(':', 1).section('=', 0, 0), expected = step.section('=', 1);
            QVector<ingest::Gap> seen;
            for (const QChar c : gaps)
                seen.append({QString(c), "readings", QDate(2026, 12, 7), 22, 221});
            QString asked;
            for (const ingest::Gap &g : plan.due(seen, now))
                asked += g.station;
            QVERIFY2(asked == expected, qPrintable(QString("at %1 ms: asked \"%2\", expected \"%3\"").arg(now).arg(asked, expected)));
        }
    }

    // The requests on the stations' own topics, a long gap a part at a
    // time; a database that cannot be read is said once, not every poll.
    void theRepairerAsksTheStations()
    {
        FakeSource source;
        std::atomic<qint64> now {0};
        std::atomic<bool> refused {true};
        std::atomic<int> reads {0};
        const QVector<ingest::Gap> gaps {{"G", "readings", QDate(2026, 12, 7), 22, 10021},
                                         {"H-1", "cells", QDate(2026, 12, 8), 5, 2000004}};
        QStringList said;
        ingest::Repairer repairer([&](QVector<ingest::Gap> *out, QString *error) {
            ++reads;
            *error = refused ? "database 127.0.0.1:5432: connection refused" : "";
            *out = gaps;
            return !refused;
        }, 1000, &source, [&](const QString &t) { said << t; }, [&] { return now.load(); });
        repairer.start();
        QTRY_VERIFY_WITH_TIMEOUT(reads >= 3, 10000); // three polls fail the same way: said once
        QCOMPARE(said, QStringList {"repair: cannot read the gaps: database 127.0.0.1:5432: connection refused"});
        refused = false;
        const int before = reads;
        QTRY_VERIFY_WITH_TIMEOUT(reads >= before + 2, 10000); // the gaps seen at 0
        QCOMPARE(source.sent, QStringList());
        now = 1000;
        QTRY_COMPARE_WITH_TIMEOUT(source.sent.size(), 2, 10000);
        QCOMPARE(source.sent, (QStringList {R"(zentrel/G/replay {"day":"2026-12-07","from":22,"stream":"readings","to":10021})",
                                            R"(zentrel/H-1/replay {"day":"2026-12-08","from":5,"stream":"cells","to":1000004})"}));
        QCOMPARE(repairer.asked(), 2);
        QCOMPARE(said.last(), QString("repair: asked H-1 for cells of 2026-12-08, lines 5-1000004"));
    }
};

QTEST_GUILESS_MAIN(TestIngester)
#include "test_ingester.moc"
