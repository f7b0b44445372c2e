#ifndef METERLINE_H
#define METERLINE_H

#include "mainwindowprobe.h"
#include "meter/meterframe.h"
#include "metersim/pseudoterminal.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

// The test plays the meter on a real pseudo-terminal, reached through a
// symbolic link that the window lists like any virtual port.
class MeterLine
{
public:
    MeterLine()
    {
        static int serial = 0;
        m_link = QDir::temp().filePath(
            QStringLiteral("zentrel-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++serial));
        m_ok = m_pty.open() && m_pty.createLink(m_link);
    }

    bool ok() const { return m_ok; }
    QString link() const { return m_link; }
    PseudoTerminal &pty() { return m_pty; }
    bool send(const QByteArray &bytes) { return m_pty.writeAll(bytes); }
    // What the program wrote to the meter. The port writes from the event
    // loop, so events are processed while waiting.
    QByteArray received(int timeoutMs = 2000)
    {
        QElapsedTimer clock;
        clock.start();
        QByteArray bytes;
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            bytes = m_pty.read(5);
        } while (bytes.isEmpty() && clock.elapsed() < timeoutMs);
        return bytes;
    }
    void hangUp() { m_pty.close(); }

    // Lists the ports again, picks this one and presses 打开串口.
    bool connectWindow(MainWindow &w)
    {
        MainWindowProbe p(w);
        p.ui()->Check_Seria->click();
        const int index = p.ui()->PortBox->findText(m_link);
        if (index < 0)
            return false;
        p.ui()->PortBox->setCurrentIndex(index);
        if (p.ui()->BaudBox->currentIndex() < 0)
            p.ui()->BaudBox->setCurrentIndex(0);
        p.ui()->Open_Serial_Button->click();
        return p.serialPort() && p.serialPort()->isOpen();
    }

private:
    PseudoTerminal m_pty;
    QString m_link;
    bool m_ok = false;
};

inline QByteArray frameOf(quint32 rCounts, quint32 vCounts, quint8 rCode = 6, quint8 vCode = 3,
                          bool milliOhm = true, bool negative = false, bool rOverload = false,
                          bool vOverload = false)
{
    meter::FrameFields f;
    f.rCounts = rCounts;
    f.vCounts = vCounts;
    f.rRangeCode = rCode;
    f.vRangeCode = vCode;
    f.milliOhm = milliOhm;
    f.vNegative = negative;
    f.rOverload = rOverload;
    f.vOverload = vOverload;
    return meter::encodeFrame(f);
}

// Frame i carries R = i mΩ at 3.7 V, so the lines tell which frames were
// decoded, and in which order.
inline QByteArray numberedFrame(int i) { return frameOf(quint32(i) * 10000, 37000); }

inline QString numberedLine(int seq, int i) { return QString("%1#  %2.0000mΩ  3.7000V").arg(seq).arg(i); }

// A window linked to a meter line, with an empty receive window: the usual
// starting point of a frame-road test.
struct LinkedWindow
{
    MeterLine meter;
    MainWindow window;
    MainWindowProbe probe {window};
    Ui::MainWindow *ui = probe.ui();

    bool link(bool groupMode = true)
    {
        ui->radioButton_group->setChecked(groupMode);
        ui->radioButton_monitor->setChecked(!groupMode);
        const bool linked = meter.ok() && meter.connectWindow(window);
        ui->Receive_textEdit->clear();
        return linked;
    }
};
#endif // METERLINE_H
