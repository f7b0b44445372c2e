#ifndef PLANFILES_H
#define PLANFILES_H

#include "cellfiles.h"
#include "matcher.h"

// A plan as the files and the table the pack builder reads.
namespace match {

struct PlanView
{
    QString pack;
    Rules rules;
    QVector<Cell> cells;        // the usable cells the plan indexes
    QVector<Exclusion> excluded;
    Plan plan;
    Plan snake;                 // the hand method on the same cells, for comparison
};

// A pack planned from cell records: the cells the rules allow that no pack
// holds yet (placed: the ledger's), matched, and the snake on the same cells
// for comparison when there is a plan. The window's dialog and zentrel-match
// plan the same way.
PlanView planPack(const QString &pack, const Rules &rules, const CellRecords &records, const QHash<QString, QString> &placed,
                  int *superseded = nullptr);

// pack,group,slot,cell_id,r_mohm,v,lot,record
QString planCsv(const PlanView &view);
QByteArray planJson(const PlanView &view);
// Per group n, mean R, ΔR %, ΔV mV, R_g; the spread beside the snake's;
// the spares and the cells left out, each with its reason.
QString planSummary(const PlanView &view);
// The K rules as the plan says them ("组内 ΔK ≤ 0.2 mV/天、K ≤ 1 mV/天"), or "".
QString kRulesText(const Rules &rules);

} // namespace match

#endif // PLANFILES_H
