#ifndef LOTCHARTS_H
#define LOTCHARTS_H

#include "station/cellrecorder.h"

#include <deque>

class QCustomPlot;

// The dock's two charts of the lot, drawn on QCustomPlot.
namespace station {

// R of the lot's records in bins: whole bins across the limits when the
// set has them (ten between them), else "round" widths (1, 2 or 5 × 10ⁿ)
// across the data; counts on whole-number ticks. Empty: the limits' span,
// or nothing drawn.
void drawHistogram(QCustomPlot *plot, const QVector<double> &values, double rLow, double rHigh);

// The lot's last kShown records of the set in force (voided ones left out)
// as an individuals chart of R: the points in order, centre and control
// limits once fixed, and the records that fired a rule on R marked.
constexpr int kShown = 50;
void drawControlChart(QCustomPlot *plot, const std::deque<CellRecord> &newestFirst, const QString &setName,
                      const stats::ControlLimits &limits);

} // namespace station

#endif
