#include "reportpages.h"
#include "pagefont.h"
#include "platform/punctuation.h"
#include "stats/capability.h"
#include "storage/textfile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QPdfWriter>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace report {

using pages::pageFont;

namespace {

constexpr int kDpi = 150;
const QColor kLimitColour(200, 60, 0), kSpecColour(Qt::red), kDataColour(40, 90, 160);

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

// Every axis's text in device pixels, in proportion to the page.
void pageFonts(QCustomPlot &plot, double unit)
{
    for (QCPAxis *axis : plot.axisRect()->axes()) {
        axis->setTickLabelFont(pageFont(unit * 0.62));
        axis->setLabelFont(pageFont(unit * 0.68));
        axis->setLabelPadding(int(unit * 0.3));
    }
}

QString number(double v, int decimals = 4)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("—");
}

// A count of values beyond the drawn range, at the edge they lie past
// (nothing for none); about: "≈" when the count is scaled from a sample.
void edgeMark(QCustomPlot &plot, double count, const QPointF &at, Qt::Alignment align, const QString &text, const QString &about = QString())
{
    if (!(count > 0))
        return;
    auto *mark = new QCPItemText(&plot);
    mark->position->setType(QCPItemPosition::ptPlotCoords);
    mark->position->setCoords(at);
    mark->setPositionAlignment(align);
    mark->setText(text.arg(about + QString::number(count, 'f', 0)));
    mark->setColor(kSpecColour);
    mark->setFont(plot.xAxis->labelFont());
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
    limitLine(plot, true, low, kSpecColour);
    limitLine(plot, true, high, kSpecColour);
    plot.xAxis->setRange(lo - width, hi + width);
    plot.yAxis->setRange(0, *std::max_element(h.counts.begin(), h.counts.end()) * 1.08 + 1e-9);
    // Far outliers beyond the bins, counted at the edge they lie past.
    const QString about = h.estimated ? QStringLiteral("≈") : QString();
    edgeMark(plot, h.below, QPointF(lo, plot.yAxis->range().upper), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("◀ %1"), about);
    edgeMark(plot, h.above, QPointF(hi, plot.yAxis->range().upper), Qt::AlignRight | Qt::AlignTop, QStringLiteral("%1 ▶"), about);
}

// The normal curve of a mean and σ, scaled to n values in bins of width.
void normalCurve(QCustomPlot &plot, double mu, double sigma, double n, double width, const QPen &pen)
{
    if (!(std::isfinite(sigma) && sigma > 0 && std::isfinite(mu)))
        return;
    const QCPRange x = plot.xAxis->range();
    QVector<double> xs, ys;
    for (int i = 0; i <= 200; ++i) {
        const double at = x.lower + x.size() * i / 200.0;
        xs << at;
        ys << n * width * std::exp(-0.5 * std::pow((at - mu) / sigma, 2)) / (sigma * std::sqrt(2 * M_PI));
    }
    QCPGraph *curve = plot.addGraph();
    curve->setData(xs, ys, true);
    curve->setPen(pen);
    const double peak = n * width / (sigma * std::sqrt(2 * M_PI));
    if (peak * 1.08 > plot.yAxis->range().upper && peak < plot.yAxis->range().upper * 3)
        plot.yAxis->setRangeUpper(peak * 1.08);
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

// The control limits named on a right-hand axis, outside the data: lines
// too close to name apart share one label at the centre line.
void namedLimits(QCustomPlot &plot, const QVector<QPair<QString, double>> &lines, double unit, double plotHeight)
{
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    const QCPRange range = plot.yAxis->range();
    const double pixelsPerUnit = plotHeight * 0.7 / std::max(range.size(), 1e-300);
    double closest = INFINITY;
    for (int i = 1; i < lines.size(); ++i)
        closest = std::fmin(closest, std::fabs(lines[i].second - lines[i - 1].second) * pixelsPerUnit);
    if (closest < unit * 1.1 && lines.size() > 1) {
        QStringList all;
        for (const auto &[name, value] : lines)
            all << QStringLiteral("%1 %2").arg(name, number(value));
        ticker->addTick(lines[lines.size() / 2].second, all.join(QLatin1Char('\n')));
    } else {
        for (const auto &[name, value] : lines)
            if (std::isfinite(value))
                ticker->addTick(value, QStringLiteral("%1 %2").arg(name, number(value)));
    }
    plot.yAxis2->setVisible(true);
    plot.yAxis2->setTicker(ticker);
    plot.yAxis2->setSubTicks(false);
    plot.yAxis2->setTickLabelColor(kLimitColour);
    plot.yAxis2->setTickLabelFont(pageFont(unit * 0.56));
    plot.yAxis2->grid()->setVisible(false);
    plot.yAxis2->setRange(range);
}

void seriesChart(QCustomPlot &plot, const QVector<QPointF> &points, const QString &label, const QString &along)
{
    QVector<double> xs, ys;
    for (const QPointF &p : points)
        xs << p.x(), ys << p.y();
    QCPGraph *g = plot.addGraph();
    g->setData(xs, ys, true);
    g->setPen(QPen(kDataColour, 1));
    g->setScatterStyle(points.size() <= 200 ? QCPScatterStyle(QCPScatterStyle::ssDisc, 3) : QCPScatterStyle());
    plot.yAxis->setLabel(label);
    plot.xAxis->setLabel(along);
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

// A text broken into lines that fit a width: between words where it can,
// anywhere where it must.
QString wrapped(const QString &text, const QFont &font, double width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines.join(QLatin1Char('\n'));
}

// A title above a chart (wrapped to its width), drawn with the chart into box.
void render(QCPPainter &painter, QCustomPlot &plot, const QRectF &box, const QString &title, double unit)
{
    plot.plotLayout()->insertRow(0);
    const QFont font = pageFont(unit * 0.72, true);
    auto *text = new QCPTextElement(&plot, wrapped(title, font, box.width() - unit), font);
    text->setMargins(QMargins(0, int(unit * 0.2), 0, 0));
    plot.plotLayout()->addElement(0, 0, text);
    painter.save();
    painter.translate(box.topLeft());
    plot.toPainter(&painter, int(box.width()), int(box.height()));
    painter.restore();
}

// Text wrapped into a width from y on; returns the y below it.
// The height a paragraph takes, as paragraph() draws it.
double paragraphHeight(QCPPainter &painter, const QFont &font, const QRectF &area, const QString &text)
{
    painter.setFont(font);
    return painter.boundingRect(QRectF(area.left(), 0, area.width(), 1e6), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text).height();
}

double paragraph(QCPPainter &painter, const QFont &font, const QRectF &area, double y, const QString &text, const QColor &colour = Qt::black)
{
    painter.setFont(font);
    painter.setPen(colour);
    const QRectF box(area.left(), y, area.width(), area.bottom() - y);
    const QRectF used = painter.boundingRect(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    painter.setPen(Qt::black);
    return y + used.height();
}

QString seriesName(bool v)
{
    return v ? QStringLiteral("V (V)") : QStringLiteral("R (mΩ)");
}

} // namespace

QRectF pageArea(QPageSize::PageSizeId paper)
{
    const QSize page = QPageSize(paper).sizePixels(kDpi);
    const double margin = 15 / 25.4 * kDpi;
    return QRectF(margin, margin, page.width() - 2 * margin, page.height() - 2 * margin);
}

Pages::Pages(const Summary &summary, const QVector<Group> &groups, const Charts &charts)
    : m_summary(summary), m_groups(groups), m_charts(charts)
{
    m_pages.append(Page {Page::Cover});
    // The table's rows, as many to a page as their wrapped names allow.
    const QRectF area = pageArea(m_summary.paper);
    const double unit = area.height() / 70.0, room = area.height() - unit * 3 - unit * 1.45 - unit * 4;
    int first = 0;
    double used = 0;
    for (int i = 0; i < m_groups.size(); ++i) {
        const double h = rowHeight(tableRow(m_groups[i]), unit);
        if (i > first && used + h > room) {
            m_pages.append(Page {Page::Table, first, i});
            first = i, used = 0;
        }
        used += h;
    }
    m_pages.append(Page {Page::Table, first, int(m_groups.size())});
    m_tablePages = int(m_pages.size()) - 1;
    m_pages.append(Page {Page::Histograms});
    m_pages.append(Page {Page::Run});
    if (m_charts.boxes.size() > 1)
        m_pages.append(Page {Page::Boxes});
    for (int i = 0; i < m_groups.size(); ++i) {
        const Group &g = m_groups[i];
        if (g.spc.r.limits.valid || g.spc.v.limits.valid)
            m_pages.append(Page {Page::Control, i, i});
        for (bool v : {false, true}) {
            const double low = g.limits.value(v ? g.limits.vLow : g.limits.rLow), high = g.limits.value(v ? g.limits.vHigh : g.limits.rHigh);
            const stats::RunningStats &values = v ? g.stats.v : g.stats.r;
            const stats::Capability c = capabilityOf(values, v ? g.spc.v : g.spc.r, low, high);
            if (values.count() > 1 && (std::isfinite(c.cpk.value) || std::isfinite(c.ppk.value)))
                m_pages.append(Page {Page::Capability, i, i, v});
        }
    }
    for (int i = 0; i < m_summary.k.size(); ++i)
        m_pages.append(Page {Page::SelfDischarge, i, i});
}

void Pages::drawCover(QCPPainter &painter, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    double y = area.top() + unit * 4;
    painter.setPen(Qt::black);
    painter.setFont(pages::pageFont(unit * 2.2, true));
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
                        QCoreApplication::translate("Report", "文件 %n 个（未能读取 %1 个），读数行 %2，跳过（格式不对或断行）%3", nullptr,
                                                    int(m_summary.files.size()))
                            .arg(m_summary.unread.size()).arg(m_summary.lines).arg(m_summary.skipped))
            : qMakePair(QCoreApplication::translate("Report", "来源"),
                        QCoreApplication::translate("Report", "数据库 %1，行 %2，跳过（超出量程）%3")
                            .arg(m_summary.database).arg(m_summary.lines).arg(m_summary.skipped)
                            + (m_summary.until.isValid()
                                   ? QCoreApplication::translate("Report", "；数据截至 %1（采集程序最后一次提交）")
                                         .arg(m_summary.until.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                                   : QString())),
        {QCoreApplication::translate("Report", "工位"), stations.isEmpty() ? QStringLiteral("—") : list(stations, 30)},
        {QCoreApplication::translate("Report", "批次"), lots.isEmpty() ? QStringLiteral("—") : list(lots, 30)},
        {QCoreApplication::translate("Report", "生成于"), QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))},
    };
    if (m_summary.limitsChanged)
        facts.append({QCoreApplication::translate("Report", "限值"), QCoreApplication::translate("Report", "限值在数据中改变过：每段限值单独统计。")});
    painter.setFont(pages::pageFont(unit * 0.9));
    const QFontMetricsF metrics(painter.font());
    for (const auto &[name, text] : facts) {
        painter.setFont(pages::pageFont(unit * 0.9, true));
        painter.drawText(QRectF(area.left(), y, area.width() * 0.15, unit * 1.4), Qt::AlignLeft | Qt::AlignVCenter, name);
        painter.setFont(pages::pageFont(unit * 0.9));
        const QRectF box(area.left() + area.width() * 0.15, y, area.width() * 0.85, unit * 4);
        const QRectF used = painter.boundingRect(box, Qt::TextWordWrap, text);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
        y += std::max(unit * 1.6, used.height() + unit * 0.4);
    }
    // The files, named: which were read, which could not be.
    y += unit;
    painter.setFont(pages::pageFont(unit * 0.7));
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

namespace {

const double kWidths[] = {0.12, 0.17, 0.055, 0.055, 0.045, 0.06, 0.065, 0.06, 0.055, 0.065, 0.06, 0.055, 0.135};
constexpr double kRowFont = 0.6, kRowPad = 0.5; // in units of the page

// Cpk as the capability page gives it: with the within σ.
double cpkWithin(const Group &g, bool v)
{
    const LimitKey &l = g.limits;
    return v ? capabilityOf(g.stats.v, g.spc.v, l.value(l.vLow), l.value(l.vHigh)).cpk.value
             : capabilityOf(g.stats.r, g.spc.r, l.value(l.rLow), l.value(l.rHigh)).cpk.value;
}

// Lines a text takes in a width: a name is shown whole, never cut.
int wrappedLines(const QString &text, const QFont &font, double width)
{
    return int(wrapped(text, font, width).count(QLatin1Char('\n'))) + 1;
}

} // namespace

QStringList Pages::tableRow(const Group &g) const
{
    const stats::LotStats &s = g.stats;
    const double rCpk = cpkWithin(g, false), vCpk = cpkWithin(g, true);
    return {g.scope.text(), g.limits.text(true), QString::number(s.total()), QString::number(s.pass),
            QString::number(s.ng), std::isfinite(s.yield()) ? number(s.yield() * 100, 2) : QStringLiteral("—"),
            number(s.r.mean()), number(s.r.stddev()), number(rCpk, 2), number(s.v.mean()),
            number(s.v.stddev()), number(vCpk, 2),
            g.spc.r.ruled || g.spc.v.ruled ? QStringLiteral("R %1 · V %2").arg(g.spc.r.total()).arg(g.spc.v.total())
                                           : QCoreApplication::translate("Report", "不检查")};
}

// Tall enough for every cell's text, names wrapped within their columns.
double Pages::rowHeight(const QStringList &cells, double unit) const
{
    const QFont font = pageFont(unit * kRowFont);
    const double width = pageArea(m_summary.paper).width();
    int lines = 1;
    for (int c = 0; c < cells.size(); ++c)
        lines = std::max(lines, wrappedLines(cells[c], font, width * kWidths[c] - unit * 0.4));
    return lines * QFontMetricsF(font).lineSpacing() + unit * kRowPad;
}

void Pages::drawTable(QCPPainter &painter, const Page &page, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    const QStringList heads = {QCoreApplication::translate("Report", "范围"), QCoreApplication::translate("Report", "限值"),
                               QStringLiteral("n"), QStringLiteral("PASS"), QStringLiteral("NG"), QCoreApplication::translate("Report", "良率 %"),
                               QCoreApplication::translate("Report", "R 均值"), QStringLiteral("R σ"), QStringLiteral("R Cpk"),
                               QCoreApplication::translate("Report", "V 均值"), QStringLiteral("V σ"), QStringLiteral("V Cpk"),
                               QCoreApplication::translate("Report", "控制图信号")};
    const int number = int(std::find_if(m_pages.begin(), m_pages.end(), [&](const Page &p) { return p.kind == Page::Table && p.first == page.first; })
                           - m_pages.begin());
    painter.setFont(pageFont(unit * 1.2, true));
    painter.drawText(QPointF(area.left(), area.top() + unit * 1.5),
                     m_tablePages > 1 ? QCoreApplication::translate("Report", "统计表（%1/%2）").arg(number).arg(m_tablePages)
                                      : QCoreApplication::translate("Report", "统计表"));
    double y = area.top() + unit * 3;
    auto row = [&](const QStringList &cells, const QVector<QColor> &fills, bool head) {
        const double height = rowHeight(cells, unit);
        double x = area.left();
        painter.setFont(pageFont(unit * kRowFont, head));
        for (int c = 0; c < cells.size(); ++c) {
            const QRectF cell(x, y, area.width() * kWidths[c], height);
            const QColor fill = head ? QColor(225, 225, 225) : fills.value(c, Qt::transparent);
            if (fill.alpha() > 0)
                painter.fillRect(cell, fill);
            painter.setPen(QPen(Qt::gray, 0.8));
            painter.drawRect(cell);
            painter.setPen(Qt::black);
            // Text left (wrapped, whole), numbers right, each inside its cell.
            const QRectF inner = cell.adjusted(unit * 0.2, 0, -unit * 0.2, 0);
            QTextOption option((c < 2 || head ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            painter.drawText(inner, cells[c], option);
            x += cell.width();
        }
        y += height;
    };
    row(heads, {}, true);
    for (int i = page.first; i < page.last; ++i) {
        const Group &g = m_groups[i];
        const QStringList cells = tableRow(g);
        QVector<QColor> fills(cells.size(), Qt::transparent);
        fills[5] = yieldColour(g.stats.yield());
        fills[8] = capabilityColour(cpkWithin(g, false));
        fills[11] = capabilityColour(cpkWithin(g, true));
        row(cells, fills, false);
    }
    y += unit * 0.8;
    paragraph(painter, pageFont(unit * 0.6), area, y,
              QCoreApplication::translate("Report", "Cpk：绿 ≥ 1.33，黄 1.0–1.33，红 < 1.0。良率按同样的界限换算：绿 ≥ 99.994%，黄 ≥ 99.73%，红更低。"
                                                    "控制图信号：各组按时间顺序的 R、V 违反判异规则的次数（见各组的控制图页）。"));
}

namespace {

// The quantity's charts in a box: the values' chart (individuals or
// subgroup means) over the range chart, signals marked where they are.
void controlPair(QCPPainter &painter, const SpcSeries &s, bool v, const QRectF &box, double unit)
{
    const QString name = seriesName(v);
    const bool grouped = s.subgroup > 1;
    const QString along = grouped ? QCoreApplication::translate("Report", "子组序号（时间顺序）")
                                  : QCoreApplication::translate("Report", "读数序号（时间顺序）");
    const stats::ControlLimits &l = s.limits;
    const QRectF top(box.left(), box.top(), box.width(), box.height() * 0.6);
    const QRectF bottom(box.left(), top.bottom(), box.width(), box.height() - top.height());
    QCustomPlot values;
    pageFonts(values, unit);
    seriesChart(values, s.points, name, along);
    // The signals listed, rings where few, dots where many: past 200, the
    // lowest and highest of each of 1,000 stretches of the chart, so marks
    // lie wherever signals do and a page stays small.
    QVector<double> xs, ys;
    if (s.signalled.size() <= 200) {
        for (const SpcSignal &x : s.signalled)
            xs << double(x.index), ys << x.value;
    } else {
        QMap<qint64, QPair<const SpcSignal *, const SpcSignal *>> stretches; // by stretch: lowest, highest
        const qint64 wide = std::max<qint64>(1, (s.charted + 999) / 1000);
        for (const SpcSignal &x : s.signalled) {
            auto it = stretches.find(x.index / wide);
            if (it == stretches.end())
                stretches.insert(x.index / wide, {&x, &x});
            else if (x.value < it->first->value)
                it->first = &x;
            else if (x.value > it->second->value)
                it->second = &x;
        }
        for (const auto &[low, high] : qAsConst(stretches)) {
            xs << double(low->index), ys << low->value;
            if (high != low)
                xs << double(high->index), ys << high->value;
        }
    }
    QCPGraph *marks = values.addGraph();
    marks->setLineStyle(QCPGraph::lsNone);
    // A dot is a round-capped pen's stroke of no length: a tenth of a
    // disc's bytes in the PDF, where thousands of them made a page 1 MB.
    QPen dot(QColor(220, 120, 0), unit * 0.3, Qt::SolidLine, Qt::RoundCap);
    marks->setScatterStyle(xs.size() <= 200 ? QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(QColor(220, 120, 0), 1.5), Qt::NoBrush, unit * 0.35)
                                            : QCPScatterStyle(QCPScatterStyle::ssDot, dot, Qt::NoBrush, unit * 0.3));
    marks->setData(xs, ys);
    for (int k : {-2, -1, 1, 2})
        limitLine(values, false, l.centre + k * l.sigma, QColor(190, 190, 190), Qt::DotLine);
    limitLine(values, false, l.ucl(), kLimitColour);
    limitLine(values, false, l.centre, Qt::darkGreen, Qt::SolidLine);
    limitLine(values, false, l.lcl(), kLimitColour);
    fitRange(values, s.points, {l.ucl(), l.lcl()}, s.charted);
    namedLimits(values, {{QStringLiteral("UCL"), l.ucl()}, {grouped ? QStringLiteral("X̿") : QStringLiteral("CL"), l.centre}, {QStringLiteral("LCL"), l.lcl()}},
                unit, top.height());
    const QString signalsSaid = s.ruled ? QCoreApplication::translate("Report", "信号 %1 个").arg(s.total())
                                        : QCoreApplication::translate("Report", "不检查判异规则");
    const QString sample = s.sampleEvery > 1 ? QCoreApplication::translate("Report", "，样本：%1 个读数每 %2 个取 1 个").arg(s.readings).arg(s.sampleEvery)
                                             : QString();
    render(painter, values, top,
           grouped ? QCoreApplication::translate("Report", "%1 均值图（子组 %2，%3 个子组，n = %4%5，%6）")
                         .arg(name).arg(s.subgroup).arg(s.charted).arg(s.n).arg(sample, signalsSaid)
                   : QCoreApplication::translate("Report", "%1 单值图（n = %2%3，%4）").arg(name).arg(s.n).arg(sample, signalsSaid),
           unit);
    QCustomPlot ranges;
    pageFonts(ranges, unit);
    seriesChart(ranges, s.ranges, grouped ? QCoreApplication::translate("Report", "极差") : QCoreApplication::translate("Report", "移动极差"), along);
    limitLine(ranges, false, s.rangeHigh(), kLimitColour);
    limitLine(ranges, false, s.averageRange, Qt::darkGreen, Qt::SolidLine);
    fitRange(ranges, s.ranges, {0.0, s.rangeHigh()}, s.charted);
    ranges.yAxis->ticker()->setTickCount(3);
    QVector<QPair<QString, double>> rangeLines = {{QStringLiteral("UCL"), s.rangeHigh()}, {grouped ? QStringLiteral("R̄") : QStringLiteral("MR̄"), s.averageRange}};
    if (s.rangeLow() > 0)
        rangeLines.append({QStringLiteral("LCL"), s.rangeLow()});
    namedLimits(ranges, rangeLines, unit, bottom.height());
    render(painter, ranges, bottom,
           grouped ? QCoreApplication::translate("Report", "%1 极差图").arg(name) : QCoreApplication::translate("Report", "%1 移动极差图").arg(name),
           unit);
}

// What the rules found, one line each: the rule, its count, its first time.
QStringList signalLines(const SpcSeries &s, bool v)
{
    QStringList said;
    const QString name = v ? QStringLiteral("V") : QStringLiteral("R");
    const QString point = s.subgroup > 1 ? QCoreApplication::translate("Report", "子组") : QCoreApplication::translate("Report", "读数");
    for (int rule = 1; rule <= 8; ++rule) {
        const qint64 n = s.count(rule);
        if (!n)
            continue;
        const auto first = std::find_if(s.signalled.begin(), s.signalled.end(), [rule](const SpcSignal &x) { return x.rule == rule; });
        // Beyond the listed signals a rule's first one is not known.
        said << (first == s.signalled.end()
                     ? QCoreApplication::translate("Report", "%1 规则 %2：%3 — %4 次").arg(name).arg(rule).arg(stats::ruleText(rule)).arg(n)
                     : QCoreApplication::translate("Report", "%1 规则 %2：%3 — %4 次，首次在第 %5 个%7（%6）")
                           .arg(name).arg(rule).arg(stats::ruleText(rule)).arg(n).arg(first->index)
                           .arg(QDateTime::fromMSecsSinceEpoch(first->ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), point));
    }
    return said;
}

} // namespace

void Pages::drawControlCharts(QCPPainter &painter, const Group &group, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    const bool grouped = group.spc.r.subgroup > 1 || group.spc.v.subgroup > 1;
    double y = paragraph(painter, pageFont(unit * 1.2, true), area, area.top(),
                         grouped ? QCoreApplication::translate("Report", "控制图（均值-极差，子组 %1）：%2").arg(kSubgroup).arg(group.scope.text())
                                 : QCoreApplication::translate("Report", "控制图（单值-移动极差）：%1").arg(group.scope.text()));
    QString about = grouped ? QCoreApplication::translate("Report", "%1。超过 %2 个读数的组按连续 %3 个读数一个子组作图：均值图的控制限 = X̿ ± A2·R̄（A2 = 0.577），"
                                                                  "极差图 D3·R̄ 到 D4·R̄（0 到 2.114·R̄），来自这些读数本身，不是规格限；判异规则用于子组均值。")
                                  .arg(group.limits.text(true)).arg(kIndividualsMost).arg(kSubgroup)
                            : QCoreApplication::translate("Report", "%1。控制限 = 中心 ± 3σ̂（σ̂ = 平均移动极差 / 1.128），来自这些读数本身，不是规格限。")
                                  .arg(group.limits.text(true));
    if (!group.spc.r.ruled || !group.spc.v.ruled)
        about += QCoreApplication::translate("Report", "这一组混有多个工位的读数，不检查判异规则：各工位的控制图在各自的页上。");
    for (bool v : {false, true})
        if ((v ? group.spc.v : group.spc.r).unrevised > 0)
            about += seriesName(v) + unrevisedText(v ? group.spc.v : group.spc.r).trimmed();
    y = paragraph(painter, pageFont(unit * 0.7), area, y + unit * 0.3, about) + unit * 0.3;
    QStringList said;
    for (bool v : {false, true})
        said += signalLines(v ? group.spc.v : group.spc.r, v);
    if (said.isEmpty() && group.spc.r.ruled && group.spc.v.ruled)
        said << QCoreApplication::translate("Report", "没有信号：过程在这些读数中是稳定的。");
    double listed = unit * 0.5;
    for (const QString &line : said)
        listed += paragraphHeight(painter, pageFont(unit * 0.66), area, line);
    const double each = (area.bottom() - y - listed) / 2;
    for (bool v : {false, true}) {
        const SpcSeries &s = v ? group.spc.v : group.spc.r;
        if (s.limits.valid)
            controlPair(painter, s, v, QRectF(area.left(), y, area.width(), each), unit);
        else // a blank half of a page would say nothing
            paragraph(painter, pageFont(unit * 0.8), area, y + unit,
                      QCoreApplication::translate("Report", "%1：少于两个读数（子组），或读数都相同，没有控制图。").arg(seriesName(v)));
        y += each;
    }
    y += unit * 0.5;
    for (const QString &line : said)
        y = paragraph(painter, pageFont(unit * 0.66), area, y, line);
}

namespace {

// The run chart's stretches at most: a line apart at a page's width.
constexpr int kRunStretches = 600;

// The histogram of the tested readings, rebuilt from their order
// statistics (each stands for the ranks since the one before), scaled to
// all n readings.
Histogram histogramOf(const SpcSeries &s, double low, double high)
{
    if (s.order.isEmpty())
        return Histogram();
    // The quartiles: the order statistics nearest ranks n/4 and 3n/4.
    auto quartile = [&s](double p) {
        const double rank = 1 + p * double(s.tested - 1);
        const int i = int(std::lower_bound(s.ranks.begin(), s.ranks.end(), rank) - s.ranks.begin());
        return s.order[qBound(0, i, s.order.size() - 1)];
    };
    Histogram h = Histogram::frameBulk(s.order.first(), quartile(0.25), quartile(0.75), s.order.last(), low, high);
    const double scale = s.tested > 0 ? double(s.n) / double(s.tested) : 1;
    h.estimated = s.order.size() < s.n; // each order statistic stands for the ranks before it
    double before = 0;
    for (int i = 0; i < s.order.size(); ++i) {
        h.count(s.order[i], (s.ranks[i] - before) * scale);
        before = s.ranks[i];
    }
    return h;
}

// Values against the normal quantiles of their ranks (Blom's plotting
// positions), the fitted normal as a line, the axis in percent.
void probabilityPlot(QCustomPlot &plot, const SpcSeries &s, double mean, double sigma, const QString &label)
{
    QVector<double> xs, ys;
    for (int i = 0; i < s.order.size(); ++i)
        xs << s.order[i], ys << stats::normalQuantile((s.ranks[i] - 0.375) / (double(s.tested) + 0.25));
    QCPGraph *points = plot.addGraph();
    points->setLineStyle(QCPGraph::lsNone);
    points->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, kDataColour, 3));
    points->setData(xs, ys, true);
    plot.rescaleAxes();
    plot.yAxis->setRange(-3.9, 3.9);
    if (std::isfinite(sigma) && sigma > 0) {
        QCPGraph *fit = plot.addGraph();
        fit->setData({mean - 4 * sigma, mean + 4 * sigma}, {-4, 4});
        fit->setPen(QPen(QColor(200, 80, 0), 1.5));
    }
    QSharedPointer<QCPAxisTickerText> percent(new QCPAxisTickerText);
    for (double p : {0.1, 1.0, 10.0, 50.0, 90.0, 99.0, 99.9})
        percent->addTick(stats::normalQuantile(p / 100), QString::number(p));
    plot.yAxis->setTicker(percent);
    plot.yAxis->setLabel(QCoreApplication::translate("Report", "累积百分比 %"));
    plot.xAxis->setLabel(label);
}

// The limits beside the process's spread, within and overall: where
// the 99.73 % of a normal process lies against the limits.
void spreadPlot(QCustomPlot &plot, const stats::Capability &c, double low, double high, const QString &label, double unit)
{
    struct Row
    {
        QString name;
        double from, to;
        QColor colour;
    };
    const QVector<Row> rows = {
        {QCoreApplication::translate("Report", "规格"), low, high, kSpecColour},
        {QCoreApplication::translate("Report", "整体 ±3σ"), c.mean - 3 * c.sigmaOverall, c.mean + 3 * c.sigmaOverall, kDataColour},
        {QCoreApplication::translate("Report", "组内 ±3σ"), c.mean - 3 * c.sigmaWithin, c.mean + 3 * c.sigmaWithin, Qt::darkGreen},
    };
    double lo = INFINITY, hi = -INFINITY;
    for (const Row &r : rows)
        for (double x : {r.from, r.to})
            if (std::isfinite(x))
                lo = std::fmin(lo, x), hi = std::fmax(hi, x);
    if (!std::isfinite(lo))
        return;
    const double pad = (hi - lo) * 0.1 + 1e-12;
    plot.xAxis->setRange(lo - pad, hi + pad);
    plot.yAxis->setRange(0.3, rows.size() + 0.7);
    QSharedPointer<QCPAxisTickerText> names(new QCPAxisTickerText);
    for (int i = 0; i < rows.size(); ++i) {
        const Row &r = rows[i];
        const double y = rows.size() - i;
        names->addTick(y, r.name);
        if (!std::isfinite(r.from) && !std::isfinite(r.to))
            continue;
        auto *line = new QCPItemLine(&plot);
        line->start->setCoords(std::isfinite(r.from) ? r.from : lo - pad, y);
        line->end->setCoords(std::isfinite(r.to) ? r.to : hi + pad, y);
        line->setPen(QPen(r.colour, unit * 0.25));
        line->setHead(std::isfinite(r.to) ? QCPLineEnding(QCPLineEnding::esBar, unit * 0.8, unit * 0.8) : QCPLineEnding());
        line->setTail(std::isfinite(r.from) ? QCPLineEnding(QCPLineEnding::esBar, unit * 0.8, unit * 0.8) : QCPLineEnding());
    }
    plot.yAxis->setTicker(names);
    plot.yAxis->setSubTicks(false);
    plot.yAxis->grid()->setVisible(false);
    plot.xAxis->setLabel(label);
}

// The indices with their intervals and what the normality test says.
void indicesPanel(QCPPainter &painter, const stats::Capability &c, const QRectF &box, double unit)
{
    double y = paragraph(painter, pageFont(unit * 0.72, true), box, box.top() + unit * 0.3,
                         QCoreApplication::translate("Report", "能力指数（95% 置信区间）"));
    auto estimate = [](const char *name, const stats::Estimate &e) {
        return QStringLiteral("%1  %2   [%3, %4]").arg(QLatin1String(name), number(e.value, 2), number(e.low, 2), number(e.high, 2));
    };
    const QStringList lines = {
        QCoreApplication::translate("Report", "n = %1，均值 %2").arg(c.n).arg(number(c.mean)),
        QCoreApplication::translate("Report", "σ 组内 %1，σ 整体 %2").arg(number(c.sigmaWithin), number(c.sigmaOverall)),
        estimate("Cp", c.cp), estimate("Cpk", c.cpk), estimate("Pp", c.pp), estimate("Ppk", c.ppk),
        QCoreApplication::translate("Report", "正态性（Anderson–Darling）：A² %1，p %2（%3 个读数）")
            .arg(number(c.normality.ad, 3), c.normality.pText()).arg(c.normality.n),
    };
    for (const QString &line : lines)
        y = paragraph(painter, pageFont(unit * 0.66), box, y + unit * 0.25, line);
    if (c.normalityRejected())
        paragraph(painter, pageFont(unit * 0.66, true), box, y + unit * 0.4,
                  QCoreApplication::translate("Report", "数据不呈正态（p < 0.05）：这些指数假定正态分布，可能误导。"), Qt::darkRed);
}

} // namespace

void Pages::drawCapability(QCPPainter &painter, const Group &group, bool v, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    const SpcSeries &s = v ? group.spc.v : group.spc.r;
    const double low = group.limits.value(v ? group.limits.vLow : group.limits.rLow);
    const double high = group.limits.value(v ? group.limits.vHigh : group.limits.rHigh);
    const stats::Capability c = capabilityOf(v ? group.stats.v : group.stats.r, s, low, high);
    const QString name = seriesName(v);
    double y = paragraph(painter, pageFont(unit * 1.2, true), area, area.top(),
                         QCoreApplication::translate("Report", "过程能力：%1 — %2").arg(group.scope.text(), name));
    y = paragraph(painter, pageFont(unit * 0.7), area, y + unit * 0.3, group.limits.text(true)) + unit * 0.3;
    const double rowHeight = (area.bottom() - y) / 3, half = area.width() / 2;
    if (s.limits.valid)
        controlPair(painter, s, v, QRectF(area.left(), y, area.width(), rowHeight), unit);
    y += rowHeight;
    QCustomPlot bars;
    pageFonts(bars, unit);
    const Histogram h = histogramOf(s, low, high);
    histogram(bars, h, low, high, name);
    normalCurve(bars, c.mean, c.sigmaOverall, double(s.n), h.width, QPen(QColor(200, 80, 0), 2));
    normalCurve(bars, c.mean, c.sigmaWithin, double(s.n), h.width, QPen(Qt::darkGreen, 1.5, Qt::DashLine));
    render(painter, bars, QRectF(area.left(), y, half, rowHeight),
           QCoreApplication::translate("Report", "分布、规格限与正态曲线（橙：整体，绿虚线：组内）"), unit);
    QCustomPlot probability;
    pageFonts(probability, unit);
    probabilityPlot(probability, s, c.mean, c.sigmaOverall, name);
    render(painter, probability, QRectF(area.left() + half, y, half, rowHeight), QCoreApplication::translate("Report", "正态概率图"), unit);
    y += rowHeight;
    QCustomPlot spread;
    pageFonts(spread, unit);
    spreadPlot(spread, c, low, high, name, unit);
    render(painter, spread, QRectF(area.left(), y, half, rowHeight), QCoreApplication::translate("Report", "过程范围与规格"), unit);
    indicesPanel(painter, c, QRectF(area.left() + half + unit, y, half - unit, rowHeight), unit);
}

void Pages::drawSelfDischarge(QCPPainter &painter, const KGroup &k, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    const QString from = k.fromStage.isEmpty() ? QStringLiteral("—") : k.fromStage;
    double y = paragraph(painter, pageFont(unit * 1.2, true), area, area.top(),
                         QCoreApplication::translate("Report", "自放电 K：批次 %1，%2 → %3")
                             .arg(k.lot.isEmpty() ? QStringLiteral("—") : k.lot, from, k.stage));
    y = paragraph(painter, pageFont(unit * 0.7), area, y + unit * 0.3,
                  QCoreApplication::translate("Report", "K = (%1 的电压 − %2 的电压) × 1000 / 静置天数（mV/天），如工位所算：每个电池取它在 %2 之前 %9 天内最近一次有效的 %1 记录，"
                                                        "静置不足限值组的最少天数则没有 K；一个电池在一个批次和工序中只计最近一次记录。"
                                                        "n = %3 个电池，均值 %4，σ %5，P5 %6，中位 %7，P95 %8。")
                      .arg(from, k.stage).arg(k.k.size()).arg(number(k.stats.mean(), 3), number(k.stats.stddev(), 3),
                                                                      number(k.percentile(5), 3), number(k.percentile(50), 3), number(k.percentile(95), 3))
                      .arg(kEarlierStageDays))
        + unit * 0.3;
    QCustomPlot bars;
    pageFonts(bars, unit);
    Histogram h;
    if (!k.k.isEmpty()) {
        h = Histogram::frame(k.k.first(), k.k.last(), NAN, NAN);
        for (double x : k.k)
            h.counts[h.bin(x)] += 1;
    }
    histogram(bars, h, NAN, NAN, QCoreApplication::translate("Report", "K (mV/天)"));
    // Cells are counted whole.
    QSharedPointer<QCPAxisTickerFixed> whole(new QCPAxisTickerFixed);
    whole->setTickStep(1);
    whole->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    bars.yAxis->setTicker(whole);
    limitLine(bars, true, k.stats.mean(), Qt::darkGreen, Qt::SolidLine);
    const double chart = area.height() * 0.5;
    render(painter, bars, QRectF(area.left(), y, area.width(), chart), QCoreApplication::translate("Report", "K 的分布（绿：均值）"), unit);
    y += chart + unit;
    y = paragraph(painter, pageFont(unit * 0.7, !k.beyond.isEmpty()), area, y,
              k.beyond.isEmpty() ? QCoreApplication::translate("Report", "没有电池因 K 判为 NG。")
                                 : QCoreApplication::translate("Report", "因 K 判为 NG 的电池（%1 个）：%2").arg(k.beyond.size()).arg(punctuation::listed(k.beyond)),
              k.beyond.isEmpty() ? Qt::black : Qt::darkRed);
    if (!k.none.isEmpty())
        paragraph(painter, pageFont(unit * 0.7), area, y + unit * 0.4,
                  QCoreApplication::translate("Report", "没有 K 的电池：%1。").arg(noKText(k)));
}

void Pages::drawSummaryCharts(QCPPainter &painter, Page::Kind kind, const QRectF &area) const
{
    const double unit = area.height() / 70.0;
    double rLow, rHigh, vLow, vHigh;
    limitsOf(inForce(m_groups), &rLow, &rHigh, &vLow, &vHigh);
    const QRectF top(area.left(), area.top(), area.width(), area.height() * 0.48);
    const QRectF bottom(area.left(), area.top() + area.height() * 0.52, area.width(), area.height() * 0.48);
    if (kind == Page::Histograms) {
        QCustomPlot r, v;
        for (auto [plot, h, low, high, v] : {std::make_tuple(&r, &m_charts.r, rLow, rHigh, false), std::make_tuple(&v, &m_charts.v, vLow, vHigh, true)}) {
            pageFonts(*plot, unit);
            histogram(*plot, *h, low, high, seriesName(v));
            normalCurve(*plot, h->stats.mean(), h->stats.stddev(), double(h->stats.count()), h->width, QPen(QColor(200, 80, 0), 2));
        }
        render(painter, r, top, QCoreApplication::translate("Report", "R 的分布，限值与拟合正态曲线"), unit);
        render(painter, v, bottom, QCoreApplication::translate("Report", "V 的分布，限值与拟合正态曲线"), unit);
    } else if (kind == Page::Run) {
        QCustomPlot run;
        pageFonts(run, unit);
        QVector<double> xs, ys;
        const stats::RunningStats &s = m_charts.runStats;
        // The line breaks where the readings pause (a night, a shift): a
        // step far longer than the usual one, and at least half an hour.
        QVector<qint64> steps;
        for (int i = 1; i < m_charts.run.size(); ++i)
            steps << m_charts.run[i].first - m_charts.run[i - 1].first;
        std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
        const qint64 gap = std::max<qint64>(30 * 60 * 1000, steps.isEmpty() ? 0 : 20 * steps[steps.size() / 2]);
        // Past what a line can show apart, each stretch of readings is drawn
        // as the band from its lowest to its highest: the limits stay in
        // sight over a hundred thousand readings.
        const int every = std::max(1, int(m_charts.run.size() / kRunStretches));
        QVector<double> highs;
        const auto &points = m_charts.run;
        for (int i = 0, j = 0; i < points.size(); i = j) {
            if (i > 0 && points[i].first - points[i - 1].first > gap)
                xs << (points[i].first + points[i - 1].first) / 2000.0, ys << qQNaN(), highs << qQNaN();
            double lo = points[i].second, hi = lo;
            // A stretch ends at a pause too.
            for (j = i + 1; j < std::min<int>(i + every, points.size()) && points[j].first - points[j - 1].first <= gap; ++j)
                lo = std::min(lo, points[j].second), hi = std::max(hi, points[j].second);
            xs << points[i].first / 1000.0;
            ys << lo;
            highs << hi;
        }
        QCPGraph *graph = run.addGraph();
        graph->setData(xs, ys, true);
        graph->setPen(QPen(kDataColour, 1));
        if (every > 1) {
            QCPGraph *top = run.addGraph();
            top->setData(xs, highs, true);
            top->setPen(QPen(kDataColour, 1));
            top->setBrush(QColor(90, 130, 200, 110));
            top->setChannelFillGraph(graph);
        }
        QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
        ticker->setDateTimeFormat(QStringLiteral("MM-dd\nHH:mm"));
        run.xAxis->setTicker(ticker);
        run.xAxis->setLabel(QCoreApplication::translate("Report", "时间"));
        run.yAxis->setLabel(seriesName(false));
        run.rescaleAxes();
        // The bulk's scale, as the histogram's: far outliers counted at the edge.
        const Histogram &h = m_charts.r;
        if (!h.counts.isEmpty() && (h.below > 0 || h.above > 0)) {
            const double lo = h.lo, hi = h.lo + h.width * kHistogramBins, pad = (hi - lo) * 0.05;
            run.yAxis->setRange(lo - pad, hi + pad);
            const double left = run.xAxis->range().lower;
            edgeMark(run, h.below, QPointF(left, lo - pad), Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("▼ %1"));
            edgeMark(run, h.above, QPointF(left, hi + pad), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("▲ %1"));
        }
        limitLine(run, false, rLow, kSpecColour);
        limitLine(run, false, rHigh, kSpecColour);
        limitLine(run, false, s.mean(), Qt::darkGreen, Qt::SolidLine);
        limitLine(run, false, s.mean() - 3 * s.stddev(), Qt::darkGreen);
        limitLine(run, false, s.mean() + 3 * s.stddev(), Qt::darkGreen);
        render(painter, run, QRectF(area.left(), area.top(), area.width(), area.height() * 0.6),
               QCoreApplication::translate("Report", "R 随时间（红：限值；绿：均值 ± 3σ）"), unit);
    } else {
        QCustomPlot boxes;
        pageFonts(boxes, unit);
        QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
        int i = 1;
        for (auto it = m_charts.boxes.cbegin(); it != m_charts.boxes.cend(); ++it, ++i) {
            const Box &b = it.value();
            auto *box = new QCPStatisticalBox(boxes.xAxis, boxes.yAxis);
            box->addData(i, b.min, b.q1, b.median, b.q3, b.max);
            ticker->addTick(i, it.key());
        }
        boxes.xAxis->setTicker(ticker);
        boxes.yAxis->setLabel(seriesName(false));
        boxes.rescaleAxes();
        boxes.xAxis->setRange(0, i);
        limitLine(boxes, false, rLow, kSpecColour);
        limitLine(boxes, false, rHigh, kSpecColour);
        render(painter, boxes, top, QCoreApplication::translate("Report", "各工位的 R（箱线图：最小、四分位、中位、最大）"), unit);
    }
}

void Pages::draw(QCPPainter &painter, const Page &page, const QRectF &area) const
{
    painter.setPen(Qt::black);
    switch (page.kind) {
    case Page::Cover: return drawCover(painter, area);
    case Page::Table: return drawTable(painter, page, area);
    case Page::Control: return drawControlCharts(painter, m_groups[page.first], area);
    case Page::Capability: return drawCapability(painter, m_groups[page.first], page.v, area);
    case Page::SelfDischarge: return drawSelfDischarge(painter, m_summary.k[page.first], area);
    default: return drawSummaryCharts(painter, page.kind, area);
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
        writer.setPageSize(QPageSize(m_summary.paper));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setResolution(kDpi);
        writer.setTitle(QCoreApplication::translate("Report", "Zentrel 质量报告"));
        QCPPainter painter;
        if (!painter.begin(&writer)) {
            if (error)
                *error = QCoreApplication::translate("Report", "无法生成 PDF");
            return false;
        }
        // The writer's origin is the margin's corner; the area the same size as an image's.
        const QRectF area(QPointF(0, 0), pageArea(m_summary.paper).size());
        for (int page = 0; page < count(); ++page) {
            if (page > 0)
                writer.newPage();
            draw(painter, m_pages[page], area);
        }
        painter.end();
    }
    return saveFileAtomically(path, pages::mendTextLayer(bytes), error);
}

bool Pages::writePngs(const QString &prefix, QString *error) const
{
    const QSize size = QPageSize(m_summary.paper).sizePixels(kDpi);
    for (int page = 0; page < count(); ++page) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QCPPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            draw(painter, m_pages[page], pageArea(m_summary.paper));
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
