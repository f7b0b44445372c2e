#include "reportpages.h"

#include <QCoreApplication>

#include "storage/textfile.h"

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryFile>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace report {

namespace {

constexpr int kTableLinesPerPage = 58;

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

Pages::Pages(const Summary &summary, const QVector<Group> &groups, const Charts &charts)
    : m_summary(summary), m_groups(groups), m_charts(charts)
{
}

QStringList Pages::tableLines() const
{
    return tableText(m_groups).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int Pages::count() const
{
    const int tablePages = qMax(1, (int(tableLines().size()) + 8 + kTableLinesPerPage - 1) / kTableLinesPerPage);
    return tablePages + 2 + (m_charts.boxes.size() > 1 ? 1 : 0);
}

void Pages::draw(QCPPainter &painter, int page, const QRectF &area) const
{
    const QStringList lines = tableLines();
    const int tablePages = count() - 2 - (m_charts.boxes.size() > 1 ? 1 : 0);
    const double unit = area.height() / 70.0; // a line of text
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(int(unit * 0.75));
    painter.setFont(font);
    painter.setPen(Qt::black);
    if (page < tablePages) {
        double y = area.top();
        int from = 0;
        if (page == 0) {
            QFont title = font;
            title.setPixelSize(int(unit * 1.6));
            title.setBold(true);
            painter.setFont(title);
            painter.drawText(QPointF(area.left(), y + unit * 1.6), QCoreApplication::translate("Report", "Zentrel 质量报告"));
            painter.setFont(font);
            y += unit * 3;
            const QStringList head = {
                m_summary.database.isEmpty()
                    ? QCoreApplication::translate("Report", "文件 %1 个，读数行 %2，跳过（格式不对或断行）%3")
                          .arg(m_summary.files.size()).arg(m_summary.lines).arg(m_summary.skipped)
                    : QCoreApplication::translate("Report", "数据库 %1，行 %2，跳过（超出量程）%3")
                          .arg(m_summary.database).arg(m_summary.lines).arg(m_summary.skipped),
                m_summary.limitsChanged ? QCoreApplication::translate("Report", "限值在数据中改变过：每段限值单独统计。") : QString(),
                QCoreApplication::translate("Report", "生成于 %1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))};
            for (const QString &h : head) {
                if (h.isEmpty())
                    continue;
                painter.drawText(QPointF(area.left(), y + unit), h);
                y += unit * 1.2;
            }
            y += unit;
        } else {
            from = kTableLinesPerPage * page - 8;
        }
        QFont mono(QStringLiteral("Noto Sans Mono CJK SC"));
        mono.setPixelSize(int(unit * 0.7));
        painter.setFont(mono);
        for (int i = from; i < lines.size() && y < area.bottom() - unit; ++i) {
            painter.drawText(QPointF(area.left(), y + unit), lines[i]);
            y += unit * 1.05;
        }
        return;
    }
    double rLow, rHigh, vLow, vHigh;
    limitsOf(inForce(m_groups), &rLow, &rHigh, &vLow, &vHigh);
    const int chart = page - tablePages;
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
        const station::RunningStats &s = m_charts.runStats;
        for (const auto &p : m_charts.run) {
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
    // Written aside, then put in place whole.
    QTemporaryFile scratch(QDir::temp().filePath(QStringLiteral("zentrel-report-XXXXXX.pdf")));
    if (!scratch.open()) {
        if (error)
            *error = scratch.errorString();
        return false;
    }
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
    scratch.seek(0);
    return saveFileAtomically(path, scratch.readAll(), error);
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
