// Replot of the two live curves, and start-up to the shown window.
#include "benchsupport.h"
#include "mainwindowprobe.h"

#include "app/startup.h"

#include <QProcess>
#include <QtTest/QTest>

#include <algorithm>
#include <memory>

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
    // The floor: the same two curves as 2-pixel polylines with a bare QPainter
    // on an image of the plot's size, scaled as the plot scales them.
    QImage canvas(plot->size(), QImage::Format_ARGB32_Premultiplied);
    const QRect area = plot->axisRect()->rect();
    QVector<QPointF> rLine(6000), vLine(6000);
    for (int i = 0; i < 6000; ++i) {
        rLine[i] = QPointF(plot->xAxis->coordToPixel(keys[i]), plot->yAxis->coordToPixel(r[i]));
        vLine[i] = QPointF(plot->xAxis->coordToPixel(keys[i]), plot->yAxis->coordToPixel(v[i]));
    }
    QVector<double> bare;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        canvas.fill(Qt::white);
        QPainter painter(&canvas);
        painter.setClipRect(area);
        painter.setPen(QPen(QColor(170, 0, 0), 2));
        painter.drawPolyline(rLine.constData(), rLine.size());
        painter.setPen(QPen(QColor(255, 170, 0), 2));
        painter.drawPolyline(vLine.constData(), vLine.size());
        painter.end();
        bare << t.nsecsElapsed() / 1e6;
    }
    std::sort(bare.begin(), bare.end());
    std::printf("  reference (the same curves, bare QPainter polylines): %.3f ms median; ratio %.1f\n",
                bare[bare.size() / 2], times[times.size() / 2] / qMax(1e-9, bare[bare.size() / 2]));
    return 0;
}

// Runs start-up as the program does and reports, on standard output, the
// milliseconds from process start until the window is first painted.
int startupChild(bool bare)
{
    // bare: the floor, an empty main window of the same size.
    std::unique_ptr<QMainWindow> window(bare ? new QMainWindow : new MainWindow);
    if (bare)
        window->resize(MainWindow().size());
    else
        applyStartupSettings(*static_cast<MainWindow *>(window.get()));
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
    window->installEventFilter(&watch);
    window->show();
    return QApplication::exec();
}

int startup(int runs)
{
    heading("start-up: process start to the shown window");
    QVector<double> times, bare;
    for (int i = 0; i < 2 * runs; ++i) {
        QProcess child;
        QElapsedTimer t;
        t.start();
        child.start(QCoreApplication::applicationFilePath(), {i % 2 ? "startup-bare" : "startup-child"});
        if (!child.waitForStarted() || !child.waitForReadyRead(10000)) {
            std::printf("  run %d did not show its window\n", i);
            return 1;
        }
        (i % 2 ? bare : times) << t.nsecsElapsed() / 1e6;
        child.waitForFinished(10000);
    }
    std::sort(times.begin(), times.end());
    std::sort(bare.begin(), bare.end());
    figure("runs", runs, "");
    figure("median", times[times.size() / 2], "ms");
    figure("fastest", times.first(), "ms");
    figure("slowest", times.last(), "ms");
    std::printf("  reference (an empty Qt main window of the same size, runs alternating): %.1f ms median; ratio %.2f\n",
                bare[bare.size() / 2], times[times.size() / 2] / qMax(1e-9, bare[bare.size() / 2]));
    return 0;
}

} // namespace bench
