#include "reportpages.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include "storage/textfile.h"

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QPdfWriter>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace report {

namespace {

void limitLine(QCustomPlot &plot, bool vertical, double value, const QColor &colour, Qt::PenStyle style = Qt::DashLine)
{
    if (!std::isfinite(value))
        return;
    auto *line = new QCPItemStraightLine(&plot);
    if (vertical) {
        line->point1->setCoords(value, 0);
        line->point2->setCoords(value, 1);
    } else {
        line->point1->setCoords(0, value);
        line->point2->setCoords(1, value);
    }
    line->setPen(QPen(colour, 1.5, style));
}

void histogram(QCustomPlot &plot, const Histogram &h, double low, double high, const QString &label)
{
    plot.xAxis->setLabel(label);
    plot.yAxis->setLabel(QCoreApplication::translate("Report", "数量"));
    if (h.counts.isEmpty())
        return;
    const int bins = h.counts.size();
    const double lo = h.lo, width = h.width, hi = lo + width * bins;
    QVector<double> keys(bins);
    for (int i = 0; i < bins; ++i)
        keys[i] = lo + width * (i + 0.5);
    auto *bars = new QCPBars(plot.xAxis, plot.yAxis);
    bars->setWidth(width * 0.95);
    bars->setBrush(QColor(90, 130, 200, 160));
    bars->setPen(Qt::NoPen);
    bars->setData(keys, h.counts, true);
    // The normal curve of the same mean and σ, scaled to the counts.
    const double mu = h.stats.mean(), sigma = h.stats.stddev();
    if (std::isfinite(sigma) && sigma > 0) {
        QVector<double> xs, ys;
        for (int i = 0; i <= 200; ++i) {
            const double x = lo - width + (hi - lo + 2 * width) * i / 200.0;
            xs << x;
            ys << double(h.stats.count()) * width * std::exp(-0.5 * std::pow((x - mu) / sigma, 2)) / (sigma * std::sqrt(2 * M_PI));
        }
        QCPGraph *curve = plot.addGraph();
        curve->setData(xs, ys, true);
        curve->setPen(QPen(QColor(200, 80, 0), 2));
    }
    limitLine(plot, true, low, Qt::red);
    limitLine(plot, true, high, Qt::red);
    plot.rescaleAxes();
    plot.xAxis->setRange(lo - width, hi + width);
    plot.yAxis->setRangeLower(0);
}

} // namespace

namespace {

QString number(double v, int decimals = 4)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—");
}

// Traffic lights of a capability: Cpk 1.33 and 1.0, and for a yield the
// share a centred normal process of those Cpk keeps inside (99.994 %, 99.73 %).
QColor capabilityColour(double cpk)
{
    if (!std::isfinite(cpk))
        return Qt::transparent;
    return cpk >= 1.33 ? QColor(200, 235, 200) : cpk >= 1.0 ? QColor(250, 225, 160) : QColor(245, 185, 185);
}

QColor yieldColour(double yield)
{
    if (!std::isfinite(yield))
        return Qt::transparent;
    return yield >= 0.999937 ? QColor(200, 235, 200) : yield >= 0.9973 ? QColor(250, 225, 160) : QColor(245, 185, 185);
}

QFont textFont(double pixels, bool bold = false)
{
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(std::max(1, int(pixels)));
    font.setBold(bold);
    return font;
}

// A line at a control limit, named at the chart's right edge.
void namedLine(QCustomPlot &plot, double value, const QString &name, const QColor &colour, Qt::PenStyle style)
{
    if (!std::isfinite(value))
        return;
    limitLine(plot, false, value, colour, style);
    auto *label = new QCPItemText(&plot);
    label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
    label->position->setTypeY(QCPItemPosition::ptPlotCoords);
    label->position->setCoords(1.0, value);
    label->setPositionAlignment(Qt::AlignRight | Qt::AlignBottom);
    label->setText(QStringLiteral("%1 %2").arg(name, number(value)));
    label->setColor(colour);
    label->setBrush(QColor(255, 255, 255, 220));
    label->setPadding(QMargins(2, 0, 2, 0));
    label->setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 8));
}

void seriesChart(QCustomPlot &plot, const QVector<QPointF> &points, const QString &label)
{
    QVector<double> xs, ys;
    for (const QPointF &p : points)
        xs << p.x(), ys << p.y();
    QCPGraph *g = plot.addGraph();
    g->setData(xs, ys, true);
    g->setPen(QPen(QColor(40, 90, 160), 1));
    g->setScatterStyle(points.size() <= 200 ? QCPScatterStyle(QCPScatterStyle::ssDisc, 3) : QCPScatterStyle());
    plot.yAxis->setLabel(label);
    plot.xAxis->setLabel(QCoreApplication::translate("Report", "读数序号（时间顺序）"));
}

// The y range that shows the points and every line drawn.
void fitRange(QCustomPlot &plot, const QVector<QPointF> &points, std::initializer_list<double> lines, qint64 n)
{
    double lo = INFINITY, hi = -INFINITY;
    for (const QPointF &p : points)
        lo = std::fmin(lo, p.y()), hi = std::fmax(hi, p.y());
    for (double v : lines)
        if (std::isfinite(v))
            lo = std::fmin(lo, v), hi = std::fmax(hi, v);
    if (!std::isfinite(lo))
        lo = 0, hi = 1;
    // A flat series (ranges all 0, say) still gets a readable span.
    const double pad = hi > lo ? (hi - lo) * 0.08 : hi != 0 ? std::fabs(hi) * 0.01 : 1.0;
    plot.yAxis->setRange(lo - pad, hi + pad);
    plot.xAxis->setRange(-0.5, std::max<double>(1, double(n) - 0.5));
}

} // namespace

Pages::Pages(const Summary &summary, const QVector<Group> &groups, const Charts &charts)
    : m_summary(summary), m_groups(groups), m_charts(charts)
{
    for (int i = 0; i < m_groups.size(); ++i)
        if (m_groups[i].spc.r.limits.valid || m_groups[i].spc.v.limits.valid)
            m_controlled.append(i);
}

namespace {

constexpr int kRowsPerPage = 40;

} // namespace

int Pages::tablePages() const
{
    return qMax(1, (int(m_groups.size()) + kRowsPerPage - 1) / kRowsPerPage);
}

int Pages::chartPages() const
{
    return 2 + (m_charts.boxes.size() > 1 ? 1 : 0);
}

int Pages::count() const
{
    return 1 + tablePages() + chartPages() + int(m_controlled.size());
}

void Pages::drawCover(QCPPainter &painter, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    double y = area.top() + unit * 4;
    painter.setPen(Qt::black);
    painter.setFont(textFont(unit * 2.2, true));
    painter.drawText(QPointF(area.left(), y), QCoreApplication::translate("Report", "Zentrel 质量报告"));
    y += unit * 3;
    // The period: as asked, else as the data run.
    QDateTime first, last;
    QStringList stations, lots;
    for (const Group &g : m_groups) {
        if (g.first.isValid() && (!first.isValid() || g.first < first))
            first = g.first;
        if (g.last.isValid() && (!last.isValid() || g.last > last))
            last = g.last;
        if (g.scope.kind == Scope::Station && !stations.contains(g.scope.name))
            stations << g.scope.name;
        if (g.scope.kind == Scope::Lot && !lots.contains(g.scope.name))
            lots << g.scope.name;
    }
    auto day = [](const QDate &asked, const QDateTime &seen) {
        return asked.isValid() ? asked.toString(Qt::ISODate)
               : seen.isValid() ? seen.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("—");
    };
    const Options &o = m_summary.asked;
    const QString all = QCoreApplication::translate("Report", "全部");
    auto list = [](const QStringList &items, int most) {
        QStringList shown = items.mid(0, most);
        if (items.size() > most)
            shown << QCoreApplication::translate("Report", "……共 %1 个").arg(items.size());
        return punctuation::listed(shown);
    };
    QVector<QPair<QString, QString>> facts = {
        {QCoreApplication::translate("Report", "期间"),
         QStringLiteral("%1 — %2").arg(day(o.from, first), day(o.to, last))
             + (o.from.isValid() || o.to.isValid() ? punctuation::aside(QString::fromUtf8(o.zone.id())) : QString())},
        {QCoreApplication::translate("Report", "筛选"),
         QCoreApplication::translate("Report", "工位：%1；批次：%2")
             .arg(o.stations.isEmpty() ? all : punctuation::listed(o.stations), o.lots.isEmpty() ? all : punctuation::listed(o.lots))},
        m_summary.database.isEmpty()
            ? qMakePair(QCoreApplication::translate("Report", "来源"),
                        QCoreApplication::translate("Report", "文件 %1 个（未能读取 %2 个），读数行 %3，跳过（格式不对或断行）%4")
                            .arg(m_summary.files.size()).arg(m_summary.unread.size()).arg(m_summary.lines).arg(m_summary.skipped))
            : qMakePair(QCoreApplication::translate("Report", "来源"),
                        QCoreApplication::translate("Report", "数据库 %1，行 %2，跳过（超出量程）%3")
                            .arg(m_summary.database).arg(m_summary.lines).arg(m_summary.skipped)),
        {QCoreApplication::translate("Report", "工位"), stations.isEmpty() ? QStringLiteral("—") : list(stations, 30)},
        {QCoreApplication::translate("Report", "批次"), lots.isEmpty() ? QStringLiteral("—") : list(lots, 30)},
        {QCoreApplication::translate("Report", "生成于"), QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))},
    };
    if (m_summary.limitsChanged)
        facts.append({QCoreApplication::translate("Report", "限值"), QCoreApplication::translate("Report", "限值在数据中改变过：每段限值单独统计。")});
    painter.setFont(textFont(unit * 0.9));
    const QFontMetricsF metrics(painter.font());
    for (const auto &[name, text] : facts) {
        painter.setFont(textFont(unit * 0.9, true));
        painter.drawText(QRectF(area.left(), y, area.width() * 0.15, unit * 1.4), Qt::AlignLeft | Qt::AlignVCenter, name);
        painter.setFont(textFont(unit * 0.9));
        const QRectF box(area.left() + area.width() * 0.15, y, area.width() * 0.85, unit * 4);
        const QRectF used = painter.boundingRect(box, Qt::TextWordWrap, text);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        y += std::max(unit * 1.6, used.height() + unit * 0.4);
    }
    // The files, named: which were read, which could not be.
    y += unit;
    painter.setFont(textFont(unit * 0.7));
    QStringList files;
    for (const QString &f : m_summary.unread)
        files << QCoreApplication::translate("Report", "未能读取：%1").arg(f);
    for (const QString &f : m_summary.files)
        files << f;
    for (int i = 0; i < files.size() && y < area.bottom() - unit * 2; ++i, y += unit * 0.95) {
        const bool last = i == files.size() - 1 || y + unit * 0.95 >= area.bottom() - unit * 2;
        const QString text = last && i < files.size() - 1 ? QCoreApplication::translate("Report", "……另有 %1 个文件").arg(files.size() - i)
                                                          : metrics.elidedText(files[i], Qt::ElideMiddle, area.width());
        painter.setPen(i < m_summary.unread.size() ? Qt::darkRed : Qt::darkGray);
        painter.drawText(QPointF(area.left(), y + unit * 0.7), text);
    }
    painter.setPen(Qt::black);
}

void Pages::drawTable(QCPPainter &painter, int page, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    const QStringList heads = {QCoreApplication::translate("Report", "范围"), QCoreApplication::translate("Report", "限值"),
                               QStringLiteral("n"), QStringLiteral("PASS"), QStringLiteral("NG"), QCoreApplication::translate("Report", "良率 %"),
                               QCoreApplication::translate("Report", "R 均值"), QStringLiteral("R σ"), QStringLiteral("R Cpk"),
                               QCoreApplication::translate("Report", "V 均值"), QStringLiteral("V σ"), QStringLiteral("V Cpk"),
                               QCoreApplication::translate("Report", "控制图信号")};
    const double widths[] = {0.1, 0.18, 0.055, 0.055, 0.045, 0.06, 0.065, 0.06, 0.055, 0.065, 0.06, 0.055, 0.145};
    painter.setFont(textFont(unit * 1.2, true));
    painter.drawText(QPointF(area.left(), area.top() + unit * 1.5),
                     tablePages() > 1 ? QCoreApplication::translate("Report", "统计表（%1/%2）").arg(page + 1).arg(tablePages())
                                      : QCoreApplication::translate("Report", "统计表"));
    const double rowHeight = unit * 1.45;
    double y = area.top() + unit * 3;
    auto row = [&](const QStringList &cells, const QVector<QColor> &fills, bool head) {
        double x = area.left();
        painter.setFont(textFont(unit * (head ? 0.62 : 0.6), head));
        const QFontMetricsF metrics(painter.font());
        for (int c = 0; c < cells.size(); ++c) {
            const QRectF cell(x, y, area.width() * widths[c], rowHeight);
            const QColor fill = head ? QColor(225, 225, 225) : fills.value(c, Qt::transparent);
            if (fill.alpha() > 0)
                painter.fillRect(cell, fill);
            painter.setPen(QPen(Qt::gray, 0.8));
            painter.drawRect(cell);
            painter.setPen(Qt::black);
            // Text left, numbers right, each inside its cell.
            const QRectF inner = cell.adjusted(unit * 0.2, 0, -unit * 0.2, 0);
            painter.drawText(inner, (c < 2 || head ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                             metrics.elidedText(cells[c], Qt::ElideRight, inner.width()));
            x += cell.width();
        }
        y += rowHeight;
    };
    row(heads, {}, true);
    for (int i = page * kRowsPerPage; i < m_groups.size() && i < (page + 1) * kRowsPerPage; ++i) {
        const Group &g = m_groups[i];
        const stats::LotStats &s = g.stats;
        const double rCpk = stats::cpk(s.r, g.limits.value(g.limits.rLow), g.limits.value(g.limits.rHigh));
        const double vCpk = stats::cpk(s.v, g.limits.value(g.limits.vLow), g.limits.value(g.limits.vHigh));
        const QStringList cells = {g.scope.text(), g.limits.text(true), QString::number(s.total()), QString::number(s.pass),
                                   QString::number(s.ng), std::isfinite(s.yield()) ? number(s.yield() * 100, 2) : QStringLiteral("—"),
                                   number(s.r.mean()), number(s.r.stddev()), number(rCpk, 2), number(s.v.mean()),
                                   number(s.v.stddev()), number(vCpk, 2),
                                   QStringLiteral("R %1 · V %2").arg(g.spc.r.total()).arg(g.spc.v.total())};
        QVector<QColor> fills(cells.size(), Qt::transparent);
        fills[5] = yieldColour(s.yield());
        fills[8] = capabilityColour(rCpk);
        fills[11] = capabilityColour(vCpk);
        row(cells, fills, false);
    }
    y += unit * 0.8;
    painter.setFont(textFont(unit * 0.6));
    painter.drawText(QRectF(area.left(), y, area.width(), unit * 3), Qt::AlignLeft | Qt::TextWordWrap,
                     QCoreApplication::translate("Report", "Cpk：绿 ≥ 1.33，黄 1.0–1.33，红 < 1.0。良率按同样的界限换算：绿 ≥ 99.994%，黄 ≥ 99.73%，红更低。"
                                                           "控制图信号：各组按时间顺序的 R、V 违反判异规则的次数（见各组的控制图页）。"));
}

void Pages::drawControlCharts(QCPPainter &painter, const Group &group, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    painter.setPen(Qt::black);
    painter.setFont(textFont(unit * 1.2, true));
    painter.drawText(QPointF(area.left(), area.top() + unit * 1.4),
                     QCoreApplication::translate("Report", "控制图（单值-移动极差）：%1").arg(group.scope.text()));
    painter.setFont(textFont(unit * 0.7));
    painter.drawText(QRectF(area.left(), area.top() + unit * 2, area.width(), unit * 2.4), Qt::AlignLeft | Qt::TextWordWrap,
                     QCoreApplication::translate("Report", "%1。控制限 = 中心 ± 3σ̂（σ̂ = 平均移动极差 / 1.128），来自这些读数本身，不是规格限。")
                         .arg(group.limits.text(true)));
    double y = area.top() + unit * 4.6;
    const double chartHeight = unit * 13.5, rangeHeight = unit * 7.5;
    auto render = [&](QCustomPlot &plot, double height, const QString &title) {
        plot.plotLayout()->insertRow(0);
        plot.plotLayout()->addElement(0, 0, new QCPTextElement(&plot, title, QFont(QStringLiteral("Noto Sans CJK SC"), 10, QFont::Bold)));
        painter.save();
        painter.translate(QPointF(area.left(), y));
        plot.toPainter(&painter, int(area.width()), int(height));
        painter.restore();
        y += height + unit * 0.4;
    };
    QStringList said;
    for (const auto &[name, s] : {std::pair<QString, const SpcSeries *>(QStringLiteral("R (mΩ)"), &group.spc.r),
                                  std::pair<QString, const SpcSeries *>(QStringLiteral("V (V)"), &group.spc.v)}) {
        if (!s->limits.valid) {
            y += chartHeight + rangeHeight + unit * 0.8;
            continue;
        }
        const stats::ControlLimits &l = s->limits;
        QCustomPlot individuals;
        seriesChart(individuals, s->points, name);
        // The signals, marked where they are (the first 2,000 of them).
        QVector<double> xs, ys;
        for (int i = 0; i < s->signalled.size() && i < 2000; ++i)
            xs << double(s->signalled[i].index), ys << s->signalled[i].value;
        QCPGraph *marks = individuals.addGraph();
        marks->setLineStyle(QCPGraph::lsNone);
        marks->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(QColor(220, 120, 0), 1.5), Qt::NoBrush, 7));
        marks->setData(xs, ys);
        for (int k : {-2, -1, 1, 2})
            limitLine(individuals, false, l.centre + k * l.sigma, QColor(190, 190, 190), Qt::DotLine);
        namedLine(individuals, l.ucl(), QStringLiteral("UCL"), QColor(200, 60, 0), Qt::DashLine);
        namedLine(individuals, l.centre, QStringLiteral("CL"), Qt::darkGreen, Qt::SolidLine);
        namedLine(individuals, l.lcl(), QStringLiteral("LCL"), QColor(200, 60, 0), Qt::DashLine);
        fitRange(individuals, s->points, {l.ucl(), l.lcl()}, s->n);
        render(individuals, chartHeight,
               s->sampleEvery > 1
                   ? QCoreApplication::translate("Report", "%1 单值图（样本：%4 个读数每 %5 个取 1 个，n = %2，信号 %3 个）")
                         .arg(name).arg(s->n).arg(s->total()).arg(s->readings).arg(s->sampleEvery)
                   : QCoreApplication::translate("Report", "%1 单值图（n = %2，信号 %3 个）").arg(name).arg(s->n).arg(s->total()));
        QCustomPlot ranges;
        seriesChart(ranges, s->ranges, QCoreApplication::translate("Report", "移动极差"));
        namedLine(ranges, 3.267 * s->averageRange, QStringLiteral("UCL"), QColor(200, 60, 0), Qt::DashLine);
        namedLine(ranges, s->averageRange, QStringLiteral("MR̄"), Qt::darkGreen, Qt::SolidLine);
        fitRange(ranges, s->ranges, {0.0, 3.267 * s->averageRange}, s->n);
        ranges.yAxis->ticker()->setTickCount(3);
        render(ranges, rangeHeight, QCoreApplication::translate("Report", "%1 移动极差图").arg(name));
        for (int rule = 1; rule <= 8; ++rule) {
            const qint64 n = s->count(rule);
            if (!n)
                continue;
            const auto first = std::find_if(s->signalled.begin(), s->signalled.end(), [rule](const SpcSignal &x) { return x.rule == rule; });
            // Beyond the listed signals a rule's first one is not known.
            said << (first == s->signalled.end()
                         ? QCoreApplication::translate("Report", "%1 规则 %2：%3 — %4 次").arg(name.left(1)).arg(rule).arg(stats::ruleText(rule)).arg(n)
                         : QCoreApplication::translate("Report", "%1 规则 %2：%3 — %4 次，首次在第 %5 个读数（%6）")
                               .arg(name.left(1)).arg(rule).arg(stats::ruleText(rule)).arg(n).arg(first->index)
                               .arg(QDateTime::fromMSecsSinceEpoch(first->ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        }
    }
    if (said.isEmpty())
        said << QCoreApplication::translate("Report", "没有信号：过程在这些读数中是稳定的。");
    painter.setFont(textFont(unit * 0.68));
    for (const QString &line : said) {
        if (y > area.bottom() - unit)
            break;
        painter.drawText(QPointF(area.left(), y + unit * 0.8), line);
        y += unit * 0.95;
    }
}

void Pages::draw(QCPPainter &painter, int page, const QRectF &area) const
{
    if (page == 0)
        return drawCover(painter, area);
    if (page <= tablePages())
        return drawTable(painter, page - 1, area);
    const int chart = page - 1 - tablePages();
    if (chart >= chartPages())
        return drawControlCharts(painter, m_groups[m_controlled[chart - chartPages()]], area);
    const double unit = area.height() / 70.0;
    QFont font = textFont(unit * 0.75);
    painter.setFont(font);
    painter.setPen(Qt::black);
    double rLow, rHigh, vLow, vHigh;
    limitsOf(inForce(m_groups), &rLow, &rHigh, &vLow, &vHigh);
    auto render = [&](QCustomPlot &plot, const QRectF &box, const QString &title) {
        plot.plotLayout()->insertRow(0);
        plot.plotLayout()->addElement(0, 0, new QCPTextElement(&plot, title, QFont(font.family(), 12, QFont::Bold)));
        painter.save();
        painter.translate(box.topLeft());
        plot.toPainter(&painter, int(box.width()), int(box.height()));
        painter.restore();
    };
    const QRectF top(area.left(), area.top(), area.width(), area.height() * 0.48);
    const QRectF bottom(area.left(), area.top() + area.height() * 0.52, area.width(), area.height() * 0.48);
    if (chart == 0) {
        QCustomPlot r, v;
        histogram(r, m_charts.r, rLow, rHigh, QStringLiteral("R (mΩ)"));
        histogram(v, m_charts.v, vLow, vHigh, QStringLiteral("V (V)"));
        render(r, top, QCoreApplication::translate("Report", "R 的分布，限值与拟合正态曲线"));
        render(v, bottom, QCoreApplication::translate("Report", "V 的分布，限值与拟合正态曲线"));
    } else if (chart == 1) {
        QCustomPlot run;
        QVector<double> xs, ys;
        const stats::RunningStats &s = m_charts.runStats;
        // The line breaks where the readings pause (a night, a shift): a
        // step far longer than the usual one, and at least half an hour.
        QVector<qint64> steps;
        for (int i = 1; i < m_charts.run.size(); ++i)
            steps << m_charts.run[i].first - m_charts.run[i - 1].first;
        std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
        const qint64 gap = std::max<qint64>(30 * 60 * 1000, steps.isEmpty() ? 0 : 20 * steps[steps.size() / 2]);
        for (int i = 0; i < m_charts.run.size(); ++i) {
            const auto &p = m_charts.run[i];
            if (i > 0 && p.first - m_charts.run[i - 1].first > gap)
                xs << (p.first + m_charts.run[i - 1].first) / 2000.0, ys << qQNaN();
            xs << p.first / 1000.0;
            ys << p.second;
        }
        QCPGraph *graph = run.addGraph();
        graph->setData(xs, ys, true);
        graph->setPen(QPen(QColor(40, 90, 160), 1));
        graph->setAdaptiveSampling(true);
        QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
        ticker->setDateTimeFormat(QStringLiteral("MM-dd\nHH:mm"));
        run.xAxis->setTicker(ticker);
        run.xAxis->setLabel(QCoreApplication::translate("Report", "时间"));
        run.yAxis->setLabel(QStringLiteral("R (mΩ)"));
        run.rescaleAxes();
        limitLine(run, false, rLow, Qt::red);
        limitLine(run, false, rHigh, Qt::red);
        limitLine(run, false, s.mean(), Qt::darkGreen, Qt::SolidLine);
        limitLine(run, false, s.mean() - 3 * s.stddev(), Qt::darkGreen);
        limitLine(run, false, s.mean() + 3 * s.stddev(), Qt::darkGreen);
        render(run, QRectF(area.left(), area.top(), area.width(), area.height() * 0.6),
               QCoreApplication::translate("Report", "R 随时间（红：限值；绿：均值 ± 3σ）"));
    } else {
        QCustomPlot boxes;
        QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
        int i = 1;
        for (auto it = m_charts.boxes.cbegin(); it != m_charts.boxes.cend(); ++it, ++i) {
            const Box &b = it.value();
            auto *box = new QCPStatisticalBox(boxes.xAxis, boxes.yAxis);
            box->addData(i, b.min, b.q1, b.median, b.q3, b.max);
            ticker->addTick(i, it.key());
        }
        boxes.xAxis->setTicker(ticker);
        boxes.yAxis->setLabel(QStringLiteral("R (mΩ)"));
        boxes.rescaleAxes();
        boxes.xAxis->setRange(0, i);
        limitLine(boxes, false, rLow, Qt::red);
        limitLine(boxes, false, rHigh, Qt::red);
        render(boxes, top, QCoreApplication::translate("Report", "各工位的 R（箱线图：最小、四分位、中位、最大）"));
    }
}

bool Pages::writePdf(const QString &path, QString *error) const
{
    if (fileKind(path) == FileKind::Other) {
        if (error)
            *error = notRegularFileReason(path);
        return false;
    }
    // Made in memory, then put in place whole: the PDF writer does not say
    // when a file under it fails (a full disk, a size limit).
    QByteArray bytes;
    QBuffer scratch(&bytes);
    scratch.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&scratch);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setResolution(150);
        writer.setTitle(QCoreApplication::translate("Report", "Zentrel 质量报告"));
        QCPPainter painter;
        if (!painter.begin(&writer)) {
            if (error)
                *error = QCoreApplication::translate("Report", "无法生成 PDF");
            return false;
        }
        const QRectF area(0, 0, writer.width(), writer.height());
        for (int page = 0; page < count(); ++page) {
            if (page > 0)
                writer.newPage();
            draw(painter, page, area);
        }
        painter.end();
    }
    return saveFileAtomically(path, bytes, error);
}

bool Pages::writePngs(const QString &prefix, QString *error) const
{
    for (int page = 0; page < count(); ++page) {
        QImage image(1240, 1754, QImage::Format_RGB32); // A4 at 150 dpi
        image.fill(Qt::white);
        {
            QCPPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            draw(painter, page, QRectF(88, 88, 1240 - 176, 1754 - 176));
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        if (!saveFileAtomically(QStringLiteral("%1-%2.png").arg(prefix).arg(page + 1), bytes, error))
            return false;
    }
    return true;
}

} // namespace report
