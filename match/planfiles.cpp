#include "planfiles.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include "journal/csvrecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

namespace match {

PlanView planPack(const QString &pack, const Rules &rules, const CellRecords &records, const QHash<QString, QString> &placed,
                  int *superseded)
{
    const Choice choice = chooseCells(records.records, records.voided, rules, placed);
    if (superseded)
        *superseded = choice.superseded;
    PlanView view;
    view.pack = pack;
    view.rules = rules;
    view.cells = choice.usable;
    view.excluded = choice.excluded;
    view.plan = matchCells(view.cells, rules);
    if (view.plan.ok)
        view.snake = snakePlan(view.cells, rules);
    return view;
}

namespace {

QString fixed(double v, int decimals) { return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—"); }
QJsonValue number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null); }

} // namespace

QString planCsv(const PlanView &view)
{
    QString text = QStringLiteral("pack,group,slot,cell_id,r_mohm,v,lot,record,k_mv_day\n");
    for (int g = 0; g < view.plan.groups.size(); ++g)
        for (int s = 0; s < view.plan.groups[g].size(); ++s) {
            const Cell &c = view.cells[view.plan.groups[g][s]];
            text += QStringList {journal::csvField(view.pack), QString::number(g + 1), QString::number(s + 1),
                                 journal::csvField(c.id), fixed(c.r, 4), fixed(c.v, 4), journal::csvField(c.lot),
                                 journal::csvField(c.record), std::isfinite(c.k) ? fixed(c.k, 4) : QString()}
                        .join(QLatin1Char(','))
                    + QLatin1Char('\n');
        }
    return text;
}

QByteArray planJson(const PlanView &view)
{
    QJsonArray groups;
    for (int g = 0; g < view.plan.groups.size(); ++g) {
        const GroupFigures f = figuresOf(view.cells, view.plan.groups[g]);
        QJsonArray cells;
        for (int s = 0; s < view.plan.groups[g].size(); ++s) {
            const Cell &c = view.cells[view.plan.groups[g][s]];
            cells.append(QJsonObject {{"slot", s + 1}, {"cell_id", c.id}, {"r_mohm", number(c.r)}, {"v", number(c.v)}, {"k_mv_day", number(c.k)},
                                      {"lot", c.lot}, {"record", c.record}});
        }
        groups.append(QJsonObject {{"group", g + 1}, {"n", f.n}, {"mean_r_mohm", number(f.meanR)},
                                   {"spread_r_pct", number(f.spreadRPct)}, {"spread_v_mv", number(f.spreadVMv)},
                                   {"rg_mohm", number(f.rg)}, {"capacity_mah", number(view.rules.useCapacity ? f.capacity : NAN)},
                                   {"cells", cells}});
    }
    QJsonArray spares, excluded;
    for (int c : view.plan.spares)
        spares.append(view.cells[c].id);
    for (const Exclusion &e : view.excluded)
        excluded.append(QJsonObject {{"cell_id", e.cell.id}, {"record", e.cell.record}, {"reason", e.reason}});
    const QJsonObject root {
        {"pack", view.pack}, {"series", view.rules.series}, {"parallel", view.rules.parallel},
        {"r_spread_pct", view.rules.rSpreadPct}, {"v_spread_mv", view.rules.vSpreadMv},
        {"rg_spread", number(view.plan.rgSpread)}, {"capacity_spread", number(view.plan.capacitySpread)},
        {"snake_rg_spread", number(view.snake.rgSpread)}, {"snake_groups_breaking_rules", view.snake.groupsBreakingRules},
        {"groups", groups}, {"spares", spares}, {"excluded", excluded}};
    return QJsonDocument(root).toJson();
}

QString kRulesText(const Rules &r)
{
    QStringList rules;
    if (std::isfinite(r.kSpreadMvDay))
        rules << QCoreApplication::translate("Match", "组内 ΔK ≤ %1 mV/天").arg(r.kSpreadMvDay);
    if (std::isfinite(r.kMax))
        rules << QCoreApplication::translate("Match", "K ≤ %1 mV/天").arg(r.kMax);
    return punctuation::listed(rules);
}

QString planSummary(const PlanView &view)
{
    QString t;
    const Rules &r = view.rules;
    t += QCoreApplication::translate("Match", "电池包 %1：%2 串 × %3 并，组内 ΔR ≤ %4%，ΔV ≤ %5 mV\n")
             .arg(view.pack).arg(r.series).arg(r.parallel).arg(r.rSpreadPct).arg(r.vSpreadMv);
    if (r.usesK()) // the K rules, on a line of their own
        t += kRulesText(r) + QLatin1Char('\n');
    const bool showK = r.usesK();
    t += QStringLiteral("%1 %2 %3 %4 %5 %6%7%8\n")
             .arg(QCoreApplication::translate("Match", "组"), 4).arg(QStringLiteral("n"), 3).arg(QCoreApplication::translate("Match", "平均R mΩ"), 10)
             .arg(QStringLiteral("ΔR %"), 7).arg(QStringLiteral("ΔV mV"), 7).arg(QStringLiteral("R_g mΩ"), 10)
             .arg(showK ? QCoreApplication::translate("Match", "  ΔK mV/天") : QString())
             .arg(r.useCapacity ? QCoreApplication::translate("Match", "  容量 mAh") : QString());
    for (int g = 0; g < view.plan.groups.size(); ++g) {
        const GroupFigures f = figuresOf(view.cells, view.plan.groups[g]);
        t += QStringLiteral("%1 %2 %3 %4 %5 %6%7%8\n")
                 .arg(g + 1, 4).arg(f.n, 3).arg(fixed(f.meanR, 4), 10).arg(fixed(f.spreadRPct, 2), 7)
                 .arg(fixed(f.spreadVMv, 1), 7).arg(fixed(f.rg, 5), 10)
                 .arg(showK ? QStringLiteral("  %1").arg(fixed(f.spreadKMvDay, 3), 9) : QString())
                 .arg(r.useCapacity ? QStringLiteral("  %1").arg(fixed(f.capacity, 0)) : QString());
    }
    t += QCoreApplication::translate("Match", "各组 R_g 极差 %1%").arg(fixed(view.plan.rgSpread * 100, 5));
    if (r.useCapacity)
        t += QCoreApplication::translate("Match", "，容量极差 %1%").arg(fixed(view.plan.capacitySpread * 100, 5));
    if (view.snake.ok)
        t += QCoreApplication::translate("Match", "（按 R 排序蛇形分配：%1%，%2 组越出规则）").arg(fixed(view.snake.rgSpread * 100, 5)).arg(view.snake.groupsBreakingRules);
    t += QLatin1Char('\n');
    // IDs only, so a lot of hundreds stays readable; the JSON has their figures.
    QStringList spares;
    for (int c : view.plan.spares)
        spares << view.cells[c].id;
    t += QCoreApplication::translate("Match", "备用 %1 个%2\n").arg(spares.size()).arg(spares.isEmpty() ? QString() : punctuation::colon() + spares.join(QLatin1Char(' ')));
    QMap<QString, QStringList> byReason;
    for (const Exclusion &e : view.excluded)
        byReason[e.reason] << (e.cell.id.isEmpty() ? e.cell.record : e.cell.id);
    t += QCoreApplication::translate("Match", "未用 %1 个\n").arg(view.excluded.size());
    for (auto it = byReason.cbegin(); it != byReason.cend(); ++it)
        t += QCoreApplication::translate("Match", "  %1（%2 个）：%3\n").arg(it.key()).arg(it.value().size()).arg(it.value().join(QLatin1Char(' ')));
    return t;
}

} // namespace match
