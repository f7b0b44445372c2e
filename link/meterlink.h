#ifndef METERLINK_H
#define METERLINK_H

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QTimer>

namespace meter {
class MeterSession;
}

namespace meter {

// One meter's serial line, without widgets: opening at the meter's settings
// (8N1, no flow control), feeding every byte read to its session, closing
// (what the line still holds is read first), noticing a line that hung up
// or a device that vanished, and, when asked, waiting for that port to come
// back and opening it again. The window and the logger each own one per
// meter and follow its signals.
class MeterLink : public QObject
{
    Q_OBJECT

public:
    explicit MeterLink(meter::MeterSession *session, QObject *parent = nullptr);
    ~MeterLink() override;

    // Opens port at baud (an open link is closed first); false with the
    // system's reason.
    bool open(const QString &port, int baud, QString *error);
    void close();
    bool isOpen() const { return m_port != nullptr; }
    QSerialPort *serialPort() const { return m_port; } // null while closed
    QString portName() const { return m_name; }        // the last port opened or waited for
    int baud() const { return m_baud; }
    // Feeds what the port holds to the session (also done on every readyRead).
    void readAvailable();

    // A fast line (over 500 frames/s) is read in batches: the program wakes
    // once about every 20 frames and on a 20 ms tick, not for every frame.
    // For a program without a screen to keep current (the logger).
    void setBatching(bool on) { m_batching = on; }

    // Whether a port that vanished is waited for and opened again (every 500 ms).
    void setReconnect(bool on) { m_reconnect = on; }
    bool reconnects() const { return m_reconnect; }
    // Waits for port as for one that vanished (an unattended start whose
    // meter is not there yet).
    void waitFor(const QString &port, int baud);
    void stopWaiting();
    bool waiting() const { return m_retry.isActive(); }

signals:
    void opened(const QString &port);
    void closed();
    // The line hung up or the device vanished; the link is closed already.
    void lost(const QString &port, const QString &reason);
    void waitingChanged(bool waiting);
    void reconnected(const QString &port);

private:
    bool openPort(const QString &port, int baud, QString *error);
    void portError(QSerialPort::SerialPortError error);
    void retry();
    void tick();
    void account(int bytes);
    void setFast(bool fast);

    meter::MeterSession *m_session;
    QPointer<QSerialPort> m_port;
    QString m_name;
    int m_baud = 0;
    bool m_reconnect = false;
    QTimer m_retry;
    bool m_batching = false;
    bool m_fast = false;
    QTimer m_tick;
    QElapsedTimer m_rateClock;
    qint64 m_rateBytes = 0;
};

// Whether a port of that name is there now (listed, or a device path that exists).
bool portIsPresent(const QString &port);

} // namespace meter

#endif // METERLINK_H
