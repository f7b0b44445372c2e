// zentrel-ingest end to end, with a real mosquitto and a real PostgreSQL
// started here: five stations publish their journals while the broker stops
// for 5 s, the ingest is killed twice and the database restarts; afterwards
// the database holds every journal line once, and the malformed messages
// sent among them are in rejects.
#include "journal/dailycsv.h"
#include "journal/csvrecords.h"
#include "mqtt/publisher.h"
#include "postgres.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

const QByteArray kHeader = "time,station,port,seq,r_mohm,v,verdict,r_text,v_text,r_range,v_range,r_low,r_high,v_low,v_high";

struct Station
{
    QString name, folder;
    std::unique_ptr<journal::DailyCsv> journal;
    std::unique_ptr<mqtt::Publisher> publisher;
    int lines = 0;
};

} // namespace

class TestIngest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (Broker::program().isEmpty() || Postgres::binDir().isEmpty())
            QSKIP("mosquitto or PostgreSQL is missing (Debian: mosquitto, postgresql; tools/dev.sh installs them)");
    }
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup() { m_work.reset(); }

    void everyLineOnceThroughOutagesAndKills()
    {
        QDir().mkpath(m_work->file("broker"));
        // The ingest's session may hold any backlog while it is away.
        Broker broker(m_work->file("broker"), "max_queued_messages 0\nmax_inflight_messages 0\n");
        QVERIFY(broker.start());
        Postgres db;
        QString error;
        QVERIFY2(db.start(&error), qPrintable(error));

        QProcess ingest;
        ingest.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        QString said;
        auto startIngest = [&] {
            ingest.setProcessChannelMode(QProcess::SeparateChannels);
            ingest.start(ZENTREL_INGEST_PATH, {"--mqtt", QString("127.0.0.1:%1").arg(broker.port()), "--db", db.conninfo(), "--lang", "en"});
            QVERIFY(ingest.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromUtf8(ingest.readAllStandardError())).contains("database connected"), 30000);
            said.clear();
        };
        startIngest();

        // Five stations, each a journal and a publisher that follows it.
        std::vector<std::unique_ptr<Station>> stations;
        for (int i = 1; i <= 5; ++i) {
            auto s = std::make_unique<Station>();
            s->name = QString("ST%1").arg(i);
            s->folder = m_work->file(s->name);
            QDir().mkpath(s->folder);
            s->journal.reset(new journal::DailyCsv(s->folder, journal::kReadingsPrefix, kHeader));
            mqtt::PublisherSettings p;
            p.client.host = "127.0.0.1";
            p.client.port = broker.port();
            p.client.clientId = s->name;
            p.topicPrefix = "zentrel/" + s->name;
            s->publisher.reset(new mqtt::Publisher(s->folder, p));
            s->publisher->followReadings(s->journal.get());
            QVERIFY2(s->publisher->start(&error), qPrintable(error));
            stations.push_back(std::move(s));
        }
        const QDate today = QDate::currentDate();
        auto writeSome = [&](int perStation) {
            for (auto &s : stations) {
                QByteArray lines;
                for (int k = 0; k < perStation; ++k) {
                    ++s->lines;
                    lines += QString("%1,%2,/dev/ttyUSB0,%3,12.%4,3.7000,PASS,12.%4mΩ,3.7000V,AUTO,AUTO,,,,\n")
                                 .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs), s->name)
                                 .arg(s->lines)
                                 .arg(s->lines % 10000, 4, 10, QLatin1Char('0'))
                                 .toUtf8();
                }
                s->journal->append(today, lines);
            }
        };
        auto pause = [](int ms) { QTest::qWait(ms); }; // the stations keep publishing meanwhile

        writeSome(300);
        pause(1000);
        // Malformed messages among the real ones.
        const QStringList bad = {"not json at all", R"({"id": "x/readings/1"})",
                                 R"({"id": "y", "time": "2026-12-08T00:00:00Z", "station": "S", "r_mohm": "twelve"})"};
        for (const QString &payload : bad)
            QCOMPARE(QProcess::execute("mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1",
                                                         "-t", "zentrel/ST9/reading", "-m", payload}),
                     0);
        // Killed while lines flow, twice.
        for (int kill = 0; kill < 2; ++kill) {
            writeSome(400);
            pause(150);
            ::kill(pid_t(ingest.processId()), SIGKILL);
            ingest.waitForFinished(5000);
            writeSome(200);
            startIngest();
        }
        // The database restarts under it.
        writeSome(300);
        QVERIFY2(db.stop(&error), qPrintable(error));
        writeSome(200);
        pause(500);
        QVERIFY2(db.start(&error), qPrintable(error));
        // The broker goes away for 5 s.
        writeSome(300);
        broker.stop();
        writeSome(200);
        pause(5000);
        QVERIFY(broker.start());
        writeSome(300);

        int expected = 0;
        QStringList ids;
        for (auto &s : stations) {
            expected += s->lines;
            for (int line = 2; line <= s->lines + 1; ++line)
                ids << QString("%1/readings/%2/%3").arg(s->name, today.toString(Qt::ISODate)).arg(line);
        }
        QElapsedTimer waited;
        waited.start();
        while (db.query("SELECT count(*) FROM readings").toInt() < expected && waited.elapsed() < 90000)
            QTest::qWait(200);
        said += QString::fromUtf8(ingest.readAllStandardError());
        QVERIFY2(db.query("SELECT count(*) FROM readings").toInt() == expected,
                 qPrintable(QString("%1 of %2 rows; the ingest said:\n%3").arg(db.query("SELECT count(*) FROM readings")).arg(expected).arg(said)));
        QCOMPARE(db.query("SELECT count(DISTINCT id) FROM readings").toInt(), expected);
        QStringList stored = db.query("SELECT id FROM readings").split('\n');
        stored.sort();
        ids.sort();
        QCOMPARE(stored, ids);
        QCOMPARE(db.query("SELECT count(*) FROM rejects").toInt(), bad.size());
        QVERIFY(db.query("SELECT string_agg(reason, ' | ') FROM rejects").contains("\"r_mohm\" is not a number"));

        // SIGTERM: committed, cleanly gone, exit 0.
        ingest.terminate();
        QVERIFY(ingest.waitForFinished(10000));
        QCOMPARE(ingest.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ingest.exitCode(), 0);
        for (auto &s : stations)
            s->publisher->stop();
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_GUILESS_MAIN(TestIngest)
#include "test_ingest.moc"
