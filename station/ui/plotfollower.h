#ifndef STATION_PLOTFOLLOWER_H
#define STATION_PLOTFOLLOWER_H

#include <QObject>
#include <QTimer>

class QAbstractButton;
class QCustomPlot;

namespace station {

// At a station the live plot follows the readings (a cell at 12 mΩ and
// 3.7 V fills it), as a scope's auto mode does: the axes take what the
// curves hold, a few times a second when it changed. A drag or a wheel on
// the plot is the operator's own view: following stops until "Fix" (or a
// cleared plot) asks for it again.
class PlotFollower : public QObject
{
    Q_OBJECT

public:
    PlotFollower(QCustomPlot *plot, QAbstractButton *fix, QAbstractButton *clear, QObject *parent = nullptr);
    bool following() const { return m_following; }

private:
    void follow();

    QCustomPlot *m_plot;
    QTimer m_timer;
    bool m_following = true;
    int m_points = -1;
};

} // namespace station

#endif // STATION_PLOTFOLLOWER_H
