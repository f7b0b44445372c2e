// zentrel-report on a million generated readings: time and peak memory of the
// tool as a process of its own, with its control charts; a stable process
// with a shift in its last week, and one out of control at nearly every
// reading (the most signals a month can give).
#include "benchsupport.h"

#include "journal/journal.h"
#include "report/reportspc.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <QDir>
#include <QProcess>
#include <QLocale>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>

namespace bench {

namespace {

// A stable process: normal scatter from a fixed seed (Box-Muller over a
// 64-bit LCG), R 0.5% higher for one shift (8 hours) of the 25th day.
struct StableProcess
{
    quint64 state = 0x9E3779B97F4A7C15ull;
    double uniform()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (double(state >> 11) + 0.5) / 9007199254740992.0;
    }
    double operator()(qint64 n, int day)
    {
        const double z = std::sqrt(-2 * std::log(uniform())) * std::cos(2 * M_PI * uniform());
        const qint64 second = n % 32259 * 2;
        return 12.3 * (day == 25 && second >= 8 * 3600 && second < 16 * 3600 ? 1.005 : 1.0) + 0.05 * z;
    }
};

// The tool's runs over the files: the table alone, then with every output;
// or the variants given (their arguments after the folder).
int runOnce(const QString &folder, qint64 readings, const std::function<double(qint64, int)> &value, const QString &what, int runs = 3,
            const QList<QStringList> &variants = {})
{
    heading(QStringLiteral("zentrel-report: %1 readings (a month of one station) in 31 day files, %2")
                .arg(QLocale::c().toString(readings), what)
                .toUtf8()
                .constData());
    const qint64 perDay = readings / 31 + 1;
    qint64 written = 0;
    for (int day = 1; day <= 31 && written < readings; ++day) {
        QFile f(QDir(folder).filePath(QStringLiteral("readings-2026-10-%1.csv").arg(day, 2, 10, QLatin1Char('0'))));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray out = QByteArray("\xEF\xBB\xBF") + journal::kHeader + '\n';
        for (qint64 i = 0; i < perDay && written < readings; ++i, ++written) {
            const int t = int(i * 86400 / perDay);
            const double r = value(written, day);
            out += QStringLiteral("2026-10-%1T%2:%3:%4.000+08:00,S01,COM3,%5,%6,3.7012,PASS,%6mΩ,3.7012V,20mΩ,20V,11.5,13.5,3.6,3.8,\n") // contact: none
                       .arg(day, 2, 10, QLatin1Char('0'))
                       .arg(t / 3600 % 24, 2, 10, QLatin1Char('0'))
                       .arg(t / 60 % 60, 2, 10, QLatin1Char('0'))
                       .arg(t % 60, 2, 10, QLatin1Char('0'))
                       .arg(i + 1)
                       .arg(r, 0, 'f', 4)
                       .toUtf8();
            if (out.size() > (1 << 20)) {
                f.write(out);
                out.clear();
            }
        }
        f.write(out);
    }
    figure("readings generated", double(written), "");
    // The floor: the same files read through once, line by line, into
    // nothing (the median of three, as the tool's figures are).
    qint64 lines = 0;
    QVector<double> bares;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer bare;
        bare.start();
        lines = 0;
        for (const QFileInfo &file : QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files)) {
            QFile f(file.filePath());
            if (f.open(QIODevice::ReadOnly))
                while (!f.atEnd())
                    lines += f.readLine().isEmpty() ? 0 : 1;
        }
        bares << bare.nsecsElapsed() / 1e9;
    }
    std::sort(bares.begin(), bares.end());
    const double bareSeconds = bares[bares.size() / 2];
    const QList<QStringList> runsOf = !variants.isEmpty() ? variants
                                                           : QList<QStringList> {{},
                                                                                 {"--pdf", QDir(folder).filePath(QStringLiteral("report.pdf")), "--json",
                                                                                  QDir(folder).filePath(QStringLiteral("report.json")), "--signals",
                                                                                  QDir(folder).filePath(QStringLiteral("signals.csv"))}};
    for (const QStringList &variant : runsOf) {
        const bool all = variant.contains("--pdf");
        const QString label = !variants.isEmpty() ? QStringLiteral("%1: ").arg(variant.isEmpty() ? QStringLiteral("table") : variant.join(' '))
                              : all               ? QStringLiteral("table, PDF, JSON and signals: ")
                                                  : QStringLiteral("table: ");
        const QStringList args = QStringList {folder} + variant;
        QVector<double> times;
        double mebibytes = 0;
        int status = 0;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer wall;
            wall.start();
            const pid_t pid = fork();
            if (pid == 0) {
                const QByteArray program = QByteArrayLiteral(ZENTREL_REPORT_PATH);
                QList<QByteArray> bytes;
                for (const QString &a : args)
                    bytes << a.toLocal8Bit();
                std::vector<char *> argv {const_cast<char *>(program.constData())};
                for (QByteArray &b : bytes)
                    argv.push_back(b.data());
                argv.push_back(nullptr);
                if (!freopen("/dev/null", "w", stdout))
                    _exit(127);
                execv(program.constData(), argv.data());
                _exit(127);
            }
            rusage usage {};
            wait4(pid, &status, 0, &usage);
            times << wall.nsecsElapsed() / 1e9;
            mebibytes = std::max(mebibytes, usage.ru_maxrss / 1024.0);
        }
        std::sort(times.begin(), times.end());
        const double seconds = times[times.size() / 2];
        figure((label + "time (median)").toUtf8().constData(), seconds, "s");
        figure((label + "peak resident memory").toUtf8().constData(), mebibytes, "MiB");
        std::printf("  reference (the same %lld lines read once into nothing, median of %d): %.3f s; ratio %.1f\n", qlonglong(lines), runs,
                    bareSeconds, seconds / qMax(1e-9, bareSeconds));
        std::fflush(stdout); // before the next fork copies the buffer
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::printf("  the tool failed (status %d)\n", status);
    }
    QFile signalRows(QDir(folder).filePath(QStringLiteral("signals.csv")));
    qint64 rows = 0;
    if (signalRows.open(QIODevice::ReadOnly))
        while (!signalRows.atEnd())
            rows += signalRows.readLine().isEmpty() ? 0 : 1;
    figure("control-chart signals listed (both groups; at most 10,000 a series)", double(qMax<qint64>(0, rows - 1)), "");
    return 0;
}

} // namespace

int reportMillion(qint64 readings)
{
    int failures = 0;
    {
        QTemporaryDir folder;
        StableProcess stable;
        failures += runOnce(folder.path(), readings, std::ref(stable), QStringLiteral("a stable process, shifted for one shift"));
    }
    {
        QTemporaryDir folder;
        failures += runOnce(folder.path(), readings, [](qint64 n, int) {
            return 12.3 + 0.2 * std::sin(double(n) * 0.37) + 0.05 * std::cos(double(n) * 1.3);
        }, QStringLiteral("out of control at nearly every reading"));
    }
    return failures;
}

} // namespace bench

namespace bench {

// The whole report's peak memory on a large month (once each: the files
// alone take minutes): bounded by the control charts' store and the
// charts' kept values, whatever the count.
int reportLarge(qint64 readings)
{
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(12.5, 0.12);
    return runOnce(folder.path(), readings, [&](qint64, int) { return noise(random); }, QStringLiteral("a stable process, once"), 1,
                   {{}, {"--jobs", "1"}, {"--no-control-charts"}});
}

// The control charts' store on its own, in a child process: `readings`
// readings of 8 stations (each in the overall group and its station's) held
// up to `held`; prints the peak resident memory and the seconds taken.
int spcChild(qint64 readings, qint64 held)
{
    QElapsedTimer clock;
    clock.start();
    report::SpcData data(held);
    StableProcess process;
    const QByteArray names[] = {"S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8"};
    for (qint64 i = 0; i < readings; ++i) {
        const int station = int(i % 8);
        data.add(0, 1 + station, 1700000000000LL + i * 60, names[station], process(i, 1), 3.7);
    }
    const QVector<report::Spc> spc = data.compute(9);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld %.3f %lld %lld\n", usage.ru_maxrss, clock.nsecsElapsed() / 1e9, qlonglong(spc[0].r.sampleEvery),
                qlonglong(spc[1].r.sampleEvery));
    return 0;
}

int reportSpcBound(qint64 readings)
{
    heading("the report's control charts over 100 M readings: memory bounded by a stated sample");
    auto run = [](qint64 n, qint64 held, double *mib, double *seconds, qint64 *every, qint64 *stationEvery) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"spc-child", QString::number(n), QString::number(held)});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return false;
        const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
        *mib = f.value(0).toDouble() / 1024, *seconds = f.value(1).toDouble(), *every = f.value(2).toLongLong();
        *stationEvery = f.value(3).toLongLong();
        return true;
    };
    double mib = 0, seconds = 0, refMib = 0, refSeconds = 0;
    qint64 every = 0, refEvery = 0, stationEvery = 0, refStation = 0;
    const qint64 whole = 10000000;
    if (!run(readings, report::kSpcHeld, &mib, &seconds, &every, &stationEvery)
        || !run(whole, whole + 1, &refMib, &refSeconds, &refEvery, &refStation)) {
        std::printf("  a child failed\n");
        return 1;
    }
    figure("readings", double(readings), "");
    figure("peak resident memory", mib, "MiB");
    figure("seconds", seconds, "s");
    figure("overall chart from 1 reading in", double(every), "");
    figure("a station's chart from 1 reading in", double(stationEvery), "");
    std::printf("  reference (10 M readings all held, this run): %.1f MiB, %.2f s; 100 M held so would need about %.0f MiB\n",
                refMib, refSeconds, refMib * double(readings) / double(whole));
    std::fflush(stdout);
    return mib < 1024 ? 0 : 1;
}

} // namespace bench
