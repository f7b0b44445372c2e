// The journal: every accepted reading on disk before it is shown, in a CSV
// file per day; what happens when the folder fails, at midnight, after a
// power cut and a kill; and the meter that leaves and comes back.
#include "app/windowcapabilities.h"
#include "link/meterlink.h"
#include "journal/csvrecords.h"
#include "journal/dailycsv.h"
#include "journal/journal.h"
#include "storage/folderlock.h"
#include "journal/ui/journalindicator.h"
#include "meter/meterframe.h"
#include "meter/metersession.h"
#include "meterline.h"
#include "testsupport.h"

#include <QLabel>
#include <QSysInfo>
#include <QProcess>
#include <QStatusBar>
#include <QTextEdit>

#include <csignal>

using journal::Journal;

namespace {

// The fields of a line as text (the exact text of a whole line is checked too).
QStringList fields(const QString &line)
{
    QStringList out;
    for (const QByteArray &f : journal::csvFields(line.toUtf8()))
        out << QString::fromUtf8(f);
    return out;
}

meter::Limits limits(const QString &a, const QString &b, const QString &c, const QString &d)
{
    meter::Limits l;
    l.rLow = meter::parseLimit(a);
    l.rHigh = meter::parseLimit(b);
    l.vLow = meter::parseLimit(c);
    l.vHigh = meter::parseLimit(d);
    return l;
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }

    // The folder deleted, and another program's lock there before ours came
    // back: the file pauses and names the holder, and no line goes in.
    void aFolderTakenMeanwhilePausesTheFile()
    {
        const QString folder = m_work->file("j");
        FolderLock lock(folder);
        QString reason;
        QVERIFY2(lock.acquire(&reason), qPrintable(reason));
        journal::DailyCsv file(folder, "readings", "a,b");
        file.setFolderGuard([&lock](QString *why) { return lock.keep(why); });
        const QDate day(2026, 12, 8);
        file.append(day, "1,2\n");
        QVERIFY(!file.paused());
        QVERIFY(QDir(folder).removeRecursively());
        // Gone, and back with its lock: writing goes on.
        file.append(day, "3,4\n");
        QVERIFY2(!file.paused(), qPrintable(file.reason()));
        QVERIFY(QFile::exists(QDir(folder).filePath("zentrel.lock")));
        // Gone, and taken by another living program on this host.
        QProcess other;
        other.start("sleep", {"60"});
        QVERIFY(other.waitForStarted());
        const QString pid = QString::number(other.processId());
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QDir().mkpath(folder));
        QFile foreign(QDir(folder).filePath("zentrel.lock"));
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        foreign.write(pid.toUtf8() + "\nsleep\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        foreign.close();
        file.append(day, "5,6\n");
        QVERIFY(file.paused());
        QVERIFY2(file.reason().contains(pid), qPrintable(file.reason()));
        QVERIFY(!QFile::exists(QDir(folder).filePath("readings-2026-12-08.csv")));
        QCOMPARE(testsupport::textFileLines(QDir(folder).filePath("zentrel.lock")).value(0), pid); // theirs, untouched
        other.kill();
        other.waitForFinished(5000);
    }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    // ---- the file -------------------------------------------------------------

    // The journal's times read back: its own shape by hand, every other by
    // Qt, and both give what Qt gives.
    void timesReadBack_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("offset +08:00") << QByteArray("2026-12-08T10:02:42.123+08:00") << true;
        QTest::newRow("Z") << QByteArray("2026-12-08T02:02:42.123Z") << true;
        QTest::newRow("negative half-hour offset, leap day") << QByteArray("2024-02-29T23:59:59.999-05:30") << true;
        QTest::newRow("before 1970") << QByteArray("1969-12-31T23:59:59.000Z") << true;
        QTest::newRow("no milliseconds") << QByteArray("2026-01-01T00:00:00+14:00") << true;
        QTest::newRow("one digit of fraction: Qt's") << QByteArray("2026-12-08T10:02:42.5+08:00") << true;
        QTest::newRow("no such day") << QByteArray("2026-02-29T00:00:00.000Z") << false;
        QTest::newRow("hour 24: Qt's") << QByteArray("2026-12-08T24:00:00.000Z") << QDateTime::fromString("2026-12-08T24:00:00.000Z", Qt::ISODateWithMs).isValid();
        QTest::newRow("letters") << QByteArray("2026-1x-08T10:00:00.000Z") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void timesReadBack()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        qint64 ms = 0;
        QCOMPARE(journal::readIsoTime(text, &ms), valid);
        if (valid)
            QCOMPARE(ms, QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toMSecsSinceEpoch());
    }

    // The report's fast reading of a line agrees with the careful one: the
    // same fields as views, record after record in one reused list (a long
    // record, then a short one, then a quoted one), and numbers as
    // QByteArray::toDouble reads them, but for a blank field.
    void fieldViewsAgree()
    {
        const QList<QByteArray> records = {
            "2026-12-08T10:00:00.000+08:00,S1,COM3,1,12.3456,3.7012,PASS,12.3456mΩ,3.7012V,AUTO,AUTO,11.5,13.5,3.6,3.8,settled",
            "a,,b,",
            ",",
            "",
            "t,\"Line 1, left\",x,\"say \"\"hi\"\"\"",
            "t,'=1+2,x",
            "t,S1,y",
        };
        journal::FieldViews views;
        for (const QByteArray &record : records) {
            const QByteArray copy = record; // the views' bytes outlive them
            views.split(copy);
            const QList<QByteArray> careful = journal::csvFields(copy);
            QCOMPARE(views.size(), careful.size());
            for (int i = 0; i < careful.size(); ++i)
                QCOMPARE(views[i], careful[i]);
        }
        const QList<QByteArray> numbers = {"12.3456", "-0.5", "+1.5", " 2.25 ", "1e3", "1E-3", "inf", "-inf", "+inf", "nan", "NaN", "Inf", " nan", "-nan", "infinity",
                                           "", " ", "1,5", "12x", "+-1", "--1", "0x10", "1e999", "1e-400", ".5", "5.", "+.5", "-"};
        for (const QByteArray &n : numbers) {
            bool fast = false, qt = false;
            const double a = journal::fieldNumber(QByteArray::fromRawData(n.constData(), n.size()), &fast), b = n.toDouble(&qt);
            // Qt takes a blank field for 0; a blank field is no reading.
            QVERIFY2(fast == (qt && !n.trimmed().isEmpty()), n.constData());
            if (qt)
                QVERIFY2(a == b || (std::isnan(a) && std::isnan(b)), n.constData());
        }
    }

    void linesHeaderAndQuoting()
    {
        meter::MeterSession session;
        Journal journal(m_work->file("j"), "Line 3, \"north\"");
        session.addSink(&journal);
        session.linkOpened("/dev/ttyUSB0");
        const QDateTime at(QDate(2026, 12, 7), QTime(10, 28, 58, 123), Qt::OffsetFromUTC, 8 * 3600);
        session.setClock([at] { return at; });
        session.setLimits(limits("0", "10", "0.5", "5"));
        session.feed(frameOf(123456, 37012));                           // 12.3456 mΩ, 3.7012 V
        session.feed(frameOf(15000, 37012, 6, 3, false, true));               // 1.5 Ω, -3.7012 V
        session.feed(frameOf(50000, 37012, 6, 3, true, false, true, false));  // R overload
        session.setLimits(limits("0", "", "0", "5"));
        session.feed(frameOf(50000, 37012, 6, 3, true, true, false, true));   // V overload, a limit not set
        journal.close();

        const QString path = m_work->file("j/readings-2026-12-07.csv");
        QFile raw(path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.readAll().startsWith("\xEF\xBB\xBF" "time,station,port,seq,r_mohm,v,verdict,r_text,v_text,"
                                          "r_range,v_range,r_low,r_high,v_low,v_high,contact\n"));
        const QStringList lines = testsupport::textFileLines(path);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[1], QString("2026-12-07T10:28:58.123+08:00,\"Line 3, \"\"north\"\"\",/dev/ttyUSB0,1,"
                                   "12.3456,3.7012,NG,12.3456mΩ,3.7012V,AUTO,AUTO,0,10,0.5,5,")); // no contact outside station mode
        const QStringList ohm = fields(lines[2]);
        QCOMPARE(ohm.size(), 16);
        QCOMPARE(ohm[1], QString("Line 3, \"north\""));
        QCOMPARE(ohm[4], QString("1500"));
        QCOMPARE(ohm[5], QString("-3.7012"));
        QCOMPARE(ohm[6], QString("NG"));
        QCOMPARE(ohm[7], QString("1.5000Ω"));
        const QStringList rOl = fields(lines[3]);
        QCOMPARE(rOl[4], QString());
        QCOMPARE(rOl[5], QString("3.7012"));
        QCOMPARE(rOl[6], QString());
        QCOMPARE(rOl[7], QString("OL mΩ"));
        const QStringList vOl = fields(lines[4]);
        QCOMPARE(vOl[4], QString("5"));
        QCOMPARE(vOl[5], QString());
        QCOMPARE(vOl[8], QString("- OL V"));
        QCOMPARE(vOl.mid(11, 4), QStringList({"0", "", "0", "5"}));
        QCOMPARE(journal::plainNumber(0.1), QString("0.1"));
        QCOMPARE(journal::plainNumber(1677.7215 * 1000), QString("1677721.5"));
    }

    // The journal's own number writer against Qt's, over every count the
    // meter can send in both units, negatives and typed limits; and limits
    // that change between two readings of one burst.
    void numbersAndLimitsAsTyped()
    {
        auto qtPlain = [](double value) {
            QString text = QString::number(value, 'f', 9);
            while (text.contains('.') && text.endsWith('0'))
                text.chop(1);
            if (text.endsWith('.'))
                text.chop(1);
            return text == "-0" ? QString("0") : text;
        };
        for (quint32 counts = 0; counts < (1u << 24); counts += 997) {
            for (double value : {counts * 0.0001, counts * 0.0001 * 1000, -(counts * 0.0001), counts * 0.001}) {
                QCOMPARE(journal::plainNumber(value), qtPlain(value));
                QCOMPARE(meter::fixed4(value), QString::number(value, 'f', 4));
            }
        }
        for (double value : {0.0, -0.0, 1e-10, -1e-10, 0.123456789123, 99999999.5, 1e15, -2.5e-5})
            QCOMPARE(journal::plainNumber(value), qtPlain(value));

        meter::MeterSession session;
        Journal journal(m_work->file("j"), "s");
        session.addSink(&journal);
        session.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0), Qt::OffsetFromUTC, -3 * 3600 - 1800); });
        session.setLimits(limits("1", "2", "3", "4"));
        session.feed(frameOf(15000, 37012).repeated(3)); // three in a row: the stream is in step
        session.setLimits(limits("1", "2.5", "3", ""));
        session.feed(frameOf(15000, 37012) + frameOf(15001, 37012));
        session.setLimits(limits("1", "2", "3", "4"));
        session.feed(frameOf(15002, 37012));
        journal.close();
        const QStringList lines = testsupport::textFileLines(m_work->file("j/readings-2026-12-07.csv"));
        QCOMPARE(lines.size(), 7);
        QVERIFY2(lines[1].startsWith("2026-12-07T09:00:00.000-03:30,"), qPrintable(lines[1]));
        QCOMPARE(fields(lines[3]).mid(11, 4), QStringList({"1", "2", "3", "4"}));
        QCOMPARE(fields(lines[4]).mid(11, 4), QStringList({"1", "2.5", "3", ""}));
        QCOMPARE(fields(lines[5]).mid(11, 4), QStringList({"1", "2.5", "3", ""}));
        QCOMPARE(fields(lines[6]).mid(11, 4), QStringList({"1", "2", "3", "4"}));
    }

    void midnightStartsANewFile()
    {
        meter::MeterSession session;
        Journal journal(m_work->file("j"), "s");
        session.addSink(&journal);
        QDateTime now(QDate(2026, 12, 7), QTime(23, 59, 59, 900));
        session.setClock([&now] { return now; });
        session.feed(frameOf(1, 1).repeated(3));
        now = QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0, 100));
        session.feed(frameOf(2, 2));
        session.feed(frameOf(3, 3));
        journal.close();
        const QStringList first = testsupport::textFileLines(m_work->file("j/readings-2026-12-07.csv"));
        const QStringList second = testsupport::textFileLines(m_work->file("j/readings-2026-12-08.csv"));
        QCOMPARE(first.size(), 4);
        QCOMPARE(second.size(), 3);
        QVERIFY(second[0].startsWith("time,"));
        QCOMPARE(fields(second[1])[3], QString("4"));
        QCOMPARE(fields(second[2])[3], QString("5"));
    }

    void tornLastLineIsLeftBehind()
    {
        QDir().mkpath(m_work->file("j"));
        const QString path = m_work->file("j/readings-2026-12-07.csv");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("\xEF\xBB\xBF") + journal::kHeader + "\n2026-12-07T10:00:00.000+00:00,s,p,1,1\n"
                    + "2026-12-07T10:00:00.500+00:00,s,p,2,1.2");
        }
        meter::MeterSession session;
        Journal journal(m_work->file("j"), "s");
        session.addSink(&journal);
        session.setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(10, 0, 1)); });
        session.feed(frameOf(30000, 10000).repeated(3));
        journal.close();
        const QStringList lines = testsupport::textFileLines(path);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[2], QString("2026-12-07T10:00:00.500+00:00,s,p,2,1.2")); // torn, as it was
        QCOMPARE(fields(lines[3]).size(), 16);                                  // and a whole line after
        QCOMPARE(fields(lines[3])[4], QString("3"));
    }

    // ---- a folder that fails --------------------------------------------------------

    void pausedWhileTheFolderFails()
    {
        const QString folder = m_work->file("j");
        {
            QFile blocker(folder); // a file where the folder should be
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        QStatusBar bar;
        meter::MeterSession session;
        Journal journal(folder, "s");
        journal.setRetryInterval(100);
        journal::JournalIndicator indicator(&journal, &bar);
        QSignalSpy changes(&journal, &Journal::stateChanged);
        session.addSink(&journal);
        const QDateTime at(QDate(2026, 12, 7), QTime(9, 0));
        session.setClock([at] { return at; });
        for (int i = 1; i <= 20; ++i)
            session.feed(frameOf(quint32(i), 1));
        session.flushRecords(); // as the screen does before it shows them
        QVERIFY(journal.paused());
        QCOMPARE(journal.waiting(), 20);
        QVERIFY(!indicator.isHidden());
        QVERIFY2(indicator.text().startsWith("记录暂停：") && indicator.text().contains(folder),
                 qPrintable(indicator.text()));
        // Retries are spaced, not a busy loop.
        const int before = changes.count();
        QTest::qWait(500);
        QVERIFY2(changes.count() - before <= 7, qPrintable(QString::number(changes.count() - before)));

        // The folder is fixed: everything waiting goes out, in order, then the live ones.
        QVERIFY(QFile::remove(folder));
        QTRY_VERIFY_WITH_TIMEOUT(!journal.paused(), 3000);
        session.feed(frameOf(21, 1));
        journal.close();
        const QStringList lines = testsupport::textFileLines(journal.fileFor(at.date()));
        QCOMPARE(lines.size(), 22);
        for (int i = 1; i <= 21; ++i)
            QCOMPARE(fields(lines[i])[3], QString::number(i));
        QVERIFY(indicator.isHidden());
    }

    void boundedBacklogSaysWhatItLost()
    {
        QFile blocker(m_work->file("j"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QStatusBar bar;
        meter::MeterSession session;
        Journal journal(m_work->file("j"), "s");
        journal.setBacklogLimit(5);
        journal::JournalIndicator indicator(&journal, &bar);
        session.addSink(&journal);
        for (int i = 1; i <= 8; ++i)
            session.feed(frameOf(quint32(i), 1));
        session.flushRecords();
        QCOMPARE(journal.waiting(), 5);
        QCOMPARE(journal.notJournaled(), quint64(3));
        QVERIFY2(indicator.text().contains("3 条读数未能记录"), qPrintable(indicator.text()));
    }

    // ---- the window with a journal ------------------------------------------------

    void fullWindowRelaysOnTheJournal()
    {
        const QString folder = m_work->file("j");
        StartOptions options;
        options.journalDir = folder;
        LinkedWindow lw;
        WindowCapabilities installed(lw.window, options);
        lw.probe.setReceiveWindowCap(40);
        QVERIFY(lw.link());
        for (int i = 1; i <= 200; ++i) {
            QVERIFY(lw.meter.send(frameOf(quint32(i) * 10000, 37000)));
            if (i % 25 == 0)
                QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(i), 3000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 200u, 3000);
        const QStringList window = lw.ui->Receive_textEdit->toPlainText().split('\n');
        QVERIFY(window.size() <= 43);
        QVERIFY2(window.first().contains("记录文件夹") && window.first().contains(folder), qPrintable(window.first()));
        QVERIFY(QDir(folder).entryList({"receive-window-*"}).isEmpty());
        installed.journal()->close();
        const QStringList lines = testsupport::textFileLines(installed.journal()->fileFor(QDate::currentDate()));
        QCOMPARE(lines.size(), 201);
        QCOMPARE(fields(lines.last())[3], QString("200"));
        QCOMPARE(fields(lines.last())[2], lw.meter.link());
    }

    // ---- the real program, killed ------------------------------------------------------

    void killedProgramLosesNothingShown()
    {
        MeterLine meter;
        QVERIFY(meter.ok());
        const QString folder = m_work->file("journal");
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(m_work->path());
        app.start(QStringLiteral(ZENTREL_APP_PATH), {"--port", meter.link(), "--journal-dir", folder});
        QVERIFY(app.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(meter.pty().readerAttached(), 10000);

        // 50 frames a second, each numbered in R; the time of each write kept.
        QElapsedTimer clock;
        clock.start();
        QVector<qint64> sentAt;
        quint32 n = 0;
        while (clock.elapsed() < 3000) {
            QVERIFY(meter.send(frameOf(++n, 37000)));
            sentAt << clock.elapsed();
            QTest::qWait(20);
        }
        const qint64 killedAt = clock.elapsed();
        ::kill(pid_t(app.processId()), SIGKILL);
        QVERIFY(app.waitForFinished(5000));
        QCOMPARE(app.exitStatus(), QProcess::CrashExit);

        const QStringList files = QDir(folder).entryList({"readings-*.csv"}, QDir::Files, QDir::Name);
        QVERIFY(!files.isEmpty());
        QStringList lines;
        for (const QString &file : files)
            lines += testsupport::textFileLines(QDir(folder).filePath(file)).mid(1);
        int mustHave = 0;
        while (mustHave < sentAt.size() && sentAt[mustHave] < killedAt - 200)
            ++mustHave;
        QVERIFY2(lines.size() >= mustHave, qPrintable(QString("%1 lines, %2 frames sent before").arg(lines.size()).arg(mustHave)));
        for (int i = 0; i < lines.size(); ++i) {
            const QStringList f = fields(lines[i]);
            QCOMPARE(f.size(), 16);
            QCOMPARE(f[3], QString::number(i + 1));                      // once, in order
            QCOMPARE(f[4], journal::plainNumber((i + 1) / 10000.0));     // the frame it came from
            QCOMPARE(f[5], QString("3.7"));
        }
    }

    // ---- a meter that leaves and comes back ---------------------------------------------

    void meterComesBack()
    {
        const QString link = QDir::temp().filePath(QString("zentrel-test-back-%1").arg(QCoreApplication::applicationPid()));
        QProcess sim;
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "20", "--sequence",
                                                     "--leave-after", "30", "--away", "800", "--count", "80", "--linger"});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 5000);

        StartOptions options;
        options.port = link;
        options.noJournal = true;
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->radioButton_group->setChecked(true);
        WindowCapabilities installed(w, options);
        QTRY_VERIFY_WITH_TIMEOUT(p.serialPort(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(w.meterLink()->waiting(), 5000);
        auto *waiting = w.findChild<QLabel *>("reconnectIndicator");
        QVERIFY(waiting && !waiting->isHidden());
        QVERIFY(waiting->text().contains(link));
        QTRY_VERIFY_WITH_TIMEOUT(p.serialPort(), 5000);
        QVERIFY(!w.meterLink()->waiting());
        QVERIFY(w.statusBar()->currentMessage().contains("已重新连接"));
        QTRY_VERIFY2_WITH_TIMEOUT(p.receiveCount() >= 80u, qPrintable(p.ui()->Receive_textEdit->toPlainText().split('\n').filter("#  ").join(" | ")), 10000);
        // Every frame once, in order, numbering going on across the gap.
        const QStringList lines = p.ui()->Receive_textEdit->toPlainText().split('\n').filter("#  ");
        QCOMPARE(lines.size(), 80);
        for (int i = 0; i < 80; ++i)
            QCOMPARE(lines[i], QString("%1#  %2mΩ  3.7012V").arg(i + 1).arg(meter::fixed4((i + 1) / 10000.0)));
        sim.terminate();
        sim.waitForFinished(5000);
    }

    void operatorEndsTheWait()
    {
        StartOptions options;
        options.noJournal = true;
        MainWindow w;
        MainWindowProbe p(w);
        WindowCapabilities installed(w, options);
        QVERIFY(w.meterLink()->reconnects());
        w.meterLink()->waitFor("/dev/zentrel-not-there", 9600);
        QVERIFY(w.meterLink()->waiting());
        testsupport::answerNextModal(); // the open fails and says so
        p.ui()->Open_Serial_Button->click();
        QVERIFY(!w.meterLink()->waiting());
        QVERIFY(w.findChild<QLabel *>("reconnectIndicator")->isHidden());
    }

    void optionsNeverWriteTheSettings()
    {
        MeterLine meter;
        QVERIFY(meter.ok());
        StartOptions options;
        options.port = meter.link();
        options.baud = 115200;
        options.noJournal = true;
        MainWindow w;
        MainWindowProbe p(w);
        WindowCapabilities installed(w, options);
        QTRY_VERIFY_WITH_TIMEOUT(p.serialPort(), 3000);
        QCOMPARE(p.serialPort()->baudRate(), 115200);
        QCOMPARE(p.ui()->PortBox->currentText(), meter.link());
        QVERIFY(!QFile::exists("config.ini"));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestJournal)
#include "test_journal.moc"
