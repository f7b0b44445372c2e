#include "meterlink.h"

#include "meter/meterframe.h"
#include "meter/metersession.h"
#include "platform/linestate.h"
#include "platform/serialdevice.h"

namespace meter {

MeterLink::MeterLink(meter::MeterSession *session, QObject *parent) : QObject(parent), m_session(session)
{
    m_retry.setInterval(500);
    connect(&m_retry, &QTimer::timeout, this, &MeterLink::retry);
    m_tick.setInterval(20);
    connect(&m_tick, &QTimer::timeout, this, &MeterLink::tick);
}

MeterLink::~MeterLink()
{
    delete m_port; // closes the line
}

bool MeterLink::open(const QString &port, int baud, QString *error)
{
    // Someone's own open, failed or not, ends a wait for a vanished port.
    stopWaiting();
    return openPort(port, baud, error);
}

bool MeterLink::openPort(const QString &port, int baud, QString *error)
{
    // A port object left over from an earlier link is not reused.
    if (m_port)
        close();
    m_name = port;
    m_baud = baud;
    auto *serial = new QSerialPort(this);
    serial->setPortName(port);
    if (!serial->open(QIODevice::ReadWrite)) {
        if (error)
            *error = serial->errorString();
        delete serial;
        return false;
    }
    serial->setBaudRate(baud, QSerialPort::AllDirections);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);
    connect(serial, &QSerialPort::readyRead, this, &MeterLink::readAvailable);
    connect(serial, &QSerialPort::errorOccurred, this, &MeterLink::portError);
    m_port = serial;
    m_fast = false;
    m_rateBytes = 0;
    m_rateClock.start();
    m_session->linkOpened(serial->portName());
    stopWaiting();
    emit opened(port);
    return true;
}

void MeterLink::readAvailable()
{
    if (!m_port)
        return;
    const QByteArray bytes = m_port->readAll();
    if (!bytes.isEmpty())
        m_session->feed(bytes);
    if (m_batching)
        account(bytes.size());
}

void MeterLink::tick()
{
    // What waits below the threshold: Qt's buffer first, then the line.
    if (!m_port)
        return;
    QByteArray bytes = m_port->readAll();
    readWaitingNow(m_port->handle(), &bytes);
    if (!bytes.isEmpty())
        m_session->feed(bytes);
    account(bytes.size());
}

void MeterLink::account(int bytes)
{
    constexpr int fastBytesPerSecond = 500 * meter::FrameSize, slowBytesPerSecond = 200 * meter::FrameSize;
    m_rateBytes += bytes;
    const qint64 ms = m_rateClock.elapsed();
    if (ms < 200)
        return;
    const qint64 rate = m_rateBytes * 1000 / ms;
    m_rateBytes = 0;
    m_rateClock.start();
    if (!m_fast && rate >= fastBytesPerSecond)
        setFast(true);
    else if (m_fast && rate < slowBytesPerSecond)
        setFast(false);
}

void MeterLink::setFast(bool fast)
{
    if (!m_port || !setReadyThreshold(m_port->handle(), fast ? 20 * meter::FrameSize : 1))
        return;
    m_fast = fast;
    if (fast) {
        m_tick.start();
    } else {
        m_tick.stop();
        tick(); // what waited below the threshold
    }
}

void MeterLink::close()
{
    stopWaiting();
    if (m_fast)
        tick(); // what waits below the threshold is read before the line goes
    m_tick.stop();
    m_fast = false;
    if (m_port) {
        // What the line delivered before it closed or hung up is read first.
        if (m_port->isOpen()) {
            m_port->waitForReadyRead(0);
            readAvailable();
        }
        QSerialPort *serial = m_port;
        m_port = nullptr;
        serial->close();
        delete serial;
    }
    m_session->linkClosed();
    emit closed();
}

void MeterLink::portError(QSerialPort::SerialPortError error)
{
    // A vanished device reports a resource error (an unplugged adapter) or a
    // read error on every notification of a hung-up line, which would keep
    // the event loop busy. A read error on a line that is still up is
    // transient and ignored. The link is closed from the event loop, never
    // inside the port's own signal.
    if (!m_port)
        return;
    const bool gone = error == QSerialPort::ResourceError
                      || (error == QSerialPort::ReadError && serialLineHungUp(m_port->handle()));
    if (!gone)
        return;
    QPointer<QSerialPort> port(m_port);
    const QString reason = m_port->errorString();
    // Not read again until the close: a hung-up line would report at once.
    disconnect(m_port, &QSerialPort::errorOccurred, this, &MeterLink::portError);
    QTimer::singleShot(0, this, [this, port, reason] {
        if (!port || port != m_port)
            return;
        const QString name = m_name;
        close();
        emit lost(name, reason);
        if (m_reconnect)
            waitFor(name, m_baud);
    });
}

void MeterLink::waitFor(const QString &port, int baud)
{
    m_name = port;
    m_baud = baud;
    if (!m_retry.isActive()) {
        m_retry.start();
        emit waitingChanged(true);
    }
}

void MeterLink::stopWaiting()
{
    if (m_retry.isActive()) {
        m_retry.stop();
        emit waitingChanged(false);
    }
}

void MeterLink::retry()
{
    if (m_port || !serialPortPresent(m_name))
        return;
    // A port that is back but not yet ready is tried again at the next check.
    QString error;
    if (openPort(m_name, m_baud, &error))
        emit reconnected(m_name);
}

} // namespace meter
