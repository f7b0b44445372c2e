// Faults an operator meets on a shift: a meter pulled and plugged back,
// garbage on the line, hostile datagrams, a broken settings file, saving
// where it cannot be saved, a dialog left open while frames arrive.
#include "meterline.h"
#include "storage/textfile.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTextEdit>
#include <QUdpSocket>

#include <sys/mount.h>
#include <unistd.h>

namespace {

QStringList lines(QTextEdit *edit)
{
    const QString text = edit->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

// Frame i carries R = i mΩ, so lines tell which frames were decoded.
QByteArray numbered(int i) { return frameOf(quint32(i) * 10000, 10000); }

QString numberedLine(int seq, int i)
{
    return QString("%1#  %2.0000mΩ  1.0000V").arg(seq).arg(i);
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    void meterPulledAndPluggedBack()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        for (int i = 1; i <= 5; ++i)
            lw.meter.send(numbered(i));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 5u, 3000);
        lw.meter.send(numbered(99).left(4)); // pulled in the middle of a frame
        lw.meter.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!lw.probe.serialPort(), 3000);
        QVERIFY(lw.ui->statusBar->currentMessage().contains("断开"));

        MeterLine again;
        QVERIFY(again.connectWindow(lw.window));
        for (int i = 6; i <= 10; ++i)
            again.send(numbered(i));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 10u, 3000);
        QStringList expected;
        for (int i = 1; i <= 10; ++i)
            expected << numberedLine(i, i);
        // Each reading once, in order; the stub of the pulled frame is gone.
        // (Listing the ports again added their names to the window too.)
        QCOMPARE(lines(lw.ui->Receive_textEdit).filter("#  "), expected);
    }

    void garbageOnTheLine()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        QRandomGenerator random(20261207);
        quint64 sent = 0;
        // Bursts of 1 to 9 bytes, then 10,000 bytes at once.
        for (int burst = 0; burst < 300; ++burst) {
            QByteArray bytes(int(random.bounded(1, 10)), '\0');
            for (char &b : bytes)
                b = char(random.bounded(256));
            QVERIFY(lw.meter.send(bytes));
            sent += quint64(bytes.size());
        }
        QByteArray flood(10000, '\0');
        for (char &b : flood)
            b = char(random.bounded(256));
        QVERIFY(lw.meter.send(flood));
        sent += 10000;
        // Whole frames only are counted: every byte is in one, waiting, or dropped.
        auto accounted = [&] {
            const auto &framer = lw.probe.frameAssembler();
            return quint64(lw.probe.receiveCount()) * 10 + quint64(framer.pendingBytes()) + framer.discardedBytes();
        };
        QTRY_COMPARE_WITH_TIMEOUT(accounted(), sent, 5000);

        // After a pause the next frames are read aligned.
        QTest::qWait(150);
        const quint32 before = lw.probe.receiveCount();
        lw.meter.send(numbered(7) + numbered(8));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), before + 2, 3000);
        QCOMPARE(lines(lw.ui->Receive_textEdit).mid(lines(lw.ui->Receive_textEdit).size() - 2),
                 QStringList({numberedLine(int(lw.probe.plotSampleCount()) - 1, 7),
                              numberedLine(int(lw.probe.plotSampleCount()), 8)}));
        QCOMPARE(lw.ui->label_R->text(), QString("8.0000mΩ"));
    }

    void hostileDatagrams()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        ui->txtListenPort->setText("0");
        ui->btnListen->click();
        const quint16 port = p.udpSocket()->localPort();
        QVERIFY(port != 0);
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const QString from = QString("[127.0.0.1:%1] ").arg(peer.localPort());
        // The data of the line a datagram adds, or a null string when none comes.
        auto receive = [&](const QByteArray &bytes) {
            const int before = p.consoleLineCount();
            peer.writeDatagram(bytes, QHostAddress::LocalHost, port);
            QElapsedTimer clock;
            clock.start();
            while (p.consoleLineCount() == before && clock.elapsed() < 3000)
                QTest::qWait(5);
            return p.consoleLineCount() == before ? QString() : lines(ui->txtMain).last().section(": ", 1);
        };

        QCOMPARE(receive(QByteArray()), from);
        QCOMPARE(receive(QByteArray("\xff\xfe\xc3(\xe2\x82", 6)), from + QString::fromUtf8("\xff\xfe\xc3(\xe2\x82", 6));
        QByteArray controls(10000, '\0');
        for (int i = 0; i < controls.size(); ++i)
            controls[i] = char(1 + i % 31);
        ui->ckAscii->setChecked(true);
        const QString escaped = receive(controls);
        QVERIFY(escaped.startsWith(from + "\\SOH\\STX"));
        QVERIFY(escaped.size() > 20000);
        ui->ckAscii->setChecked(false);
        ui->ckHexReceive->setChecked(true);
        const QByteArray largest(65507, '\x5A');
        QCOMPARE(receive(largest).size(), from.size() + 65507 * 3 - 1);

        // A flood while paused shows nothing and leaves the console as it was.
        ui->ckShow->setChecked(true);
        const QString shown = p.consoleText();
        for (int i = 0; i < 3000; ++i)
            peer.writeDatagram(QByteArray("flood"), QHostAddress::LocalHost, port);
        QTRY_VERIFY_WITH_TIMEOUT(!p.udpSocket()->hasPendingDatagrams(), 5000);
        QCOMPARE(p.consoleText(), shown);
    }

    void brokenSettingsFiles()
    {
        // Huge: 20 MB of text around a valid section.
        {
            QFile f("config.ini");
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[UDP_Server]\nListenPort=4321\n");
            QByteArray junk(1 << 20, 'x');
            for (int i = 0; i < 20; ++i)
                f.write("[junk" + QByteArray::number(i) + "]\nkey=" + junk + "\n");
        }
        {
            MainWindow w;
            QCOMPARE(MainWindowProbe(w).ui()->txtListenPort->text(), QString("4321"));
        }
        // A folder in the file's place: reads as missing, and writing says it failed.
        QVERIFY(QFile::remove("config.ini"));
        QVERIFY(QDir().mkdir("config.ini"));
        MainWindow w;
        MainWindowProbe p(w);
        QCOMPARE(p.ui()->txtServerPort->text(), QString("0"));
        p.ui()->txtListenPort->setText("0");
        p.ui()->btnListen->click();
        QVERIFY2(w.statusBar()->currentMessage().contains("config.ini"), qPrintable(w.statusBar()->currentMessage()));
        QVERIFY(QFileInfo("config.ini").isDir());
    }

    void savingOntoAFullDisk()
    {
        const QString mountPoint = m_work->file("tiny");
        QVERIFY(QDir().mkdir(mountPoint));
        if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=16k") != 0)
            QSKIP("cannot mount a small tmpfs here (needs root and mount rights); full-disk saving not tested");
        struct Unmount { QString path; ~Unmount() { ::umount(QFile::encodeName(path).constData()); } } unmount {mountPoint};

        MainWindow w;
        MainWindowProbe p(w);
        QString big;
        for (int i = 0; i < 5000; ++i)
            big += QString("%1#  12.3456mΩ  3.7012V\n").arg(i);
        p.ui()->Receive_textEdit->setPlainText(big);
        const QString target = mountPoint + "/log.txt";
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

    void framesArriveUnderAnOpenDialog()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        bool sawAll = false;
        testsupport::answerNextModal([&](QWidget *modal) {
            QVERIFY(qobject_cast<QColorDialog *>(modal));
            for (int i = 1; i <= 50; ++i)
                lw.meter.send(numbered(i));
            QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 50u, 5000);
            sawAll = true;
            static_cast<QDialog *>(modal)->reject();
        });
        lw.ui->color_pushButton->click();
        QVERIFY(sawAll);
        const QStringList log = lines(lw.ui->Receive_textEdit);
        QCOMPARE(log.size(), 50);
        QCOMPARE(log.first(), numberedLine(1, 1));
        QCOMPARE(log.last(), numberedLine(50, 50));
        QCOMPARE(lw.ui->customPlot->graph(0)->dataCount(), 50);
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
