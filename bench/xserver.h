#ifndef BENCH_XSERVER_H
#define BENCH_XSERVER_H

// The on-screen benchmarks' X server and small helpers they share.
#include "benchsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QApplication>

#include <unistd.h>

#include <algorithm>

namespace bench {

inline QString cpuModel()
{
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (!info.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    for (const QByteArray &line : info.readAll().split('\n'))
        if (line.startsWith("model name"))
            return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
    return QStringLiteral("unknown");
}

inline double median(QVector<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The X server the windows go to, and its process for its CPU.
class XServer
{
public:
    XServer()
    {
        m_display = qEnvironmentVariable("DISPLAY");
        if (!m_display.isEmpty()) {
            m_pid = findServer(m_display);
            return;
        }
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        int n = 90;
        while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n))
               || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            ++n;
        m_display = QStringLiteral(":%1").arg(n);
        m_own.start(xvfb, {m_display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        if (!m_own.waitForStarted(5000)
            || !runUntil([n] { return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)); }, 10000)) {
            m_display.clear();
            return;
        }
        m_pid = m_own.processId();
    }
    ~XServer()
    {
        if (m_own.state() != QProcess::NotRunning) {
            m_own.terminate();
            m_own.waitForFinished(5000);
        }
    }
    QString display() const { return m_display; }
    qint64 pid() const { return m_pid; }
    double cpu() const { return m_pid > 0 ? processCpu(m_pid) : 0; }

private:
    // The process serving display ":N": an X server whose arguments name it.
    static qint64 findServer(const QString &display)
    {
        const QString number = display.mid(display.indexOf(':')).section('.', 0, 0);
        const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &pid : pids) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (!cmdline.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> args = cmdline.readAll().split('\0');
            const QString program = QFileInfo(QString::fromLocal8Bit(args.value(0))).fileName();
            if (!QStringList{"Xvfb", "Xorg", "X", "Xwayland", "Xephyr"}.contains(program))
                continue;
            for (const QByteArray &a : args)
                if (QString::fromLocal8Bit(a) == number)
                    return pid.toLongLong();
        }
        return 0;
    }

    QProcess m_own;
    QString m_display;
    qint64 m_pid = 0;
};

// False, saying so, when there is no X server to measure on.
inline bool haveDisplay(const XServer &x)
{
    if (!x.display().isEmpty())
        return true;
    std::printf("  no X server: set DISPLAY or install Xvfb (tools/dev.sh installs it); nothing measured\n");
    return false;
}

// Ends a program the benchmark started: asked first, then made to.
inline void stopProgram(QProcess &program)
{
    if (program.state() == QProcess::NotRunning)
        return;
    program.terminate();
    if (!program.waitForFinished(5000))
        program.kill();
    program.waitForFinished(3000);
}

// A child window's event loop, until the benchmark closes its stdin.
inline void runUntilStdinCloses()
{
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [] {
        char c;
        if (::read(0, &c, 1) <= 0)
            qApp->quit();
    });
    qApp->exec();
}

} // namespace bench

#endif // BENCH_XSERVER_H
