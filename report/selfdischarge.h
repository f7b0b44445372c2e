#ifndef REPORT_SELFDISCHARGE_H
#define REPORT_SELFDISCHARGE_H

#include "stats/lotstats.h"

#include <QHash>
#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Self-discharge in the report: each cell record at a stage paired with the
// cell's latest record at another stage before it (both among the records
// read), and K = (V then − V now) × 1000 / days between them, as the
// station and the database's cell_k work it out. Summed per lot and stage.
namespace report {

struct KGroup
{
    QString lot, stage, fromStage;
    QVector<double> k;        // mV/day, sorted
    stats::RunningStats stats;
    QStringList beyond;       // cell IDs of records NG by K (their reason names K)
    double percentile(double p) const; // nearest rank; NaN when empty
};

class KCollector
{
public:
    // A record that counts (not voided): its cell, stage, time, V, lot and
    // what failed ("R V K").
    void add(const QString &cellId, const QString &stage, qint64 ms, double v, const QString &lot, const QString &reason);
    // Per lot and stage (with the earlier stage), in that order.
    QVector<KGroup> groups() const;
    void absorb(KCollector &&other);

private:
    struct Record
    {
        QString stage;
        qint64 ms;
        double v;
        QString lot, reason;
    };
    QHash<QString, QVector<Record>> m_cells;
};

// For the report's table and JSON.
QString kText(const QVector<KGroup> &groups);
QJsonArray kJson(const QVector<KGroup> &groups);

} // namespace report

#endif
