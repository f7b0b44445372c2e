// Hostile files and bytes: a settings file built to kill the reader, FIFOs
// where files belong, a full disk under every kind of save, stray bytes in
// the meter's stream, nonsense in the console's fields and a receive window
// left running for days.
#include "meterline.h"
#include "settings/configfile.h"
#include "settings/inifile.h"
#include "storage/textfile.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QStatusBar>
#include <QTextEdit>
#include <QUdpSocket>

#include <sys/mount.h>
#include <sys/stat.h>

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

QStringList linesOf(const QString &text)
{
    return text.isEmpty() ? QStringList() : text.split('\n');
}

QStringList linesOf(QTextEdit *edit)
{
    const QString text = edit->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

QByteArray numbered(int i) { return frameOf(quint32(i) * 10000, 37000); }
QString numberedLine(int seq, int i) { return QString("%1#  %2.0000mΩ  3.7000V").arg(seq).arg(i); }

bool makeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }
bool isFifo(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A tmpfs of a few KiB, filled to the last byte; unmounted when it goes.
class FullDisk
{
public:
    explicit FullDisk(const QString &mountPoint) : m_path(mountPoint)
    {
        QDir().mkpath(m_path);
        m_mounted = ::mount("tmpfs", QFile::encodeName(m_path).constData(), "tmpfs", 0, "size=64k") == 0;
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

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    // ---- config.ini ---------------------------------------------------------

    void settingsThatWouldKillTheReader_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("ignored");
        QTest::newRow("a list claiming 2^31 entries")
            << QByteArray("[Serial]\nPortName=@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n"
                          "[UDP_Server]\nListenPort=4321\n")
            << "Serial/PortName";
        QTest::newRow("quoted") << QByteArray("[Serial]\nPortName=\"@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\"\n"
                                              "[UDP_Server]\nListenPort=4321\n")
                                << "Serial/PortName";
        QTest::newRow("inside a list") << QByteArray("[UDP_Server]\nServerIP=a, @Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n"
                                                     "ListenPort=4321\n")
                                       << "UDP_Server/ServerIP";
        QTest::newRow("geometry") << QByteArray("[UDP_Server]\nServerIP=@Rect(1 2 3 4)\nListenPort=4321\n")
                                  << "UDP_Server/ServerIP";
    }

    void settingsThatWouldKillTheReader()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, ignored);
        writeFile("config.ini", content);
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(p.ui()->txtListenPort->text(), QString("4321"));
        QCOMPARE(p.ui()->BaudBox->currentText(), QString("9600"));
        QVERIFY2(w.statusBar()->currentMessage().contains(ignored), qPrintable(w.statusBar()->currentMessage()));
        // Writing keeps the other keys and leaves nothing unsafe behind.
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        const ini::Document again = ini::read("config.ini");
        QVERIFY(again.ignored.isEmpty());
        QVERIFY(!readFile("config.ini").contains("@Variant"));
    }

    void readerAgreesWithQSettings()
    {
        // Whatever QSettings writes, the careful reader reads the same.
        QSettings written("written.ini", QSettings::IniFormat);
        const QStringList texts = {"plain", " padded ", "中文 端口", "a,b", "\"quoted\"", "semi;colon",
                                   "@at", "@@double", "back\\slash", "tab\there", "line\nbreak", "",
                                   QString::fromUtf8("é\x01\x7f"), "x=y", "/dev/ttyUSB0", "%41%",
                                   QString::fromLatin1("nul\0inside", 10), QString::fromLatin1("\xff" "7.0")};
        for (int i = 0; i < texts.size(); ++i)
            written.setValue(QString("Sec/key%1").arg(i), texts[i]);
        written.setValue("Sec/list", QStringList{"one", "two three", "中"});
        written.setValue("Sec/bytes", QByteArray("\x00\x01xyz", 5));
        written.setValue("Sec/slash/inner key", 7);
        written.setValue("topLevel", true);
        written.sync();
        const ini::Document doc = ini::read("written.ini");
        QVERIFY(doc.ignored.isEmpty());
        for (int i = 0; i < texts.size(); ++i)
            QCOMPARE(doc.values.value(QString("Sec/key%1").arg(i)).toString(), texts[i]);
        QCOMPARE(doc.values.value("Sec/list").toStringList(), QStringList({"one", "two three", "中"}));
        QCOMPARE(doc.values.value("Sec/bytes").toByteArray(), QByteArray("\x00\x01xyz", 5));
        QCOMPARE(doc.values.value("Sec/slash/inner key").toString(), QString("7"));
        QCOMPARE(doc.values.value("topLevel").toString(), QString("true"));
        // Hand edits: comments, blanks, continuation lines, Latin-1 bytes.
        const ini::Document hand = ini::parse("; note\n[S]\nk = \" sp \" ; c\nw=a\\\n b\n\n[General]\ng=1\nraw=\xe9\n");
        QCOMPARE(hand.values.value("S/k").toString(), QString(" sp "));
        QCOMPARE(hand.values.value("S/w").toString(), QString("a b"));
        QCOMPARE(hand.values.value("g").toString(), QString("1"));
        QCOMPARE(hand.values.value("raw").toString(), QString::fromLatin1("\xe9"));
    }

    void settingsFileThatIsAFifo()
    {
        QVERIFY(makeFifo("config.ini"));
        // Opening a FIFO for reading blocks until a writer comes: the window
        // must be built without touching it.
        MainWindow w;
        MainWindowProbe p(w);
        QVERIFY2(w.statusBar()->currentMessage().contains("config.ini"), qPrintable(w.statusBar()->currentMessage()));
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        QVERIFY2(w.statusBar()->currentMessage().contains("config.ini"), qPrintable(w.statusBar()->currentMessage()));
        QVERIFY(isFifo("config.ini"));
    }

    void binarySettingsAreRewrittenWithoutAFalseAlarm()
    {
        static const char binary[] = "\x00\xff\xfe[[[=\n\x01\x02\n[UDP_Server]\nServerPort=77\n";
        writeFile("config.ini", QByteArray(binary, int(sizeof binary) - 1));
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(p.ui()->txtServerPort->text(), QString("77"));
        w.statusBar()->clearMessage();
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        QVERIFY2(w.statusBar()->currentMessage().isEmpty(), qPrintable(w.statusBar()->currentMessage()));
        QCOMPARE(readConnectionSettings("config.ini").serverPort, 77);
    }

    // ---- saves ---------------------------------------------------------------

    void savesRefuseAFifo()
    {
        const QString fifo = m_work->file("pipe.txt");
        QVERIFY(makeFifo(fifo));
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->Receive_textEdit->setPlainText("1#  1.0000mΩ  1.0000V");
        QString warning;
        testsupport::saveExpectingWarning(fifo, &warning);
        p.ui()->Save_Serial_Button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!warning.isEmpty(), 5000);
        QVERIFY2(warning.contains(fifo) && warning.contains("不是普通文件"), qPrintable(warning));
        QVERIFY(isFifo(fifo));

        const QString png = m_work->file("pipe.png");
        QVERIFY(makeFifo(png));
        QString plotWarning;
        testsupport::saveExpectingWarning(png, &plotWarning);
        QVERIFY(QMetaObject::invokeMethod(&w, [&] { p.exportPlot("png"); }));
        QTRY_VERIFY_WITH_TIMEOUT(!plotWarning.isEmpty(), 5000);
        QVERIFY2(plotWarning.contains(png), qPrintable(plotWarning));
        QVERIFY(isFifo(png));
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

    void savesWhatTheWindowHoldsWhenConfirmed()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        lw.meter.send(numbered(1));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        const QString target = m_work->file("shift.txt");
        testsupport::answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            for (int i = 2; i <= 20; ++i)
                lw.meter.send(numbered(i));
            QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 20u, 5000);
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText(target);
            static_cast<QDialog *>(dialog)->accept();
        });
        lw.ui->Save_Serial_Button->click();
        const QStringList saved = QString::fromUtf8(readFile(target)).split('\n');
        QCOMPARE(saved.size(), 20);
        QCOMPARE(saved.last(), numberedLine(20, 20));
    }

    // ---- the meter's stream -----------------------------------------------------

    void strayByteIsSteppedOver_data()
    {
        QTest::addColumn<int>("paceMs");
        QTest::newRow("one stray byte, frames at 50 ms") << 50;
        QTest::newRow("one stray byte, frames back to back") << 0;
    }

    void strayByteIsSteppedOver()
    {
        QFETCH(int, paceMs);
        LinkedWindow lw;
        QVERIFY(lw.link());
        QVERIFY(lw.meter.send(QByteArray(1, '\x55')));
        QByteArray all;
        for (int i = 1; i <= 12; ++i) {
            if (paceMs == 0) {
                all += numbered(i);
                continue;
            }
            QVERIFY(lw.meter.send(numbered(i)));
            QTest::qWait(paceMs);
        }
        if (!all.isEmpty())
            QVERIFY(lw.meter.send(all));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 12u, 5000);
        QStringList expected;
        for (int i = 1; i <= 12; ++i)
            expected << numberedLine(i, i);
        QCOMPARE(linesOf(lw.ui->Receive_textEdit), expected);
        QVERIFY2(lw.ui->Receive_times_Label->toolTip().contains("1 个"), qPrintable(lw.ui->Receive_times_Label->toolTip()));
    }

    void slowButSteadyLine()
    {
        // One byte every 40 ms: a slow line, well inside the 200 ms stale
        // time even when a busy machine stretches the pause.
        LinkedWindow lw;
        QVERIFY(lw.link());
        const QByteArray frame = numbered(7);
        for (char byte : frame) {
            QVERIFY(lw.meter.send(QByteArray(1, byte)));
            QTest::qWait(40);
        }
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        QCOMPARE(linesOf(lw.ui->Receive_textEdit), QStringList{numberedLine(1, 7)});
    }

    // ---- the receive window left running ------------------------------------------

    void receiveWindowOverflowsToDisk()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_work->file("data")));
        LinkedWindow lw;
        lw.probe.setReceiveWindowCap(40);
        QVERIFY(lw.link());
        for (int i = 1; i <= 300; ++i) {
            QVERIFY(lw.meter.send(numbered(i)));
            if (i % 25 == 0)
                QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(i), 3000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 300u, 3000);
        const QStringList window = linesOf(lw.ui->Receive_textEdit);
        QVERIFY2(window.size() <= 40 + 2 + 1, qPrintable(QString::number(window.size())));
        const QString folder = m_work->file("data/zentrel/journal");
        const QStringList files = QDir(folder).entryList({"receive-window-*.txt"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        const QString overflow = QDir(folder).filePath(files.first());
        QVERIFY2(window.first().contains(QDir::toNativeSeparators(overflow)), qPrintable(window.first()));
        // Every reading is in the file or in the window, once and in order.
        QStringList all = QString::fromUtf8(readFile(overflow)).split('\n', Qt::SkipEmptyParts);
        all += window.mid(1);
        QStringList expected;
        for (int i = 1; i <= 300; ++i)
            expected << numberedLine(i, i);
        QCOMPARE(all, expected);
        // No undo, before or after lines moved: Ctrl+Z cannot take readings
        // out of what 保存数据 saves, and nothing moved stays in memory.
        QVERIFY(!lw.ui->Receive_textEdit->document()->isUndoRedoEnabled());
        lw.ui->Receive_textEdit->setFocus();
        QTest::keyClick(lw.ui->Receive_textEdit, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(linesOf(lw.ui->Receive_textEdit), window);
        qunsetenv("XDG_DATA_HOME");
    }

    void receiveWindowKeepsLinesItCannotMove()
    {
        writeFile(m_work->file("blocker"), "a file where the folder should be");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_work->file("blocker")));
        LinkedWindow lw;
        lw.probe.setReceiveWindowCap(20);
        QVERIFY(lw.link());
        for (int i = 1; i <= 60; ++i)
            QVERIFY(lw.meter.send(numbered(i)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 60u, 3000);
        QCOMPARE(linesOf(lw.ui->Receive_textEdit).size(), 60);
        QVERIFY2(lw.ui->statusBar->currentMessage().contains("blocker"), qPrintable(lw.ui->statusBar->currentMessage()));
        qunsetenv("XDG_DATA_HOME");
    }

    // ---- the console and the limit line ---------------------------------------------

    void listenPortsThatAreNoPorts_data()
    {
        QTest::addColumn<QString>("typed");
        for (const char *typed : {"abc", " 0x50 ", "１２３４", "99999999999999999999", "65536", "-1"})
            QTest::newRow(typed) << QString::fromUtf8(typed);
    }

    void listenPortsThatAreNoPorts()
    {
        QFETCH(QString, typed);
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->txtListenPort->setText(typed);
        p.ui()->btnListen->click();
        QCOMPARE(p.ui()->btnListen->text(), QString("监听"));
        const QString last = linesOf(p.consoleText()).last();
        QVERIFY2(last.contains("监听失败") && last.contains(typed), qPrintable(last));
        QCOMPARE(p.udpSocket()->state(), QAbstractSocket::UnconnectedState);
    }

    void escapedTextBeyondLatin1IsRefused()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QUdpSocket peer;
        QVERIFY(peer.bind(kLoopback, 0));
        p.ui()->ckAscii->setChecked(true);
        p.ui()->txtServerIP->setText("127.0.0.1");
        p.ui()->txtServerPort->setText(QString::number(peer.localPort()));
        p.ui()->cboxData->setEditText("温度\\CR");
        p.ui()->btnSend->click();
        const QString last = linesOf(p.consoleText()).last();
        QVERIFY2(last.contains("发送失败") && last.contains("温"), qPrintable(last));
        QTest::qWait(50);
        QVERIFY(!peer.hasPendingDatagrams());
        // Latin-1 text still goes out as typed.
        p.ui()->cboxData->setEditText("é\\CR");
        p.ui()->btnSend->click();
        QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), 3000);
        QByteArray got(int(peer.pendingDatagramSize()), '\0');
        peer.readDatagram(got.data(), got.size());
        QCOMPARE(got, QByteArray("\xe9\r"));
    }

    void limitLineMustBeFinite()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        const int graphs = ui->customPlot->graphCount();
        for (const char *typed : {"1e39", "nan", "-inf"}) {
            ui->Line_Edit_Limit_data->setText(typed);
            ui->Button_Limit_set->click();
            QCOMPARE(ui->customPlot->graphCount(), graphs);
            QVERIFY(ui->Line_Edit_Limit_data->property("invalidLimit").toBool());
        }
        ui->Line_Edit_Limit_data->setText("3.5");
        ui->Button_Limit_set->click();
        QCOMPARE(ui->customPlot->graphCount(), graphs + 1);
        QVERIFY(!ui->Line_Edit_Limit_data->property("invalidLimit").toBool());
        ui->Fix_Plot_Button->click();
        QVERIFY(std::isfinite(ui->customPlot->yAxis->range().upper));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
