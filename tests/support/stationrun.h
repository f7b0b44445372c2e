#ifndef STATIONRUN_H
#define STATIONRUN_H

// The window in station mode on the simulator's cell mode through a real
// pseudo-terminal (the test defines ZENTREL_SIM_PATH).
#include "app/windowcapabilities.h"
#include "mainwindowprobe.h"
#include "station/cellcapture.h"
#include "station/cellrecorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <memory>

// A bench that records without a lot or a scanned ID (RequireLot=false,
// RequireId=false), as station mode did before either was asked for.
inline void benchWithoutIdentity(station::CellRecorder *recorder)
{
    recorder->setRequireLot(false);
    recorder->setRequireId(false);
}

struct StationRun
{
    bool identity = false; // a lot and an ID asked for, as by default
    QString link = QDir::temp().filePath(QString("zentrel-test-cells-%1").arg(QCoreApplication::applicationPid()));
    QProcess sim;
    MainWindow window;
    MainWindowProbe probe {window};
    std::unique_ptr<WindowCapabilities> installed;

    bool start(const QStringList &simOptions, const QString &journalDir)
    {
        sim.start(QStringLiteral(ZENTREL_SIM_PATH), QStringList{"--link", link, "--interval", "20", "--r", "15",
                                                               "--v", "3.7", "--contact-ms", "400", "--lift-ms", "100",
                                                               "--linger"} + simOptions);
        if (!sim.waitForStarted())
            return false;
        QElapsedTimer t;
        t.start();
        while (!sim.canReadLine() && t.elapsed() < 5000)
            QTest::qWait(10);
        StartOptions options;
        options.port = link;
        options.journalDir = journalDir;
        options.station = true;
        installed.reset(new WindowCapabilities(window, options));
        station::CaptureSettings capture;
        capture.settleMs = 100;
        installed->station()->setCaptureSettings(capture);
        if (!identity)
            benchWithoutIdentity(installed->station());
        return true;
    }
    ~StationRun()
    {
        installed.reset();
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

#endif
