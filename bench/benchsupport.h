#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include <atomic>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <sys/resource.h>
#include <unistd.h>

struct mosquitto;

namespace bench {

inline double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0) : 0;
}

// The longest gap the event loop left between two ticks of a 5 ms timer,
// beyond the 5 ms themselves.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0)
                m_longest = qMax(m_longest, double(now - m_last) / 1e6 - 5.0);
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = -1;
        m_longest = 0;
        m_timer.start();
    }
    double longestMs() const { return qMax(0.0, m_longest); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
    double m_longest = 0;
};

// Runs the event loop, as exec() does, until done() holds or the time is up.
inline bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    bool met = done();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        met = done();
        if (met || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    if (!met) {
        check.start(10);
        loop.exec();
    }
    return met;
}

// CPU time of every thread of another process, in seconds, at nanosecond grain.
inline double processCpu(qint64 pid)
{
    double total = 0;
    QDirIterator tasks(QStringLiteral("/proc/%1/task").arg(pid), QDir::Dirs | QDir::NoDotAndDotDot);
    while (tasks.hasNext()) {
        QFile stat(tasks.next() + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

// Runs the event loop until another process's CPU stops moving (it has
// taken in everything), at most timeoutMs.
void waitQuiet(qint64 pid, int timeoutMs);
// The UDP benchmark's datagrams, unpaced, to 127.0.0.1:port; how many went.
int sendDatagrams(quint16 port, int count);

// What a reference did with the same input, in the same run.
struct Reference
{
    bool ok = false;
    qint64 items = 0;
    double cpu = 0;  // seconds
    double wall = 0; // seconds, first item to last
    double cpuPerItemUs() const { return items > 0 ? cpu / double(items) * 1e6 : 0; }
    double perSecond() const { return wall > 0 ? double(items) / wall : 0; }
};

// The floor of a stream benchmark: the simulator with the same options and
// a bare reader (read() into nothing) on its pseudo-terminal.
Reference bareStreamReference(const QStringList &simulatorOptions);
// The floor of the UDP benchmark: the same datagrams into a bare socket.
Reference bareUdpReference(int datagrams);

inline void reference(const char *what, const Reference &r, double ours, const char *unit)
{
    if (!r.ok) {
        std::printf("  reference (%s): could not be measured\n", what);
        return;
    }
    std::printf("  reference (%s): %.3f %s; ratio %.2f\n", what, r.cpuPerItemUs(), unit,
                r.cpuPerItemUs() > 0 ? ours / r.cpuPerItemUs() : 0.0);
    std::fflush(stdout);
}

inline void heading(const char *title)
{
    std::printf("\n== %s ==\n", title);
    std::fflush(stdout);
}

inline void figure(const char *name, double value, const char *unit)
{
    std::printf("  %-44s %12.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

// The plant's stations publishing live through m (bench_plant.cpp).
// Until seconds passed or *stop.
double publishStations(::mosquitto *m, int stations, int seconds, qint64 *readings, qint64 *cells,
                       const std::atomic<bool> *stop = nullptr);
int boardLive(int seconds);
int framePath(int seconds, bool withJournal);
// The framer alone: holding frames until in step, beside the plain framer.
int framer(qint64 frames);
int loggerAtLineLimit(int seconds);
int loggerManySlowMeters(int seconds);
int loggerAbsentMeters(int seconds);
int nominalRate(int seconds);
int dayOfReadings(qint64 frames);
int weekOfReadings(qint64 frames, bool withJournal);
int publishing(int seconds);
int drain(int records);
int reportMillion(qint64 readings);
int reportLarge(qint64 readings);
int reportSpcBound(qint64 readings);
int spcChild(qint64 readings, qint64 held);
int packMatching();
int stageLookup();
int ingestBacklog(qint64 messages);
int plantScale(int seconds, qint64 messages);
int ingestRefused(qint64 messages);
int brokerAutosave(qint64 messages);
int reportDatabase(qint64 rows);
int replot();
int startup(int runs);
int startupChild(bool bare);
int udpFlood(int datagrams);
int backlog(qint64 lines, int runs);
int backlogChild(const QString &folder, const QString &port, const QString &mqtt);
int onscreen(int seconds, int runs);
int onscreenWindow(const QString &port, const QString &mode);
int onscreenConsole(int count, int runs);
int onscreenConsoleWindow();

} // namespace bench

#endif // BENCHSUPPORT_H
