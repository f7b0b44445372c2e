// What keeps an operator safe from wrong verdicts and lost work: R judged in
// milliohms, overloads never judged, a console that can always listen and
// never sends on its own, saves that never overwrite, failure lines that stay
// visible, a sane first start, and status messages that do not hide each other.
#include "meterline.h"
#include "storage/textfile.h"
#include "testsupport.h"

#include "console/consoleformat.h"
#include "platform/ui/desktop.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSerialPort>
#include <QStatusBar>
#include <QTextEdit>
#include <QUdpSocket>

using meter::AlarmSound;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

QStringList linesOf(const QString &text)
{
    return text.isEmpty() ? QStringList() : text.split('\n');
}

void sendTo(Ui::MainWindow *ui, const QString &ip, int port, const QString &data)
{
    ui->txtServerIP->setText(ip);
    ui->txtServerPort->setText(QString::number(port));
    ui->cboxData->setEditText(data);
    ui->btnSend->click();
}

// A datagram into the console's listening port must show up there.
bool consoleReceives(MainWindowProbe &p, const QByteArray &payload)
{
    QUdpSocket peer;
    peer.bind(kLoopback, 0);
    peer.writeDatagram(payload, kLoopback, p.udpSocket()->localPort());
    QElapsedTimer clock;
    clock.start();
    while (!p.consoleText().contains(QString::fromUtf8(payload)) && clock.elapsed() < 3000)
        QTest::qWait(10);
    return p.consoleText().contains(QString::fromUtf8(payload));
}

} // namespace

class TestSafety : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    // ---- verdicts ----------------------------------------------------------

    void verdicts_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("readout");
        QTest::addColumn<QString>("verdict");
        meter::FrameFields f;
        f.vCounts = 37000; // 3.7 V, inside 0-5
        f.milliOhm = false;
        f.rCounts = 15000; // 1.5 Ω = 1,500 mΩ
        QTest::newRow("Ω reading above mΩ limits") << meter::encodeFrame(f) << "1.5000Ω" << "NG";
        f.rCounts = 50; // 0.005 Ω = 5 mΩ
        QTest::newRow("Ω reading inside mΩ limits") << meter::encodeFrame(f) << "0.0050Ω" << "PASS";
        f.milliOhm = true;
        f.rCounts = 50000; // 5 mΩ
        QTest::newRow("mΩ reading inside") << meter::encodeFrame(f) << "5.0000mΩ" << "PASS";
        f.rOverload = true;
        QTest::newRow("R overload") << meter::encodeFrame(f) << "OL mΩ" << " ";
        f.rOverload = false;
        f.vOverload = true;
        QTest::newRow("V overload") << meter::encodeFrame(f) << "5.0000mΩ" << " ";
        f.rCounts = 0;
        f.vCounts = 0;
        f.rOverload = true;
        QTest::newRow("both overloaded, zero magnitudes") << meter::encodeFrame(f) << "OL mΩ" << " ";
    }

    void verdicts()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, readout);
        QFETCH(QString, verdict);
        LinkedWindow lw;
        lw.ui->lineEdit_R_DOWN->setText("0");
        lw.ui->lineEdit_R_UP->setText("10");
        lw.ui->lineEdit_V_DOWN->setText("0");
        lw.ui->lineEdit_V_UP->setText("5");
        QVERIFY(lw.link());
        QList<AlarmSound> played;
        lw.probe.alarmSounds()->setObserver([&](AlarmSound s) { played << s; });
        QVERIFY(lw.meter.send(frame));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        // The readout keeps the meter's own number and unit.
        QCOMPARE(lw.ui->label_R->text(), readout);
        QCOMPARE(lw.ui->label_PASS_NG->text(), verdict);
        if (verdict == "NG")
            QCOMPARE(played, QList<AlarmSound>{AlarmSound::Yichang});
        else if (verdict == "PASS")
            QCOMPARE(played, QList<AlarmSound>{AlarmSound::Zhengchang});
        else
            QVERIFY(played.isEmpty());
    }

    // ---- the console ---------------------------------------------------------

    void listenWhateverWasSentBefore()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QUdpSocket sink;
        QVERIFY(sink.bind(kLoopback, 0));

        // A send first binds the socket to a port of the system's choosing.
        sendTo(ui, "127.0.0.1", sink.localPort(), "before");
        ui->txtListenPort->setText("0");
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("关闭"));
        QVERIFY(consoleReceives(p, "first"));

        // Listen, close, send, listen again.
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("监听"));
        sendTo(ui, "127.0.0.1", sink.localPort(), "between");
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("关闭"));
        QVERIFY(consoleReceives(p, "second"));
    }

    void failedListenNamesTheReason()
    {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        sendTo(ui, "127.0.0.1", holder.localPort(), "x");
        ui->txtListenPort->setText(QString::number(holder.localPort()));
        ui->btnListen->click();
        QCOMPARE(ui->btnListen->text(), QString("监听"));
        const QString last = linesOf(p.consoleText()).last();
        QVERIFY2(last.contains("监听失败") && last.contains(QString::number(holder.localPort())), qPrintable(last));
        QVERIFY2(!last.contains("Unknown error"), qPrintable(last));
    }

    void restoredTimedSendingWaitsForTheOperator()
    {
        QFile f("config.ini");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[UDP_Server]\nckAutoSend=true\nAutoTime=500\nServerIP=127.0.0.1\n");
        f.close();
        QUdpSocket sink;
        QVERIFY(sink.bind(kLoopback, 0));

        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QVERIFY(ui->ckAutoSend->isChecked());
        QVERIFY(!p.autoSendTimer()->isActive());
        // The idle state is said in the console.
        QVERIFY2(p.consoleText().contains("定时发送未启动"), qPrintable(p.consoleText()));
        ui->txtServerPort->setText(QString::number(sink.localPort()));
        ui->cboxData->setEditText("half-typ");
        QTest::qWait(700); // longer than the interval: a started timer would have sent
        QVERIFY(!sink.hasPendingDatagrams());

        // The operator picks an interval: now it runs.
        ui->cboxInterval->setCurrentIndex(ui->cboxInterval->findText("1000"));
        QVERIFY(p.autoSendTimer()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(sink.hasPendingDatagrams(), 3000);
        // And checking the box again works as before.
        ui->ckAutoSend->setChecked(false);
        QVERIFY(!p.autoSendTimer()->isActive());
        ui->ckAutoSend->setChecked(true);
        QVERIFY(p.autoSendTimer()->isActive());
    }

    void consoleSavesNeverOverwrite()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        const QDir folder(Desktop::consoleSaveFolder(QCoreApplication::applicationDirPath()));
        // Earlier saves under the names of this second and the next two.
        const QDateTime now = QDateTime::currentDateTime();
        QStringList olds;
        for (int s = 0; s <= 2; ++s) {
            const QString name = console::saveFileName(folder.path(), now.addSecs(s));
            if (QFile::exists(name))
                continue;
            QFile old(name);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old lines");
            olds << name;
        }
        struct Cleanup { QStringList files; ~Cleanup() { for (const QString &f : files) QFile::remove(f); } } cleanup {olds};

        QStringList made;
        for (int round = 0; round < 2; ++round) {
            const QStringList before = folder.entryList({"*.txt"}, QDir::Files);
            sendTo(ui, "abc", 1, QString("round %1").arg(round)); // a failure line: content without a peer
            const QString text = p.consoleText();
            ui->btnSave->click();
            QVERIFY(p.consoleText().isEmpty());
            QStringList added = folder.entryList({"*.txt"}, QDir::Files);
            for (const QString &old : before)
                added.removeAll(old);
            QCOMPARE(added.size(), 1);
            QVERIFY2(added.first().contains(QRegularExpression("-\\d+\\.txt$")), qPrintable(added.first()));
            QFile saved(folder.filePath(added.first()));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(saved.readAll()), text);
            made << saved.fileName();
        }
        cleanup.files << made;
        for (const QString &old : olds) {
            QFile f(old);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("old lines"));
        }
    }

    void failureLinesShowWhilePaused()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        ui->ckShow->setChecked(true);
        sendTo(ui, "not-an-address", 5000, "x");
        QVERIFY2(p.consoleText().contains("发送失败"), qPrintable(p.consoleText()));
        ui->txtListenPort->setText("70000");
        ui->btnListen->click();
        QVERIFY(p.consoleText().contains("监听失败"));
        // Traffic itself is still held back.
        QUdpSocket sink;
        QVERIFY(sink.bind(kLoopback, 0));
        const int before = linesOf(p.consoleText()).size();
        sendTo(ui, "127.0.0.1", sink.localPort(), "quiet");
        QCOMPARE(linesOf(p.consoleText()).size(), before);
    }

    // ---- first start and the save dialog --------------------------------------

    void firstStartOpensAt9600()
    {
        LinkedWindow lw;
        QCOMPARE(lw.ui->BaudBox->currentText(), QString("9600"));
        QVERIFY(lw.meter.ok());
        lw.ui->Check_Seria->click();
        lw.ui->PortBox->setCurrentIndex(lw.ui->PortBox->findText(lw.meter.link()));
        lw.ui->Open_Serial_Button->click();
        QVERIFY(lw.probe.serialPort());
        QCOMPARE(lw.probe.serialPort()->baudRate(), 9600);
        QFile f("config.ini");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("BaudRate=9600"));
    }

    void saveDialogProposesAVisibleName()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QString proposed;
        testsupport::answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
            QVERIFY(edit);
            proposed = edit->text();
            dialog->reject();
        });
        p.ui()->Save_Serial_Button->click();
        QVERIFY2(QRegularExpression("^readings-\\d{4}-\\d\\d-\\d\\d-\\d{6}\\.txt$").match(proposed).hasMatch(),
                 qPrintable(proposed));
    }

    // ---- status bar and plot ----------------------------------------------------

    void graphClickSurvivesAFullPlot()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        lw.probe.setPlotSampleCount(6000);
        QVERIFY(lw.meter.send(frameOf(10000, 10000)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        QVERIFY(!lw.probe.plotFullNotice().isEmpty());

        QCustomPlot *plot = lw.ui->customPlot;
        plot->graph(0)->setData({1, 2, 3}, {1, 2, 3});
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        emit plot->plottableClick(plot->graph(0), 2, &click);
        const QString message = lw.ui->statusBar->currentMessage();
        QVERIFY2(message.startsWith("Clicked on graph"), qPrintable(message));

        // Frames keep coming on the full plot; the message stays its time.
        QElapsedTimer clock;
        clock.start();
        quint32 sent = 1;
        while (clock.elapsed() < 2000) {
            QVERIFY(lw.meter.send(frameOf(10000, 10000)));
            ++sent;
            QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), sent, 3000);
            if (clock.elapsed() < 2300)
                QCOMPARE(lw.ui->statusBar->currentMessage(), message);
            QTest::qWait(100);
        }
        QTRY_VERIFY_WITH_TIMEOUT(lw.ui->statusBar->currentMessage().isEmpty(), 3000);
        QVERIFY(!lw.probe.plotFullNotice().isEmpty());

        // Clear removes the full state and nothing else.
        lw.ui->statusBar->showMessage("another message");
        lw.ui->Clear_Plot_Button->click();
        QVERIFY(lw.probe.plotFullNotice().isEmpty());
        QCOMPARE(lw.ui->statusBar->currentMessage(), QString("another message"));
    }

    void graphNameWithPlaceholders()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QCustomPlot *plot = p.ui()->customPlot;
        plot->graph(0)->setName("R%1x %2");
        plot->graph(0)->setData({1, 2, 3, 4}, {10, 11, 12.5, 13});
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        emit plot->plottableClick(plot->graph(0), 2, &click);
        QCOMPARE(p.ui()->statusBar->currentMessage(),
                 QString("Clicked on graph 'R%1x %2' at data point #2 with value 12.5."));
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestSafety)
#include "test_safety.moc"
