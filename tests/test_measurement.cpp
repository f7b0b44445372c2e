// Judgement, alarm sounds, counters, the sampling interval, the range
// commands and the receive window with its saving and its overflow to disk,
// through the real window and a real pseudo-terminal.
#include "meterline.h"
#include "testsupport.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QStatusBar>
#include <QTextEdit>

#include <QSound>

using meter::AlarmSound;
using testsupport::readFile;
using testsupport::writeFile;

class TestMeasurement : public QObject
{
    Q_OBJECT

private:
    static void setLimits(Ui::MainWindow *ui, const QString &rLow, const QString &rHigh,
                          const QString &vLow, const QString &vHigh)
    {
        ui->lineEdit_R_DOWN->setText(rLow);
        ui->lineEdit_R_UP->setText(rHigh);
        ui->lineEdit_V_DOWN->setText(vLow);
        ui->lineEdit_V_UP->setText(vHigh);
    }

    // Sends one frame and waits for it to be counted.
    static void deliver(LinkedWindow &lw, const QByteArray &frame)
    {
        const quint32 before = lw.probe.receiveCount();
        QVERIFY(lw.meter.send(frame));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), before + 1, 3000);
    }

    // Types the name into the dialog's own field, as the operator would.
    static void typeFileName(QFileDialog *dialog, const QString &path)
    {
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        QVERIFY(edit);
        edit->setText(path);
    }

    static QString saveThroughDialog(MainWindow &w, Ui::MainWindow *ui, const QString &path,
                                     bool confirmOverwrite = false)
    {
        QString startedIn;
        testsupport::answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            startedIn = dialog->directory().absolutePath() + "|" + dialog->selectedFiles().value(0)
                        + "|" + dialog->nameFilters().join(",") + "|" + dialog->windowTitle();
            if (path.isEmpty()) {
                dialog->reject();
                return;
            }
            typeFileName(dialog, path);
            if (confirmOverwrite) {
                testsupport::answerNextModal([](QWidget *box) {
                    auto *question = qobject_cast<QMessageBox *>(box);
                    QVERIFY(question);
                    question->button(QMessageBox::Yes)->click();
                });
            }
            static_cast<QDialog *>(dialog)->accept();
        });
        Q_UNUSED(w)
        ui->Save_Serial_Button->click();
        return startedIn;
    }

private slots:
    void init() { m_work.reset(new testsupport::ScopedWorkDir); qputenv("HOME", m_work->path().toLocal8Bit()); }
    void cleanup()
    {
        testsupport::cancelPendingAnswers();
        m_work.reset();
    }

    void verdicts_data()
    {
        QTest::addColumn<QStringList>("limits");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("verdict");
        QTest::newRow("inside") << QStringList{"0", "10", "0", "5"} << frameOf(50000, 20000) << "PASS";
        QTest::newRow("equal to upper limits") << QStringList{"0", "10", "0", "5"} << frameOf(100000, 50000) << "PASS";
        QTest::newRow("equal to a typed 0.1") << QStringList{"0.1", "10", "0", "5"} << frameOf(1000, 20000) << "PASS";
        QTest::newRow("just below 0.1") << QStringList{"0.1", "10", "0", "5"} << frameOf(999, 20000) << "NG";
        QTest::newRow("R above") << QStringList{"0", "10", "0", "5"} << frameOf(100001, 20000) << "NG";
        QTest::newRow("V above") << QStringList{"0", "10", "0", "5"} << frameOf(50000, 50001) << "NG";
        QTest::newRow("negative V judged by magnitude")
            << QStringList{"0", "10", "2", "4"} << frameOf(50000, 30000, 6, 3, true, true) << "PASS";
        QTest::newRow("overloaded R gets no verdict")
            << QStringList{"0", "10", "0", "5"} << QByteArray::fromHex("60 06 50 C3 00 01 03 20 4E 00") << " ";
        QTest::newRow("Ω reading judged in mΩ")
            << QStringList{"0", "10", "0", "5"} << frameOf(50000, 20000, 3, 3, false) << "NG";
        QTest::newRow("crossed limits") << QStringList{"10", "0", "0", "5"} << frameOf(50000, 20000) << "NG";
        QTest::newRow("blank limits count as empty") << QStringList{"0", "10", " ", "5"} << frameOf(50000, 20000) << " ";
        QTest::newRow("empty limit") << QStringList{"0", "", "0", "5"} << frameOf(50000, 20000) << " ";
        QTest::newRow("limit not a number") << QStringList{"0", "abc", "0", "5"} << frameOf(50000, 20000) << " ";
    }

    void verdicts()
    {
        QFETCH(QStringList, limits);
        QFETCH(QByteArray, frame);
        QFETCH(QString, verdict);
        LinkedWindow lw;
        QVERIFY(lw.link());
        QList<AlarmSound> played;
        lw.probe.alarmSounds()->setObserver([&](AlarmSound s) { played << s; });
        setLimits(lw.ui, limits[0], limits[1], limits[2], limits[3]);
        deliver(lw, frame);
        QCOMPARE(lw.ui->label_PASS_NG->text(), verdict);
        const QColor colour = lw.ui->label_PASS_NG->palette().color(QPalette::Active, QPalette::WindowText);
        if (verdict == "PASS") {
            QCOMPARE(colour, QColor(Qt::green));
            QCOMPARE(played, QList<AlarmSound>{AlarmSound::Zhengchang});
        } else if (verdict == "NG") {
            QCOMPARE(colour, QColor(Qt::red));
            QCOMPARE(played, QList<AlarmSound>{AlarmSound::Yichang});
        } else {
            QVERIFY(played.isEmpty());
        }
    }

    void soundOfEachScheme()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        QList<AlarmSound> played;
        lw.probe.alarmSounds()->setObserver([&](AlarmSound s) { played << s; });
        setLimits(lw.ui, "0", "10", "0", "5");
        const QByteArray pass = frameOf(50000, 20000);
        const QByteArray ng = frameOf(200000, 20000);
        const QList<QPair<AlarmSound, AlarmSound>> schemes = {
            {AlarmSound::Zhengchang, AlarmSound::Yichang}, // 正常/异常
            {AlarmSound::Pass, AlarmSound::Ng},            // PASS/NG
            {AlarmSound::None, AlarmSound::Dudu},          // 咚咚
            {AlarmSound::None, AlarmSound::Jingbao},       // 警报
            {AlarmSound::None, AlarmSound::None}};         // 无声音
        for (int scheme = 0; scheme < schemes.size(); ++scheme) {
            lw.ui->comboBox_sounds->setCurrentIndex(scheme);
            played.clear();
            deliver(lw, pass);
            QCOMPARE(lw.ui->label_PASS_NG->text(), QString("PASS"));
            deliver(lw, ng);
            QCOMPARE(lw.ui->label_PASS_NG->text(), QString("NG"));
            QList<AlarmSound> expected;
            for (AlarmSound s : {schemes[scheme].first, schemes[scheme].second})
                if (s != AlarmSound::None)
                    expected << s;
            QCOMPARE(played, expected);
        }
        // The sounds really are QSound objects on the compiled-in files.
        QCOMPARE(lw.probe.alarmSounds()->sound(AlarmSound::Dudu)->fileName(), QString(":/wav/901040.wav"));
        QCOMPARE(lw.probe.alarmSounds()->sound(AlarmSound::Jingbao)->fileName(), QString(":/wav/jingbao.wav"));
    }

    void invalidLimitIsMarkedUntilFixed()
    {
        MainWindow w;
        MainWindowProbe p(w);
        QLineEdit *field = p.ui()->lineEdit_V_UP;
        QVERIFY(field->styleSheet().isEmpty());
        field->setText("5x");
        QVERIFY(field->styleSheet().contains("red"));
        QVERIFY(!field->toolTip().isEmpty());
        field->setText("5.5");
        QVERIFY(field->styleSheet().isEmpty());
        QVERIFY(field->toolTip().isEmpty());
        field->setText("");
        QVERIFY(field->styleSheet().isEmpty());
    }

    void verdictBlanksOnEveryNotification()
    {
        LinkedWindow lw;
        lw.ui->acq_freq_Box->setCurrentIndex(1); // every 2nd frame
        QVERIFY(lw.link());
        setLimits(lw.ui, "0", "10", "0", "5");
        deliver(lw, frameOf(200000, 20000));
        QCOMPARE(lw.ui->label_PASS_NG->text(), QString(" "));
        deliver(lw, frameOf(200000, 20000));
        QCOMPARE(lw.ui->label_PASS_NG->text(), QString("NG"));
        deliver(lw, frameOf(50000, 20000));
        QCOMPARE(lw.ui->label_PASS_NG->text(), QString(" "));
        // The colour stays that of the last verdict.
        QCOMPARE(lw.ui->label_PASS_NG->palette().color(QPalette::WindowText), QColor(Qt::red));
    }

    void countersAndTheirClear()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        lw.ui->pushButton_R_RANG->click();
        lw.ui->pushButton_V_RANG->click();
        deliver(lw, frameOf(10000, 10000));
        QCOMPARE(lw.ui->Send_times_Label->text(), QString("S:2"));
        QCOMPARE(lw.ui->Receive_times_Label->text(), QString("R:1"));
        const QString window = lw.ui->Receive_textEdit->toPlainText();
        lw.ui->Clear_Cal_Button->click();
        QCOMPARE(lw.ui->Send_times_Label->text(), QString("S:0"));
        QCOMPARE(lw.ui->Receive_times_Label->text(), QString("R:0"));
        QCOMPARE(lw.probe.plotSampleCount(), 1u);
        QCOMPARE(lw.ui->Receive_textEdit->toPlainText(), window);
        QCOMPARE(lw.ui->label_R->text(), QString("1.0000mΩ"));
    }

    void intervalBoxSetsTheDivisor()
    {
        MainWindow w;
        MainWindowProbe p(w);
        const quint32 divisors[] = {1, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 30, 40, 60, 120, 1200, 3600, 7200};
        for (int i = 17; i >= 0; --i) {
            p.ui()->acq_freq_Box->setCurrentIndex(i);
            QCOMPARE(p.sampleDivisor(), divisors[i]);
        }
        // Changing the interval does not reset the running count.
        LinkedWindow lw;
        QVERIFY(lw.link());
        for (int i = 0; i < 3; ++i)
            deliver(lw, frameOf(10000 * (i + 1), 1));
        lw.ui->acq_freq_Box->setCurrentIndex(1); // every 2nd: the 4th frame is next
        deliver(lw, frameOf(40000, 1));
        QCOMPARE(lw.ui->Receive_textEdit->toPlainText().split('\n').last(), QString("4#  4.0000mΩ  0.0001V"));
        deliver(lw, frameOf(50000, 1));
        QCOMPARE(lw.probe.plotSampleCount(), 4u);
    }

    void rangeCommandsAreSent()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        auto *ui = lw.ui;
        // Before any frame both codes are 0: the first presses send "1" and ";".
        ui->pushButton_R_RANG->click();
        QCOMPARE(lw.meter.received(), QByteArray("1"));
        ui->pushButton_R_RANG->click();
        QCOMPARE(lw.meter.received(), QByteArray("2"));
        ui->pushButton_V_RANG->click();
        QCOMPARE(lw.meter.received(), QByteArray(";"));
        QCOMPARE(ui->Send_times_Label->text(), QString("S:3"));
        // A press does not change the button text; the next frame does.
        QCOMPARE(ui->pushButton_R_RANG->text(), QString("AUTO"));

        // From AUTO the R button wraps to 2mΩ ("0"), the V button to 2V (":").
        deliver(lw, frameOf(1, 1, 6, 3));
        ui->pushButton_R_RANG->click();
        QCOMPARE(lw.meter.received(), QByteArray("0"));
        ui->pushButton_V_RANG->click();
        QCOMPARE(lw.meter.received(), QByteArray(":"));

        // Every code steps from the one the meter reported.
        for (int code = 0; code <= 6; ++code) {
            deliver(lw, frameOf(1, 1, quint8(code), 0));
            ui->pushButton_R_RANG->click();
            QCOMPARE(lw.meter.received(), QByteArray(1, char(0x30 + (code + 1) % 7)));
        }
        for (int code = 0; code <= 3; ++code) {
            deliver(lw, frameOf(1, 1, 0, quint8(code)));
            ui->pushButton_V_RANG->click();
            QCOMPARE(lw.meter.received(), QByteArray(1, char(0x3A + (code + 1) % 4)));
        }
        QCOMPARE(ui->Send_times_Label->text(), QString("S:16"));

        // A frame reporting a code no meter has (FF, 7F) is no reading: it is
        // dropped and counted, and the next press steps from the last real code.
        deliver(lw, frameOf(1, 1, 5, 0));
        for (quint8 code : {quint8(0xFF), quint8(0x7F)}) {
            const quint64 dropped = lw.window.meterSession()->framer().discardedBytes();
            QVERIFY(lw.meter.send(frameOf(1, 1, code, 0)));
            QTRY_COMPARE_WITH_TIMEOUT(lw.window.meterSession()->framer().discardedBytes(), dropped + 10, 3000);
        }
        ui->pushButton_R_RANG->click();
        QCOMPARE(lw.meter.received(), QByteArray("6"));
        QCOMPARE(ui->Send_times_Label->text(), QString("S:17"));
    }

    void simulatorAnswersRangeCommands()
    {
        QProcess sim;
        const QString link = QDir::temp().filePath(QString("zentrel-sim-r-%1").arg(QCoreApplication::applicationPid()));
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "50", "--r-range", "2", "--v-range", "1"});
        QVERIFY(sim.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 5000);
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->PortBox->setCurrentIndex(p.ui()->PortBox->findText(link));
        p.ui()->Open_Serial_Button->click();
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->pushButton_R_RANG->text(), QString("200mΩ"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->pushButton_V_RANG->text(), QString("20V"), 5000);
        p.ui()->pushButton_R_RANG->click();
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->pushButton_R_RANG->text(), QString("2Ω"), 5000);
        p.ui()->pushButton_V_RANG->click();
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->pushButton_V_RANG->text(), QString("100V"), 5000);
        p.ui()->pushButton_V_RANG->click();
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->pushButton_V_RANG->text(), QString("AUTO"), 5000);
        p.ui()->pushButton_V_RANG->click();
        QTRY_COMPARE_WITH_TIMEOUT(p.ui()->pushButton_V_RANG->text(), QString("2V"), 5000);
        p.ui()->Close_Serial_Button->click();
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
    }

    void screenKeepsHumanPace()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        int edits = 0;
        QObject::connect(lw.ui->Receive_textEdit, &QTextEdit::textChanged, [&] { ++edits; });
        // A single reading after a quiet spell is shown at once, not after a wait.
        QTest::qWait(100);
        QVERIFY(lw.meter.send(frameOf(10000, 37000)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        QCOMPARE(lw.ui->label_R->text(), QString("1.0000mΩ"));
        QCOMPARE(edits, 1);
        // A fast stream: many frames, few screen updates, every line in order.
        QElapsedTimer clock;
        clock.start();
        for (int i = 2; i <= 400; ++i) {
            QVERIFY(lw.meter.send(frameOf(quint32(i) * 10000, 37000)));
            if (i % 20 == 0)
                QTest::qWait(5);
        }
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 400u, 5000);
        const qint64 ms = clock.elapsed();
        QVERIFY2(edits <= 2 + int(ms / 100) + 1, qPrintable(QString("%1 edits in %2 ms").arg(edits).arg(ms)));
        const QStringList lines = lw.ui->Receive_textEdit->toPlainText().split('\n');
        QCOMPARE(lines.size(), 400);
        for (int i = 1; i <= 400; ++i)
            QCOMPARE(lines[i - 1], QString("%1#  %2.0000mΩ  3.7000V").arg(i).arg(i));
        QCOMPARE(lw.ui->label_R->text(), QString("400.0000mΩ"));
        // Clearing takes what arrived before the press with it.
        QVERIFY(lw.meter.send(frameOf(10000, 37000)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.session()->receiveCount(), 401u, 3000);
        lw.ui->Clear_Receive_Button->click();
        QTest::qWait(100);
        QVERIFY(lw.ui->Receive_textEdit->toPlainText().isEmpty());
        // The cheap layout survives clearing: lines say their direction once.
        QCOMPARE(lw.ui->Receive_textEdit->document()->defaultTextOption().textDirection(), Qt::LeftToRight);
    }

    // The screen redraws only the curves, and nothing while new points fall
    // right of the visible range: at every step the plot on screen is the
    // picture a full redraw gives.
    void thePlotShowsWhatAFullRedrawShows()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        lw.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&lw.window));
        QCustomPlot *plot = lw.ui->customPlot;
        auto matchesFullRedraw = [plot] {
            const QImage shown = plot->grab().toImage();
            plot->replot(QCustomPlot::rpImmediateRefresh);
            return shown == plot->grab().toImage();
        };
        quint32 r = 20000;
        auto readings = [&](int n) {
            for (int i = 0; i < n; ++i) {
                r = r * 7 % 90001 + 1000; // a jagged curve
                deliver(lw, frameOf(r, 37000));
            }
        };
        readings(5); // keys 1-5, inside the first view (-8 to 8)
        QVERIFY(matchesFullRedraw());
        readings(12); // 6-8 inside, 9-17 beyond it
        QVERIFY(matchesFullRedraw());
        lw.ui->Fix_Plot_Button->click(); // the view now ends at 17
        readings(4);
        QVERIFY(matchesFullRedraw());
        plot->xAxis->setRange(0, 40); // room again on the right
        plot->replot();
        readings(6);
        QVERIFY(matchesFullRedraw());
        const QImage before = plot->grab().toImage();
        plot->yAxis->setRange(plot->yAxis->range().lower, plot->yAxis->range().upper * 3);
        plot->replot();
        QVERIFY(plot->grab().toImage() != before); // the comparison can see a change
    }

    void receiveWindowClearAndModes()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        deliver(lw, frameOf(10000, 10000));
        lw.ui->Clear_Receive_Button->click();
        QVERIFY(lw.ui->Receive_textEdit->toPlainText().isEmpty());
        // Clearing the window does not restart the numbering; clearing the plot does.
        deliver(lw, frameOf(20000, 10000));
        QCOMPARE(lw.ui->Receive_textEdit->toPlainText(), QString("2#  2.0000mΩ  1.0000V"));
        lw.ui->Clear_Plot_Button->click();
        lw.ui->radioButton_monitor->setChecked(true);
        QVERIFY(!lw.ui->radioButton_group->isChecked());
        deliver(lw, frameOf(30000, 10000));
        const QString last = lw.ui->Receive_textEdit->toPlainText().split('\n').last();
        QVERIFY2(QDateTime::fromString(last.left(19), "yyyy-MM-dd HH:mm:ss").isValid(), qPrintable(last));
        lw.ui->radioButton_group->setChecked(true);
        deliver(lw, frameOf(40000, 10000));
        QCOMPARE(lw.ui->Receive_textEdit->toPlainText().split('\n').last(), QString("2#  4.0000mΩ  1.0000V"));
        // Port names land at the cursor, not at the end.
        QTextCursor cursor = lw.ui->Receive_textEdit->textCursor();
        cursor.movePosition(QTextCursor::Start);
        lw.ui->Receive_textEdit->setTextCursor(cursor);
        lw.ui->Check_Seria->click();
        QVERIFY(lw.ui->Receive_textEdit->toPlainText().startsWith(lw.ui->PortBox->itemText(0) + "\n"));
    }

    void savingTheWindow()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        deliver(lw, QByteArray::fromHex("40 02 40 E2 01 01 01 10 27 00"));
        deliver(lw, frameOf(20000, 10000, 3, 1, false, true));
        QTextCursor cursor(lw.ui->Receive_textEdit->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText("\n操作员备注 note");
        const QString path = m_work->file("log.txt");

        const QString started = saveThroughDialog(lw.window, lw.ui, path);
        QCOMPARE(started.section('|', 0, 0), QDir(m_work->path()).absolutePath());
        QCOMPARE(started.section('|', 2, 2), QString("文本文件(*txt)"));
        QCOMPARE(started.section('|', 3, 3), QString("保存"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes, QByteArray("1#  12.3456m\xCE\xA9  1.0000V\n"
                                   "2#  2.0000\xCE\xA9  -1.0000V\n"
                                   "\xE6\x93\x8D\xE4\xBD\x9C\xE5\x91\x98\xE5\xA4\x87\xE6\xB3\xA8 note"));
        // Saving does not clear the window.
        QVERIFY(!lw.ui->Receive_textEdit->toPlainText().isEmpty());

        // An empty window gives an empty file, truncating the old one.
        lw.ui->Clear_Receive_Button->click();
        saveThroughDialog(lw.window, lw.ui, path, true);
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    void cancelledSaveWritesNothing()
    {
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->Receive_textEdit->setPlainText("something");
        const QStringList before = QDir(m_work->path()).entryList(QDir::Files);
        saveThroughDialog(w, p.ui(), QString());
        QCOMPARE(QDir(m_work->path()).entryList(QDir::Files), before);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void unwritableTargetWarns()
    {
        MainWindow w;
        MainWindowProbe p(w);
        p.ui()->Receive_textEdit->setPlainText("keep me");
        const QString target = m_work->file("missing-folder/log.txt");
        QString warning;
        testsupport::saveExpectingWarning(target, &warning);
        p.ui()->Save_Serial_Button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!warning.isEmpty(), 5000);
        QVERIFY2(warning.contains(target), qPrintable(warning));
        QCOMPARE(p.ui()->Receive_textEdit->toPlainText(), QString("keep me"));
        QVERIFY(!QFile::exists(target));
    }


    // ---- verdicts --------------------------------------------------------------

    void unitsAndOverloads_data()
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

    void unitsAndOverloads()
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


    // ---- the receive window and its saving -------------------------------------

    void savesWhatTheWindowHoldsWhenConfirmed()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        lw.meter.send(numberedFrame(1));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 1u, 3000);
        const QString target = m_work->file("shift.txt");
        testsupport::answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            for (int i = 2; i <= 20; ++i)
                lw.meter.send(numberedFrame(i));
            QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 20u, 5000);
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText(target);
            static_cast<QDialog *>(dialog)->accept();
        });
        lw.ui->Save_Serial_Button->click();
        const QStringList saved = QString::fromUtf8(readFile(target)).split('\n');
        QCOMPARE(saved.size(), 20);
        QCOMPARE(saved.last(), numberedLine(20, 20));
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

    void receiveWindowOverflowsToDisk()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_work->file("data")));
        LinkedWindow lw;
        lw.probe.setReceiveWindowCap(40);
        QVERIFY(lw.link());
        for (int i = 1; i <= 300; ++i) {
            QVERIFY(lw.meter.send(numberedFrame(i)));
            if (i % 25 == 0)
                QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), quint32(i), 3000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 300u, 3000);
        const QStringList window = testsupport::linesOf(lw.ui->Receive_textEdit);
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
        QCOMPARE(testsupport::linesOf(lw.ui->Receive_textEdit), window);
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
            QVERIFY(lw.meter.send(numberedFrame(i)));
        QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 60u, 3000);
        QCOMPARE(testsupport::linesOf(lw.ui->Receive_textEdit).size(), 60);
        QVERIFY2(lw.ui->statusBar->currentMessage().contains("blocker"), qPrintable(lw.ui->statusBar->currentMessage()));
        qunsetenv("XDG_DATA_HOME");
    }

    void framesArriveUnderAnOpenDialog()
    {
        LinkedWindow lw;
        QVERIFY(lw.link());
        bool sawAll = false;
        testsupport::answerNextModal([&](QWidget *modal) {
            QVERIFY(qobject_cast<QColorDialog *>(modal));
            for (int i = 1; i <= 50; ++i)
                lw.meter.send(numberedFrame(i));
            QTRY_COMPARE_WITH_TIMEOUT(lw.probe.receiveCount(), 50u, 5000);
            sawAll = true;
            static_cast<QDialog *>(modal)->reject();
        });
        lw.ui->color_pushButton->click();
        QVERIFY(sawAll);
        const QStringList log = testsupport::linesOf(lw.ui->Receive_textEdit);
        QCOMPARE(log.size(), 50);
        QCOMPARE(log.first(), numberedLine(1, 1));
        QCOMPARE(log.last(), numberedLine(50, 50));
        QCOMPARE(lw.ui->customPlot->graph(0)->dataCount(), 50);
    }

private:
    std::unique_ptr<testsupport::ScopedWorkDir> m_work;
};

QTEST_MAIN(TestMeasurement)
#include "test_measurement.moc"
