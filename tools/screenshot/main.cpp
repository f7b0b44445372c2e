// zentrel-screenshot: renders the main window with live readings from the
// meter simulator into a PNG, for the README. Run it offscreen:
//   QT_QPA_PLATFORM=offscreen zentrel-screenshot docs/screenshot.png
//   QT_QPA_PLATFORM=offscreen zentrel-screenshot --station docs/station.png
// (the second: station mode with a lot of cells in progress; --lang en for
// the English face)
#include "mainwindow.h"
#include "platform/regularfile.h"
#include "operatorhands.h"

#include "metersim/metersimulator.h"
#include "metersim/pseudoterminal.h"
#include "app/windowcapabilities.h"
#include "app/startup.h"
#include "settings/language.h"
#include "station/cellrecorder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    ignoreFileSizeLimitSignal(); // a size limit fails the write, as a full disk does
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool stationMode = args.removeAll(QStringLiteral("--station")) > 0;
    const int lang = args.indexOf(QStringLiteral("--lang"));
    if (lang >= 0) {
        if (!language::installFromOption(QStringLiteral("zentrel-screenshot"), args.value(lang + 1)))
            return 2;
        args.removeAt(lang + 1);
        args.removeAt(lang);
    }
    const QString out = QFileInfo(args.value(0, QStringLiteral("screenshot.png"))).absoluteFilePath();
    // Station mode reads its limit sets from the working folder: a scratch one.
    QTemporaryDir scratch;
    if (stationMode) {
        QDir::setCurrent(scratch.path());
        QFile sets(QStringLiteral("limitsets.json"));
        sets.open(QIODevice::WriteOnly);
        sets.write(R"({"sets": [{"name": "18650-2500", "r": {"low": 11.5, "high": 13.0}, "v": {"low": 3.6, "high": 3.8},
                      "grades": [{"name": "A", "rLow": 11.5, "rHigh": 12.2}, {"name": "B", "rLow": 12.2, "rHigh": 13.0}]}]})");
    }

    PseudoTerminal line;
    const QString link = QStringLiteral("/tmp/zentrel-screenshot-%1").arg(QCoreApplication::applicationPid());
    if (!line.open() || !line.createLink(link)) {
        std::fprintf(stderr, "cannot create the simulator's port\n");
        return 1;
    }

    MainWindow window;
    applyStartupSettings(window);
    std::unique_ptr<WindowCapabilities> installed;
    if (stationMode) {
        StartOptions startOptions;
        startOptions.station = true;
        startOptions.journalDir = scratch.filePath(QStringLiteral("journal"));
        installed.reset(new WindowCapabilities(window, startOptions));
        station::CaptureSettings capture;
        capture.settleMs = 60;
        installed->station()->setCaptureSettings(capture);
        installed->station()->selectSet(QStringLiteral("18650-2500"));
        installed->station()->startLot(QStringLiteral("L20261207-A"));
        window.resize(1180, 819);
    }
    window.show();

    OperatorHands hands(window);
    hands.choosePort(link, 0);
    if (!stationMode) // station mode takes them from its limit set
        hands.typeLimits(QStringLiteral("12.0"), QStringLiteral("12.6"), QStringLiteral("3.6"), QStringLiteral("3.8"));
    hands.plotByGroup();
    hands.chooseSound(4);
    hands.openPort();

    SimulatorOptions options;
    options.rRange = 2;
    options.vRange = 1;
    if (stationMode) {
        options.cells = 14;
        options.intervalMs = 20;
        options.contactMs = 240;
        options.liftMs = 60;
        options.outEvery = 6;
        options.r = 12.3;
    }
    MeterSimulator meter(line, options);
    const int frames = stationMode ? int(MeterSimulator::framesPerCell(options) * options.cells + 3) : 40;
    int sent = 0;
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] {
        if (stationMode && sent % 3 == 0 && installed->station()->pendingId().isEmpty())
            installed->station()->enterCode(QStringLiteral("CELL-%1").arg(1000 + int(installed->station()->records().size()) + 1));
        if (sent++ < frames) {
            line.writeAll(meter.nextFrame());
            return;
        }
        feed.stop();
        hands.fixPlot();
        // A limit line added after Fix, so the view stays on the readings.
        hands.addLimitLine(language::current() == language::Language::English ? QStringLiteral("Ref") : QStringLiteral("参考线"),
                           QStringLiteral("8"));
        QTimer::singleShot(200, [&] {
            const bool ok = window.grab().save(out);
            std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(out));
            app.exit(ok ? 0 : 1);
        });
    });
    feed.start(stationMode ? 20 : 30);
    return app.exec();
}
