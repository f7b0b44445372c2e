// The UDP console on a real X server beside Packet Sender (Debian's
// packetsender) and a bare socket, fed the same paced datagram stream in the
// same run. Each program listens in a process of its own; the stream comes
// from a thread here. Datagrams seen: the bare reader's count, Zentrel's
// console lines, and for Packet Sender what reached its socket less what the
// kernel dropped there (/proc/net/udp), which the table gives for all.
#include "benchsupport.h"
#include "mainwindowprobe.h"
#include "xserver.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QUdpSocket>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace bench {

namespace {

enum class Listener { Bare, PacketSender, Zentrel };

const char *listenerName(Listener l)
{
    switch (l) {
    case Listener::Bare: return "bare socket";
    case Listener::PacketSender: return "Packet Sender";
    case Listener::Zentrel: return "Zentrel";
    }
    return "";
}

// A UDP socket on port: bound, its receive queue and its drops; -1 when none.
struct SocketState
{
    bool bound = false;
    qint64 queued = 0, drops = 0;
};
SocketState socketState(quint16 port)
{
    SocketState state;
    QFile udp(QStringLiteral("/proc/net/udp"));
    if (!udp.open(QIODevice::ReadOnly))
        return state;
    for (const QByteArray &line : udp.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 13 || f[1].split(':').value(1).toUInt(nullptr, 16) != port)
            continue;
        state.bound = true;
        state.queued = f[4].split(':').value(1).toLongLong(nullptr, 16);
        state.drops = f.last().toLongLong();
    }
    return state;
}

quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    return probe.localPort();
}

// count datagrams of 20 bytes at rate per second, paced by the clock in
// slices of a millisecond.
void sendPaced(quint16 port, int count, int rate)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QElapsedTimer clock;
    clock.start();
    char payload[32];
    for (int i = 0; i < count;) {
        const qint64 due = qMin<qint64>(count, clock.nsecsElapsed() * rate / 1000000000 + 1);
        for (; i < due; ++i) {
            std::snprintf(payload, sizeof payload, "datagram %010d\r\n", i); // 20 bytes
            ::sendto(fd, payload, 20, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        }
        const timespec slice {0, 1000000};
        nanosleep(&slice, nullptr);
    }
    ::close(fd);
}

struct Run
{
    bool ok = false;
    QString why;
    qint64 seen = 0, dropped = 0;
    double cpu = 0, xCpu = 0, stallMs = -1;
};

Run measure(const XServer &x, Listener listener, int rate, int count)
{
    Run run;
    QTemporaryDir scratch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), scratch.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), scratch.filePath(QStringLiteral(".local/share")));
    QProcess peer;
    peer.setProcessEnvironment(env);
    peer.setWorkingDirectory(scratch.path());
    quint16 port = 0;
    switch (listener) {
    case Listener::Bare:
        peer.start(QStringLiteral(ZENTREL_READER_PATH), {"--udp", QString::number(count)});
        if (peer.waitForStarted(5000) && runUntil([&] { return peer.canReadLine(); }, 10000))
            port = quint16(peer.readLine().trimmed().toUInt());
        break;
    case Listener::PacketSender: {
        // Its listening port through its own settings file.
        port = freePort();
        QDir(scratch.path()).mkpath(QStringLiteral(".local/share/PacketSender"));
        QFile settings(scratch.filePath(QStringLiteral(".local/share/PacketSender/ps_settings.ini")));
        settings.open(QIODevice::WriteOnly);
        settings.write(QStringLiteral("[General]\nudpPort=%1\ntcpPort=0\nsslPort=0\n").arg(port).toUtf8());
        settings.close();
        peer.start(QStringLiteral("packetsender"), QStringList());
        break;
    }
    case Listener::Zentrel:
        peer.start(QCoreApplication::applicationFilePath(), {"onscreen-console"});
        if (peer.waitForStarted(5000) && runUntil([&] { return peer.canReadLine(); }, 30000))
            port = quint16(peer.readLine().trimmed().toUInt());
        break;
    }
    if (port == 0 || !peer.waitForStarted(5000) || !runUntil([&] { return socketState(port).bound; }, 30000)) {
        run.why = QStringLiteral("%1 did not listen: %2").arg(listenerName(listener), QString::fromLocal8Bit(peer.readAllStandardError()).trimmed());
        peer.kill();
        peer.waitForFinished(3000);
        return run;
    }
    QTest::qWait(1500); // its window up and drawn
    waitQuiet(peer.processId(), 10000);
    const qint64 drops0 = socketState(port).drops;
    const double cpu0 = processCpu(peer.processId()), x0 = x.cpu();
    std::thread sender([&] { sendPaced(port, count, rate); });
    sender.join();
    runUntil([&] { return socketState(port).queued == 0; }, 60000);
    // All shown: no CPU for 300 ms (a console showing a backlog works in
    // 50 ms slices 100 ms apart). The bare reader leaves after 2 s idle,
    // so it is read sooner.
    if (listener == Listener::Bare)
        waitQuiet(peer.processId(), 30000);
    double last = processCpu(peer.processId());
    QElapsedTimer idle;
    idle.start();
    runUntil([&] {
        if (listener == Listener::Bare)
            return true;
        if (idle.elapsed() < 300)
            return false;
        idle.restart();
        const double now = processCpu(peer.processId());
        const bool quiet = now - last < 0.003;
        last = now;
        return quiet;
    }, 120000);
    run.cpu = processCpu(peer.processId()) - cpu0;
    run.xCpu = x.cpu() - x0;
    const qint64 dropped = socketState(port).drops - drops0;
    run.dropped = dropped;
    switch (listener) {
    case Listener::Bare:
        peer.waitForFinished(30000); // two idle seconds, then its count
        run.seen = QString::fromLocal8Bit(peer.readAllStandardError()).section(' ', 2, 2).toLongLong();
        break;
    case Listener::PacketSender:
        run.seen = count - dropped;
        break;
    case Listener::Zentrel:
        peer.closeWriteChannel(); // it reports and leaves
        peer.waitForFinished(30000);
        for (const QByteArray &line : peer.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.value(0) == "seen")
                run.seen = f.value(1).toLongLong();
            else if (f.value(0) == "stall")
                run.stallMs = f.value(1).toDouble();
        }
        break;
    }
    stopProgram(peer);
    run.ok = true;
    return run;
}

} // namespace

int onscreenConsole(int count, int runs)
{
    heading("UDP console on a real X server beside Packet Sender and a bare socket, same stream, same run");
    XServer x;
    if (!haveDisplay(x))
        return 0;
    const bool havePacketSender = !QStandardPaths::findExecutable(QStringLiteral("packetsender")).isEmpty();
    std::printf("  CPU: %s, %d cores; X server %s%s\n", qPrintable(cpuModel()), int(sysconf(_SC_NPROCESSORS_ONLN)),
                qPrintable(x.display()), havePacketSender ? "" : "; packetsender is missing (tools/dev.sh installs it)");
    std::printf("  %d datagrams of 20 bytes per run, median of %d interleaved runs; CPU in us per datagram sent / seen, X server's per sent\n",
                count, runs);
    std::printf("  %9s %-14s %10s %10s %10s %10s %10s %12s\n", "rate/s", "listener", "seen", "dropped", "CPU/sent", "CPU/seen", "X/sent",
                "stall ms");
    int failures = 0;
    for (int rate : {10000, 50000}) {
        QMap<Listener, QVector<Run>> results;
        for (int i = 0; i < runs; ++i)
            for (Listener l : {Listener::Bare, Listener::PacketSender, Listener::Zentrel}) {
                if (l == Listener::PacketSender && !havePacketSender)
                    continue;
                const Run r = measure(x, l, rate, count);
                if (!r.ok) {
                    std::printf("  %s at %d/s: %s\n", listenerName(l), rate, qPrintable(r.why));
                    ++failures;
                    continue;
                }
                results[l] << r;
            }
        QMap<Listener, double> cpuPerSent;
        for (Listener l : {Listener::Bare, Listener::PacketSender, Listener::Zentrel}) {
            const QVector<Run> &rs = results[l];
            if (rs.isEmpty())
                continue;
            QVector<double> seen, dropped, perSent, perSeen, xPerSent, stall;
            for (const Run &r : rs) {
                seen << double(r.seen);
                dropped << double(r.dropped);
                perSent << r.cpu / count * 1e6;
                perSeen << r.cpu / qMax<qint64>(1, r.seen) * 1e6;
                xPerSent << r.xCpu / count * 1e6;
                stall << r.stallMs;
            }
            cpuPerSent[l] = median(perSent);
            QStringList each;
            for (double v : perSent)
                each << QString::number(v, 'f', 1);
            std::printf("  %9d %-14s %10.0f %10.0f %10.1f %10.1f %10.1f %12s   (CPU/sent of each run: %s)\n", rate, listenerName(l),
                        median(seen), median(dropped), median(perSent), median(perSeen), median(xPerSent),
                        l == Listener::Zentrel ? qPrintable(QString::number(*std::max_element(stall.begin(), stall.end()), 'f', 0)) : "-",
                        qPrintable(each.join(", ")));
        }
        if (cpuPerSent.contains(Listener::PacketSender) && cpuPerSent.contains(Listener::Zentrel))
            std::printf("  %9d Zentrel / Packet Sender, CPU per datagram sent: %.2f\n", rate,
                        cpuPerSent[Listener::Zentrel] / cpuPerSent[Listener::PacketSender]);
        std::fflush(stdout);
    }
    return failures;
}

// The window listening on a port of the system's choosing, the console in
// view; prints the port, and when its stdin closes the lines it saw and its
// longest event-loop stall.
int onscreenConsoleWindow()
{
    MainWindow window;
    MainWindowProbe probe(window);
    auto *ui = probe.ui();
    ui->txtListenPort->setText(QStringLiteral("0"));
    ui->btnListen->click();
    for (int i = 0; i < ui->seria->count(); ++i)
        if (ui->seria->widget(i)->isAncestorOf(ui->txtMain))
            ui->seria->setCurrentIndex(i);
    window.show();
    std::printf("%d\n", probe.udpSocket()->localPort());
    std::fflush(stdout);
    StallMeter stalls;
    stalls.start();
    runUntilStdinCloses();
    probe.consoleView()->flush(); // what came in the last screen update's wait
    std::printf("seen\t%d\nstall\t%f\n", probe.consoleLineCount() - 1, stalls.longestMs()); // less the listen line
    std::fflush(stdout);
    return 0;
}

} // namespace bench
