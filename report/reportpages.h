#ifndef REPORTPAGES_H
#define REPORTPAGES_H

#include "reportdata.h"

class QCPPainter;
class QRectF;

namespace report {

struct Summary
{
    QStringList files;
    QString database; // where the rows came from instead of files (no password)
    qint64 lines = 0, skipped = 0;
    bool limitsChanged = false;
};

// The report's pages on A4: the table, histograms of R and V with the limits
// and a fitted normal curve, a run chart of R with the limits and mean ± 3σ,
// and box plots per station when there are several. Charts by QCustomPlot,
// drawn offscreen.
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
    QStringList tableLines() const;

    Summary m_summary;
    QVector<Group> m_groups;
    Charts m_charts;
};

} // namespace report

#endif // REPORTPAGES_H
