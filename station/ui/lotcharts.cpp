#include "lotcharts.h"

#include <qcustomplot.h>

#include <cmath>

namespace station {

namespace {

// 1, 2 or 5 × 10ⁿ: the smallest such width that gives at most `most` bins.
double roundWidth(double span, int most)
{
    if (!(span > 0))
        return 1;
    const double raw = span / most;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * decade >= raw)
            return m * decade;
    return 10 * decade;
}

void wholeCounts(QCPAxis *axis)
{
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    axis->setTicker(ticker);
    axis->setNumberFormat(QStringLiteral("f"));
    axis->setNumberPrecision(0);
}

void limitLine(QCustomPlot *plot, double x, const QPen &pen, bool vertical)
{
    if (!std::isfinite(x))
        return;
    auto *line = new QCPItemStraightLine(plot);
    line->point1->setCoords(vertical ? x : 0, vertical ? 0 : x);
    line->point2->setCoords(vertical ? x : 1, vertical ? 1 : x);
    line->setPen(pen);
}

} // namespace

void drawHistogram(QCustomPlot *plot, const QVector<double> &values, double rLow, double rHigh)
{
    plot->clearPlottables();
    plot->clearItems();
    wholeCounts(plot->yAxis);
    const bool limits = std::isfinite(rLow) && std::isfinite(rHigh) && rHigh > rLow;
    if (values.isEmpty()) {
        if (limits)
            plot->xAxis->setRange(rLow - (rHigh - rLow) * 0.1, rHigh + (rHigh - rLow) * 0.1);
        plot->yAxis->setRange(0, 1);
        plot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    double lo = *std::min_element(values.begin(), values.end()), hi = *std::max_element(values.begin(), values.end());
    double width, origin;
    if (limits) {
        width = (rHigh - rLow) / 10;
        origin = rLow;
    } else {
        width = roundWidth(hi - lo, 20);
        origin = 0;
    }
    // Whole bins from the origin's grid that hold every value.
    const double first = origin + std::floor((std::fmin(lo, limits ? rLow : lo) - origin) / width) * width;
    const int bins = qBound(1, int(std::floor((std::fmax(hi, limits ? rHigh : hi) - first) / width)) + 1, 200);
    QVector<double> keys(bins), counts(bins, 0);
    for (int i = 0; i < bins; ++i)
        keys[i] = first + width * (i + 0.5);
    for (double x : values)
        counts[qBound(0, int(std::floor((x - first) / width)), bins - 1)] += 1;
    auto *bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setWidth(width * 0.9);
    bars->setData(keys, counts, true);
    for (double limit : {rLow, rHigh})
        limitLine(plot, limit, QPen(Qt::red, 1, Qt::DashLine), true);
    plot->xAxis->setRange(first - width * 0.5, first + width * (bins + 0.5));
    plot->yAxis->setRange(0, *std::max_element(counts.begin(), counts.end()) + 1);
    plot->replot(QCustomPlot::rpQueuedReplot);
}

void drawControlChart(QCustomPlot *plot, const std::deque<CellRecord> &newestFirst, const QString &setName,
                      const stats::ControlLimits &limits)
{
    plot->clearPlottables();
    plot->clearItems();
    QVector<const CellRecord *> shown; // oldest first
    for (const CellRecord &r : newestFirst) {
        if (shown.size() == kShown)
            break;
        if (!r.voided && r.setName == setName && std::isfinite(r.rMilliOhm))
            shown.prepend(&r);
    }
    QVector<double> x, y, sx, sy;
    for (int i = 0; i < shown.size(); ++i) {
        x << i + 1, y << shown[i]->rMilliOhm;
        if (shown[i]->spc.contains(QLatin1Char('R')))
            sx << i + 1, sy << shown[i]->rMilliOhm;
    }
    QCPGraph *line = plot->addGraph();
    line->setPen(QPen(QColor(40, 90, 160), 1));
    line->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 4));
    line->setData(x, y, true);
    QCPGraph *signalled = plot->addGraph();
    signalled->setLineStyle(QCPGraph::lsNone);
    signalled->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red, 2), Qt::NoBrush, 10));
    signalled->setData(sx, sy, true);
    double lo = y.isEmpty() ? 0 : *std::min_element(y.begin(), y.end()), hi = y.isEmpty() ? 1 : *std::max_element(y.begin(), y.end());
    if (limits.valid) {
        limitLine(plot, limits.centre, QPen(Qt::darkGreen, 1), false);
        limitLine(plot, limits.ucl(), QPen(QColor(230, 140, 0), 1, Qt::DashLine), false);
        limitLine(plot, limits.lcl(), QPen(QColor(230, 140, 0), 1, Qt::DashLine), false);
        lo = std::fmin(lo, limits.lcl()), hi = std::fmax(hi, limits.ucl());
    }
    const double margin = hi > lo ? (hi - lo) * 0.1 : 0.5;
    plot->xAxis->setRange(0, kShown + 1);
    plot->yAxis->setRange(lo - margin, hi + margin);
    plot->replot(QCustomPlot::rpQueuedReplot);
}

} // namespace station
