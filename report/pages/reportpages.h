#ifndef REPORTPAGES_H
#define REPORTPAGES_H

#include "report/reportdata.h"

class QCPPainter;
class QRectF;

namespace report {

struct Summary
{
    QStringList files;
    QStringList unread; // files named but not read, with the reason
    QString database;   // where the rows came from instead of files (no password)
    qint64 lines = 0, skipped = 0;
    bool limitsChanged = false;
    Options asked;      // the period and filters asked for
};

// The report's pages on A4: a cover (period, filters, sources, stations,
// lots), the table as a ruled grid, histograms of R and V with the limits
// and a fitted normal curve, a run chart of R with the limits and mean ± 3σ
// (broken where the readings pause), box plots per station when there are
// several, and a control-chart page per group. Charts by QCustomPlot, drawn
// offscreen.
class Pages
{
public:
    Pages(const Summary &summary, const QVector<Group> &groups, const Charts &charts);
    int count() const;
    bool writePdf(const QString &path, QString *error) const;
    // PREFIX-1.png, PREFIX-2.png, ... at 150 dpi.
    bool writePngs(const QString &prefix, QString *error) const;

private:
    void draw(QCPPainter &painter, int page, const QRectF &area) const;
    void drawCover(QCPPainter &painter, const QRectF &area) const;
    void drawTable(QCPPainter &painter, int page, const QRectF &area) const;
    void drawControlCharts(QCPPainter &painter, const Group &group, const QRectF &area) const;
    int tablePages() const;
    int chartPages() const;

    Summary m_summary;
    QVector<Group> m_groups;
    QVector<int> m_controlled; // the groups with a control chart
    Charts m_charts;
};

} // namespace report

#endif // REPORTPAGES_H
