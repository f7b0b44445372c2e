// zentrel-metersim: a meter on a pseudo-terminal, for trying the program
// without the instrument.
#include "metersimulator.h"
#include "platform/regularfile.h"
#include "pseudoterminal.h"

#include <QCommandLineParser>
#include <QThread>
#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {
std::atomic<bool> stopRequested{false};
void requestStop(int) { stopRequested.store(true); }
} // namespace

int main(int argc, char *argv[])
{
    ignoreFileSizeLimitSignal(); // a size limit fails the write, as a full disk does
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrel-metersim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends battery-meter reading frames on a pseudo-terminal and answers range commands."));
    parser.addHelpOption();
    const QCommandLineOption linkOpt("link", "Symbolic link to create for the port.", "path", "/tmp/zentrel-meter");
    const QCommandLineOption intervalOpt("interval", "Milliseconds between writes (0: back to back).", "ms", "500");
    const QCommandLineOption countOpt("count", "Frames to send, then stop (0: until stopped).", "n", "0");
    const QCommandLineOption unitOpt("unit", "Unit of R: mohm or ohm.", "unit", "mohm");
    const QCommandLineOption overloadOpt("overload", "Report an overload: r, v or both.", "which");
    const QCommandLineOption negativeOpt("negative", "Report a negative voltage.");
    const QCommandLineOption rOpt("r", "Value of R in the reported unit.", "value", "12.3456");
    const QCommandLineOption vOpt("v", "Magnitude of V in volts.", "value", "3.7012");
    const QCommandLineOption steadyOpt("steady", "Send the same values every time.");
    const QCommandLineOption splitOpt("split", "Cut every write into this many pieces.", "n", "1");
    const QCommandLineOption packOpt("pack", "Frames per write.", "n", "1");
    const QCommandLineOption lingerOpt("linger", "After the count, keep the line open until stopped.");
    const QCommandLineOption rRangeOpt("r-range", "Initial R range code (0-6).", "code", "6");
    const QCommandLineOption vRangeOpt("v-range", "Initial V range code (0-3).", "code", "3");
    const QCommandLineOption sequenceOpt("sequence", "R in counts is the frame's number: 1, 2, 3, ... (0.0001 mΩ each).");
    const QCommandLineOption leaveOpt("leave-after", "Pull the meter after this many frames ...", "n", "0");
    const QCommandLineOption awayOpt("away", "... for this many ms, then come back on a new line at the same link.",
                                     "ms", "2000");
    const QCommandLineOption cellsOpt("cells", "Cell mode: this many cells, each after the probes were lifted.", "n", "0");
    const QCommandLineOption contactOpt("contact-ms", "Cell mode: time in contact with a cell.", "ms", "2500");
    const QCommandLineOption liftOpt("lift-ms", "Cell mode: time with the probes lifted between cells.", "ms", "1000");
    const QCommandLineOption outOpt("out-every", "Cell mode: every n-th cell has three times the R (0: none).", "n", "5");
    const QCommandLineOption unsteadyOpt("unsteady-cell", "Cell mode: this cell (from 1; \"all\": every one) never settles.", "n", "0");
    const QCommandLineOption stableOpt("stable-process", "Cell mode: R scattered as a stable process's, with no control-chart pattern.");
    const QCommandLineOption shiftOpt("shift-from", "Cell mode: from this cell (from 1) on, R is 10% higher: a process shift.", "n", "0");
    const QCommandLineOption restOpt("rest-days", "Cell mode: play the lot's second stage, this many days after the first: "
                                                  "each cell's V lower by its K (mV/day) times the rest.", "days", "0");
    const QCommandLineOption kOpt("k", "Cell mode with --rest-days: the cells' K in mV/day (spread up to ±14% per cell).", "mV/day", "0.3");
    const QCommandLineOption fastOpt("fast-every", "Cell mode with --rest-days: every n-th cell falls five times as fast.", "n", "0");
    const QCommandLineOption startAfterOpt("start-after", "Once a program has the line open, wait this long, print \"sending\", then send.", "ms", "0");
    const QCommandLineOption strayOpt("stray", "A noisy line: 0 to this many random bytes before each frame.", "n", "0");
    const QCommandLineOption garbageOpt("garbage", "Send random bytes in place of every frame.");
    const QCommandLineOption badOpt("bad-frames", "Frames FROM to FROM+N-1 (from 1) report R range code 9, which no meter has.", "from,n");
    const QCommandLineOption seedOpt("seed", "Seed of the noise (--stray, --garbage).", "n", "1");
    parser.addOptions({strayOpt, garbageOpt, badOpt, seedOpt});
    parser.addOptions({startAfterOpt, linkOpt, intervalOpt, countOpt, unitOpt, overloadOpt, negativeOpt, rOpt, vOpt,
                       steadyOpt, splitOpt, packOpt, lingerOpt, rRangeOpt, vRangeOpt, sequenceOpt, leaveOpt, awayOpt,
                       cellsOpt, contactOpt, liftOpt, outOpt, unsteadyOpt, stableOpt, shiftOpt, restOpt, kOpt, fastOpt});
    parser.process(app);

    SimulatorOptions options;
    options.intervalMs = parser.value(intervalOpt).toDouble();
    options.count = parser.value(countOpt).toLongLong();
    options.milliOhm = parser.value(unitOpt) != QLatin1String("ohm");
    const QString overload = parser.value(overloadOpt);
    options.rOverload = overload == QLatin1String("r") || overload == QLatin1String("both");
    options.vOverload = overload == QLatin1String("v") || overload == QLatin1String("both");
    options.negative = parser.isSet(negativeOpt);
    options.r = parser.value(rOpt).toDouble();
    options.v = parser.value(vOpt).toDouble();
    options.wobble = !parser.isSet(steadyOpt);
    options.split = qMax(1, parser.value(splitOpt).toInt());
    options.pack = qMax(1, parser.value(packOpt).toInt());
    options.rRange = qBound(0, parser.value(rRangeOpt).toInt(), 6);
    options.vRange = qBound(0, parser.value(vRangeOpt).toInt(), 3);
    options.sequence = parser.isSet(sequenceOpt);
    options.leaveAfter = qMax<qint64>(0, parser.value(leaveOpt).toLongLong());
    options.awayMs = qMax(0, parser.value(awayOpt).toInt());
    options.cells = qMax(0, parser.value(cellsOpt).toInt());
    options.contactMs = qMax(1, parser.value(contactOpt).toInt());
    options.liftMs = qMax(1, parser.value(liftOpt).toInt());
    options.outEvery = qMax(0, parser.value(outOpt).toInt());
    options.unsteadyCell = parser.value(unsteadyOpt) == QLatin1String("all") ? -1 : qMax(0, parser.value(unsteadyOpt).toInt());
    options.stableProcess = parser.isSet(stableOpt);
    options.shiftFrom = qMax(0, parser.value(shiftOpt).toInt());
    options.restDays = qMax(0.0, parser.value(restOpt).toDouble());
    options.kMvDay = parser.value(kOpt).toDouble();
    options.fastEvery = qMax(0, parser.value(fastOpt).toInt());
    options.startAfterMs = qMax(0, parser.value(startAfterOpt).toInt());
    options.strayMax = qBound(0, parser.value(strayOpt).toInt(), 1000);
    options.garbage = parser.isSet(garbageOpt);
    options.badFrom = qMax<qint64>(0, parser.value(badOpt).section(QLatin1Char(','), 0, 0).toLongLong());
    options.badCount = qMax<qint64>(0, parser.value(badOpt).section(QLatin1Char(','), 1, 1).toLongLong());
    options.seed = parser.value(seedOpt).toUInt();
    // All cells, then the probes lifted once more so the last one is done.
    if (options.cells > 0 && options.count == 0)
        options.count = MeterSimulator::framesPerCell(options) * options.cells
                        + qMax<qint64>(1, qint64(options.liftMs / qMax(1.0, options.intervalMs)));

    PseudoTerminal line;
    QString error;
    if (!line.open(&error)) {
        std::fprintf(stderr, "zentrel-metersim: cannot open a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    const QString link = parser.value(linkOpt);
    if (!link.isEmpty() && !line.createLink(link, &error)) {
        std::fprintf(stderr, "zentrel-metersim: cannot link %s: %s\n", qPrintable(link), qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(link.isEmpty() ? line.slavePath() : link));
    std::fflush(stdout);

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGHUP, requestStop);

    MeterSimulator simulator(line, options);
    bool ok = simulator.run(stopRequested);
    if (ok && options.startAfterMs > 0) {
        std::printf("done %lld\n", qlonglong(simulator.framesSent()));
        std::fflush(stdout);
    }
    // A meter that goes quiet but stays plugged in: the program can read
    // what is still on the line.
    while (ok && parser.isSet(lingerOpt) && !stopRequested.load())
        simulator.handleCommands(line.read(100));
    // Switched off after its last frame was on the wire: Linux drops what a
    // pseudo-terminal's reader was not yet handed when the line is closed at
    // once, which no meter's last frame suffers.
    if (ok && !parser.isSet(lingerOpt) && !stopRequested.load())
        QThread::msleep(ulong(qBound(20, options.intervalMs > 0 ? int(options.intervalMs) : 20, 200)));
    line.close();
    std::fprintf(stderr, "zentrel-metersim: sent %lld frames, %lld fell due while nobody listened\n",
                 qlonglong(simulator.framesSent()), qlonglong(simulator.framesUnheard()));
    return ok ? 0 : 2;
}
