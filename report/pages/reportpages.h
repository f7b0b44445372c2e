#ifndef REPORTPAGES_H
#define REPORTPAGES_H

#include "report/reportdata.h"

#include <QPageSize>
#include <QRectF>

class QCPPainter;

namespace report {

struct Summary
{
    QStringList files;
    QStringList unread; // files named but not read, with the reason
    QString database;   // where the rows came from instead of files (no password)
    QDateTime until;    // how far the database's data reach (its ingests' last commit)
    qint64 lines = 0, skipped = 0;
    bool limitsChanged = false;
    Options asked;      // the period and filters asked for
    QPageSize::PageSizeId paper = QPageSize::A4;
    QVector<KGroup> k;  // self-discharge per lot and stage
};

// The part of a page drawn on, at 150 dpi within 15 mm margins.
QRectF pageArea(QPageSize::PageSizeId paper);

// The report's pages on A4 or Letter: a cover (period, filters, sources,
// stations, lots), the table as a ruled grid (names wrapped, never cut),
// histograms of R and V with the limits and a fitted normal curve, a run
// chart of R with the limits and mean ± 3σ (broken where the readings
// pause), box plots per station when there are several, a control-chart
// page per group (individuals and moving ranges, or X̄ and R past 1,000
// readings), a capability page per group and quantity with limits (six
// panels) and a K histogram per lot and stage. Charts by QCustomPlot, drawn offscreen, their fonts in device
// pixels so that a PDF shows what an image shows.
class Pages
{
public:
    Pages(const Summary &summary, const QVector<Group> &groups, const Charts &charts);
    int count() const { return m_pages.size(); }
    bool writePdf(const QString &path, QString *error) const;
    // PREFIX-1.png, PREFIX-2.png, ... at 150 dpi.
    bool writePngs(const QString &prefix, QString *error) const;

private:
    struct Page
    {
        enum Kind { Cover, Table, Histograms, Run, Boxes, Control, Capability, SelfDischarge } kind;
        int first = 0, last = 0; // Table: the groups' rows; Control, Capability: the group; SelfDischarge: the K group (first)
        bool v = false;          // Capability: of V, not R
    };
    void draw(QCPPainter &painter, const Page &page, const QRectF &area) const;
    void drawCover(QCPPainter &painter, const QRectF &area) const;
    void drawTable(QCPPainter &painter, const Page &page, const QRectF &area) const;
    void drawSummaryCharts(QCPPainter &painter, Page::Kind kind, const QRectF &area) const;
    void drawControlCharts(QCPPainter &painter, const Group &group, const QRectF &area) const;
    void drawCapability(QCPPainter &painter, const Group &group, bool v, const QRectF &area) const;
    void drawSelfDischarge(QCPPainter &painter, const KGroup &k, const QRectF &area) const;
    QStringList tableRow(const Group &g) const;
    double rowHeight(const QStringList &cells, double unit) const;

    Summary m_summary;
    QVector<Group> m_groups;
    Charts m_charts;
    QVector<Page> m_pages;
    int m_tablePages = 0;
};

} // namespace report

#endif // REPORTPAGES_H
