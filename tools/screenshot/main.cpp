// zentrel-screenshot: renders the main window with live readings from the
// meter simulator into a PNG, for the README. Run it offscreen:
//   QT_QPA_PLATFORM=offscreen zentrel-screenshot docs/screenshot.png
//   QT_QPA_PLATFORM=offscreen zentrel-screenshot --station docs/station.png
// (the second: station mode with a lot of cells in progress and a control
// chart signal; --editor FILE also renders the limit-set editor; --lang en
// for the English face)
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
#include <QMenu>
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
    // --k: the lot at its second stage, its cells measured at OCV1 a week before.
    const bool secondStage = args.removeAll(QStringLiteral("--k")) > 0;
    QString editorOut;
    const int editor = args.indexOf(QStringLiteral("--editor"));
    if (editor >= 0) {
        editorOut = QFileInfo(args.value(editor + 1)).absoluteFilePath();
        args.removeAt(editor + 1);
        args.removeAt(editor);
    }
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
        sets.write(R"({"sets": [{"name": "18650-2500", "r": {"low": 11.5, "high": 13.0}, "v": {"low": 3.6, "high": 3.8},)"
                   + QByteArray(secondStage ? R"("stage": "OCV2", "kFrom": "OCV1", "minRestDays": 3, "k": {"high": 1.0},)" : "")
                   + R"("grades": [{"name": "A", "rLow": 11.5, "rHigh": 12.2, "bin": "1号料框", "colour": "#1565c0"},
                                 {"name": "B", "rLow": 12.2, "rHigh": 13.0, "bin": "2号料框", "colour": "#6a1b9a"}]}]})");
    }
    if (secondStage) { // the same IDs at OCV1 a week ago, a few millivolts higher
        const QDateTime then = QDateTime::currentDateTime().addDays(-7);
        QDir().mkpath(scratch.filePath(QStringLiteral("journal")));
        QFile ocv1(scratch.filePath(QStringLiteral("journal/cells-%1.csv").arg(then.date().toString(Qt::ISODate))));
        ocv1.open(QIODevice::WriteOnly);
        ocv1.write(QByteArray(station::kCellsHeader) + '\n');
        for (int i = 1; i <= 40; ++i) {
            station::CellRecord r;
            r.time = then.addSecs(i * 10);
            r.station = QStringLiteral("A07");
            r.id = QStringLiteral("A07-%1-%2").arg(then.date().toString(QStringLiteral("yyyyMMdd"))).arg(i);
            r.cellId = QStringLiteral("CELL-%1").arg(1000 + i);
            r.rMilliOhm = 12.0;
            r.v = 3.7045 + (i % 7 == 0 ? 0.012 : 0.0003 * (i % 5)); // every seventh falls fast
            r.verdict = meter::Verdict::Pass;
            r.stage = QStringLiteral("OCV1");
            ocv1.write(station::cellsCsvLine(r).toUtf8() + '\n');
        }
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
        window.resize(1280, 1000);
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
        options.cells = 34; // the control limits from the first 25 PASS, then a shift
        options.intervalMs = 20;
        options.contactMs = 240;
        options.liftMs = 60;
        options.outEvery = 0;
        options.stableProcess = true;
        options.shiftFrom = 31;
        options.r = 12.0;
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
            bool ok = window.grab().save(out);
            std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(out));
            if (stationMode && !editorOut.isEmpty()) {
                // The editor of the set in force, as its menu entry opens it.
                QTimer::singleShot(300, [&] {
                    QWidget *dialog = QApplication::activeModalWidget();
                    const bool wrote = dialog && dialog->grab().save(editorOut);
                    std::printf("%s %s\n", wrote ? "wrote" : "could not write", qPrintable(editorOut));
                    ok = ok && wrote;
                    if (dialog)
                        dialog->close();
                });
                for (QAction *a : window.findChild<QMenu *>(QStringLiteral("stationMenu"))->actions()) {
                    if (a->text().startsWith(language::current() == language::Language::English ? "Edit" : "编辑限值组")) {
                        a->trigger();
                        break;
                    }
                }
            }
            app.exit(ok ? 0 : 1);
        });
    });
    feed.start(stationMode ? 20 : 30);
    return app.exec();
}
