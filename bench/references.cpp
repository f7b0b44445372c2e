// References measured in the same run as the figures they stand beside.
#include "benchsupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace bench {

void waitQuiet(qint64 pid, int timeoutMs)
{
    double last = processCpu(pid);
    runUntil([&] {
        const double now = processCpu(pid);
        const bool quiet = now - last < 0.002;
        last = now;
        return quiet;
    }, timeoutMs);
}

int sendDatagrams(quint16 port, int count)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char payload[64];
    int sent = 0;
    for (int i = 0; i < count; ++i) {
        const int n = std::snprintf(payload, sizeof payload, "datagram %d <b>x</b>\r\n", i);
        if (::sendto(fd, payload, size_t(n), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) == n)
            ++sent;
    }
    ::close(fd);
    return sent;
}

Reference bareStreamReference(const QStringList &simulatorOptions)
{
    Reference r;
    QTemporaryDir scratch;
    const QString link = scratch.filePath(QStringLiteral("meter"));
    QProcess sim;
    sim.start(QStringLiteral(ZENTREL_SIM_PATH),
              QStringList{"--link", link, "--start-after", "300", "--linger"} + simulatorOptions);
    if (!sim.waitForStarted(5000) || !runUntil([&] { return sim.canReadLine(); }, 10000))
        return r;
    sim.readLine();
    QProcess reader;
    reader.start(QStringLiteral(ZENTREL_READER_PATH), {link});
    if (!reader.waitForStarted(5000) || !runUntil([&] { return sim.canReadLine(); }, 10000)
        || !sim.readLine().startsWith("sending"))
        return r;
    const double cpu0 = processCpu(reader.processId());
    QElapsedTimer wall;
    wall.start();
    runUntil([&] { return sim.canReadLine(); }, 3600000); // "done N"
    r.wall = wall.nsecsElapsed() / 1e9;
    r.items = QString::fromLatin1(sim.readLine()).trimmed().section(' ', 1).toLongLong();
    waitQuiet(reader.processId(), 10000);
    r.cpu = processCpu(reader.processId()) - cpu0;
    sim.terminate(); // the line closes, the reader ends
    sim.waitForFinished(5000);
    reader.waitForFinished(5000);
    r.ok = r.items > 0;
    return r;
}

Reference bareUdpReference(int datagrams)
{
    Reference r;
    QProcess reader;
    reader.start(QStringLiteral(ZENTREL_READER_PATH), {"--udp", QString::number(datagrams)});
    if (!reader.waitForStarted(5000) || !runUntil([&] { return reader.canReadLine(); }, 10000))
        return r;
    const quint16 port = quint16(reader.readLine().trimmed().toUInt());
    const double cpu0 = processCpu(reader.processId());
    QElapsedTimer wall;
    wall.start();
    sendDatagrams(port, datagrams);
    waitQuiet(reader.processId(), 60000);
    r.wall = wall.nsecsElapsed() / 1e9;
    r.cpu = processCpu(reader.processId()) - cpu0; // before it waits out its two idle seconds
    reader.waitForFinished(60000);
    r.items = QString::fromLocal8Bit(reader.readAllStandardError()).section(' ', 2, 2).toLongLong();
    r.ok = r.items > 0;
    return r;
}

} // namespace bench
