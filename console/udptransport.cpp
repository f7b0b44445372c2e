#include "udptransport.h"

#include <QCoreApplication>

#include "consoleformat.h"

#include <QHostAddress>
#include <QUdpSocket>

namespace console {

UdpTransport::UdpTransport(QObject *parent) : QObject(parent), m_socket(new QUdpSocket(this)) {}

bool UdpTransport::listen(const QString &typedPort)
{
    // A send binds the socket to a port of the system's choosing; it is let
    // go first so that listening works whatever was sent before.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    const TypedPort port = parsePort(typedPort);
    if (!port.valid) {
        emit line(ListenFailed, QCoreApplication::translate("Console", "端口“%1”不是 0-65535 的整数，未开始监听").arg(typedPort));
        return false;
    }
    if (!m_socket->bind(QHostAddress::AnyIPv4, quint16(port.value))) {
        emit line(ListenFailed, QCoreApplication::translate("Console", "无法监听端口 %1：%2")
                                    .arg(QString::number(port.value), m_socket->errorString()));
        return false;
    }
    // A burst waits in the socket while the screen catches up.
    m_socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBuffer);
    const qint64 granted = m_socket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
    if (granted < kReceiveBuffer)
        emit smallBuffer(granted, kReceiveBuffer);
    // Port 0 lets the system choose; the operator needs to know which.
    emit line(Sent, port.value == 0 ? QCoreApplication::translate("Console", "监听成功（端口 %1）").arg(m_socket->localPort())
                                    : QCoreApplication::translate("Console", "监听成功"));
    return true;
}

void UdpTransport::close()
{
    m_socket->abort();
}

void UdpTransport::readBatch(bool hex, bool escaped)
{
    constexpr int batch = 200;
    // Read straight into a buffer that holds the largest datagram: asking
    // each one's size first would cost a system call per datagram.
    m_buffer.resize(65536);
    for (int handled = 0; handled < batch && m_socket->hasPendingDatagrams(); ++handled) {
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 size = m_socket->readDatagram(m_buffer.data(), m_buffer.size(), &sender, &senderPort);
        if (size < 0)
            continue;
        const QByteArray datagram = QByteArray::fromRawData(m_buffer.constData(), int(size));
        const QString peer = sender.toString();
        if (peer.isEmpty())
            continue;
        emit line(Received, datagramLine(peer, senderPort, payloadText(datagram, hex, escaped)));
    }
}

void UdpTransport::send(const QString &ip, int port, const QString &data, bool hex, bool escaped)
{
    const QString shown = datagramLine(ip, port, data);
    const Outgoing out = encodeOutgoing(data, hex, escaped);
    QString failure = out.refusal;
    if (failure.isEmpty() && (port < 0 || port > 65535))
        failure = QCoreApplication::translate("Console", "端口 %1 超出 0-65535，未发送").arg(port);
    const QHostAddress address(ip);
    if (failure.isEmpty() && address.isNull())
        failure = QCoreApplication::translate("Console", "“%1”不是有效的 IP 地址，未发送").arg(ip);
    if (failure.isEmpty() && m_socket->writeDatagram(out.bytes, address, quint16(port)) != out.bytes.size())
        failure = m_socket->errorString();
    if (failure.isEmpty())
        emit line(Sent, shown);
    else
        emit line(SendFailed, shown + QStringLiteral("  （%1）").arg(failure));
}

} // namespace console
