#ifndef REPORT_SELFDISCHARGE_H
#define REPORT_SELFDISCHARGE_H

#include "stats/lotstats.h"

#include <QHash>
#include <QJsonArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// Self-discharge in the report, as the station judged it: a record at a
// stage carries the K its station worked out (the cell's latest record at
// the set's earlier stage, not voided, within 60 days; none for a rest
// shorter than the set's minRestDays) or why it has none. Only records of
// older versions, which carry neither, are paired here with the cell's
// latest record at another stage before it, within the same 60 days. A
// cell counts once per lot and stage: its latest record there. Summed per
// lot and stage.
namespace report {

constexpr int kEarlierStageDays = 60; // as far back as a station looks for the earlier stage

struct KGroup
{
    QString lot, stage, fromStage;
    QVector<double> k;        // mV/day, sorted: one a cell
    stats::RunningStats stats;
    QStringList beyond;       // cell IDs of records NG by K (their reason names K)
    QMap<QString, int> none;  // cells without K, by the station's reason (no-earlier, short-rest)
    double percentile(double p) const; // nearest rank; NaN when empty
};

class KCollector
{
public:
    // A record that counts (not voided): its cell, stage, time, V, lot, what
    // failed ("R V K"), and the station's K and note. written: the record
    // has the station's K columns (a version that works K out).
    struct Line
    {
        QString cellId, stage;
        qint64 ms = 0;
        double v = NAN;
        QString lot, reason;
        bool written = false;
        double k = NAN;
        QString note;
    };
    void add(const Line &line);
    // Per lot and stage (with the earlier stage), in that order.
    QVector<KGroup> groups() const;
    void absorb(KCollector &&other);

private:
    QHash<QString, QVector<Line>> m_cells;
};

// Cells without K and why, as the table says it ("" when none).
QString noKText(const KGroup &g);
// For the report's table and JSON.
QString kText(const QVector<KGroup> &groups);
QJsonArray kJson(const QVector<KGroup> &groups);

} // namespace report

#endif
