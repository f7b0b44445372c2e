#ifndef MAINWINDOWPROBE_H
#define MAINWINDOWPROBE_H

#include "mainwindow.h"
#include "consoleview.h"
#include "ui_mainwindow.h"

#include <QLabel>
#include <QSerialPort>
#include <QUdpSocket>
#include <QtTest/QTest>

// White-box view of the window for tests: its form and private state.
class MainWindowProbe
{
public:
    explicit MainWindowProbe(MainWindow &w) : w(w) {}

    Ui::MainWindow *ui() const { return w.ui; }
    QSerialPort *serialPort() const { return w.serialPort; }
    quint32 receiveCount() const { return w.receiveCount; }
    quint32 sendCount() const { return w.sendCount; }
    quint32 plotSampleCount() const { return w.plotSampleCount; }
    // A full plot without 6000 frames.
    void setPlotSampleCount(quint32 n)
    {
        w.plotSampleCount = n;
        w.session->continueNumberingAfter(n);
    }
    void setReceiveWindowCap(int lines) { w.receiveWindowCap = lines; }
    void exportPlot(const QString &format) { w.exportPlot(format); } // as the context menu's entries do
    quint32 sampleDivisor() const { return w.sampleDivisor; }
    qint8 rRange() const { return w.rRange; }
    qint8 vRange() const { return w.vRange; }
    void setRanges(qint8 r, qint8 v) { w.rRange = r; w.vRange = v; }
    QColor limitColor() const { return w.limitColor; }
    AlarmSounds *alarmSounds() const { return w.alarmSounds; }
    QUdpSocket *udpSocket() const { return w.udpSocket; }
    QTimer *autoSendTimer() const { return w.autoSendTimer; }
    int consoleLineCount() const { return w.consoleLineCount; }
    ConsoleView *consoleView() const { return w.consoleView; }
    // The console once the lines waiting for the next screen update are in.
    QString consoleText() const
    {
        if (!QTest::qWaitFor([this] { return w.consoleView->waiting() == 0; }, 10000))
            qWarning("console lines still waiting after 10 s");
        return w.ui->txtMain->toPlainText();
    }
    const QByteArray &rangeCommandR(int i) const { return w.rangeCommandR[i]; }
    const QByteArray &rangeCommandV(int i) const { return w.rangeCommandV[i]; }
    const meter::FrameAssembler &frameAssembler() const { return w.session->framer(); }
    meter::MeterSession *session() const { return w.session; }
    // The full-plot state as shown on the status bar; empty while hidden.
    QString plotFullNotice() const
    {
        return w.plotFullLabel && !w.plotFullLabel->isHidden() ? w.plotFullLabel->text() : QString();
    }

private:
    MainWindow &w;
};

#endif // MAINWINDOWPROBE_H
