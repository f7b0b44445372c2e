// The headless logger with several meters: at the line limit (every frame
// kept? CPU per frame against a bare reader of the same stream) and many
// slow meters for a long time (share of a core, resident memory).
#include "benchsupport.h"
#include "platform/portsource.h"

#include <QFileInfo>
#include <QTimer>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace bench {

namespace {

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

qint64 journalLines(const QString &folder)
{
    qint64 lines = 0;
    for (const QString &name : QDir(folder).entryList({"readings-*.csv"})) {
        QFile f(QDir(folder).filePath(name));
        if (f.open(QIODevice::ReadOnly))
            while (!f.atEnd())
                lines += f.read(1 << 20).count('\n');
        lines -= 1; // the header
    }
    return lines;
}

struct Fixture
{
    QTemporaryDir scratch;
    std::vector<std::unique_ptr<QProcess>> sims;
    QProcess logger;

    // n simulators with the options, a logger on all of them; true once all say "sending".
    bool start(int n, const QStringList &simOptions)
    {
        QStringList args = {"--journal-dir", scratch.filePath("journal")};
        for (int i = 0; i < n; ++i) {
            const QString link = scratch.filePath(QStringLiteral("meter%1").arg(i));
            sims.emplace_back(new QProcess);
            sims.back()->start(QStringLiteral(ZENTREL_SIM_PATH), QStringList {"--link", link, "--start-after", "300", "--linger"} + simOptions);
            if (!sims.back()->waitForStarted(5000) || !runUntil([&] { return sims.back()->canReadLine(); }, 10000))
                return false;
            sims.back()->readLine();
            args << "--meter" << QStringLiteral("%1,station=M%2").arg(link).arg(i);
        }
        logger.start(QStringLiteral(ZENTREL_LOGGER_PATH), args);
        if (!logger.waitForStarted(5000))
            return false;
        for (auto &sim : sims)
            if (!runUntil([&] { return sim->canReadLine(); }, 10000) || !sim->readLine().startsWith("sending"))
                return false;
        return true;
    }
    ~Fixture()
    {
        logger.terminate();
        logger.waitForFinished(10000);
        for (auto &sim : sims) {
            sim->terminate();
            sim->waitForFinished(5000);
        }
    }
};

} // namespace

int loggerAtLineLimit(int seconds)
{
    heading("zentrel-logger: 4 meters at 2,560 frames/s each, journal on");
    const qint64 frames = 2560LL * seconds;
    const QStringList stream = {"--interval", "0.390625", "--count", QString::number(frames)};
    Fixture f;
    if (!f.start(4, stream)) {
        std::printf("  could not start the simulators and the logger\n");
        return 1;
    }
    const double cpu0 = processCpu(f.logger.processId());
    for (auto &sim : f.sims)
        runUntil([&] { return sim->canReadLine(); }, 3600000); // "done N"
    const QString folder = f.scratch.filePath("journal");
    runUntil([&] { return journalLines(folder) >= 4 * frames; }, 30000);
    waitQuiet(f.logger.processId(), 10000);
    const double cpu = processCpu(f.logger.processId()) - cpu0;
    const qint64 kept = journalLines(folder);
    figure("frames sent", double(4 * frames), "");
    figure("frames journaled", double(kept), "");
    figure("lost", double(4 * frames - kept), "");
    figure("logger CPU per frame", cpu / double(4 * frames) * 1e6, "µs");
    reference("a bare reader of one such stream, per frame", bareStreamReference(stream), cpu / double(4 * frames) * 1e6, "µs");
    return kept == 4 * frames ? 0 : 1;
}

int loggerManySlowMeters(int seconds)
{
    heading("zentrel-logger: 16 meters at 2 frames/s each, journal on");
    const QStringList stream = {"--interval", "500", "--count", QString::number(2 * seconds)};
    Fixture f;
    if (!f.start(16, stream)) {
        std::printf("  could not start the simulators and the logger\n");
        return 1;
    }
    const qint64 pid = f.logger.processId();
    // Memory after a first minute (or a tenth of the run), then at the end.
    const int warm = qMin(60, seconds / 10) * 1000;
    runUntil([] { return false; }, warm);
    const qint64 rssWarm = residentKiB(pid);
    const double cpu0 = processCpu(pid);
    QElapsedTimer wall;
    wall.start();
    for (auto &sim : f.sims)
        runUntil([&] { return sim->canReadLine(); }, 3600000); // "done N"
    const double cpu = processCpu(pid) - cpu0;
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const qint64 rssEnd = residentKiB(pid);
    figure("seconds measured", elapsed, "s");
    figure("logger CPU, share of one core", cpu / elapsed * 100, "%");
    figure("resident memory after warm-up", double(rssWarm) / 1024, "MiB");
    figure("resident memory at the end", double(rssEnd) / 1024, "MiB");
    const Reference bare = bareStreamReference({"--interval", "500", "--count", QString::number(2 * qMin(seconds, 60))});
    if (bare.ok)
        std::printf("  reference (16 bare readers of such streams, share of one core): %.3f %%; ratio %.2f\n",
                    16 * bare.cpu / bare.wall * 100, bare.cpu > 0 ? (cpu / elapsed) / (16 * bare.cpu / bare.wall) : 0.0);
    return 0;
}

int loggerAbsentMeters(int seconds)
{
    heading("zentrel-logger: 32 meters that are not there, waited for");
    QTemporaryDir scratch;
    QStringList args = {"--journal-dir", scratch.filePath("journal")};
    QStringList ports;
    for (int i = 0; i < 32; ++i) {
        ports << scratch.filePath(QStringLiteral("absent%1").arg(i));
        args << "--meter" << QStringLiteral("%1,station=A%2").arg(ports.last()).arg(i);
    }
    QProcess logger;
    logger.start(QStringLiteral(ZENTREL_LOGGER_PATH), args);
    if (!logger.waitForStarted(5000)) {
        std::printf("  could not start the logger\n");
        return 1;
    }
    runUntil([] { return false; }, 2000); // past its start
    const double cpu0 = processCpu(logger.processId());
    QElapsedTimer wall;
    wall.start();
    runUntil([] { return false; }, seconds * 1000);
    const double share = (processCpu(logger.processId()) - cpu0) / (wall.nsecsElapsed() / 1e9) * 100;
    logger.terminate();
    logger.waitForFinished(10000);
    figure("logger CPU, share of one core", share, "%");
    // The reference: the check each waiting link made before, every 500 ms:
    // the path, else the list of every port (the host's, /dev's and /tmp's links).
    const double ref0 = cpuSeconds();
    QElapsedTimer refWall;
    refWall.start();
    QTimer tick;
    int found = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        for (const QString &port : qAsConst(ports))
            found += QFileInfo::exists(port) || PortSource::portNames().contains(port);
    });
    tick.start(500);
    runUntil([] { return false; }, seconds * 1000);
    tick.stop();
    const double refShare = (cpuSeconds() - ref0) / (refWall.nsecsElapsed() / 1e9) * 100;
    std::printf("  reference (that check for 32 ports every 500 ms, in this process): %.3f %% of one core; ratio %.3f%s\n", refShare,
                refShare > 0 ? share / refShare : 0.0, found ? " (a port was found?)" : "");
    return 0;
}

} // namespace bench
