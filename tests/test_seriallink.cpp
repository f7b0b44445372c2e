// The serial link and the frame road through a real pseudo-terminal: opening
// and closing, the readouts, the receive-window lines, the plot feed, the
// sampling gate, split and packed frames, stray bytes and garbage, a slow
// line, a full plot and a meter that vanishes or is pulled and plugged back.
#include "meterline.h"
#include "platform/portsource.h"
#include "testsupport.h"

#include <QLabel>
#include <QProcess>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextEdit>

#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QStringList lines(QTextEdit *edit)
{
    return edit->toPlainText().split('\n');
}

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_work.reset(new testsupport::ScopedWorkDir);
    }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    void openAndCloseFollowTheButtons()
    {
        MeterLine meter;
        QVERIFY(meter.ok());
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        ui->BaudBox->setCurrentIndex(ui->BaudBox->findText("115200"));
        QVERIFY(meter.connectWindow(w));
        QCOMPARE(p.serialPort()->portName(), meter.link());
        QCOMPARE(p.serialPort()->baudRate(), 115200);
        QCOMPARE(p.serialPort()->dataBits(), QSerialPort::Data8);
        QCOMPARE(p.serialPort()->parity(), QSerialPort::NoParity);
        QCOMPARE(p.serialPort()->stopBits(), QSerialPort::OneStop);
        QCOMPARE(p.serialPort()->flowControl(), QSerialPort::NoFlowControl);
        QVERIFY(!ui->Open_Serial_Button->isEnabled());
        QVERIFY(ui->Close_Serial_Button->isEnabled());
        QVERIFY(ui->pushButton_R_RANG->isEnabled());
        QVERIFY(ui->pushButton_V_RANG->isEnabled());
        QVERIFY(ui->Check_Seria->isEnabled() && ui->PortBox->isEnabled() && ui->BaudBox->isEnabled());
        // Nothing is sent to the meter when the link opens.
        QVERIFY(meter.received(200).isEmpty());
        // The attempt wrote the settings file.
        QVERIFY(QFile::exists("config.ini"));

        ui->Close_Serial_Button->click();
        QVERIFY(!p.serialPort());
        QVERIFY(ui->Open_Serial_Button->isEnabled());
        QVERIFY(!ui->Close_Serial_Button->isEnabled());
        QVERIFY(!ui->pushButton_R_RANG->isEnabled());
        QVERIFY(!ui->pushButton_V_RANG->isEnabled());

        // And it opens again.
        QVERIFY(meter.connectWindow(w));
        meter.send(frameOf(10000, 20000));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 1u, 3000);
    }

    void failedOpenWarns()
    {
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        ui->PortBox->addItem("/nonexistent/zentrel-no-such-port");
        ui->PortBox->setCurrentIndex(ui->PortBox->count() - 1);
        QFile::remove("config.ini");
        QString warning, title;
        testsupport::answerNextModal([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (box) {
                warning = box->text();
                title = box->windowTitle();
                QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Retry));
            }
            modal->close();
        });
        ui->Open_Serial_Button->click();
        QCOMPARE(warning, QString("串口打开失败！"));
        QCOMPARE(title, QString("warning"));
        QVERIFY(!p.serialPort());
        QVERIFY(ui->Open_Serial_Button->isEnabled());
        QVERIFY(!ui->Close_Serial_Button->isEnabled());
        QVERIFY(!ui->pushButton_R_RANG->isEnabled());
        QVERIFY(ui->statusBar->currentMessage().contains("zentrel-no-such-port"));
        QVERIFY(QFile::exists("config.ini"));
    }

    void workedExampleEndToEnd()
    {
        LinkedWindow lw;
        auto &meter = lw.meter;
        auto *ui = lw.ui;
        QVERIFY(lw.link());
        meter.send(QByteArray::fromHex("40 02 40 E2 01 01 01 10 27 00"));
        QTRY_COMPARE_WITH_TIMEOUT(ui->Receive_times_Label->text(), QString("R:1"), 3000);
        QCOMPARE(ui->pushButton_R_RANG->text(), QString("200mΩ"));
        QCOMPARE(ui->pushButton_V_RANG->text(), QString("20V"));
        QCOMPARE(ui->label_R->text(), QString("12.3456mΩ"));
        QCOMPARE(ui->label_V->text(), QString("1.0000V"));
        QCOMPARE(ui->Receive_textEdit->toPlainText(), QString("1#  12.3456mΩ  1.0000V"));
        QCPGraph *r = ui->customPlot->graph(0);
        QCPGraph *v = ui->customPlot->graph(1);
        QCOMPARE(r->dataCount(), 1);
        QCOMPARE(r->data()->at(0)->key, 1.0);
        QCOMPARE(r->data()->at(0)->value, 12.3456);
        QCOMPARE(v->data()->at(0)->key, 1.0);
        QCOMPARE(v->data()->at(0)->value, 1.0);
        // No limits: no verdict, the label holds the blank of the notification.
        QCOMPARE(ui->label_PASS_NG->text(), QString(" "));
        // The view does not follow the points by itself.
        QCOMPARE(ui->customPlot->xAxis->range(), QCPRange(-8, 8));
    }

    void monitorModeStampsTheTime()
    {
        LinkedWindow lw;
        auto &meter = lw.meter;
        auto &p = lw.probe;
        auto *ui = lw.ui;
        QVERIFY(lw.link(false));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        meter.send(frameOf(123456, 10000, 2, 1, true, true));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 1u, 3000);
        const QString line = ui->Receive_textEdit->toPlainText();
        const QDateTime stamp = QDateTime::fromString(line.left(19), "yyyy-MM-dd HH:mm:ss");
        QVERIFY2(stamp.isValid(), qPrintable(line));
        QVERIFY(stamp >= before.addSecs(-1) && stamp <= QDateTime::currentDateTime().addSecs(1));
        QCOMPARE(line.mid(19), QString("  12.3456mΩ  -1.0000V"));
        QCOMPARE(ui->label_V->text(), QString("-1.0000V"));
        // The negative voltage plots as its magnitude.
        QCOMPARE(ui->customPlot->graph(1)->data()->at(0)->value, 1.0);
    }

    void overloadsAndUnitsInTheWindow()
    {
        LinkedWindow lw;
        auto &meter = lw.meter;
        auto &p = lw.probe;
        auto *ui = lw.ui;
        QVERIFY(lw.link());
        // Both overloaded, Ω, negative.
        meter.send(QByteArray::fromHex("28 03 10 27 00 00 02 20 4E 00"));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 1u, 3000);
        QCOMPARE(ui->label_R->text(), QString("OL Ω"));
        QCOMPARE(ui->label_V->text(), QString("- OL V"));
        QCOMPARE(ui->Receive_textEdit->toPlainText(), QString("1#  OL Ω- OL V"));
        QCOMPARE(ui->pushButton_R_RANG->text(), QString("2Ω"));
        QCOMPARE(ui->pushButton_V_RANG->text(), QString("100V"));
        // The overloaded reading is a gap in both curves, its sample still counted.
        QCOMPARE(ui->customPlot->graph(0)->dataCount(), 1);
        QVERIFY(qIsNaN(ui->customPlot->graph(0)->data()->at(0)->value));
        QVERIFY(qIsNaN(ui->customPlot->graph(1)->data()->at(0)->value));

        // Codes outside the tables are no meter's frame: dropped and counted,
        // so the buttons, readouts and counters stay as they were.
        meter.send(QByteArray::fromHex("48 07 10 27 00 01 04 20 4E 00"));
        QTRY_COMPARE_WITH_TIMEOUT(lw.window.meterSession()->framer().discardedBytes(), quint64(10), 3000);
        QCOMPARE(p.receiveCount(), 1u);
        QCOMPARE(ui->pushButton_R_RANG->text(), QString("2Ω"));
        QCOMPARE(ui->pushButton_V_RANG->text(), QString("100V"));
        QCOMPARE(ui->label_R->text(), QString("OL Ω"));
        QCOMPARE(lines(ui->Receive_textEdit), QStringList {"1#  OL Ω- OL V"});
        QCOMPARE(int(p.rRange()), 3);
        // The next real frame is read as ever.
        meter.send(QByteArray::fromHex("48 01 10 27 00 01 02 20 4E 00"));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 2u, 3000);
        QCOMPARE(ui->pushButton_R_RANG->text(), QString("20mΩ"));
        QCOMPARE(ui->label_R->text(), QString("1.0000mΩ"));
        QCOMPARE(lines(ui->Receive_textEdit).last(), QString("2#  1.0000mΩ OL V"));
    }

    void samplingGateWithADivisor()
    {
        LinkedWindow lw;
        auto &meter = lw.meter;
        auto &p = lw.probe;
        auto *ui = lw.ui;
        ui->acq_freq_Box->setCurrentIndex(2); // "2秒": every 4th frame
        QCOMPARE(p.sampleDivisor(), 4u);
        QVERIFY(lw.link());
        for (quint32 i = 1; i <= 9; ++i)
            meter.send(frameOf(i * 10000, 20000));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 9u, 3000);
        QCOMPARE(ui->Receive_times_Label->text(), QString("R:9"));
        QCOMPARE(lines(ui->Receive_textEdit),
                 QStringList({"1#  4.0000mΩ  2.0000V", "2#  8.0000mΩ  2.0000V"}));
        QCPGraph *r = ui->customPlot->graph(0);
        QCOMPARE(r->dataCount(), 2);
        QCOMPARE(r->data()->at(1)->key, 2.0);
        QCOMPARE(r->data()->at(1)->value, 8.0);
        // Frames rejected by the gate leave the readouts as they were.
        QCOMPARE(ui->label_R->text(), QString("8.0000mΩ"));

        // Clearing the counters restarts the gate's numbering.
        ui->Clear_Cal_Button->click();
        QCOMPARE(ui->Receive_times_Label->text(), QString("R:0"));
        for (quint32 i = 1; i <= 4; ++i)
            meter.send(frameOf(i * 1000, 20000));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 4u, 3000);
        QCOMPARE(lines(ui->Receive_textEdit).last(), QString("3#  0.4000mΩ  2.0000V"));
    }

    void splitAndPackedFrames()
    {
        LinkedWindow lw;
        auto &meter = lw.meter;
        auto &p = lw.probe;
        auto *ui = lw.ui;
        QVERIFY(lw.link());

        // A frame split in two arrives as two notifications and is one reading.
        const QByteArray frame = QByteArray::fromHex("40 02 40 E2 01 01 01 10 27 00");
        meter.send(frame.left(4));
        QTRY_COMPARE_WITH_TIMEOUT(p.frameAssembler().pendingBytes(), 4, 3000);
        QCOMPARE(p.receiveCount(), 0u);
        meter.send(frame.mid(4));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 1u, 3000);
        QCOMPARE(ui->Receive_textEdit->toPlainText(), QString("1#  12.3456mΩ  1.0000V"));

        // Three frames in one write are three readings.
        meter.send(frameOf(10000, 10000) + frameOf(20000, 20000) + frameOf(30000, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 4u, 3000);
        QCOMPARE(ui->Receive_times_Label->text(), QString("R:4"));
        QCOMPARE(lines(ui->Receive_textEdit).mid(1),
                 QStringList({"2#  1.0000mΩ  1.0000V", "3#  2.0000mΩ  2.0000V", "4#  3.0000mΩ  3.0000V"}));
        QCOMPARE(ui->customPlot->graph(0)->dataCount(), 4);

        // Two and a half frames, then the rest.
        const QByteArray stream = frameOf(40000, 1) + frameOf(50000, 2) + frameOf(60000, 3);
        meter.send(stream.left(25));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 6u, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(p.frameAssembler().pendingBytes(), 5, 3000);
        meter.send(stream.mid(25));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 7u, 3000);
        QCOMPARE(lines(ui->Receive_textEdit).last(), QString("7#  6.0000mΩ  0.0003V"));

        // A stub that never gets its rest is dropped after a pause, so the
        // next frame is read aligned.
        meter.send(QByteArray::fromHex("FF FF FF"));
        QTRY_COMPARE_WITH_TIMEOUT(p.frameAssembler().pendingBytes(), 3, 3000);
        QTest::qWait(150);
        meter.send(frameOf(70000, 7));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 8u, 3000);
        QCOMPARE(lines(ui->Receive_textEdit).last(), QString("8#  7.0000mΩ  0.0007V"));
        QCOMPARE(p.frameAssembler().discardedBytes(), quint64(3));
    }

    void fullPlotKeepsReadingAndLogging()
    {
        LinkedWindow lw;
        auto &meter = lw.meter;
        auto &p = lw.probe;
        auto *ui = lw.ui;
        ui->lineEdit_R_DOWN->setText("0");
        ui->lineEdit_R_UP->setText("1");
        ui->lineEdit_V_DOWN->setText("0");
        ui->lineEdit_V_UP->setText("5");
        QVERIFY(lw.link());

        QByteArray batch;
        for (int i = 0; i < 100; ++i)
            batch += frameOf(1000, 10000);
        for (int b = 0; b < 60; ++b) {
            QVERIFY(meter.send(batch));
            QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), quint32((b + 1) * 100), 5000);
        }
        QCOMPARE(p.plotSampleCount(), 6000u);
        QCOMPARE(ui->customPlot->graph(0)->dataCount(), 6000);
        QVERIFY(ui->statusBar->currentMessage().isEmpty());

        // Past 6000 the plot stops; the readouts, verdict and log go on.
        meter.send(frameOf(20000, 30000, 1, 0));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 6001u, 3000);
        QCOMPARE(ui->customPlot->graph(0)->dataCount(), 6000);
        QCOMPARE(ui->customPlot->graph(1)->dataCount(), 6000);
        QCOMPARE(ui->label_R->text(), QString("2.0000mΩ"));
        QCOMPARE(ui->label_V->text(), QString("3.0000V"));
        QCOMPARE(ui->label_PASS_NG->text(), QString("NG"));
        QCOMPARE(ui->pushButton_R_RANG->text(), QString("20mΩ"));
        QCOMPARE(lines(ui->Receive_textEdit).size(), 6001);
        QCOMPARE(lines(ui->Receive_textEdit).last(), QString("6001#  2.0000mΩ  3.0000V"));
        // The full state sits on the right of the status bar, beside messages.
        QVERIFY(p.plotFullNotice().contains("Clear"));

        // Clear restarts the plot at key 1 and the numbering with it.
        ui->Clear_Plot_Button->click();
        QCOMPARE(ui->customPlot->graph(0)->dataCount(), 0);
        QVERIFY(p.plotFullNotice().isEmpty());
        meter.send(frameOf(5000, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 6002u, 3000);
        QCOMPARE(ui->customPlot->graph(0)->dataCount(), 1);
        QCOMPARE(ui->customPlot->graph(0)->data()->at(0)->key, 1.0);
        QCOMPARE(lines(ui->Receive_textEdit).last(), QString("1#  0.5000mΩ  1.0000V"));
        QCOMPARE(ui->label_PASS_NG->text(), QString("PASS"));
    }

    void vanishedMeterClosesTheLink()
    {
        auto meter = std::make_unique<MeterLine>();
        MainWindow w;
        MainWindowProbe p(w);
        auto *ui = p.ui();
        QVERIFY(meter->connectWindow(w));
        meter->send(frameOf(10000, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 1u, 3000);

        meter->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!p.serialPort(), 3000);
        QVERIFY(ui->Open_Serial_Button->isEnabled());
        QVERIFY(!ui->Close_Serial_Button->isEnabled());
        QVERIFY(!ui->pushButton_R_RANG->isEnabled());
        QVERIFY2(ui->statusBar->currentMessage().contains("断开"), qPrintable(ui->statusBar->currentMessage()));
        // The readouts and counters stay as they were.
        QCOMPARE(ui->Receive_times_Label->text(), QString("R:1"));

        // No busy loop: the event loop idles once the link is closed.
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(400);
        const double cpuUsed = cpuSeconds() - cpuBefore;
        QVERIFY2(cpuUsed < 0.5 * wall.elapsed() / 1000.0, qPrintable(QString::number(cpuUsed)));

        // The meter comes back on a new line and the link opens again.
        meter = std::make_unique<MeterLine>();
        QVERIFY(meter->connectWindow(w));
        meter->send(frameOf(20000, 10000));
        QTRY_COMPARE_WITH_TIMEOUT(p.receiveCount(), 2u, 3000);
        QCOMPARE(ui->label_R->text(), QString("2.0000mΩ"));
    }

    void simulatorPortIsListed()
    {
        QProcess sim;
        const QString link = QDir::temp().filePath(QString("zentrel-sim-%1").arg(QCoreApplication::applicationPid()));
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "100"});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 5000);
        QCOMPARE(QString::fromLocal8Bit(sim.readLine()).trimmed(), link);
        QVERIFY(PortSource::portNames().contains(link));

        MainWindow w;
        MainWindowProbe p(w);
        QVERIFY(p.ui()->PortBox->findText(link) >= 0);
        QVERIFY(p.ui()->Receive_textEdit->toPlainText().contains(link + "\n"));
        // Reading from the simulator works too.
        p.ui()->PortBox->setCurrentIndex(p.ui()->PortBox->findText(link));
        p.ui()->Open_Serial_Button->click();
        QTRY_VERIFY_WITH_TIMEOUT(p.receiveCount() >= 2, 5000);
        QCOMPARE(p.ui()->pushButton_R_RANG->text(), QString("AUTO"));
        p.ui()->Close_Serial_Button->click();

        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        QVERIFY(!PortSource::portNames().contains(link));
    }

    void virtualPortsAreLinksToPseudoTerminals()
    {
        QTemporaryDir dir;
        PseudoTerminal pty;
        QVERIFY(pty.open());
        QVERIFY(pty.createLink(dir.filePath("b-meter")));
        QVERIFY(QFile::link("/dev/null", dir.filePath("a-null")));
        QFile plain(dir.filePath("c-file"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        PseudoTerminal other;
        QVERIFY(other.open());
        QVERIFY(other.createLink(dir.filePath("a-meter")));
        QCOMPARE(PortSource::virtualPorts({dir.path()}),
                 QStringList({dir.filePath("a-meter"), dir.filePath("b-meter")}));
    }

    void lastFrameBeforeTheHangUpIsKept()
    {
        // Stray bytes come before the last frame: the framer holds what
        // follows them until later bytes or a pause show where frames start.
        // The meter hangs up before either.
        LinkedWindow lw;
        QVERIFY(lw.link());
        for (int i = 1; i <= 5; ++i)
            QVERIFY(lw.meter.send(frameOf(quint32(i), 37000)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.window.meterSession()->receiveCount(), 5u, 10000);
        QVERIFY(lw.meter.send(QByteArray("\x07\x33\x91", 3) + frameOf(6, 37000)));
        QTRY_VERIFY_WITH_TIMEOUT(lw.window.meterSession()->framer().holdsFrame(), 10000);
        lw.meter.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!lw.probe.serialPort(), 10000);
        QCOMPARE(lw.window.meterSession()->receiveCount(), 6u);
    }


    // ---- bytes that are not clean frames ---------------------------------------

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
                all += numberedFrame(i);
                continue;
            }
            QVERIFY(lw.meter.send(numberedFrame(i)));
            QTest::qWait(paceMs);
        }
        if (!all.isEmpty())
            QVERIFY(lw.meter.send(all));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 12u, 5000);
        QStringList expected;
        for (int i = 1; i <= 12; ++i)
            expected << numberedLine(i, i);
        QCOMPARE(testsupport::linesOf(lw.ui->Receive_textEdit), expected);
        QVERIFY2(lw.ui->Receive_times_Label->toolTip().contains("1 个"), qPrintable(lw.ui->Receive_times_Label->toolTip()));
    }

    void slowButSteadyLine()
    {
        // One byte every 40 ms: a slow line, well inside the 200 ms stale
        // time even when a busy machine stretches the pause.
        LinkedWindow lw;
        QVERIFY(lw.link());
        const QByteArray frame = numberedFrame(7);
        for (char byte : frame) {
            QVERIFY(lw.meter.send(QByteArray(1, byte)));
            QTest::qWait(40);
        }
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        QCOMPARE(testsupport::linesOf(lw.ui->Receive_textEdit), QStringList{numberedLine(1, 7)});
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

        // Garbage made no reading; three frames in a row are read aligned.
        QCOMPARE(lw.probe.receiveCount(), quint32(0));
        QTest::qWait(150);
        lw.meter.send(numberedFrame(7) + numberedFrame(8) + numberedFrame(9));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(3), 3000);
        QCOMPARE(lines(lw.ui->Receive_textEdit).mid(lines(lw.ui->Receive_textEdit).size() - 3),
                 QStringList({numberedLine(int(lw.probe.plotSampleCount()) - 2, 7),
                              numberedLine(int(lw.probe.plotSampleCount()) - 1, 8),
                              numberedLine(int(lw.probe.plotSampleCount()), 9)}));
        QCOMPARE(lw.ui->label_R->text(), QString("9.0000mΩ"));
    }

    void meterPulledAndPluggedBack()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        for (int i = 1; i <= 5; ++i)
            lw.meter.send(numberedFrame(i));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 5u, 3000);
        lw.meter.send(numberedFrame(99).left(4)); // pulled in the middle of a frame
        lw.meter.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!lw.probe.serialPort(), 3000);
        QVERIFY(lw.ui->statusBar->currentMessage().contains("断开"));

        MeterLine again;
        QVERIFY(again.connectWindow(lw.window));
        for (int i = 6; i <= 10; ++i)
            again.send(numberedFrame(i));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 10u, 3000);
        QStringList expected;
        for (int i = 1; i <= 10; ++i)
            expected << numberedLine(i, i);
        // Each reading once, in order; the stub of the pulled frame is gone.
        // (Listing the ports again added their names to the window too.)
        QCOMPARE(lines(lw.ui->Receive_textEdit).filter("#  "), expected);
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestSerialLink)
#include "test_seriallink.moc"
