#include "lotcharts.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <tuple>

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

// Where the records lie but for far outliers: three interquartile ranges
// beyond the quartiles (the whole range when half of them are equal).
struct Bulk
{
    double low, high;
};

Bulk bulkOf(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    auto quantile = [&values](double p) {
        const double at = p * (values.size() - 1);
        const int i = int(std::floor(at));
        return i + 1 < values.size() ? values[i] + (values[i + 1] - values[i]) * (at - i) : values[i];
    };
    const double q1 = quantile(0.25), q3 = quantile(0.75), iqr = q3 - q1;
    if (!(iqr > 0))
        return {values.first(), values.last()};
    return {std::fmax(values.first(), q1 - 3 * iqr), std::fmin(values.last(), q3 + 3 * iqr)};
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
    // The bins cover the bulk (the limits, and the records but for far
    // outliers); a record beyond it counts in the edge bin, marked.
    const Bulk bulk = bulkOf(values);
    double lo = bulk.low, hi = bulk.high;
    double width, origin;
    if (limits) {
        width = (rHigh - rLow) / 10;
        origin = rLow;
        lo = std::fmax(std::fmin(lo, rLow), rLow - width), hi = std::fmin(std::fmax(hi, rHigh), rHigh + width);
    } else {
        width = roundWidth(hi - lo, 20);
        origin = 0;
    }
    // Whole bins from the origin's grid that hold the bulk.
    const double first = origin + std::floor((lo - origin) / width) * width;
    const int bins = qBound(1, int(std::floor((hi - first) / width)) + 1, 200);
    QVector<double> keys(bins), counts(bins, 0), edgeKeys, edgeCounts;
    for (int i = 0; i < bins; ++i)
        keys[i] = first + width * (i + 0.5);
    QVector<double> beyond(bins, 0);
    for (double x : values) {
        const int at = int(std::floor((x - first) / width));
        const int bin = qBound(0, at, bins - 1);
        (at == bin ? counts : beyond)[bin] += 1;
    }
    auto *bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setWidth(width * 0.9);
    bars->setData(keys, counts, true);
    for (int i = 0; i < bins; ++i)
        if (beyond[i] > 0)
            edgeKeys << keys[i], edgeCounts << beyond[i];
    if (!edgeKeys.isEmpty()) {
        auto *far = new QCPBars(plot->xAxis, plot->yAxis);
        far->setWidth(width * 0.9);
        far->setPen(QPen(Qt::red));
        far->setBrush(QColor(230, 60, 60, 120));
        far->setData(edgeKeys, edgeCounts, true);
        far->moveAbove(bars);
    }
    for (double limit : {rLow, rHigh})
        limitLine(plot, limit, QPen(Qt::red, 1, Qt::DashLine), true);
    plot->xAxis->setRange(first - width * 0.5, first + width * (bins + 0.5));
    double most = 0;
    for (int i = 0; i < bins; ++i)
        most = std::fmax(most, counts[i] + beyond[i]);
    plot->yAxis->setRange(0, most + 1);
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
    QVector<double> values;
    for (const CellRecord *r : shown)
        values << r->rMilliOhm;
    // The scale is the bulk's and the control limits'; a far outlier sits
    // at the edge as a red triangle pointing where it is.
    const Bulk bulk = values.isEmpty() ? Bulk {0, 1} : bulkOf(values);
    double lo = bulk.low, hi = bulk.high;
    if (limits.valid)
        lo = std::fmin(lo, limits.lcl()), hi = std::fmax(hi, limits.ucl());
    const double margin = hi > lo ? (hi - lo) * 0.1 : 0.5;
    QVector<double> x, y, sx, sy, ux, uy, dx, dy;
    for (int i = 0; i < shown.size(); ++i) {
        const double r = shown[i]->rMilliOhm;
        const double at = qBound(lo - margin / 2, r, hi + margin / 2);
        x << i + 1, y << at;
        if (r > hi + margin / 2)
            ux << i + 1, uy << at;
        else if (r < lo - margin / 2)
            dx << i + 1, dy << at;
        if (shown[i]->spc.contains(QLatin1Char('R')))
            sx << i + 1, sy << at;
    }
    QCPGraph *line = plot->addGraph();
    line->setPen(QPen(QColor(40, 90, 160), 1));
    line->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 4));
    line->setData(x, y, true);
    QCPGraph *signalled = plot->addGraph();
    signalled->setLineStyle(QCPGraph::lsNone);
    signalled->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red, 2), Qt::NoBrush, 10));
    signalled->setData(sx, sy, true);
    for (const auto &[xs, ys, shape] : {std::tuple(&ux, &uy, QCPScatterStyle::ssTriangle), std::tuple(&dx, &dy, QCPScatterStyle::ssTriangleInverted)}) {
        QCPGraph *far = plot->addGraph();
        far->setObjectName(QStringLiteral("beyondScale"));
        far->setLineStyle(QCPGraph::lsNone);
        far->setScatterStyle(QCPScatterStyle(shape, QPen(Qt::red, 2), QBrush(Qt::red), 9));
        far->setData(*xs, *ys, true);
    }
    if (limits.valid) {
        limitLine(plot, limits.centre, QPen(Qt::darkGreen, 1), false);
        limitLine(plot, limits.ucl(), QPen(QColor(230, 140, 0), 1, Qt::DashLine), false);
        limitLine(plot, limits.lcl(), QPen(QColor(230, 140, 0), 1, Qt::DashLine), false);
    }
    plot->xAxis->setRange(0, kShown + 1);
    plot->yAxis->setRange(lo - margin, hi + margin);
    plot->replot(QCustomPlot::rpQueuedReplot);
}

} // namespace station
