#include "selfdischarge.h"

#include "platform/punctuation.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QMap>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace report {

double KGroup::percentile(double p) const
{
    if (k.isEmpty())
        return NAN;
    const int rank = int(std::ceil(p / 100.0 * k.size()));
    return k[qBound(0, rank - 1, k.size() - 1)];
}

namespace {

// "CELL-50" before "CELL-100": runs of digits compared as numbers (leading
// zeros aside), the rest as text.
bool naturalLess(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (!a[i].isDigit() || !b[j].isDigit()) {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i, ++j;
            continue;
        }
        while (i < a.size() - 1 && a[i] == QLatin1Char('0') && a[i + 1].isDigit())
            ++i;
        while (j < b.size() - 1 && b[j] == QLatin1Char('0') && b[j + 1].isDigit())
            ++j;
        int ie = i, je = j;
        while (ie < a.size() && a[ie].isDigit())
            ++ie;
        while (je < b.size() && b[je].isDigit())
            ++je;
        if (ie - i != je - j)
            return ie - i < je - j;
        const int order = QStringRef(&a, i, ie - i).compare(QStringRef(&b, j, je - j));
        if (order != 0)
            return order < 0;
        i = ie, j = je;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

void KCollector::add(const Line &line)
{
    if (line.cellId.isEmpty() || line.stage.isEmpty() || !std::isfinite(line.v))
        return;
    m_cells[line.cellId].append(line);
}

void KCollector::absorb(KCollector &&other)
{
    for (auto it = other.m_cells.begin(); it != other.m_cells.end(); ++it)
        m_cells[it.key()] += it.value();
}

namespace {

using Line = KCollector::Line;

// The cell's latest record at another stage before `at` (index into
// records, in time order), within kEarlierStageDays; -1 when none.
int earlierStage(const QVector<Line> &records, int at)
{
    const Line &later = records[at];
    for (int i = at - 1; i >= 0; --i) {
        const Line &e = records[i];
        if (later.ms - e.ms > qint64(kEarlierStageDays) * 86400000)
            break;
        if (e.stage != later.stage && e.ms < later.ms)
            return i;
    }
    return -1;
}

} // namespace

QVector<KGroup> KCollector::groups() const
{
    QMap<QPair<QString, QString>, KGroup> byKey; // lot, stage
    for (auto cell = m_cells.cbegin(); cell != m_cells.cend(); ++cell) {
        QVector<Line> records = cell.value();
        std::stable_sort(records.begin(), records.end(), [](const Line &a, const Line &b) { return a.ms < b.ms; });
        for (int i = 0; i < records.size(); ++i) {
            const Line &later = records[i];
            // The cell's latest record at this lot and stage counts, once.
            const bool latest = std::none_of(records.begin() + i + 1, records.end(),
                                             [&](const Line &x) { return x.stage == later.stage && x.lot == later.lot; });
            if (!latest)
                continue;
            const int from = earlierStage(records, i);
            double k = later.k;
            if (!later.written && from >= 0) { // an older version's record: worked out here
                const double days = double(later.ms - records[from].ms) / 86400000.0;
                k = (records[from].v - later.v) * 1000.0 / days;
            }
            const bool asked = std::isfinite(k) || !later.note.isEmpty();
            if (!asked)
                continue; // its set asked for no K
            KGroup &g = byKey[qMakePair(later.lot, later.stage)];
            g.lot = later.lot, g.stage = later.stage;
            if (g.fromStage.isEmpty() && from >= 0)
                g.fromStage = records[from].stage;
            if (!std::isfinite(k)) {
                ++g.none[later.note];
                continue;
            }
            g.k.append(k);
            if (later.reason.split(QLatin1Char(' ')).contains(QLatin1String("K")))
                g.beyond << cell.key();
        }
    }
    QVector<KGroup> out;
    for (KGroup &g : byKey) {
        // Summed in order, whatever order the cells were found in.
        std::sort(g.k.begin(), g.k.end());
        for (double k : qAsConst(g.k))
            g.stats.add(k);
        std::sort(g.beyond.begin(), g.beyond.end(), naturalLess);
        out.append(g);
    }
    return out;
}

namespace {

QString number(double v, int decimals = 3)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—");
}

} // namespace

QString noKText(const KGroup &g)
{
    QStringList why;
    for (auto it = g.none.cbegin(); it != g.none.cend(); ++it) {
        const QString reason = it.key() == QLatin1String("no-earlier")   ? QCoreApplication::translate("Report", "没有前一工序的记录")
                               : it.key() == QLatin1String("short-rest") ? QCoreApplication::translate("Report", "静置天数不足")
                                                                         : it.key();
        why << QStringLiteral("%1 %2").arg(reason).arg(it.value());
    }
    return punctuation::listed(why);
}

QString kText(const QVector<KGroup> &groups)
{
    QString out;
    for (const KGroup &g : groups) {
        out += QCoreApplication::translate("Report", "K（mV/天）批次 %1  %2 → %3  n %4  均值 %5  σ %6  最小 %7  P5 %8  中位 %9  P95 %10  最大 %11\n")
                   .arg(g.lot.isEmpty() ? QStringLiteral("—") : g.lot, g.fromStage.isEmpty() ? QStringLiteral("—") : g.fromStage, g.stage)
                   .arg(g.k.size())
                   .arg(number(g.stats.mean()), number(g.stats.stddev()), number(g.stats.min()), number(g.percentile(5)),
                        number(g.percentile(50)), number(g.percentile(95)), number(g.stats.max()));
        if (!g.none.isEmpty())
            out += QCoreApplication::translate("Report", "    没有 K 的电池：%1\n").arg(noKText(g));
        if (!g.beyond.isEmpty())
            out += QCoreApplication::translate("Report", "    超出 K 限值 %1 个：%2\n").arg(g.beyond.size()).arg(punctuation::listed(g.beyond.mid(0, 50))
                                                                                          + (g.beyond.size() > 50 ? QStringLiteral("…") : QString()));
    }
    return out;
}

QJsonArray kJson(const QVector<KGroup> &groups)
{
    auto noK = [](const KGroup &g) {
        QJsonObject out;
        for (auto it = g.none.cbegin(); it != g.none.cend(); ++it)
            out.insert(it.key(), it.value());
        return out;
    };
    auto json = [](double x) { return std::isfinite(x) ? QJsonValue(x) : QJsonValue(QJsonValue::Null); };
    QJsonArray out;
    for (const KGroup &g : groups)
        out.append(QJsonObject{{"lot", g.lot}, {"stage", g.stage}, {"from_stage", g.fromStage}, {"n", g.k.size()},
                               {"mean", json(g.stats.mean())}, {"sd", json(g.stats.stddev())}, {"min", json(g.stats.min())},
                               {"p5", json(g.percentile(5))}, {"p50", json(g.percentile(50))}, {"p95", json(g.percentile(95))},
                               {"max", json(g.stats.max())}, {"beyond", QJsonArray::fromStringList(g.beyond)}, {"no_k", noK(g)}});
    return out;
}

} // namespace report
