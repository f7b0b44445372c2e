// zentrel-report on a million generated readings: time and peak memory of the
// tool as a process of its own.
#include "benchsupport.h"

#include "journal/journal.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <sys/resource.h>
#include <sys/wait.h>

namespace bench {

int reportMillion(qint64 readings)
{
    heading("zentrel-report: 1,000,000 readings (a month of one station at 2 s) in 31 day files");
    QTemporaryDir folder;
    QElapsedTimer made;
    made.start();
    const qint64 perDay = readings / 31 + 1;
    qint64 written = 0;
    for (int day = 1; day <= 31 && written < readings; ++day) {
        QFile f(QDir(folder.path()).filePath(QStringLiteral("readings-2026-10-%1.csv").arg(day, 2, 10, QLatin1Char('0'))));
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        QByteArray out = QByteArray("\xEF\xBB\xBF") + journal::kHeader + '\n';
        for (qint64 i = 0; i < perDay && written < readings; ++i, ++written) {
            const int t = int(i * 2);
            const double r = 12.3 + 0.2 * std::sin(double(written) * 0.37) + 0.05 * std::cos(double(written) * 1.3);
            out += QStringLiteral("2026-10-%1T%2:%3:%4.000+08:00,S01,COM3,%5,%6,3.7012,PASS,%6mΩ,3.7012V,20mΩ,20V,11.5,13.5,3.6,3.8\n")
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
    // The floor: the same files read through once, line by line, into nothing.
    QElapsedTimer bare;
    bare.start();
    qint64 lines = 0;
    for (const QFileInfo &file : QDir(folder.path()).entryInfoList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile f(file.filePath());
        if (f.open(QIODevice::ReadOnly))
            while (!f.atEnd())
                lines += f.readLine().isEmpty() ? 0 : 1;
    }
    const double bareSeconds = bare.nsecsElapsed() / 1e9;
    for (const bool pdf : {false, true}) {
        QStringList args = {folder.path()};
        if (pdf)
            args << "--pdf" << QDir(folder.path()).filePath(QStringLiteral("report.pdf"));
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
        int status = 0;
        rusage usage {};
        wait4(pid, &status, 0, &usage);
        const double seconds = wall.nsecsElapsed() / 1e9;
        figure(pdf ? "table and PDF: time" : "table: time", seconds, "s");
        figure(pdf ? "table and PDF: peak resident memory" : "table: peak resident memory", usage.ru_maxrss / 1024.0, "MiB");
        std::printf("  reference (the same %lld lines read once into nothing): %.3f s; ratio %.1f\n", qlonglong(lines),
                    bareSeconds, seconds / qMax(1e-9, bareSeconds));
        std::fflush(stdout); // before the next fork copies the buffer
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            std::printf("  the tool failed (status %d)\n", status);
    }
    return 0;
}

} // namespace bench
