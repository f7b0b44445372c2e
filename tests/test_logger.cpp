// zentrel-logger, the headless face, as a process with real simulators on
// pseudo-terminals: four meters, one leaving and coming back; every frame
// journaled once with its station and port; a second logger on the folder
// refused; SIGTERM writes, syncs and saves the cursor; SIGKILL loses nothing
// that was sent before it.
#include "broker.h"
#include "journal/csvrecords.h"
#include "testsupport.h"

#include <QHostInfo>
#include <QProcess>

#include <cmath>
#include <csignal>
#include <sys/stat.h>
#include <memory>

namespace {

struct Sim
{
    QString link;
    std::unique_ptr<QProcess> process {new QProcess};
    bool start(const QString &path, const QStringList &extra)
    {
        link = path;
        process->start(QStringLiteral(ZENTREL_SIM_PATH),
                       QStringList {"--link", link, "--sequence", "--interval", "20", "--start-after", "100", "--linger"} + extra);
        if (!process->waitForStarted())
            return false;
        // Ready once it says where its line is.
        return process->waitForReadyRead(10000);
    }
    ~Sim()
    {
        process->terminate();
        process->waitForFinished(5000);
    }
};

// Journal lines per station: the R of each (in counts: the frame's number) and the port.
QMap<QString, QList<int>> framesByStation(const QString &folder, QMap<QString, QString> *ports = nullptr,
                                          QMap<QString, QSet<QString>> *verdicts = nullptr)
{
    QMap<QString, QList<int>> out;
    for (const QString &name : QDir(folder).entryList({"readings-*.csv"})) {
        QFile f(QDir(folder).filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        journal::RecordReader reader(f);
        QByteArray record;
        while (reader.next(&record)) {
            if (journal::isHeaderRecord(record))
                continue;
            const QList<QByteArray> fields = journal::csvFields(record);
            out[fields.value(1)] << qRound(fields.value(4).toDouble() * 10000);
            if (ports)
                (*ports)[fields.value(1)] = fields.value(2);
            if (verdicts)
                (*verdicts)[fields.value(1)] << fields.value(6) + "/" + fields.value(12);
        }
    }
    return out;
}

QStringList logger(const QString &folder, const QStringList &meters)
{
    QStringList args = {"--journal-dir", folder};
    for (const QString &m : meters)
        args << "--meter" << m;
    return args;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup() { m_work.reset(); }

    void fourMetersOneLeavingAndReturning()
    {
        const int count = 60;
        const QString folder = m_work->file("journal");
        std::vector<Sim> sims(4);
        QStringList meters;
        for (int i = 0; i < 4; ++i) {
            QStringList extra = {"--count", QString::number(count)};
            if (i == 2)
                extra << "--leave-after" << "20" << "--away" << "1500";
            QVERIFY(sims[i].start(m_work->file(QString("meter%1").arg(i)), extra));
            meters << QString("%1,station=S%2").arg(sims[i].link).arg(i);
        }
        // The first meter is judged by a limit set with R bounds only.
        meters[0] += ",limits=IR";
        QFile sets(m_work->file("limitsets.json"));
        QVERIFY(sets.open(QIODevice::WriteOnly));
        sets.write(R"({"sets": [{"name": "IR", "r": {"low": 0, "high": 0.005}}]})");
        sets.close();
        const bool withBroker = !Broker::program().isEmpty();
        std::unique_ptr<Broker> broker;
        std::unique_ptr<Subscriber> subscriber;
        QStringList args = logger(folder, meters) + QStringList {"--limit-sets", sets.fileName()};
        if (withBroker) {
            QDir().mkpath(m_work->file("broker"));
            broker.reset(new Broker(m_work->file("broker")));
            QVERIFY(broker->start());
            subscriber.reset(new Subscriber(broker->port(), "zentrel/#"));
            args << "--mqtt" << QString("127.0.0.1:%1").arg(broker->port());
        } else {
            qWarning("mosquitto is not installed (tools/dev.sh installs it): the cursor is not checked");
        }
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), args);
        QVERIFY(app.waitForStarted());
        // Every frame of every meter, the one that left too.
        QTRY_VERIFY_WITH_TIMEOUT(framesByStation(folder).value("S2").size() >= count
                                     && framesByStation(folder).value("S0").size() >= count
                                     && framesByStation(folder).value("S1").size() >= count
                                     && framesByStation(folder).value("S3").size() >= count, 60000);
        QMap<QString, QString> ports;
        QMap<QString, QSet<QString>> verdicts; // "verdict/r_high"
        const auto frames = framesByStation(folder, &ports, &verdicts);
        QCOMPARE(verdicts.value("S0"), (QSet<QString> {"PASS/0.005", "NG/0.005"})); // frame 51 on is above 0.005 mΩ
        QCOMPARE(verdicts.value("S1"), QSet<QString> {"/"});
        for (int i = 0; i < 4; ++i) {
            const QString station = QString("S%1").arg(i);
            QList<int> expected;
            for (int n = 1; n <= count; ++n)
                expected << n;
            QCOMPARE(frames.value(station), expected); // once each, in order
            QCOMPARE(ports.value(station), sims[i].link);
        }
        // A second logger on the same folder is refused, and says whose it is.
        QProcess second;
        second.start(QStringLiteral(ZENTREL_LOGGER_PATH), logger(folder, {m_work->file("meter-none")}));
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 3);
        const QString refusal = QString::fromLocal8Bit(second.readAllStandardError());
        QVERIFY2(refusal.contains(folder) && refusal.contains(QString::number(app.processId())), qPrintable(refusal));
        if (withBroker)
            QTRY_COMPARE_WITH_TIMEOUT(subscriber->ids().size(), 4 * count, 30000);
        // SIGTERM: exit 0, everything synced, the cursor at the end of the file.
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        const QString log = QString::fromLocal8Bit(app.readAllStandardError());
        QVERIFY2(log.contains(sims[2].link + ")：连接丢失") && log.contains(sims[2].link + ")：已重新连接"), qPrintable(log));
        if (withBroker) {
            QFile cursorFile(QDir(folder).filePath("mqtt-cursor.json"));
            QVERIFY(cursorFile.open(QIODevice::ReadOnly));
            const QJsonObject cursor = QJsonDocument::fromJson(cursorFile.readAll()).object();
            const QString day = cursor["readings"].toObject()["day"].toString();
            QCOMPARE(qint64(cursor["readings"].toObject()["offset"].toDouble()),
                     QFileInfo(QDir(folder).filePath("readings-" + day + ".csv")).size());
        }
    }

    void killedLosesNothingSentBefore()
    {
        const QString folder = m_work->file("journal");
        Sim sim;
        QVERIFY(sim.start(m_work->file("meter"), {"--count", "50"}));
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), logger(folder, {sim.link}));
        QVERIFY(app.waitForStarted());
        // All sent, then 200 ms: nothing of it may be lost to a kill.
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromLatin1(sim.process->readAllStandardOutput())).contains("done 50"), 30000);
        QTest::qWait(200);
        ::kill(pid_t(app.processId()), SIGKILL);
        QVERIFY(app.waitForFinished(10000));
        const auto frames = framesByStation(folder);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames.first().size(), 50);
    }

    // At the line's limit the logger reads in batches; the frames that wait
    // below a batch when the meter stops are read too.
    void aFastLineToItsLastFrame()
    {
        const int count = 5120;
        const QString folder = m_work->file("journal");
        Sim sim;
        QVERIFY(sim.start(m_work->file("meter"), {"--count", QString::number(count), "--interval", "0.390625"}));
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), logger(folder, {sim.link}));
        QVERIFY(app.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(framesByStation(folder).value(QHostInfo::localHostName() + "-meter").size(), count, 30000);
        QList<int> expected;
        for (int n = 1; n <= count; ++n)
            expected << n;
        QCOMPARE(framesByStation(folder).first(), expected);
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
    }

    void cellsOfAMeterFromTheConfigFile()
    {
        const QString folder = m_work->file("journal");
        QProcess sim;
        const QString link = m_work->file("meter");
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "20", "--r", "15", "--v", "3.7", "--cells", "3",
                                                      "--contact-ms", "400", "--lift-ms", "100", "--start-after", "100", "--linger"});
        QVERIFY(sim.waitForStarted() && sim.waitForReadyRead(10000));
        QFile ini(m_work->file("logger.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QString("[Meters]\nm1=%1,station=CELLS-1\n[Station]\nSettleMs=100\n").arg(link).toUtf8());
        ini.close();
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), {"--config", ini.fileName(), "--journal-dir", folder, "--cells"});
        QVERIFY(app.waitForStarted());
        const QString cells = QDir(folder).filePath("cells-" + QDate::currentDate().toString(Qt::ISODate) + ".csv");
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::textFileLines(cells).size(), 4, 30000); // the header and three cells
        for (const QString &row : testsupport::textFileLines(cells).mid(1)) {
            const QList<QByteArray> f = journal::csvFields(row.toUtf8());
            QCOMPARE(f.value(1), QByteArray("CELLS-1"));
            QVERIFY2(f.value(4).startsWith("CELLS-1-"), row.toUtf8().constData());
            QVERIFY2(std::fabs(f.value(6).toDouble() - 15) <= 0.6 + 1e-9, row.toUtf8().constData()); // a settled cell's R
        }
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
        sim.terminate();
        sim.waitForFinished(5000);
    }

    // Contacts that never settle: no record, and the logger says so once
    // for the meter, with how long the contact lasted and the rule.
    void contactsThatNeverSettleAreSaid()
    {
        const QString folder = m_work->file("journal");
        QProcess sim;
        const QString link = m_work->file("meter");
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "20", "--cells", "4", "--unsteady-cell", "all",
                                                      "--contact-ms", "400", "--lift-ms", "100", "--start-after", "100", "--linger"});
        QVERIFY(sim.waitForStarted() && sim.waitForReadyRead(10000));
        QFile ini(m_work->file("logger.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QString("[Meters]\nm1=%1,station=SHAKY\n[Station]\nSettleMs=100\n").arg(link).toUtf8());
        ini.close();
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), {"--config", ini.fileName(), "--journal-dir", folder, "--cells", "--lang", "en"});
        QVERIFY(app.waitForStarted());
        QString said;
        const QString rule = "needs 0.1 s and 3 readings within 0.5 %";
        QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromUtf8(app.readAllStandardError()), said.contains(rule)), 30000);
        // Three contacts and more in the journal (25 frames each with its lift): said once all the same.
        const QString readings = QDir(folder).filePath("readings-" + QDate::currentDate().toString(Qt::ISODate) + ".csv");
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::textFileLines(readings).size() > 80, 30000);
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        said += QString::fromUtf8(app.readAllStandardError());
        QCOMPARE(said.count(rule), 1);
        QVERIFY2(QRegularExpression("SHAKY: contacts do not settle; no record \\(contact 0\\.[2-5] s, " + QRegularExpression::escape(rule)).match(said).hasMatch(),
                 qPrintable(said));
        QVERIFY(testsupport::textFileLines(QDir(folder).filePath("cells-" + QDate::currentDate().toString(Qt::ISODate) + ".csv")).size() <= 1);
        sim.terminate();
        sim.waitForFinished(5000);
    }

    // The journal folder deleted under a running logger: made again with
    // its lock, so a second logger is still refused on it.
    void theLockComesBackWithTheFolder()
    {
        const QString folder = m_work->file("journal");
        Sim sim;
        QVERIFY(sim.start(m_work->file("meter"), {"--count", "100000"}));
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), logger(folder, {sim.link}));
        QVERIFY(app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!framesByStation(folder).isEmpty(), 30000);
        QVERIFY(QDir().rename(folder, folder + "-gone")); // gone from under it, at once
        QTRY_VERIFY_WITH_TIMEOUT(!framesByStation(folder).isEmpty(), 30000);
        QVERIFY(QFile::exists(QDir(folder).filePath("zentrel.lock")));
        QProcess second;
        second.start(QStringLiteral(ZENTREL_LOGGER_PATH), logger(folder, {sim.link + "x"}));
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 3);
        QVERIFY(QString::fromUtf8(second.readAllStandardError()).contains(QString::number(app.processId())));
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
    }

    // Under a file-size limit the journal pauses as on a full disk (no
    // SIGXFSZ); at SIGTERM what waits goes to the rescue folder, and every
    // frame is in the journal or there, once.
    void aFileSizeLimitPausesAndRescues()
    {
        const QString folder = m_work->file("journal");
        Sim sim;
        QVERIFY(sim.start(m_work->file("meter"), {"--count", "100"}));
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", m_work->file("data"));
        app.setProcessEnvironment(env);
        app.start("bash", QStringList {"-c", "ulimit -f 8 && exec \"$0\" \"$@\"", QStringLiteral(ZENTREL_LOGGER_PATH)}
                              + logger(folder, {sim.link + ",station=LIMITED"}));
        QString said, told;
        QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromLatin1(sim.process->readAllStandardOutput())).contains("done 100"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT((told += QString::fromUtf8(app.readAllStandardError())).contains("日志暂停"), 30000); // in the catalogue's language, as every line
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        told += QString::fromUtf8(app.readAllStandardError());
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        const QString rescue = m_work->file("data/zentrel/rescue");
        QVERIFY2(told.contains(rescue), qPrintable(told));
        QCOMPARE(told.count("日志暂停"), 1); // one line per change of state, not per reading
        QList<int> all = framesByStation(folder).value("LIMITED") + framesByStation(rescue).value("LIMITED");
        std::sort(all.begin(), all.end());
        QList<int> expected;
        for (int n = 1; n <= 100; ++n)
            expected << n;
        QCOMPARE(all, expected);
        QVERIFY(!framesByStation(rescue).value("LIMITED").isEmpty());
    }

    // A password file that is a FIFO: no hang, and the logger says why MQTT
    // is off (nothing but the start fails, so no broker is needed).
    void aPasswordFileThatIsNoFileIsSaid()
    {
        const QString fifo = m_work->file("password");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QFile ini(m_work->file("logger.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(QString("[MQTT]\nHost=127.0.0.1\nPort=1\nPasswordFile=%1\n").arg(fifo).toUtf8());
        ini.close();
        Sim sim;
        QVERIFY(sim.start(m_work->file("meter"), {"--count", "1"}));
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH),
                  QStringList {"--config", ini.fileName()} + logger(m_work->file("journal"), {sim.link}));
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += QString::fromUtf8(app.readAllStandardError())).contains("不是普通文件"), 10000);
        QVERIFY2(told.contains("password"), qPrintable(told));
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
    }

    // Meters that would mint one record id twice, or read one line twice,
    // and names that would forge log lines: refused before anything opens.
    void refusedMeters_data()
    {
        QTest::addColumn<QStringList>("meters"); // %1: a real line, %2: its device
        QTest::addColumn<QStringList>("said");   // on stderr
        QTest::newRow("one station name twice") << QStringList {"%1,station=X", "%1b,station=X"}
                                                << QStringList {"%1,station=X", "%1b,station=X", "one station name"};
        QTest::newRow("one device, two spellings") << QStringList {"%1,station=A", "%2,station=B"}
                                                   << QStringList {"%1,station=A", "%2,station=B", "one device"};
        QTest::newRow("a line break in a name") << QStringList {"%1,station=A\nzentrel-logger: forged"} << QStringList {"station="};
        QTest::newRow("an escape in a name") << QStringList {"%1,station=A\x1b[2J"} << QStringList {"station="};
        QTest::newRow("a topic level in a name") << QStringList {"%1,station=line3/A"} << QStringList {"station=", "MQTT topic"};
        QTest::newRow("a limit set without the file") << QStringList {"%1,limits=A"} << QStringList {"--limit-sets"};
        QTest::newRow("10,000 characters") << QStringList {"%1,station=" + QString(10000, 'S')} << QStringList {"128"};
    }
    void refusedMeters()
    {
        QFETCH(QStringList, meters);
        QFETCH(QStringList, said);
        Sim sim;
        QVERIFY(sim.start(m_work->file("meter"), {"--count", "1"}));
        const QString device = QFileInfo(sim.link).symLinkTarget();
        QVERIFY(!device.isEmpty());
        QStringList args = {"--journal-dir", m_work->file("journal")};
        for (QString m : meters)
            args << "--meter" << m.replace("%1", sim.link).replace("%2", device);
        for (QString &s : said)
            s = s.replace("%1", sim.link).replace("%2", device);
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), args);
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 2);
        const QString err = QString::fromUtf8(app.readAllStandardError());
        for (const QString &s : qAsConst(said))
            QVERIFY2(err.contains(s), qPrintable(err.left(300)));
        QCOMPARE(err.count('\n'), 1); // one line: nothing forged
        QVERIFY(!err.contains('\x1b'));
        QVERIFY(!QFileInfo::exists(m_work->file("journal")));
    }

    // A noisy line through a real pseudo-terminal: nothing is journaled
    // that the meter did not send (numbered frames tell), and the logger
    // says how many bytes it dropped.
    void aNoisyLineInventsNoReading_data()
    {
        QTest::addColumn<QStringList>("noise");
        QTest::addColumn<int>("count"); // frames sent
        QTest::addColumn<int>("least"); // readings journaled at least
        QTest::addColumn<int>("most");
        QTest::newRow("random bytes only") << QStringList {"--garbage"} << 300 << 0 << 0;
        // Stray bytes before every frame: the line's pauses tell where frames end.
        QTest::newRow("0-30 stray bytes before each frame, at a meter's pace")
            << QStringList {"--stray", "30", "--interval", "250"} << 60 << 57 << 60;
        QTest::newRow("three frames of an unknown range") << QStringList {"--bad-frames", "100,3"} << 300 << 297 << 297;
    }
    void aNoisyLineInventsNoReading()
    {
        QFETCH(QStringList, noise);
        QFETCH(int, count);
        QFETCH(int, least);
        QFETCH(int, most);
        const QString folder = m_work->file("journal");
        Sim sim;
        QVERIFY(sim.start(m_work->file("meter"), QStringList {"--count", QString::number(count), "--steady"} + noise));
        QProcess app;
        app.start(QStringLiteral(ZENTREL_LOGGER_PATH), logger(folder, {sim.link + ",station=NOISY"}));
        QVERIFY(app.waitForStarted());
        QString said;
        const QString done = "done " + QString::number(count);
        QTRY_VERIFY_WITH_TIMEOUT((said += QString::fromLatin1(sim.process->readAllStandardOutput())).contains(done), 60000);
        QString told;
        QTRY_VERIFY_WITH_TIMEOUT((told += QString::fromUtf8(app.readAllStandardError())).contains("字节（不是仪表的帧）"), 30000);
        ::kill(pid_t(app.processId()), SIGTERM); // what the line still holds is read first
        QVERIFY(app.waitForFinished(20000));
        const QList<int> numbers = framesByStation(folder).value("NOISY");
        QVERIFY2(numbers.size() >= least && numbers.size() <= most, qPrintable(QString::number(numbers.size())));
        QSet<int> seen;
        for (int n : numbers) {
            QVERIFY2(n >= 1 && n <= count && !seen.contains(n), qPrintable(QString::number(n))); // sent, and once
            seen << n;
        }
        if (noise.first() == "--bad-frames")
            QVERIFY(!seen.contains(100) && !seen.contains(101) && !seen.contains(102) && seen.contains(103));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestLogger)
#include "test_logger.moc"
