#include "plotfollower.h"

#include <QAbstractButton>
#include <qcustomplot.h>

namespace station {

PlotFollower::PlotFollower(QCustomPlot *plot, QAbstractButton *fix, QAbstractButton *clear, QObject *parent)
    : QObject(parent), m_plot(plot)
{
    auto stop = [this] { m_following = false; };
    connect(plot, &QCustomPlot::mousePress, this, stop);
    connect(plot, &QCustomPlot::mouseWheel, this, stop);
    auto again = [this] {
        m_following = true;
        m_points = -1;
    };
    if (fix)
        connect(fix, &QAbstractButton::clicked, this, again);
    if (clear)
        connect(clear, &QAbstractButton::clicked, this, again);
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &PlotFollower::follow);
    m_timer.start();
}

void PlotFollower::follow()
{
    if (!m_following || m_plot->graphCount() == 0)
        return;
    int points = 0;
    for (int i = 0; i < m_plot->graphCount(); ++i)
        points += m_plot->graph(i)->dataCount();
    if (points == m_points || points == 0)
        return;
    m_points = points;
    bool foundKeys = false, foundValues = false;
    QCPRange keys, values;
    auto widen = [](QCPRange *range, bool *found, const QCPRange &more) {
        *range = *found ? QCPRange(qMin(range->lower, more.lower), qMax(range->upper, more.upper)) : more;
        *found = true;
    };
    for (int i = 0; i < m_plot->graphCount(); ++i) {
        bool found = false;
        const QCPRange k = m_plot->graph(i)->getKeyRange(found);
        if (found)
            widen(&keys, &foundKeys, k);
        const QCPRange v = m_plot->graph(i)->getValueRange(found);
        if (found)
            widen(&values, &foundValues, v);
    }
    if (!foundKeys || !foundValues)
        return; // overloads only: nothing to frame
    // The curves in the lower three quarters: the large readouts sit at the
    // top of the plot. A steady reading still gets some height.
    const double height = qMax(values.size(), qMax(qAbs(values.center()) * 0.02, 0.01));
    const double whole = height / 0.72;
    m_plot->xAxis->setRange(keys.lower - 1, keys.upper + 1);
    m_plot->yAxis->setRange(values.lower - whole * 0.05, values.upper + whole * 0.23);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

} // namespace station
