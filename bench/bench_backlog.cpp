// A week's unsent MQTT backlog (1.2 million journal lines, about 140 MB):
// start-up of the real program to its first reading on screen with and
// without it, runs alternating; then the window's longest stall while the
// broker goes away and comes back, with and without it.
#include "benchsupport.h"

#include "broker.h"
#include "app/windowcapabilities.h"
#include "app/options.h"
#include "app/startup.h"
#include "journal/journal.h"
#include "mainwindow.h"
#include "mqtt/publisher.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace bench {

namespace {

// Seven day files before today, written as the journal writes them, and a
// cursor at the start of the first: nothing of the week was acknowledged.
QByteArray writeWeek(const QString &folder, qint64 lines)
{
    QDir().mkpath(folder);
    const QDate today = QDate::currentDate();
    const qint64 perDay = lines / 7;
    for (int d = 7; d >= 1; --d) {
        const QDate day = today.addDays(-d);
        QFile f(QDir(folder).filePath(QStringLiteral("readings-%1.csv").arg(day.toString(Qt::ISODate))));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QByteArray block = QByteArray("\xEF\xBB\xBF") + journal::kHeader + '\n';
        const QByteArray stamp = day.toString(Qt::ISODate).toLatin1();
        for (qint64 i = 1; i <= perDay; ++i) {
            block += stamp + "T08:00:00.000+00:00,bench,/tmp/zentrel-meter," + QByteArray::number(i) + ",0."
                     + QByteArray::number(1000 + i % 9000) + ",3.7012,PASS,0." + QByteArray::number(1000 + i % 9000)
                     + "mΩ,3.7012V,AUTO,AUTO,0,1,3,4,\n"; // contact: none
            if (block.size() > (4 << 20)) {
                f.write(block);
                block.clear();
            }
        }
        f.write(block);
    }
    return QStringLiteral("{\"readings\":{\"day\":\"%1\",\"offset\":0,\"line\":0},\"cells\":{\"day\":\"\",\"offset\":0,\"line\":0}}")
        .arg(today.addDays(-7).toString(Qt::ISODate))
        .toUtf8();
}

qint64 folderBytes(const QString &folder)
{
    qint64 bytes = 0;
    for (const QFileInfo &info : QDir(folder).entryInfoList({"readings-*.csv"}, QDir::Files))
        bytes += info.size();
    return bytes;
}

void restoreCursor(const QString &folder, const QByteArray &cursor)
{
    QFile::remove(QDir(folder).filePath(QStringLiteral("mqtt-cursor.json.bak")));
    QFile f(QDir(folder).filePath(QStringLiteral("mqtt-cursor.json")));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(cursor);
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

// The longest time the event loop did not come round, while f runs its course.
double longestStallMs(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer last;
    last.start();
    double worst = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = qMax(worst, last.nsecsElapsed() / 1e6);
        last.restart();
    });
    tick.start();
    runUntil(done, timeoutMs);
    return worst;
}

} // namespace

int backlogChild(const QString &folder, const QString &port, const QString &mqtt)
{
    StartOptions options;
    options.port = port;
    options.baud = 9600;
    options.journalDir = folder;
    options.mqttHost = QStringLiteral("127.0.0.1");
    options.mqttPort = mqtt.toInt();
    MainWindow window;
    applyStartupSettings(window);
    WindowCapabilities installed(window, options);
    QObject::connect(window.meterSession(), &meter::MeterSession::burstHandled, qApp, [] {
        static bool said = false;
        if (said)
            return;
        said = true;
        // On screen: the window shows a burst at once after a quiet spell.
        QTimer::singleShot(0, qApp, [] {
            std::printf("first\n");
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    });
    window.show();
    return QApplication::exec();
}

int backlog(qint64 lines, int runs)
{
    heading("a week's unsent MQTT backlog: start-up to the first reading, and a reconnect");
    QTemporaryDir brokerDir;
    Broker broker(brokerDir.path()); // stopped and started again on its port below
    if (Broker::program().isEmpty() || !broker.start()) {
        std::printf("  mosquitto is missing (tools/dev.sh installs it); nothing measured\n");
        return 0;
    }
    QTemporaryDir scratch;
    const QString week = QDir(scratch.path()).filePath(QStringLiteral("week"));
    const QString empty = QDir(scratch.path()).filePath(QStringLiteral("empty"));
    const QByteArray cursor = writeWeek(week, lines);
    QDir().mkpath(empty);
    figure("backlog lines", double(lines), "");
    figure("backlog on disk", folderBytes(week) / 1048576.0, "MiB");

    const QString link = QDir(scratch.path()).filePath(QStringLiteral("meter"));
    QProcess sim;
    sim.start(QStringLiteral(ZENTREL_SIM_PATH), {"--link", link, "--interval", "20", "--linger"});
    if (!sim.waitForStarted() || !runUntil([&] { return QFileInfo(link).isSymLink(); }, 5000)) {
        std::printf("  the meter simulator did not start\n");
        return 1;
    }

    // Start-up, alternating: the week's folder, then an empty one.
    QVector<double> withBacklog, without;
    for (int i = 0; i < 2 * runs; ++i) {
        const bool loaded = i % 2 == 0;
        if (loaded)
            restoreCursor(week, cursor);
        QProcess child;
        QElapsedTimer t;
        t.start();
        child.start(QCoreApplication::applicationFilePath(),
                    {"backlog-child", loaded ? week : empty, link, QString::number(broker.port())});
        if (!child.waitForStarted() || !runUntil([&] { return child.canReadLine(); }, 60000)) {
            std::printf("  run %d showed no reading\n", i);
            return 1;
        }
        (loaded ? withBacklog : without) << t.nsecsElapsed() / 1e6;
        child.waitForFinished(30000);
    }
    figure("runs of each", runs, "");
    figure("start-up to the first reading, with the backlog (median)", median(withBacklog), "ms");
    std::printf("  reference (the same program, an empty journal folder, runs alternating): %.1f ms median; ratio %.2f\n",
                median(without), median(withBacklog) / qMax(1e-9, median(without)));
    sim.terminate();
    sim.waitForFinished(3000);

    // A reconnect: the broker goes away for two seconds and comes back. The
    // window's event loop is watched from the broker's stop until five
    // seconds after the publisher is connected again.
    auto stall = [&](const QString &folder) {
        if (folder == week)
            restoreCursor(week, cursor);
        MainWindow window;
        StartOptions options;
        options.journalDir = folder;
        options.mqttHost = QStringLiteral("127.0.0.1");
        options.mqttPort = broker.port();
        WindowCapabilities installed(window, options);
        window.show();
        mqtt::Publisher *publisher = installed.publisher();
        runUntil([&] { return publisher->isConnected(); }, 10000);
        runUntil([] { return false; }, 1000);
        QElapsedTimer t;
        t.start();
        broker.stop();
        double worst = longestStallMs([&] { return !publisher->isConnected() && t.elapsed() > 2000; }, 10000);
        broker.start();
        worst = qMax(worst, longestStallMs([&] { return publisher->isConnected(); }, 20000));
        t.restart();
        worst = qMax(worst, longestStallMs([&] { return t.elapsed() > 5000; }, 6000));
        return worst;
    };
    const double loaded = stall(week);
    const double bare = stall(empty);
    figure("longest stall of the window around a reconnect, with the backlog", loaded, "ms");
    std::printf("  reference (the same reconnect, an empty journal folder): %.1f ms; ratio %.2f\n", bare,
                loaded / qMax(1e-9, bare));
    return 0;
}

} // namespace bench
