// The window on a real X server: CPU per frame of the program and of the X
// server, beside references fed the same pseudo-terminal stream in the same
// run: a bare reader (the floor) and a plain serial terminal (CuteCom).
//
// The X server is the one DISPLAY names (under xvfb-run, say), else an Xvfb
// of our own on a free display. The window runs in a child of this program
// (`onscreen-window`), started as the program starts: the window, the journal
// and the command line's port through the same start-up code.
#include "benchsupport.h"
#include "xserver.h"
#include "mainwindowprobe.h"

#include "app/windowcapabilities.h"
#include "journal/journal.h"
#include "meter/metersession.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <algorithm>
#include <csignal>
#include <memory>

namespace bench {

namespace {

// ZentrelInView: the plot's view set to 0-6,000 first, so every new point is
// drawn (by default new points fall right of the view and cost no drawing).
enum class Program { Bare, Terminal, Zentrel, ZentrelInView };

const char *programName(Program p)
{
    switch (p) {
    case Program::Bare: return "bare reader";
    case Program::Terminal: return "CuteCom";
    case Program::Zentrel: return "Zentrel";
    case Program::ZentrelInView: return "Zentrel, points in view";
    }
    return "";
}

struct Run
{
    bool ok = false;
    QString why;
    qint64 frames = 0;
    double programCpu = 0; // seconds
    double xCpu = 0;
    double wall = 0;
    QMap<QString, double> figures; // what the window reported of itself
};

// One program fed `frames` frames at `rate` per second from the simulator;
// CPU counted from the first frame until the program has gone quiet after
// the last.
Run measure(const XServer &x, Program program, double rate, qint64 frames, const QString &windowMode)
{
    Run run;
    QTemporaryDir scratch;
    const QString link = scratch.filePath(QStringLiteral("meter"));
    QProcess sim;
    sim.start(QStringLiteral(ZENTREL_SIM_PATH),
              {"--link", link, "--interval", QString::number(1000.0 / rate, 'g', 10), "--count",
               QString::number(frames), "--start-after", "3000", "--linger"});
    if (!sim.waitForStarted(5000) || !runUntil([&] { return sim.canReadLine(); }, 10000)) {
        run.why = QStringLiteral("the simulator did not start");
        return run;
    }
    sim.readLine();

    QProcess peer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), scratch.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), scratch.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), scratch.filePath(QStringLiteral("data")));
    peer.setWorkingDirectory(scratch.path());
    switch (program) {
    case Program::Bare:
        peer.setProcessEnvironment(env);
        peer.start(QStringLiteral(ZENTREL_READER_PATH), {link});
        break;
    case Program::Terminal: {
        QDir(scratch.path()).mkpath(QStringLiteral(".config/CuteCom"));
        QFile conf(scratch.filePath(QStringLiteral(".config/CuteCom/CuteCom5.conf")));
        conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("[sessions]\n1\\BaudRate=115200\n1\\DataBits=8\n1\\Device=%1\n1\\FlowControl=0\n"
                                  "1\\OpenMode=3\n1\\Parity=0\n1\\StopBits=1\n1\\autoReconnect=false\n"
                                  "1\\name=Default\n1\\showCtrlCharacters=false\n1\\showTimestamp=false\nsize=1\n")
                       .arg(link)
                       .toUtf8());
        conf.close();
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ZENTREL_TERMINAL_SHIM_PATH));
        peer.setProcessEnvironment(env);
        peer.start(QStringLiteral("cutecom"), QStringList());
        break;
    }
    case Program::Zentrel:
    case Program::ZentrelInView:
        peer.setProcessEnvironment(env);
        peer.start(QCoreApplication::applicationFilePath(),
                   {"onscreen-window", link, program == Program::ZentrelInView ? windowMode + "+view" : windowMode});
        break;
    }
    if (!peer.waitForStarted(5000)) {
        run.why = QStringLiteral("%1 did not start").arg(programName(program));
        return run;
    }
    // The simulator says "sending" three seconds after the program opened the line.
    if (!runUntil([&] { return sim.canReadLine() || peer.state() != QProcess::Running; }, 30000)
        || !sim.readLine().startsWith("sending")) {
        run.why = QStringLiteral("%1 did not open %2: %3").arg(programName(program), link,
                                                              QString::fromLocal8Bit(peer.readAllStandardError()).trimmed());
        peer.kill();
        peer.waitForFinished(3000);
        return run;
    }
    const double cpu0 = processCpu(peer.processId());
    const double x0 = x.cpu();
    QElapsedTimer wall;
    wall.start();
    runUntil([&] { return sim.canReadLine(); }, int(frames / rate * 1000 * 4) + 30000); // "done N"
    run.frames = QString::fromLatin1(sim.readLine()).trimmed().section(' ', 1).toLongLong();
    waitQuiet(peer.processId(), 20000); // the program has shown everything
    run.programCpu = processCpu(peer.processId()) - cpu0;
    run.xCpu = x.cpu() - x0;
    run.wall = wall.nsecsElapsed() / 1e9;
    if (program == Program::Zentrel || program == Program::ZentrelInView) {
        peer.closeWriteChannel(); // the window reports and leaves
        peer.waitForFinished(30000);
        for (const QByteArray &line : peer.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split('\t');
            if (f.size() == 2)
                run.figures.insert(QString::fromUtf8(f[0]), f[1].toDouble());
        }
    }
    stopProgram(peer);
    sim.terminate();
    sim.waitForFinished(5000);
    run.ok = run.frames > 0;
    if (!run.ok)
        run.why = QStringLiteral("no frames were sent");
    return run;
}

} // namespace

int onscreen(int seconds, int runs)
{
    heading("on screen: the window on a real X server beside a bare reader and CuteCom, same stream, same run");
    XServer x;
    if (!haveDisplay(x))
        return 0;
    const bool haveTerminal = !QStandardPaths::findExecutable(QStringLiteral("cutecom")).isEmpty();
    std::printf("  CPU: %s, %d cores; X server %s (%s)%s\n", qPrintable(cpuModel()),
                int(sysconf(_SC_NPROCESSORS_ONLN)), qPrintable(x.display()),
                x.pid() > 0 ? qPrintable(QStringLiteral("pid %1").arg(x.pid()))
                            : "its process was not found here: its CPU reads as 0",
                haveTerminal ? "" : "; cutecom is missing (tools/dev.sh installs it)");
    std::printf("  CPU per frame, median of %d runs of %d s each (program / X server on its behalf), us:\n", runs, seconds);
    std::printf("  %12s %22s %22s %22s %12s %12s %22s\n", "frames/s", "bare reader", "CuteCom", "Zentrel",
                "Z / CuteCom", "X: Z / CC", "Zentrel, points in view");
    int failures = 0;
    for (int rate : {100, 2560}) {
        QMap<Program, QVector<double>> own, xs;
        for (int i = 0; i < runs; ++i) {
            for (Program p : {Program::Bare, Program::Terminal, Program::Zentrel, Program::ZentrelInView}) {
                if (p == Program::Terminal && !haveTerminal)
                    continue;
                const Run r = measure(x, p, rate, qint64(rate) * seconds, QStringLiteral("plain"));
                if (!r.ok) {
                    std::printf("  %s at %d frames/s: %s\n", programName(p), rate, qPrintable(r.why));
                    ++failures;
                    continue;
                }
                own[p] << r.programCpu / r.frames * 1e6;
                xs[p] << r.xCpu / r.frames * 1e6;
            }
        }
        auto cell = [&](Program p) {
            return own[p].isEmpty() ? QStringLiteral("-")
                                    : QStringLiteral("%1 / %2").arg(median(own[p]), 0, 'f', 1).arg(median(xs[p]), 0, 'f', 1);
        };
        auto ratio = [&](const QMap<Program, QVector<double>> &m) {
            return m[Program::Terminal].isEmpty() || m[Program::Zentrel].isEmpty()
                       ? QStringLiteral("-")
                       : QString::number(median(m[Program::Zentrel]) / median(m[Program::Terminal]), 'f', 2);
        };
        std::printf("  %12d %22s %22s %22s %12s %12s %22s\n", rate, qPrintable(cell(Program::Bare)),
                    qPrintable(cell(Program::Terminal)), qPrintable(cell(Program::Zentrel)), qPrintable(ratio(own)),
                    qPrintable(ratio(xs)), qPrintable(cell(Program::ZentrelInView)));
        std::fflush(stdout);
    }

    // The meter's own pace: share of a core, and how long a reading takes to the screen.
    const int nominalFrames = qMax(20, seconds * 2);
    std::printf("\n  at 2 frames/s for %d s:\n", nominalFrames / 2);
    for (Program p : {Program::Bare, Program::Terminal, Program::Zentrel, Program::ZentrelInView}) {
        if (p == Program::Terminal && !haveTerminal)
            continue;
        const Run r = measure(x, p, 2, nominalFrames, QStringLiteral("latency"));
        if (!r.ok) {
            std::printf("  %s: %s\n", programName(p), qPrintable(r.why));
            ++failures;
            continue;
        }
        std::printf("  %-24s %8.3f %% of a core, X server %8.3f %%\n", programName(p),
                    r.programCpu / r.wall * 100, r.xCpu / r.wall * 100);
        if (p != Program::Bare && p != Program::Terminal) {
            figure("readings timed to the screen", r.figures.value("latency.count"), "");
            figure("frame arrival to painted readout, median", r.figures.value("latency.median"), "ms");
            figure("frame arrival to painted readout, slowest", r.figures.value("latency.max"), "ms");
        }
    }

    // The line's limit for a minute: nothing lost, the window answers.
    const qint64 longFrames = 2560LL * qMax(60, seconds);
    std::printf("\n  2,560 frames/s for %lld s, journal on, a click every 2 s:\n", longFrames / 2560);
    const Run r = measure(x, Program::Zentrel, 2560, longFrames, QStringLiteral("long"));
    if (!r.ok) {
        std::printf("  %s\n", qPrintable(r.why));
        return failures + 1;
    }
    figure("frames sent", double(r.frames), "");
    figure("frames lost (sent - decoded)", double(r.frames) - r.figures.value("decoded"), "");
    figure("lines in the journal", r.figures.value("journal"), "");
    figure("longest event-loop stall", r.figures.value("stall"), "ms");
    figure("clicks handled", r.figures.value("clicks"), "");
    figure("click to handled, slowest (incl. xdotool start)", r.figures.value("click.max"), "ms");
    figure("CPU per frame (whole program, with the probes)", r.programCpu / r.frames * 1e6, "us");
    return failures;
}

// The window as the program starts it, on the port given, plus the probe the
// mode asks for; reports on stdout when its stdin closes.
int onscreenWindow(const QString &port, const QString &modeAsked)
{
    MainWindow window;
    MainWindowProbe probe(window);
    QTemporaryDir journalDir;
    StartOptions options;
    options.port = port;
    options.baud = 115200;
    options.journalDir = journalDir.path();
    WindowCapabilities installed(window, options);
    auto *ui = probe.ui();
    ui->lineEdit_R_DOWN->setText(QStringLiteral("0"));
    ui->lineEdit_R_UP->setText(QStringLiteral("100"));
    ui->lineEdit_V_DOWN->setText(QStringLiteral("0"));
    ui->lineEdit_V_UP->setText(QStringLiteral("5"));
    ui->radioButton_group->setChecked(true);
    window.show();
    QString mode = modeAsked;
    if (mode.endsWith(QLatin1String("+view"))) {
        mode.chop(5);
        ui->customPlot->xAxis->setRange(0, 6000);
        ui->customPlot->replot();
    }

    QElapsedTimer clock;
    clock.start();
    // latency: from the burst leaving the framer (just after the read) to the
    // readout painted and the paint handed to the X server.
    struct Latency : QObject
    {
        QElapsedTimer *clock = nullptr;
        qint64 arrived = -1;
        QVector<double> samples;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint && arrived >= 0) {
                const qint64 from = arrived;
                arrived = -1;
                QTimer::singleShot(0, this, [this, from] { samples << (clock->nsecsElapsed() - from) / 1e6; });
            }
            return false;
        }
    } latency;
    latency.clock = &clock;
    meter::FunctionSink arrivals([&](const meter::ReadingBurst &) { latency.arrived = clock.nsecsElapsed(); });

    // long: the event loop's stalls, and a real click through the X server every 2 s.
    StallMeter stalls;
    struct Clicks : QObject
    {
        QElapsedTimer *clock = nullptr;
        qint64 sent = -1;
        QVector<double> samples;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::MouseButtonPress && sent >= 0) {
                samples << (clock->nsecsElapsed() - sent) / 1e6;
                sent = -1;
            }
            return false;
        }
    } clicks;
    clicks.clock = &clock;
    QTimer clicker;
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (xdotool.isEmpty() || clicks.sent >= 0)
            return;
        const QPoint at = ui->label_R->mapToGlobal(ui->label_R->rect().center());
        clicks.sent = clock.nsecsElapsed();
        QProcess::startDetached(xdotool, {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    });

    if (mode == QLatin1String("latency")) {
        probe.session()->addSink(&arrivals, meter::MeterSession::Phase::Record);
        ui->label_R->installEventFilter(&latency);
    }
    // Measured from the first reading on: the window's own start-up is not the stream's doing.
    bool started = false;
    meter::FunctionSink firstReading([&](const meter::ReadingBurst &) {
        if (started)
            return;
        started = true;
        stalls.start();
        ui->label_R->installEventFilter(&clicks);
        clicker.start(2000);
    });
    if (mode == QLatin1String("long"))
        probe.session()->addSink(&firstReading, meter::MeterSession::Phase::Record);

    runUntilStdinCloses();

    auto out = [](const char *key, double value) { std::printf("%s\t%.6f\n", key, value); };
    if (mode == QLatin1String("latency")) {
        out("latency.count", latency.samples.size());
        out("latency.median", median(latency.samples));
        out("latency.max", latency.samples.isEmpty() ? 0 : *std::max_element(latency.samples.begin(), latency.samples.end()));
    }
    probe.session()->removeSink(&arrivals);
    probe.session()->removeSink(&firstReading);
    out("decoded", probe.session()->receiveCount());
    out("stall", stalls.longestMs());
    out("clicks", clicks.samples.size());
    out("click.max", clicks.samples.isEmpty() ? 0 : *std::max_element(clicks.samples.begin(), clicks.samples.end()));
    if (journal::Journal *j = installed.journal()) {
        j->close();
        out("journal", double(j->linesWritten()));
    }
    std::fflush(stdout);
    return 0;
}

} // namespace bench
