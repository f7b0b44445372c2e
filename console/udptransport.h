#ifndef UDPTRANSPORT_H
#define UDPTRANSPORT_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QUdpSocket;

namespace console {

// The UDP console's transport: one socket that listens on a local port and
// sends single datagrams, and what it has to say about either as typed lines
// (see LineType). Knows nothing of widgets; a TCP console would be a sibling.
class UdpTransport : public QObject
{
    Q_OBJECT

public:
    explicit UdpTransport(QObject *parent = nullptr);

    QUdpSocket *socket() const { return m_socket; }

    // Binds to the typed port on every IPv4 address. True when listening;
    // otherwise a "监听失败" line says why.
    bool listen(const QString &typedPort);
    void close();

    // Renders up to a batch of waiting datagrams as "接收" lines; under a
    // flood the socket signals again for the rest, so the event loop gets
    // its turn between batches.
    void readBatch(bool hex, bool escaped);

    // One datagram of the typed text in the chosen notation; a "发送" line,
    // or a "发送失败" line with the reason.
    void send(const QString &ip, int port, const QString &data, bool hex, bool escaped);

    // What a listening socket asks the system to hold for bursts.
    static constexpr qint64 kReceiveBuffer = 8 << 20;

signals:
    void line(int type, const QString &text);
    // The system gave a listening socket less buffer than asked for.
    void smallBuffer(qint64 granted, qint64 wanted);

private:
    QUdpSocket *m_socket;
    QByteArray m_buffer;
};

} // namespace console

#endif // UDPTRANSPORT_H
