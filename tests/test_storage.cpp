// Files and folders that do not behave (storage/, platform/regularfile, and
// every writer on them): FIFOs and links where files belong, a journal
// folder deleted under the running program, a file-size limit, two programs
// on one folder, leaving with readings still in memory, and saves onto a full
// disk or into a FIFO that keep the old file. (The meter that
// hangs up after its last frame: test_seriallink; the command line without a
// display: test_shell; cursors that lie: test_mqtt.)
#include "app/windowcapabilities.h"
#include "app/options.h"
#include "broker.h"
#include "journallines.h"
#include "journal/journal.h"
#include "meterline.h"
#include "mqtt/publisher.h"
#include "settings/configfile.h"
#include "station/cellrecorder.h"
#include "storage/textfile.h"
#include "testsupport.h"

#include <QHostInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>

#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

// A tmpfs of a few KiB, filled to the last byte; unmounted when it goes.
class FullDisk
{
public:
    explicit FullDisk(const QString &mountPoint, const char *size = "size=64k") : m_path(mountPoint)
    {
        QDir().mkpath(m_path);
        m_mounted = ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs", 0, size) == 0;
    }
    ~FullDisk()
    {
        if (m_mounted)
            ::umount(QFile::encodeName(m_path).constData());
    }
    bool mounted() const { return m_mounted; }
    QString file(const QString &name) const { return m_path + '/' + name; }
    void fill()
    {
        QFile filler(file("filler"));
        filler.open(QIODevice::WriteOnly);
        const QByteArray chunk(1024, 'f');
        while (filler.write(chunk) == chunk.size() && filler.flush()) {
        }
    }

private:
    QString m_path;
    bool m_mounted = false;
};

QString bigLog()
{
    QString big;
    for (int i = 0; i < 5000; ++i)
        big += QString("%1#  12.3456mΩ  3.7012V\n").arg(i);
    return big;
}

meter::ReadingBurst burstOf(int seq, const QDateTime &time, double r = 15.0, bool lifted = false)
{
    meter::MeterReading reading;
    reading.seq = quint32(seq);
    reading.frameCount = quint32(seq);
    reading.time = time;
    reading.decoded.milliOhm = true;
    reading.decoded.r = r;
    reading.decoded.v = 3.7;
    reading.decoded.rOverload = reading.decoded.vOverload = lifted;
    meter::ReadingBurst burst;
    burst.time = time;
    burst.port = QStringLiteral("ttyTEST");
    burst.readings << reading;
    return burst;
}

QProcessEnvironment headless(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_DATA_HOME", home);
    return env;
}

} // namespace

class TestStorage : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    // ---- files that are not files ------------------------------------------------------

    void fifoWhereAFileBelongsNeverHangs()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QString day = now.date().toString(Qt::ISODate);
        QDir().mkpath(m_work->file("j"));
        // The outbox's day file.
        QVERIFY(testsupport::makeFifo(m_work->file("j/readings-" + day + ".csv")));
        mqtt::Outbox box(m_work->file("j"), "readings", {});
        box.setAcknowledged({now.date(), 0, 0});
        QVERIFY(box.read(10).isEmpty());
        QVERIFY(box.countSome(1 << 20));
        // The station's cells file: no record can be written, and it says why.
        station::CellRecorder station(m_work->file("j"), "S1");
        QVERIFY(testsupport::makeFifo(station.file()->fileFor(now.date())));
        station.takeBurst(burstOf(1, now, 0, true));
        for (int i = 0; i < 8; ++i)
            station.takeBurst(burstOf(2 + i, now.addMSecs(600 + 100 * i)));
        QVERIFY(station.file()->paused());
        QVERIFY2(station.file()->reason().contains("不是普通文件"), qPrintable(station.file()->reason()));
        // The password file.
        mqtt::PublisherSettings s;
        s.client.host = "127.0.0.1";
        s.client.port = freePort();
        s.client.user = "u";
        s.topicPrefix = "zentrel/t";
        s.passwordFile = m_work->file("secret");
        QVERIFY(testsupport::makeFifo(s.passwordFile));
        mqtt::Publisher publisher(m_work->file("j"), s);
        QString error;
        QVERIFY(!publisher.start(&error));
        QVERIFY2(error.contains("不是普通文件") && error.contains(s.passwordFile), qPrintable(error));
    }

    void plantedLinkIsNotFollowed()
    {
        const QString folder = m_work->file("j");
        QDir().mkpath(folder);
        writeFile(m_work->file("victim"), "someone else's\n");
        journal::Journal j(folder, "S1");
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(QFile::link(m_work->file("victim"), j.fileFor(now.date())));
        j.takeBurst(burstOf(1, now));
        j.flush();
        QCOMPARE(readFile(m_work->file("victim")), QByteArray("someone else's\n"));
        QVERIFY(j.paused());
        QVERIFY2(j.reason().contains("符号链接"), qPrintable(j.reason()));
        QCOMPARE(j.waiting(), 1);
    }

    void vanishedFolderIsMadeAnew_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("folder deleted") << "folder";
        QTest::newRow("file renamed away") << "renamed";
        QTest::newRow("file replaced by a folder") << "dir";
    }
    void vanishedFolderIsMadeAnew()
    {
        QFETCH(QString, what);
        const QString folder = m_work->file("j");
        journal::Journal j(folder, "S1");
        const QDateTime now = QDateTime::currentDateTime();
        const QString path = j.fileFor(now.date());
        for (int i = 1; i <= 5; ++i)
            j.takeBurst(burstOf(i, now));
        j.flush();
        QCOMPARE(testsupport::textFileLines(path).size(), 6);
        if (what == "folder") {
            QVERIFY(QDir(folder).removeRecursively());
        } else if (what == "renamed") {
            QVERIFY(QFile::rename(path, path + ".old"));
        } else {
            QVERIFY(QFile::remove(path));
            QVERIFY(QDir().mkpath(path));
        }
        for (int i = 6; i <= 10; ++i)
            j.takeBurst(burstOf(i, now));
        j.flush();
        if (what == "dir") {
            // Nowhere to write: paused with the reason, the readings kept.
            QVERIFY(j.paused());
            QCOMPARE(j.waiting(), 5);
            QVERIFY(QDir(path).removeRecursively());
            QVERIFY(j.writeWaitingNow());
        }
        const QStringList lines = testsupport::textFileLines(path);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines.first(), QString(journal::kHeader));
        QCOMPARE(journal::csvFields(lines.last().toUtf8()).value(3), QByteArray("10"));
    }

    // ---- the real program under hostile conditions --------------------------------------

    void fileSizeLimitPausesAndASignalRescues()
    {
        const QString prlimit = QStandardPaths::findExecutable("prlimit");
        if (prlimit.isEmpty())
            QSKIP("prlimit is not installed (Debian: util-linux)");
        const QString link = m_work->file("meter");
        const int frames = 240; // about twice what the limit lets into the file
        QProcess sim;
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "5", "--sequence", "--count",
                                                    QString::number(frames), "--linger", "--start-after", "300"});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 10000);
        const QString folder = m_work->file("journal");
        QProcess app;
        app.setProcessEnvironment(headless(m_work->file("home")));
        app.setWorkingDirectory(m_work->path());
        app.start(prlimit, {"--fsize=16384", QStringLiteral(ZENTREL_APP_PATH), "--port", link, "--journal-dir", folder});
        QVERIFY(app.waitForStarted());
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += sim.readAllStandardOutput()).contains("done"), 30000);
        const QString day = m_work->file("journal/readings-" + QDate::currentDate().toString(Qt::ISODate) + ".csv");
        // The file stops below the limit on a whole line; the program lives on.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(day).size() > 8192, 30000);
        QCOMPARE(app.state(), QProcess::Running);
        QVERIFY(readFile(day).endsWith('\n'));
        // Ended by a signal: what waits goes to a rescue folder named on stderr.
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromLocal8Bit(app.readAllStandardError());
        const QString rescue = m_work->file("home/zentrel/rescue");
        QVERIFY2(err.contains(rescue), qPrintable(err));
        // Every reading taken is in one of the two, none twice, none missing.
        const QSet<int> inJournal = seqsIn(readFile(day));
        const QSet<int> rescued = seqsIn(readFile(rescue + "/" + QFileInfo(day).fileName()));
        QVERIFY(!rescued.isEmpty());
        QVERIFY(!inJournal.intersects(rescued));
        const QSet<int> seqs = inJournal + rescued;
        QCOMPARE(*std::max_element(seqs.begin(), seqs.end()), seqs.size());
    }

    void secondProgramOnAFolderRunsWithoutIt()
    {
        const QString folder = m_work->file("j");
        StartOptions options;
        options.journalDir = folder;
        options.station = true;
        MainWindow first, second;
        WindowCapabilities a(first, options);
        WindowCapabilities b(second, options);
        QVERIFY(a.journal() && a.station());
        QVERIFY(!b.journal() && !b.station());
        auto *indicator = second.findChild<QLabel *>("journalIndicator");
        QVERIFY(indicator);
        const QString text = indicator->text();
        QVERIFY2(text.contains(folder) && text.contains(QString::number(QCoreApplication::applicationPid())), qPrintable(text));
        // Record ids carry their station.
        a.station()->setRequireLot(false);
        a.station()->setRequireId(false);
        const QDateTime now = QDateTime::currentDateTime();
        a.station()->takeBurst(burstOf(1, now, 0, true));
        for (int i = 0; i < 8; ++i)
            a.station()->takeBurst(burstOf(2 + i, now.addMSecs(600 + 100 * i)));
        QVERIFY(!a.station()->records().empty());
        QVERIFY2(a.station()->records().front().id.startsWith(QHostInfo::localHostName() + "-"),
                 qPrintable(a.station()->records().front().id));
    }

    void leavingWithReadingsInMemoryAsks()
    {
        const QString folder = m_work->file("j");
        StartOptions options;
        options.journalDir = folder;
        MainWindow w;
        WindowCapabilities installed(w, options);
        w.show();
        // The day's file is a folder: nothing can be written.
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(QDir().mkpath(installed.journal()->fileFor(now.date())));
        for (int i = 1; i <= 3; ++i)
            installed.journal()->takeBurst(burstOf(i, now));
        QString asked;
        testsupport::answerNextModal([&asked](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            asked = box->text();
            for (QAbstractButton *b : box->buttons())
                if (b->text() == "继续尝试")
                    b->click();
        });
        QVERIFY(!w.close());
        QVERIFY2(asked.contains("3 条读数"), qPrintable(asked));
        QVERIFY(w.isVisible());
        // Once writing works again, it simply closes.
        QVERIFY(QDir(installed.journal()->fileFor(now.date())).removeRecursively());
        QVERIFY(w.close());
        QCOMPARE(testsupport::textFileLines(installed.journal()->fileFor(now.date())).size(), 4);
    }


    // ---- saves where nothing can be saved --------------------------------------

    void savesRefuseAFifo()
    {
        const QString fifo = m_work->file("pipe.txt");
        QVERIFY(testsupport::makeFifo(fifo));
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->Receive_textEdit->setPlainText("1#  1.0000mΩ  1.0000V");
        QString warning;
        testsupport::saveExpectingWarning(fifo, &warning);
        p.ui()->Save_Serial_Button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!warning.isEmpty(), 5000);
        QVERIFY2(warning.contains(fifo) && warning.contains("不是普通文件"), qPrintable(warning));
        QVERIFY(testsupport::isFifo(fifo));

        const QString png = m_work->file("pipe.png");
        QVERIFY(testsupport::makeFifo(png));
        QString plotWarning;
        testsupport::saveExpectingWarning(png, &plotWarning);
        QVERIFY(QMetaObject::invokeMethod(&w, [&] { p.exportPlot("png"); }));
        QTRY_VERIFY_WITH_TIMEOUT(!plotWarning.isEmpty(), 5000);
        QVERIFY2(plotWarning.contains(png), qPrintable(plotWarning));
        QVERIFY(testsupport::isFifo(png));
        QCOMPARE(saveUtf8TextFile(fifo, "x"), false);
    }

    void fullDiskKeepsTheOldFile()
    {
        FullDisk disk(m_work->file("tiny"));
        if (!disk.mounted())
            QSKIP("cannot mount a small tmpfs here (needs root and mount rights)");
        const QString target = disk.file("log.txt");
        writeFile(target, "the old save\n");
        const QString oldPng = disk.file("plot.png");
        writeFile(oldPng, "old picture");
        writeFile(disk.file("config.ini"), "[UDP_Server]\nServerPort=5\n");
        disk.fill();

        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->Receive_textEdit->setPlainText(bigLog());
        QString warning;
        testsupport::saveExpectingWarning(target, &warning);
        p.ui()->Save_Serial_Button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!warning.isEmpty(), 5000);
        QVERIFY2(warning.contains(target) && warning.contains("No space left on device"), qPrintable(warning));
        QCOMPARE(readFile(target), QByteArray("the old save\n"));

        // Both plot exports: a warning with the reason, the old file intact,
        // no partial file.
        for (const QString &format : {QString("png"), QString("pdf")}) {
            const QString path = format == "png" ? oldPng : disk.file("plot.pdf");
            QString plotWarning;
            testsupport::saveExpectingWarning(path, &plotWarning);
            QVERIFY(QMetaObject::invokeMethod(&w, [&] { p.exportPlot(format); }));
            QTRY_VERIFY_WITH_TIMEOUT(!plotWarning.isEmpty(), 5000);
            QVERIFY2(plotWarning.contains(path) && plotWarning.contains("No space left on device"),
                     qPrintable(plotWarning));
        }
        QCOMPARE(readFile(oldPng), QByteArray("old picture"));
        QVERIFY(!QFile::exists(disk.file("plot.pdf")));
        const QStringList left = QDir(disk.file("")).entryList(QDir::Files);
        QCOMPARE(left, QStringList({"config.ini", "filler", "log.txt", "plot.png"}));

        // Settings on a full disk: said, and the old file kept.
        QString reason;
        ConnectionSettings s;
        s.serverIp = QString(8000, 'x');
        QVERIFY(!writeConnectionSettings(disk.file("config.ini"), s, &reason));
        QVERIFY2(reason.contains("No space left on device"), qPrintable(reason));
        QCOMPARE(readConnectionSettings(disk.file("config.ini")).serverPort, 5);
    }

    void savingOntoAFullDisk()
    {
        const FullDisk disk(m_work->file("tiny"), "size=16k");
        if (!disk.mounted())
            QSKIP("cannot mount a small tmpfs here (needs root and mount rights); full-disk saving not tested");

        MainWindow w;
        MainWindowProbe p(w);
        const QString big = bigLog();
        p.ui()->Receive_textEdit->setPlainText(big);
        const QString target = disk.file("log.txt");
        QString warning;
        testsupport::saveExpectingWarning(target, &warning);
        p.ui()->Save_Serial_Button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!warning.isEmpty(), 5000);
        QVERIFY2(warning.contains(target), qPrintable(warning));
        QCOMPARE(p.ui()->Receive_textEdit->toPlainText(), big.left(big.size() - 1) + "\n");
    }

    void savingIntoAReadOnlyFolder()
    {
        if (geteuid() == 0)
            QSKIP("running as root, which may write into read-only folders; see savingOntoAFullDisk");
        const QString folder = m_work->file("locked");
        QVERIFY(QDir().mkdir(folder));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QString reason;
        QVERIFY(!saveUtf8TextFile(folder + "/x.txt", "x", &reason));
        QVERIFY(!reason.isEmpty());
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestStorage)
#include "test_storage.moc"
