// zentrel-bench: figures for the frame path, the nominal rate, a day and a
// week of readings, the replot, start-up and the UDP console. Run it offscreen:
//   QT_QPA_PLATFORM=offscreen build/bench/zentrel-bench [name...]
#include "benchsupport.h"

#include <QApplication>
#include <QProcess>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList names = app.arguments().mid(1);
    const bool child = names.contains("--quiet");
    names.removeAll("--quiet");
    if (names == QStringList{"startup-child"} || names == QStringList{"startup-bare"})
        return bench::startupChild(names.first() == QLatin1String("startup-bare"));
    if (names.size() == 4 && names[0] == QLatin1String("backlog-child"))
        return bench::backlogChild(names[1], names[2], names[3]);
    if (names.size() == 3 && names[0] == QLatin1String("spc-child"))
        return bench::spcChild(names[1].toLongLong(), names[2].toLongLong());
    if (names == QStringList{"onscreen-console"})
        return bench::onscreenConsoleWindow();
    if (names.size() == 3 && names[0] == QLatin1String("onscreen-window"))
        return bench::onscreenWindow(names[1], names[2]);
    const QStringList all = {"replot", "startup", "framepath", "framepath-journal", "nominal", "day",
                             "week", "week-journal", "publish", "drain", "report", "udp", "onscreen", "onscreen-udp", "backlog",
                             "logger", "logger-idle", "logger-absent", "match", "k-lookup", "report-spc", "report-large", "ingest", "ingest-refused", "broker-autosave", "report-db", "plant-scale", "board", "framer"};
    if (names.isEmpty() || names.contains("all"))
        names = all;
    if (names.size() > 1 && !child) {
        // Each benchmark in a fresh process, so none inherits another's memory.
        std::printf("zentrel-bench on %d cores\n", int(sysconf(_SC_NPROCESSORS_ONLN)));
        std::fflush(stdout);
        int failures = 0;
        for (const QString &name : names) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
            child.start(QCoreApplication::applicationFilePath(), {name, "--quiet"});
            child.waitForFinished(-1);
            failures += child.exitCode() != 0;
        }
        return failures == 0 ? 0 : 1;
    }
    if (!child)
        std::printf("zentrel-bench on %d cores\n", int(sysconf(_SC_NPROCESSORS_ONLN)));
    int failures = 0;
    for (const QString &name : names) {
        if (name == "replot")
            failures += bench::replot();
        else if (name == "startup")
            failures += bench::startup(10);
        else if (name == "framepath" || name == "framepath-journal")
            failures += bench::framePath(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 60,
                                         name == "framepath-journal");
        else if (name == "framer")
            failures += bench::framer(qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") : 2000000);
        else if (name == "logger")
            failures += bench::loggerAtLineLimit(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 60);
        else if (name == "logger-idle")
            failures += bench::loggerManySlowMeters(qEnvironmentVariableIntValue("ZENTREL_BENCH_IDLE_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_IDLE_SECONDS") : 600);
        else if (name == "logger-absent")
            failures += bench::loggerAbsentMeters(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 60);
        else if (name == "nominal")
            failures += bench::nominalRate(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 60);
        else if (name == "day")
            failures += bench::dayOfReadings(qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") : 172800);
        else if (name == "week" || name == "week-journal")
            failures += bench::weekOfReadings(qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") : 1209600,
                                              name == "week-journal");
        else if (name == "publish")
            failures += bench::publishing(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 60);
        else if (name == "match")
            failures += bench::packMatching();
        else if (name == "k-lookup")
            failures += bench::stageLookup();
        else if (name == "ingest")
            failures += bench::ingestBacklog(qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") : 1000000);
        else if (name == "ingest-refused")
            failures += bench::ingestRefused(qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") : 200000);
        else if (name == "broker-autosave")
            failures += bench::brokerAutosave(qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") : 10000);
        else if (name == "plant-scale")
            failures += bench::plantScale(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 600,
                                          qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_MESSAGES") : 1000000);
        else if (name == "board")
#ifdef ZENTREL_HAVE_BOARD
            failures += bench::boardLive(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 60);
#else
            std::printf("zentrel-board is not built (cpp-httplib or board/web/node_modules missing)\n");
#endif
        else if (name == "report-db")
            failures += bench::reportDatabase(qEnvironmentVariableIntValue("ZENTREL_BENCH_ROWS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_ROWS") : 10000000);
        else if (name == "report-spc")
            failures += bench::reportSpcBound(qEnvironmentVariableIntValue("ZENTREL_BENCH_ROWS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_ROWS") : 100000000);
        else if (name == "report")
            failures += bench::reportMillion(1000000);
        else if (name == "report-large")
            failures += bench::reportLarge(qEnvironmentVariableIntValue("ZENTREL_BENCH_READINGS") > 0
                                               ? qEnvironmentVariableIntValue("ZENTREL_BENCH_READINGS")
                                               : 20000000);
        else if (name == "drain")
            failures += bench::drain(100000);
        else if (name == "onscreen")
            failures += bench::onscreen(qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_SECONDS") : 20,
                                        qEnvironmentVariableIntValue("ZENTREL_BENCH_RUNS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_RUNS") : 3);
        else if (name == "backlog")
            failures += bench::backlog(qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_FRAMES") : 1209600,
                                       qEnvironmentVariableIntValue("ZENTREL_BENCH_RUNS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_RUNS") : 5);
        else if (name == "udp")
            failures += bench::udpFlood(100000);
        else if (name == "onscreen-udp")
            failures += bench::onscreenConsole(100000, qEnvironmentVariableIntValue("ZENTREL_BENCH_RUNS") > 0 ? qEnvironmentVariableIntValue("ZENTREL_BENCH_RUNS") : 3);
        else {
            std::fprintf(stderr, "unknown benchmark %s (choose from %s)\n", qPrintable(name),
                         qPrintable(all.join(' ')));
            return 2;
        }
    }
    return failures == 0 ? 0 : 1;
}
