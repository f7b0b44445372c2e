// The UDP console under a flood from a second socket on 127.0.0.1.
#include "benchsupport.h"
#include "mainwindowprobe.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest/QTest>

#include <atomic>
#include <thread>

namespace bench {

namespace {

// Udp counters of the host: received datagrams and those dropped for a full buffer.
QPair<qint64, qint64> udpCounters()
{
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return {-1, -1};
    const QList<QByteArray> lines = snmp.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith("Udp:") || !lines[i + 1].startsWith("Udp:"))
            continue;
        const QList<QByteArray> names = lines[i].simplified().split(' ');
        const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
        const int in = names.indexOf("InDatagrams"), drop = names.indexOf("RcvbufErrors");
        return {values.value(in).toLongLong(), values.value(drop).toLongLong()};
    }
    return {-1, -1};
}

} // namespace

int udpFlood(int datagrams)
{
    heading("UDP console: 100,000 datagrams from a second socket on 127.0.0.1");
    const Reference floor = bareUdpReference(datagrams);
    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    probe.ui()->txtListenPort->setText(QStringLiteral("0"));
    probe.ui()->btnListen->click();
    const quint16 port = probe.udpSocket()->localPort();
    if (port == 0) {
        std::printf("  could not listen\n");
        return 1;
    }
    const auto before = udpCounters();
    std::atomic<bool> done{false};
    std::atomic<int> sent{0};
    std::thread sender([&] {
        sent = sendDatagrams(port, datagrams);
        done = true;
    });
    StallMeter stalls;
    stalls.start();
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    int maxLines = 0;
    runUntil([&] {
        maxLines = qMax(maxLines, probe.consoleLineCount());
        return done && !probe.udpSocket()->hasPendingDatagrams();
    }, 120000);
    sender.join();
    QTest::qWait(200);
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const auto after = udpCounters();
    const qint64 dropped = after.second - before.second;
    const qint64 handled = sent - dropped;
    figure("datagrams sent", sent, "");
    figure("dropped by the kernel (receive buffer full)", double(dropped), "");
    figure("datagrams handled", double(handled), "");
    figure("datagrams handled per second", handled / elapsed, "/s");
    figure("CPU time per datagram", cpu / qMax<qint64>(1, handled) * 1e6, "us");
    figure("longest event-loop stall", stalls.longestMs(), "ms");
    figure("most lines in the console", maxLines, "");
    figure("console lines at the end", probe.ui()->txtMain->document()->blockCount(), "");
    if (floor.ok)
        std::printf("  reference (bare socket, same datagrams): %lld received, %.0f /s, %.3f us CPU each; "
                    "ratio of CPU per datagram %.1f\n",
                    qlonglong(floor.items), floor.perSecond(), floor.cpuPerItemUs(),
                    cpu / qMax<qint64>(1, handled) * 1e6 / qMax(1e-9, floor.cpuPerItemUs()));
    return 0;
}

} // namespace bench
