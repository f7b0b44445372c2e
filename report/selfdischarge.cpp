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

void KCollector::add(const QString &cellId, const QString &stage, qint64 ms, double v, const QString &lot, const QString &reason)
{
    if (cellId.isEmpty() || stage.isEmpty() || !std::isfinite(v))
        return;
    m_cells[cellId].append({stage, ms, v, lot, reason});
}

void KCollector::absorb(KCollector &&other)
{
    for (auto it = other.m_cells.begin(); it != other.m_cells.end(); ++it)
        m_cells[it.key()] += it.value();
}

QVector<KGroup> KCollector::groups() const
{
    QMap<std::tuple<QString, QString, QString>, KGroup> byKey; // lot, stage, earlier stage
    for (auto cell = m_cells.cbegin(); cell != m_cells.cend(); ++cell) {
        QVector<Record> records = cell.value();
        std::stable_sort(records.begin(), records.end(), [](const Record &a, const Record &b) { return a.ms < b.ms; });
        for (int i = 0; i < records.size(); ++i) {
            const Record &later = records[i];
            // The latest record before it at another stage.
            int from = i - 1;
            while (from >= 0 && (records[from].stage == later.stage || records[from].ms >= later.ms))
                --from;
            if (from < 0)
                continue;
            const Record &earlier = records[from];
            const double days = double(later.ms - earlier.ms) / 86400000.0;
            if (!(days > 0))
                continue;
            KGroup &g = byKey[std::make_tuple(later.lot, later.stage, earlier.stage)];
            g.lot = later.lot, g.stage = later.stage, g.fromStage = earlier.stage;
            const double k = (earlier.v - later.v) * 1000.0 / days;
            g.k.append(k);
            g.stats.add(k);
            if (later.reason.split(QLatin1Char(' ')).contains(QLatin1String("K")))
                g.beyond << cell.key();
        }
    }
    QVector<KGroup> out;
    for (KGroup &g : byKey) {
        std::sort(g.k.begin(), g.k.end());
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

QString kText(const QVector<KGroup> &groups)
{
    QString out;
    for (const KGroup &g : groups) {
        out += QCoreApplication::translate("Report", "K（mV/天）批次 %1  %2 → %3  n %4  均值 %5  σ %6  最小 %7  P5 %8  中位 %9  P95 %10  最大 %11\n")
                   .arg(g.lot.isEmpty() ? QStringLiteral("—") : g.lot, g.fromStage, g.stage)
                   .arg(g.k.size())
                   .arg(number(g.stats.mean()), number(g.stats.stddev()), number(g.stats.min()), number(g.percentile(5)),
                        number(g.percentile(50)), number(g.percentile(95)), number(g.stats.max()));
        if (!g.beyond.isEmpty())
            out += QCoreApplication::translate("Report", "    超出 K 限值 %1 个：%2\n").arg(g.beyond.size()).arg(punctuation::listed(g.beyond.mid(0, 50))
                                                                                          + (g.beyond.size() > 50 ? QStringLiteral("…") : QString()));
    }
    return out;
}

QJsonArray kJson(const QVector<KGroup> &groups)
{
    auto json = [](double x) { return std::isfinite(x) ? QJsonValue(x) : QJsonValue(QJsonValue::Null); };
    QJsonArray out;
    for (const KGroup &g : groups)
        out.append(QJsonObject{{"lot", g.lot}, {"stage", g.stage}, {"from_stage", g.fromStage}, {"n", g.k.size()},
                               {"mean", json(g.stats.mean())}, {"sd", json(g.stats.stddev())}, {"min", json(g.stats.min())},
                               {"p5", json(g.percentile(5))}, {"p50", json(g.percentile(50))}, {"p95", json(g.percentile(95))},
                               {"max", json(g.stats.max())}, {"beyond", QJsonArray::fromStringList(g.beyond)}});
    return out;
}

} // namespace report
