// Replot of the two live curves, and start-up to the shown window.
#include "benchsupport.h"
#include "mainwindowprobe.h"

#include "app/startup.h"

#include <QProcess>
#include <QtTest/QTest>

#include <algorithm>

namespace bench {

int replot()
{
    heading("replot: two live curves of 6,000 points at the default window size");
    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    QCustomPlot *plot = probe.ui()->customPlot;
    QVector<double> keys(6000), r(6000), v(6000);
    for (int i = 0; i < 6000; ++i) {
        keys[i] = i + 1;
        r[i] = 12.3 + 0.05 * std::sin(i / 40.0);
        v[i] = 3.7 + 0.02 * std::cos(i / 60.0);
    }
    plot->graph(0)->setData(keys, r, true);
    plot->graph(1)->setData(keys, v, true);
    probe.ui()->Fix_Plot_Button->click();
    QVector<double> times;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        plot->replot(QCustomPlot::rpImmediateRefresh);
        times << t.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    figure("plot size", plot->width() * 10000 + plot->height(), "(w*10000+h)");
    figure("replot, median", times[times.size() / 2], "ms");
    figure("replot, slowest of 50", times.last(), "ms");
    return 0;
}

// Runs start-up as the program does and reports, on standard output, the
// milliseconds from process start until the window is first painted.
int startupChild()
{
    MainWindow window;
    applyStartupSettings(window);
    struct Watch : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && !done) {
                done = true;
                std::printf("shown\n");
                std::fflush(stdout);
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
            return false;
        }
        bool done = false;
    } watch;
    window.installEventFilter(&watch);
    window.show();
    return QApplication::exec();
}

int startup(int runs)
{
    heading("start-up: process start to the shown window");
    QVector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        QElapsedTimer t;
        t.start();
        child.start(QCoreApplication::applicationFilePath(), {"startup-child"});
        if (!child.waitForStarted() || !child.waitForReadyRead(10000)) {
            std::printf("  run %d did not show its window\n", i);
            return 1;
        }
        times << t.nsecsElapsed() / 1e6;
        child.waitForFinished(10000);
    }
    std::sort(times.begin(), times.end());
    figure("runs", runs, "");
    figure("median", times[times.size() / 2], "ms");
    figure("fastest", times.first(), "ms");
    figure("slowest", times.last(), "ms");
    return 0;
}

} // namespace bench
