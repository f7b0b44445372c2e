// Publishing to a real mosquitto broker started here on 127.0.0.1: every
// journal line reaches a subscriber once (after de-duplication) and in order,
// through a broker that goes away, a Zentrel that is killed, and TLS; replay
// requests; cursors that lie never mean nothing to send; topics that cannot
// be are refused; a broker that never answers is said so.
#include "app/windowcapabilities.h"
#include "meterline.h"
#include "journal/csvrecords.h"
#include "journal/dailycsv.h"
#include "match/packledger.h"
#include "mqtt/linkfault.h"
#include "mqtt/publisher.h"
#include "mqtt/replayrequest.h"
#include "testsupport.h"
#include "broker.h"
#include "journallines.h"
#include "tlsfiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <csignal>

#include <mosquitto.h>
#include <unistd.h>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

QStringList journalIds(const QString &folder)
{
    QStringList ids;
    for (const QString &name : QDir(folder).entryList({"readings-*.csv"}, QDir::Files, QDir::Name)) {
        QFile f(QDir(folder).filePath(name));
        f.open(QIODevice::ReadOnly);
        const QList<QByteArray> lines = f.readAll().split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            if (lines[i].isEmpty())
                continue;
            const QString station = QString::fromUtf8(lines[i].split(',').value(1));
            ids << QString("%1/readings/%2/%3").arg(station, name.mid(9, 10)).arg(i + 1);
        }
    }
    return ids;
}

bool ordered(const QStringList &ids)
{
    int last = 0;
    for (const QString &id : ids) {
        const int line = id.section('/', -1).toInt();
        if (line <= last)
            return false;
        last = line;
    }
    return true;
}

} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (Broker::program().isEmpty() || QStandardPaths::findExecutable("mosquitto_sub").isEmpty())
            QSKIP("mosquitto or mosquitto_sub is not installed (Debian: mosquitto mosquitto-clients; tools/dev.sh installs them)");
    }
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup() { m_work.reset(); }

    void everyReadingOnceAndInOrderThroughABrokerOutage()
    {
        QDir().mkpath(m_work->file("broker"));
        Broker broker(m_work->file("broker"));
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "zentrel/+/reading");
        const QString link = QDir::temp().filePath(QString("zentrel-test-mqtt-%1").arg(QCoreApplication::applicationPid()));
        QProcess sim;
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "20", "--sequence", "--count", "600", "--linger"});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 5000);

        const QString folder = m_work->file("journal");
        StartOptions options;
        options.port = link;
        options.journalDir = folder;
        options.mqttHost = "127.0.0.1";
        options.mqttPort = broker.port();
        MainWindow w;
        WindowCapabilities installed(w, options);
        QTRY_VERIFY_WITH_TIMEOUT(installed.publisher()->isConnected(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(sub.ids().size() >= 100, 10000);

        // The broker goes away for 5 s: readings wait on disk.
        broker.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!installed.publisher()->isConnected(), 5000);
        QTest::qWait(5000);
        auto *indicator = w.findChild<QLabel *>("mqttIndicator");
        QVERIFY2(indicator->text().contains("正在重连") && indicator->text().contains("积压"), qPrintable(indicator->text()));
        QVERIFY(broker.start());
        QTRY_COMPARE_WITH_TIMEOUT(sub.ids().size(), 600, 30000);
        QCOMPARE(sub.ids(), journalIds(folder));
        QVERIFY(ordered(sub.ids()));
        QTRY_COMPARE_WITH_TIMEOUT(installed.publisher()->backlog(), qint64(0), 5000);
        QVERIFY(indicator->text().contains("已连接"));
        // Numbers as numbers, the columns as names.
        const QJsonObject last = sub.last();
        QCOMPARE(last.value("seq").toDouble(), 600.0);
        QVERIFY(last.value("r_mohm").isDouble());
        QVERIFY(last.value("r_low").isNull());
        QCOMPARE(last.value("r_text").toString(), QString("0.0600mΩ"));
        sim.terminate();
        sim.waitForFinished(5000);
    }

    // What a replay request may ask; anything else is refused whole.
    void replayRequests_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("taken");
        const struct
        {
            const char *what, *json;
            bool taken;
        } cases[] = {
            {"a range", R"({"stream":"readings","day":"2026-12-07","from":22,"to":221})", true},
            {"one line", R"({"stream":"cells","day":"2026-12-07","from":5,"to":5})", true},
            {"the ledger", R"({"stream":"packs","day":"2026-12-07","from":1,"to":999999})", true},
            {"no such stream", R"({"stream":"journal","day":"2026-12-07","from":2,"to":3})", false},
            {"no day", R"({"stream":"readings","from":2,"to":3})", false},
            {"a day that is none", R"({"stream":"readings","day":"2026-02-30","from":2,"to":3})", false},
            {"line 0", R"({"stream":"readings","day":"2026-12-07","from":0,"to":3})", false},
            {"backwards", R"({"stream":"readings","day":"2026-12-07","from":9,"to":3})", false},
            {"half a line", R"({"stream":"readings","day":"2026-12-07","from":2.5,"to":3})", false},
            {"a line as text", R"({"stream":"readings","day":"2026-12-07","from":"2","to":3})", false},
            {"more than a million lines", R"({"stream":"readings","day":"2026-12-07","from":1,"to":1000001})", false},
            {"not JSON", "replay everything", false},
        };
        for (const auto &c : cases)
            QTest::newRow(c.what) << QByteArray(c.json) << c.taken;
    }
    void replayRequests()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, taken);
        mqtt::ReplayRequest r;
        QString why;
        QCOMPARE(mqtt::parseReplayRequest(json, &r, &why), taken);
        QCOMPARE(why.isEmpty(), taken);
        if (taken)
            QCOMPARE(QJsonDocument::fromJson(mqtt::replayRequestJson(r)), QJsonDocument::fromJson(json));
    }

    // A folder two meters write (a logger's): a request on one station's
    // topic has that station's lines of the range sent again with their ids,
    // none of the other's; a request for no station here, or one that is
    // not whole, sends nothing.
    void aReplayRequestSendsItsOwnStationsLinesAgain()
    {
        QDir().mkpath(m_work->file("broker"));
        Broker broker(m_work->file("broker"));
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "zentrel/+/reading");
        const QString folder = m_work->file("journal");
        const QDate day = QDate::currentDate().addDays(-3);
        journal::DailyCsv journal(folder, journal::kReadingsPrefix,
                                  "time,station,port,seq,r_mohm,v,verdict,r_text,v_text,r_range,v_range,r_low,r_high,v_low,v_high");
        QByteArray lines;
        for (int i = 0; i < 10; ++i) // lines 2..11: A on even lines, B on odd
            lines += QString("2026-12-05T10:00:%1.000+08:00,%2,COM3,%3,12.5,3.7,PASS,,,,,,,,\n")
                         .arg(i, 2, 10, QChar('0'))
                         .arg(i % 2 ? "B" : "A")
                         .arg(i)
                         .toUtf8();
        journal.append(day, lines);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(QDir(folder).filePath(journal::dailyFileName(journal::kReadingsPrefix, day))).size() > 0, 10000);
        mqtt::PublisherSettings p;
        p.client.host = "127.0.0.1";
        p.client.port = broker.port();
        p.client.clientId = "replay-test";
        p.station = "host";
        p.stations = QStringList {"A", "B"};
        mqtt::Publisher publisher(folder, p); // a first start: what is on disk is not sent
        QVERIFY(publisher.start(nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), 20000);
        const QString d = day.toString(Qt::ISODate);
        auto ask = [&](const QString &station, const QString &json) {
            return QProcess::execute("mosquitto_pub", {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1", "-t",
                                                       mqtt::replayTopic(station), "-m", QString(json).replace("DAY", d)});
        };
        // Subscribed once a request is answered: asked until one is.
        const QString firstA = QString("A/readings/%1/2").arg(d);
        QTRY_VERIFY_WITH_TIMEOUT((ask("A", R"({"stream":"readings","day":"DAY","from":2,"to":2})"), sub.ids().contains(firstA)), 20000);
        QCOMPARE(ask("C", R"({"stream":"readings","day":"DAY","from":2,"to":11})"), 0);
        QCOMPARE(ask("B", R"({"stream":"readings","day":"DAY","from":9})"), 0);
        QCOMPARE(ask("A", R"({"stream":"readings","day":"DAY","from":5,"to":8})"), 0);
        QCOMPARE(ask("B", R"({"stream":"readings","day":"DAY","from":9,"to":500})"), 0);
        const QStringList expected {firstA, QString("A/readings/%1/6").arg(d), QString("A/readings/%1/8").arg(d),
                                    QString("B/readings/%1/9").arg(d), QString("B/readings/%1/11").arg(d)};
        QTRY_COMPARE_WITH_TIMEOUT(sub.ids().size(), expected.size(), 20000);
        QCOMPARE(sub.ids(), expected);
        QTRY_COMPARE_WITH_TIMEOUT(publisher.replaysPending(), 0, 10000);
        QVERIFY2(publisher.status().contains("zentrel/B/replay"), qPrintable(publisher.status()));
        // Sent again as the station wrote them, under each line's own station.
        QCOMPARE(sub.last().value("station").toString(), QString("B"));
        QCOMPARE(sub.last().value("seq").toDouble(), 9.0);
        QCOMPARE(publisher.backlog(), 0);
    }

    void killedAndRestartedResumesFromTheCursor()
    {
        QDir().mkpath(m_work->file("broker"));
        Broker broker(m_work->file("broker"));
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "zentrel/+/reading");
        MeterLine meter;
        QVERIFY(meter.ok());
        const QString folder = m_work->file("journal");
        const QStringList args = {"--port", meter.link(), "--journal-dir", folder, "--mqtt",
                                  QString("127.0.0.1:%1").arg(broker.port())};
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        quint32 n = 0;
        for (int run = 0; run < 2; ++run) {
            QProcess app;
            app.setProcessEnvironment(env);
            app.setWorkingDirectory(m_work->path());
            app.start(QStringLiteral(ZENTREL_APP_PATH), args);
            QVERIFY(app.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(meter.pty().readerAttached(), 10000);
            for (int i = 0; i < 100; ++i) {
                QVERIFY(meter.send(frameOf(++n, 37000)));
                QTest::qWait(10);
            }
            // Killed once every reading is in the journal: what the broker
            // has not acknowledged yet is the cursor's to resend.
            QTRY_COMPARE_WITH_TIMEOUT(journalIds(folder).size(), int(n), 10000);
            ::kill(pid_t(app.processId()), SIGKILL);
            QVERIFY(app.waitForFinished(5000));
            QTRY_VERIFY_WITH_TIMEOUT(!meter.pty().readerAttached(), 5000);
        }
        // A third start with nothing new: it sends what the kill left behind.
        QProcess app;
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(m_work->path());
        app.start(QStringLiteral(ZENTREL_APP_PATH), args);
        QVERIFY(app.waitForStarted());
        const QStringList expected = journalIds(folder);
        QCOMPARE(expected.size(), 200);
        QTRY_COMPARE_WITH_TIMEOUT(sub.ids().size(), expected.size(), 20000);
        QCOMPARE(sub.ids(), expected);
        QVERIFY(QFile::exists(QDir(folder).filePath("mqtt-cursor.json")));
        app.terminate();
        app.waitForFinished(5000);
    }

    void packLedgerLinesAsAnotherProgramWritesThem()
    {
        QDir().mkpath(m_work->file("broker"));
        Broker broker(m_work->file("broker"));
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "zentrel/p/pack");
        mqtt::PublisherSettings s;
        s.client.host = "127.0.0.1";
        s.client.port = broker.port();
        s.client.clientId = "packs";
        s.topicPrefix = "zentrel/p";
        const QString folder = m_work->file("journal");
        mqtt::Publisher publisher(folder, s);
        // Following the journal's writer, as the window does: nothing polls.
        journal::DailyCsv readings(folder, journal::kReadingsPrefix, "time,station");
        publisher.followReadings(&readings);
        QString error;
        QVERIFY2(publisher.start(&error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), 10000);

        // Written as zentrel-match writes it: by a ledger of its own, not
        // a writer the publisher follows.
        QVector<match::Cell> cells;
        for (int i = 0; i < 6; ++i) {
            match::Cell c;
            c.id = QString("C%1").arg(i), c.r = 10.0 + (i % 3) * 0.1, c.v = 3.6, c.verdict = "PASS";
            cells.append(c);
        }
        match::Rules rules;
        rules.series = 2, rules.parallel = 3;
        const match::Plan plan = match::matchCells(cells, rules);
        QVERIFY(plan.ok);
        match::PackLedger ledger(folder);
        QVERIFY2(ledger.addPlan("PACK-T-1", cells, plan, QDateTime::currentDateTime(), &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(sub.ids().size(), 6, 20000);
        QVERIFY2(ledger.cancel("PACK-T-1", QDateTime::currentDateTime(), &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(sub.ids().size(), 7, 20000);
        const QJsonObject cancel = sub.last();
        QCOMPARE(cancel.value("event").toString(), QString("cancel"));
        QCOMPARE(cancel.value("pack").toString(), QString("PACK-T-1"));
        QVERIFY2(cancel.value("id").toString().contains("/packs/"), qPrintable(cancel.value("id").toString()));
        QVERIFY(sub.all().first().value("r_mohm").isDouble());
        QVERIFY(ordered(sub.ids()));
    }

    void tlsWithTheRightCaOnly()
    {
        if (!testsupport::makeTlsFiles(m_work->path()))
            QSKIP("openssl is not installed (tools/dev.sh installs it)");
        QDir().mkpath(m_work->file("broker"));
        Broker broker(m_work->file("broker"), QString("cafile %1\ncertfile %2\nkeyfile %3\n")
                                                  .arg(m_work->file("ca.crt"), m_work->file("server.crt"), m_work->file("server.key")));
        QVERIFY(broker.start());
        QDir().mkpath(m_work->file("journal"));
        for (const QString &ca : {QString("ca.crt"), QString("other.crt")}) {
            mqtt::PublisherSettings s;
            s.client.host = "127.0.0.1";
            s.client.port = broker.port();
            s.client.clientId = "tls-" + ca;
            s.client.caFile = m_work->file(ca);
            s.topicPrefix = "zentrel/tls";
            mqtt::Publisher publisher(m_work->file("journal"), s);
            QString error;
            QVERIFY2(publisher.start(&error), qPrintable(error));
            if (ca == "ca.crt") {
                QTRY_VERIFY_WITH_TIMEOUT(publisher.isConnected(), 5000);
            } else {
                QTRY_VERIFY2_WITH_TIMEOUT(publisher.status().contains("未知 CA：代理的证书不是由 other.crt 中的 CA 签发的"),
                                          qPrintable(publisher.status()), 8000);
                QVERIFY(!publisher.isConnected());
            }
        }
    }

    // TLS settings that could only go wrong are refused before anything is
    // sent, and name what is wrong.
    void tlsSettingsThatCannotWork_data()
    {
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("cert");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("says");
        QTest::newRow("a client certificate without a CA") << "" << "client.crt" << "client.key" << "没有 CA 文件";
        QTest::newRow("a certificate without its key") << "ca.crt" << "client.crt" << "" << "要一起设置";
        QTest::newRow("a CA file that is not there") << "nowhere.crt" << "" << "" << "nowhere.crt 无法读取";
    }
    void tlsSettingsThatCannotWork()
    {
        QFETCH(QString, ca);
        QFETCH(QString, cert);
        QFETCH(QString, key);
        QFETCH(QString, says);
        if (!testsupport::makeTlsFiles(m_work->path()) || !testsupport::makeFaultyTlsFiles(m_work->path()))
            QSKIP("openssl or faketime is not installed (tools/dev.sh installs them)");
        mqtt::PublisherSettings s;
        s.client.host = "127.0.0.1";
        s.client.port = freePort();
        s.client.caFile = ca.isEmpty() ? QString() : m_work->file(ca);
        s.client.certFile = cert.isEmpty() ? QString() : m_work->file(cert);
        s.client.keyFile = key.isEmpty() ? QString() : m_work->file(key);
        s.topicPrefix = "zentrel/S1";
        mqtt::Publisher publisher(m_work->file("journal"), s);
        QString error;
        QVERIFY(!publisher.start(&error));
        QVERIFY2(error.contains(says), qPrintable(error));
    }

    void passwordsStayOutOfConfigIni()
    {
        // A plain-text connection with a password is refused, and says why.
        mqtt::PublisherSettings s;
        s.client.host = "127.0.0.1";
        s.client.port = freePort();
        s.client.user = "line3";
        s.passwordFile = m_work->file("secret");
        {
            QFile secret(s.passwordFile);
            QVERIFY(secret.open(QIODevice::WriteOnly));
            secret.write("s3cr3t-pa55\n");
        }
        QFile::setPermissions(s.passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        QString error;
        {
            mqtt::Publisher publisher(m_work->file("journal"), s);
            QVERIFY(!publisher.start(&error));
            QVERIFY2(error.contains("chmod 600"), qPrintable(error));
        }
        QFile::setPermissions(s.passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        {
            mqtt::Publisher publisher(m_work->file("journal"), s);
            QVERIFY(!publisher.start(&error));
            QVERIFY2(error.contains("明文") && error.contains("AllowPlainPassword"), qPrintable(error));
        }
        // The window writes its settings; the password is nowhere in them.
        {
            QFile ini("config.ini");
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write(QString("[MQTT]\nHost=127.0.0.1\nPort=%1\nUser=line3\nPasswordFile=%2\nAllowPlainPassword=true\n")
                          .arg(s.client.port)
                          .arg(s.passwordFile)
                          .toUtf8());
        }
        MainWindow w;
        StartOptions options;
        options.journalDir = m_work->file("journal");
        WindowCapabilities installed(w, options);
        QVERIFY(installed.publisher());
        MainWindowProbe(w).ui()->txtListenPort->setText("0");
        MainWindowProbe(w).ui()->btnListen->click();
        QFile ini("config.ini");
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        QVERIFY(text.contains("PasswordFile"));
        QVERIFY(!text.contains("s3cr3t-pa55"));
    }

    // ---- what never means nothing to send, or goes unsaid ---------------------------------------------------------------------

    void cursorThatLiesNeverMeansNothingToSend_data()
    {
        QTest::addColumn<QByteArray>("cursor");
        QTest::addColumn<QByteArray>("backup");
        QTest::addColumn<bool>("truncate");
        QTest::addColumn<bool>("headerInside");
        const QByteArray day = QDate::currentDate().toString(Qt::ISODate).toLatin1();
        auto at = [&day](qint64 offset, qint64 line) {
            return QByteArray("{\"readings\":{\"day\":\"" + day + "\",\"offset\":" + QByteArray::number(offset)
                              + ",\"line\":" + QByteArray::number(line) + "},\"cells\":{\"day\":\"\",\"offset\":0,\"line\":0}}");
        };
        QTest::newRow("negative offset") << at(-40, 3) << QByteArray() << false << false;
        QTest::newRow("past the end") << at(1 << 20, 9000) << QByteArray() << false << false;
        QTest::newRow("not a line start") << at(7, 1) << QByteArray() << false << false;
        QTest::newRow("torn, with a backup") << at(0, 0).left(30) << at(0, 0) << false << false;
        QTest::newRow("torn, no backup") << at(0, 0).left(30) << QByteArray() << false << false;
        QTest::newRow("file truncated while running") << QByteArray() << QByteArray() << true << false;
        // A second program once wrote its header into the same file: no record.
        QTest::newRow("a header inside the file") << at(0, 0) << QByteArray() << false << true;
    }
    void cursorThatLiesNeverMeansNothingToSend()
    {
        QFETCH(QByteArray, cursor);
        QFETCH(QByteArray, backup);
        QFETCH(bool, truncate);
        QFETCH(bool, headerInside);
        if (Broker::program().isEmpty() || QStandardPaths::findExecutable("mosquitto_sub").isEmpty())
            QSKIP("mosquitto or mosquitto_sub is not installed (Debian: mosquitto mosquitto-clients; tools/dev.sh installs them)");
        QDir().mkpath(m_work->file("broker"));
        Broker broker(m_work->file("broker"));
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "zentrel/+/reading");
        const QString folder = m_work->file("j");
        QDir().mkpath(folder);
        const QString day = QDir(folder).filePath("readings-" + QDate::currentDate().toString(Qt::ISODate) + ".csv");
        writeFile(day, headerInside ? journalFile(1, 50) + journal::kHeader + '\n' + journalLines(51, 50) : journalFile(1, 100));
        if (!cursor.isNull())
            writeFile(QDir(folder).filePath("mqtt-cursor.json"), cursor);
        if (!backup.isNull())
            writeFile(QDir(folder).filePath("mqtt-cursor.json.bak"), backup);
        mqtt::PublisherSettings s;
        s.client.host = "127.0.0.1";
        s.client.port = broker.port();
        s.client.clientId = "lying-cursor";
        s.topicPrefix = "zentrel/S1";
        mqtt::Publisher publisher(folder, s);
        QString error;
        QVERIFY2(publisher.start(&error), qPrintable(error));
        if (truncate) {
            // Everything there was goes out first; then the file starts again, shorter.
            QFile f(day);
            QVERIFY(f.open(QIODevice::Append));
            f.write(journalLines(101, 100));
            f.close();
            QTRY_COMPARE_WITH_TIMEOUT(seqsReceived(sub).size(), 100, 15000);
            writeFile(day, journalFile(201, 30));
        }
        const QSet<int> expected = seqsIn(readFile(day));
        QTRY_VERIFY2_WITH_TIMEOUT(seqsReceived(sub).contains(expected), qPrintable(publisher.status()), 20000);
        if (headerInside)
            QVERIFY(!seqsReceived(sub).contains(0)); // the header's "seq" is no number
        else if (!truncate && cursor != backup && backup.isNull())
            QVERIFY2(publisher.status().contains("重新发送"), qPrintable(publisher.status()));
        QTRY_COMPARE_WITH_TIMEOUT(publisher.backlog(), qint64(0), 10000);
    }

    // Lines written into a day the cursor has left (a clock set back over
    // midnight, a station that ran a day ahead and was set right), while
    // publishing or across a restart, and with a cursor written before the
    // days behind were kept: every line reaches the broker.
    void linesInADayBehindTheCursor_data()
    {
        QTest::addColumn<QString>("steps"); // d1:N / d2:N lines into a day's file, "restart", "old-cursor"
        QTest::addColumn<int>("expected");  // lines the broker gets
        QTest::newRow("the clock set back over midnight") << "d1:50 d2:30 d1:20" << 100;
        QTest::newRow("a day ahead, then set right") << "d2:40 d1:40" << 80;
        QTest::newRow("set back while stopped") << "d1:50 d2:30 restart d1:20" << 100;
        QTest::newRow("back and forth twice") << "d1:10 d2:10 d1:10 d2:10 d1:10" << 50;
        QTest::newRow("a cursor from before, then set back") << "d1:50 d2:30 old-cursor d1:20" << 100;
        QTest::newRow("years of days behind, then set back") << "d1:50 d2:30 years d1:20" << 100;
    }
    void linesInADayBehindTheCursor()
    {
        QFETCH(QString, steps);
        QFETCH(int, expected);
        QDir().mkpath(m_work->file("broker"));
        Broker broker(m_work->file("broker"));
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), "zentrel/S1/#"); // the lines and the station's tallies
        const QString folder = m_work->file("j");
        QDir().mkpath(folder);
        mqtt::PublisherSettings s;
        s.client.host = "127.0.0.1";
        s.client.port = broker.port();
        s.client.clientId = "days-behind";
        s.topicPrefix = "zentrel/S1";
        auto publisher = std::make_unique<mqtt::Publisher>(folder, s);
        QString error;
        QVERIFY2(publisher->start(&error), qPrintable(error));
        int written = 0;
        QMap<QDate, int> inDay;
        for (const QString &step : steps.split(' ')) {
            if (step == "restart" || step == "old-cursor" || step == "years") {
                publisher.reset();
                if (step == "years") { // four years of days behind, their files archived since
                    QJsonObject cursor = QJsonDocument::fromJson(readFile(QDir(folder).filePath("mqtt-cursor.json"))).object();
                    QJsonObject behind = cursor["behind"].toObject(), days = behind["readings"].toObject();
                    for (int d = 1; d <= 1500; ++d)
                        days.insert(QDate(2022, 1, 1).addDays(d).toString(Qt::ISODate), QJsonObject {{"offset", 123456}, {"line", 1234}});
                    behind["readings"] = days;
                    behind["cells"] = days;
                    cursor["behind"] = behind;
                    writeFile(QDir(folder).filePath("mqtt-cursor.json"), QJsonDocument(cursor).toJson());
                    writeFile(QDir(folder).filePath("mqtt-cursor.json.bak"), QJsonDocument(cursor).toJson());
                }
                if (step == "old-cursor") { // as an older version wrote it: no days behind
                    QJsonObject cursor = QJsonDocument::fromJson(readFile(QDir(folder).filePath("mqtt-cursor.json"))).object();
                    cursor.remove("behind");
                    writeFile(QDir(folder).filePath("mqtt-cursor.json"), QJsonDocument(cursor).toJson());
                }
                publisher = std::make_unique<mqtt::Publisher>(folder, s);
                QVERIFY2(publisher->start(&error), qPrintable(error));
                QVERIFY2(!publisher->status().contains("损坏"), qPrintable(publisher->status())); // read whole, not resent
                continue;
            }
            const QDate day = QDate(2026, 12, 8).addDays(step.section(':', 0, 0).mid(1).toInt() - 1);
            const int n = step.section(':', 1).toInt();
            inDay[day] += n;
            const QString path = QDir(folder).filePath("readings-" + day.toString(Qt::ISODate) + ".csv");
            QFile f(path);
            const bool fresh = !f.exists();
            QVERIFY(f.open(QIODevice::Append));
            f.write(fresh ? journalFile(written + 1, n) : journalLines(written + 1, n));
            f.close();
            written += n;
            // Each step published before the next: the cursor moves as a station's does.
            QTRY_VERIFY2_WITH_TIMEOUT(seqsReceived(sub).size() == written, qPrintable(publisher->status()), 20000);
        }
        QCOMPARE(written, expected);
        QSet<int> all;
        for (int i = 1; i <= expected; ++i)
            all.insert(i);
        QCOMPARE(seqsReceived(sub), all);
        QTRY_COMPARE_WITH_TIMEOUT(publisher->backlog(), qint64(0), 10000);
        // The day behind the cursor is told whole: every line of it, counted
        // from the file, across restarts.
        const QDate behind = inDay.firstKey();
        const QString told = QString(R"({"day":"%1","first":2,"last":%2,"lines":%3,"station":"S1","stream":"readings"})")
                                 .arg(behind.toString(Qt::ISODate)).arg(inDay[behind] + 1).arg(inDay[behind]);
        auto lastTally = [&] {
            sub.ids();
            QString last;
            for (const QJsonObject &o : sub.all())
                if (o.value("day") == behind.toString(Qt::ISODate))
                    last = QJsonDocument(o).toJson(QJsonDocument::Compact);
            return last;
        };
        QTRY_COMPARE_WITH_TIMEOUT(lastTally(), told, 20000);
    }

    void topicsThatCannotBeAreRefused_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("says");
        QTest::newRow("+ in the prefix") << "plant/+" << "" << "+ 或 #";
        QTest::newRow("# in the prefix") << "plant/#" << "" << "+ 或 #";
        QTest::newRow("/ in the station") << "" << "line/3" << "line/3";
        QTest::newRow("+ in the station") << "" << "a+b" << "a+b";
    }
    void topicsThatCannotBeAreRefused()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, station);
        QFETCH(QString, says);
        writeFile("config.ini", QString("[Station]\nName=%1\n[MQTT]\nHost=127.0.0.1\nPort=%2\nPrefix=%3\n")
                                    .arg(station)
                                    .arg(freePort())
                                    .arg(prefix)
                                    .toUtf8());
        StartOptions options;
        options.journalDir = m_work->file("j");
        MainWindow w;
        WindowCapabilities installed(w, options);
        auto *indicator = w.findChild<QLabel *>("mqttIndicator");
        QVERIFY(indicator);
        QVERIFY2(indicator->text().contains("未") && indicator->text().contains(says), qPrintable(indicator->text()));
        QVERIFY(!installed.publisher() || !installed.publisher()->isConnected());
    }

    // What the sockets and the library leave behind, told apart (the TLS
    // faults are met for real in aTlsFaultThenTheRightBroker).
    void faultsFromWhatAnAttemptLeft_data()
    {
        QTest::addColumn<int>("rc");
        QTest::addColumn<int>("sysErrno");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("connack");
        QTest::addColumn<bool>("tlsUnfinished");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("certAsked"); // after a finished handshake: 0 none given, 1 one given; -1: not asked
        QTest::newRow("nothing listens") << int(MOSQ_ERR_ERRNO) << ECONNREFUSED << false << 0 << false << int(mqtt::FaultKind::Refused) << -1;
        QTest::newRow("no route") << int(MOSQ_ERR_ERRNO) << EHOSTUNREACH << false << 0 << false << int(mqtt::FaultKind::Unreachable) << -1;
        QTest::newRow("reset in the handshake") << int(MOSQ_ERR_ERRNO) << ECONNRESET << false << 0 << true << int(mqtt::FaultKind::HandshakeCut) << -1;
        QTest::newRow("reset when up") << int(MOSQ_ERR_ERRNO) << ECONNRESET << true << 0 << false << int(mqtt::FaultKind::Lost) << -1;
        QTest::newRow("closed when up") << int(MOSQ_ERR_CONN_LOST) << 0 << true << 0 << false << int(mqtt::FaultKind::Lost) << -1;
        QTest::newRow("pings unanswered") << int(MOSQ_ERR_KEEPALIVE) << 0 << true << 0 << false << int(mqtt::FaultKind::KeepAliveLost) << -1;
        QTest::newRow("not authorised") << int(MOSQ_ERR_CONN_REFUSED) << 0 << false << 5 << false << int(mqtt::FaultKind::BrokerRefused) << -1;
        QTest::newRow("the name does not resolve") << int(MOSQ_ERR_EAI) << 0 << false << 0 << false << int(mqtt::FaultKind::Unreachable) << -1;
        // TLS 1.3: the broker judges our certificate after the handshake;
        // its alert can be lost to the reset our unread CONNECT causes.
        QTest::newRow("cut off, asked for a certificate we lack") << int(MOSQ_ERR_PROTOCOL) << 0 << false << 0 << false
                                                                << int(mqtt::FaultKind::ClientCertRequired) << 0;
        QTest::newRow("reset, asked for the certificate we gave") << int(MOSQ_ERR_ERRNO) << ECONNRESET << false << 0 << false
                                                                 << int(mqtt::FaultKind::ClientCertRejected) << 1;
        QTest::newRow("a TLS read failed, asked for the certificate we gave") << int(MOSQ_ERR_ERRNO) << EPROTO << false << 0 << false
                                                                             << int(mqtt::FaultKind::ClientCertRejected) << 1;
    }
    void faultsFromWhatAnAttemptLeft()
    {
        QFETCH(int, rc);
        QFETCH(int, sysErrno);
        QFETCH(bool, connected);
        QFETCH(int, connack);
        QFETCH(bool, tlsUnfinished);
        QFETCH(int, kind);
        QFETCH(int, certAsked);
        mqtt::AttemptNotes notes;
        notes.rc = rc;
        notes.sysErrno = sysErrno;
        notes.connected = connected;
        notes.connack = connack;
        notes.tls = tlsUnfinished || certAsked >= 0;
        notes.handshakeDone = certAsked >= 0;
        notes.certAsked = certAsked >= 0;
        notes.certGiven = certAsked == 1;
        const mqtt::LinkFault fault = mqtt::classify(notes);
        QCOMPARE(int(fault.kind), kind);
        const QString words = mqtt::describe(fault, {"broker:8883", "broker", "ca.crt", 10, 30});
        QVERIFY2(!words.isEmpty() && (fault.kind != mqtt::FaultKind::BrokerRefused || words.contains("not authorised")), qPrintable(words));
    }

    void brokerThatNeverAnswersIsSaidSo()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QList<QTcpSocket *> held; // accepted and never answered
        connect(&silent, &QTcpServer::newConnection, [&] { held << silent.nextPendingConnection(); });
        mqtt::PublisherSettings s;
        s.client.host = "127.0.0.1";
        s.client.port = silent.serverPort();
        s.client.clientId = "silent";
        s.client.answerTimeoutS = 1;
        s.topicPrefix = "zentrel/S1";
        QDir().mkpath(m_work->file("j"));
        mqtt::Publisher publisher(m_work->file("j"), s);
        QString error;
        QVERIFY(publisher.start(&error));
        const QString expected = QString("127.0.0.1:%1（1 秒内没有应答（超时）").arg(silent.serverPort());
        QTRY_VERIFY2_WITH_TIMEOUT(publisher.status().contains(expected), qPrintable(publisher.status()), 10000);
        QVERIFY(!held.isEmpty());
        publisher.stop(); // waits for the network thread, never cancels it
    }

    // A plant's bad day on the station's TLS port (a certificate the
    // station must refuse, a handshake cut, a server that takes the
    // connection and never answers), then the right broker there: the window
    // and the logger, running throughout, say why they are not connected,
    // then deliver every journal line without a restart.
    void aTlsFaultThenTheRightBroker_data()
    {
        QTest::addColumn<QString>("fault");  // the broker's certificate, or "cut" / "silent"
        QTest::addColumn<QString>("window"); // the window's words
        QTest::addColumn<QString>("logger"); // the logger's, in English
        QTest::newRow("expired") << "expired.crt" << "证书已过期 (2020-01-01 00:00 – 2020-01-02 00:00 UTC)" << "certificate expired";
        QTest::newRow("another CA's") << "foreign.crt" << "未知 CA" << "unknown CA";
        QTest::newRow("another name's") << "elsewhere.crt" << "名称不符" << "name mismatch";
        QTest::newRow("self-signed") << "selfsigned.crt" << "自签名" << "self-signed";
        QTest::newRow("a handshake cut") << "cut" << "TLS 握手被" << "TLS handshake cut";
        QTest::newRow("no answer") << "silent" << "没有应答" << "no answer";
    }
    void aTlsFaultThenTheRightBroker()
    {
        QFETCH(QString, fault);
        QFETCH(QString, window);
        QFETCH(QString, logger);
        if (!testsupport::makeTlsFiles(m_work->path()) || !testsupport::makeFaultyTlsFiles(m_work->path()))
            QSKIP("openssl or faketime is not installed (tools/dev.sh installs them)");
        const quint16 port = freePort();
        auto listener = [&](const QString &cert) {
            return QString("listener %1 127.0.0.1\ncafile %2\ncertfile %3\nkeyfile %4\n")
                .arg(port)
                .arg(m_work->file("ca.crt"), m_work->file(cert), m_work->file("server.key"));
        };
        QDir().mkpath(m_work->file("broker"));
        // Its first listener, plain, for the test's subscriber; the station's TLS port beside it.
        Broker broker(m_work->file("broker"), fault.endsWith(".crt") ? listener(fault) : QString());
        QVERIFY(broker.start());
        QTcpServer bad;
        QList<QTcpSocket *> held;
        if (!fault.endsWith(".crt")) {
            QVERIFY(bad.listen(QHostAddress::LocalHost, port));
            connect(&bad, &QTcpServer::newConnection, [&] {
                QTcpSocket *socket = bad.nextPendingConnection();
                held << socket;
                if (fault == "cut") // the client's hello read, then the connection dropped
                    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->abort(); });
            });
        }
        Subscriber sub(broker.port(), "zentrel/+/reading");
        writeFile("config.ini", QString("[MQTT]\nCaFile=%1\n").arg(m_work->file("ca.crt")).toUtf8());
        // One computer, two programs: each its own client id.
        writeFile("logger.ini", QString("[MQTT]\nCaFile=%1\nClientId=bench-logger\n").arg(m_work->file("ca.crt")).toUtf8());
        const QString host = QString("127.0.0.1:%1").arg(port);
        std::vector<std::unique_ptr<QProcess>> sims;
        QStringList links;
        for (const QString &name : {QString("window"), QString("logger")}) {
            links << QDir::temp().filePath(QString("zentrel-test-tls-%1-%2").arg(QCoreApplication::applicationPid()).arg(name));
            sims.emplace_back(new QProcess);
            sims.back()->start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", links.last(), "--interval", "40", "--sequence", "--count", "250", "--start-after", "100", "--linger"});
            QVERIFY(sims.back()->waitForStarted());
            QVERIFY(sims.back()->waitForReadyRead(10000));
        }
        QProcess loggerProcess;
        loggerProcess.start(QStringLiteral(ZENTREL_LOGGER_PATH), {"--lang", "en", "--config", m_work->file("logger.ini"), "--mqtt", host,
                                                                  "--journal-dir", m_work->file("logger"), "--meter",
                                                                  links[1] + ",station=BENCH-L"});
        QVERIFY(loggerProcess.waitForStarted());
        StartOptions options;
        options.port = links[0];
        options.journalDir = m_work->file("window");
        options.mqttHost = "127.0.0.1";
        options.mqttPort = port;
        MainWindow w;
        WindowCapabilities installed(w, options);
        auto *indicator = w.findChild<QLabel *>("mqttIndicator");
        QVERIFY(indicator);
        QString said;
        QTRY_VERIFY2_WITH_TIMEOUT(indicator->text().contains(window), qPrintable(indicator->text()), 30000);
        QTRY_VERIFY2_WITH_TIMEOUT((said += QString::fromUtf8(loggerProcess.readAllStandardError())).contains(logger), qPrintable(said), 30000);
        QVERIFY(!installed.publisher()->isConnected());
        // The right broker on the port.
        bad.close();
        for (QTcpSocket *socket : qAsConst(held))
            socket->abort();
        broker.configure(listener("server.crt"));
        broker.stop();
        QVERIFY(broker.start());
        for (auto &sim : sims) {
            QByteArray out;
            QTRY_VERIFY_WITH_TIMEOUT((out += sim->readAllStandardOutput()).contains("done 250"), 60000);
        }
        QStringList expected;
        QTRY_COMPARE_WITH_TIMEOUT((expected = journalIds(m_work->file("window")) + journalIds(m_work->file("logger"))).size(), 500, 10000);
        const QSet<QString> lines(expected.begin(), expected.end());
        auto delivered = [&] {
            const QStringList ids = sub.ids();
            return QSet<QString>(ids.begin(), ids.end());
        };
        QTRY_VERIFY_WITH_TIMEOUT(delivered().contains(lines), 90000);
        QCOMPARE(sub.ids().size(), 500);
        QVERIFY2(indicator->text().contains("已连接"), qPrintable(indicator->text()));
        QTRY_VERIFY2_WITH_TIMEOUT((said += QString::fromUtf8(loggerProcess.readAllStandardError())).contains("mqtt connected to " + host),
                                  qPrintable(said), 10000);
        QCOMPARE(said.count(logger), 1); // once per change, not at every attempt
        loggerProcess.terminate();
        QVERIFY(loggerProcess.waitForFinished(20000));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestMqtt)
#include "test_mqtt.moc"
