#include "packsheet.h"
#include "match/planfiles.h"
#include "report/pages/pagefont.h"

#include <QCoreApplication>

#include "storage/textfile.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <numeric>

namespace match {

namespace {

constexpr double kMargin = 10, kHeaderMm = 16, kBandMm = 6, kBoxW = 27.6, kPerRow = 10;
constexpr double kBoxLeast = 12, kBoxMost = 28; // a slot's height: at least, and grown to at most
constexpr double kGap = 2.5, kFooterMm = 12, kSparesMm = 16;

int rowsOf(int p) { return (p + int(kPerRow) - 1) / int(kPerRow); }

QColor shade(double deviation, double span)
{
    // Blue below the mean resistance, red above, white at it.
    const double t = span > 0 ? std::clamp(deviation / span, -1.0, 1.0) : 0.0;
    return t < 0 ? QColor::fromRgbF(1 + 0.45 * t, 1 + 0.3 * t, 1.0) : QColor::fromRgbF(1.0, 1 - 0.3 * t, 1 - 0.45 * t);
}

// Letter heights in millimetres, whatever the device's dots.
struct Pen
{
    QPainter &painter;
    QFont font = pages::pageFont(10); // its families give the PDF a true text layer
    void size(double mm, bool bold)
    {
        font.setPointSizeF(mm * 72.0 / painter.device()->logicalDpiY());
        font.setBold(bold);
        painter.setFont(font);
    }
};

// Room for groups on a page: the header, the signatures, and on the last
// page the spares.
constexpr double kRoom = PackSheet::kHeightMm - 2 * kMargin - kHeaderMm - kFooterMm - kSparesMm;

} // namespace

PackSheet::PackSheet(const QString &pack, const Rules &rules, const QVector<Cell> &cells, const Plan &plan,
                     const QDateTime &made)
    : m_pack(pack), m_rules(rules), m_cells(cells), m_plan(plan), m_made(made)
{
}

double PackSheet::boxHeight() const
{
    // As tall as the groups of one page allow (a 4-group pack fills its
    // page), never smaller than a slot's four lines need.
    const int rows = rowsOf(m_rules.parallel);
    const int groups = std::max(1, std::min(int(m_plan.groups.size()), int(kRoom / (kBandMm + rows * kBoxLeast + kGap))));
    return std::clamp((kRoom / groups - kBandMm - kGap) / rows, kBoxLeast, kBoxMost);
}

int PackSheet::groupsPerPage() const
{
    const double block = kBandMm + rowsOf(m_rules.parallel) * boxHeight() + kGap;
    return std::max(1, int(kRoom / block));
}

int PackSheet::pages() const
{
    return std::max(1, (int(m_plan.groups.size()) + groupsPerPage() - 1) / groupsPerPage());
}

void PackSheet::paint(QPainter &painter, int page) const
{
    painter.save();
    painter.fillRect(QRectF(0, 0, kWidthMm, kHeightMm), Qt::white);
    Pen pen {painter};
    pen.size(4.5, true);
    const QRectF title(kMargin, kMargin, kWidthMm - 2 * kMargin, 7);
    painter.setPen(Qt::black);
    painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter,
                     QCoreApplication::translate("Match", "配组表  电池包 %1   %2 串 × %3 并").arg(m_pack).arg(m_rules.series).arg(m_rules.parallel));
    pen.size(2.6, false);
    painter.drawText(title, Qt::AlignRight | Qt::AlignVCenter,
                     QCoreApplication::translate("Match", "第 %1 / %2 页   %3").arg(page + 1).arg(pages()).arg(m_made.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    painter.drawText(QRectF(kMargin, kMargin + 7, kWidthMm - 2 * kMargin, 6), Qt::AlignLeft | Qt::AlignVCenter,
                     QCoreApplication::translate("Match", "规则：组内 ΔR ≤ %1% 平均 R，ΔV ≤ %2 mV    各组 R_g 极差 %3%%4    备用 %5 个")
                         .arg(m_rules.rSpreadPct)
                         .arg(m_rules.vSpreadMv)
                         .arg(QString::number(m_plan.rgSpread * 100, 'f', 5))
                         .arg((m_rules.usesK() ? QCoreApplication::translate("Match", "，%1").arg(kRulesText(m_rules)) : QString())
                              + (m_rules.useCapacity ? QCoreApplication::translate("Match", "，容量极差 %1%").arg(QString::number(m_plan.capacitySpread * 100, 'f', 5))
                                                     : QString()))
                         .arg(m_plan.spares.size()));

    QVector<double> rg;
    for (const QVector<int> &g : m_plan.groups)
        rg.append(figuresOf(m_cells, g).rg);
    const double meanRg = std::accumulate(rg.begin(), rg.end(), 0.0) / std::max(1, int(rg.size()));
    // Full colour at the largest deviation, but never for less than 0.1 %:
    // groups equal to a millionth stay white.
    double span = meanRg * 1e-3;
    for (double r : qAsConst(rg))
        span = std::max(span, std::fabs(r - meanRg));

    const int first = page * groupsPerPage(), last = std::min(int(m_plan.groups.size()), first + groupsPerPage());
    double y = kMargin + kHeaderMm;
    for (int g = first; g < last; ++g) {
        paintGroup(painter, g, y, meanRg, span);
        y += kBandMm + rowsOf(m_rules.parallel) * boxHeight() + kGap;
    }
    if (page == pages() - 1)
        paintSpares(painter, y);
    paintSignatures(painter);
    painter.restore();
}

void PackSheet::paintGroup(QPainter &painter, int g, double y, double meanRg, double span) const
{
    Pen pen {painter};
    const QPen thin(Qt::black, 0.15);
    const GroupFigures f = figuresOf(m_cells, m_plan.groups[g]);
    const QRectF band(kMargin, y, kPerRow * kBoxW, kBandMm);
    painter.fillRect(band, shade(f.rg - meanRg, span));
    painter.setPen(thin);
    painter.drawRect(band);
    // Where it goes in the series: the first group at the pack's − end.
    const int s = m_rules.series;
    const QString end = g == 0 && s > 1       ? QCoreApplication::translate("Match", "（接 −）")
                        : g == s - 1 && s > 1 ? QCoreApplication::translate("Match", "（接 +）")
                                              : QString();
    pen.size(3.2, true);
    painter.drawText(band.adjusted(1.5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     QCoreApplication::translate("Match", "第 %1 组  串位 %1/%2%3").arg(g + 1).arg(s).arg(end));
    pen.size(2.6, false);
    QString text = QCoreApplication::translate("Match", "n %1   平均 R %2 mΩ   ΔR %3%   ΔV %4 mV   R_g %5 mΩ")
                       .arg(f.n)
                       .arg(QString::number(f.meanR, 'f', 4), QString::number(f.spreadRPct, 'f', 2), QString::number(f.spreadVMv, 'f', 1),
                            QString::number(f.rg, 'f', 5));
    if (m_rules.usesK())
        text += QCoreApplication::translate("Match", "   ΔK %1 mV/天").arg(QString::number(f.spreadKMvDay, 'f', 3));
    if (m_rules.useCapacity)
        text += QCoreApplication::translate("Match", "   容量 %1 mAh").arg(QString::number(f.capacity, 'f', 0));
    painter.drawText(band.adjusted(1.5, 0, -1.5, 0), Qt::AlignRight | Qt::AlignVCenter, text);
    y += kBandMm;
    const double h = boxHeight(), line = (h - 1.0) / 4; // four lines: number and tick, ID, R, V and K
    const QVector<int> &cells = m_plan.groups[g];
    for (int k = 0; k < cells.size(); ++k) {
        const Cell &c = m_cells[cells[k]];
        const QRectF box(kMargin + (k % int(kPerRow)) * kBoxW, y + (k / int(kPerRow)) * h, kBoxW, h);
        painter.setPen(thin);
        painter.drawRect(box);
        auto row = [&](int i) { return QRectF(box.left() + 0.8, box.top() + 0.5 + i * line, box.width() - 1.6, line); };
        // A tick box for the assembler, and the slot's number beside it.
        const double tick = std::min(3.4, line * 0.9);
        painter.setPen(QPen(Qt::black, 0.25));
        painter.drawRect(QRectF(box.right() - 0.8 - tick, row(0).center().y() - tick / 2, tick, tick));
        pen.size(std::min(3.0, line * 0.75), true);
        painter.drawText(row(0), Qt::AlignLeft | Qt::AlignVCenter, QCoreApplication::translate("Match", "%1-%2").arg(g + 1).arg(k + 1));
        pen.size(std::min(2.9, line * 0.72), true);
        painter.drawText(row(1), Qt::AlignLeft | Qt::AlignVCenter, c.id);
        pen.size(std::min(2.5, line * 0.65), false);
        painter.drawText(row(2), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("R %1 mΩ").arg(QString::number(c.r, 'f', 4)));
        painter.drawText(row(3), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("V %1 V").arg(QString::number(c.v, 'f', 4)));
        if (std::isfinite(c.k)) // self-discharge, beside V
            painter.drawText(row(3), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("K %1").arg(QString::number(c.k, 'f', 2)));
    }
}

void PackSheet::paintSpares(QPainter &painter, double y) const
{
    Pen pen {painter};
    QStringList ids;
    for (int c : m_plan.spares)
        ids << m_cells[c].id;
    // As many as two lines hold; the plan file has them all.
    const int shown = std::min(int(ids.size()), 24);
    QString text = QCoreApplication::translate("Match", "备用电芯（%1 个）：%2").arg(ids.size()).arg(ids.mid(0, shown).join(QStringLiteral("  ")));
    if (shown < ids.size())
        text += QCoreApplication::translate("Match", "  …… 另 %1 个见配组文件").arg(ids.size() - shown);
    pen.size(2.5, false);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(kMargin, y, kPerRow * kBoxW, kSparesMm - 2), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

void PackSheet::paintSignatures(QPainter &painter) const
{
    Pen pen {painter};
    pen.size(2.8, false);
    painter.setPen(QPen(Qt::black, 0.2));
    const double top = kHeightMm - kMargin - kFooterMm + 4, width = kPerRow * kBoxW / 4;
    const QStringList fields = {QCoreApplication::translate("Match", "装配人"), QCoreApplication::translate("Match", "日期"),
                                QCoreApplication::translate("Match", "签名"), QCoreApplication::translate("Match", "复核")};
    for (int i = 0; i < fields.size(); ++i) {
        const QRectF field(kMargin + i * width, top, width - 6, 7);
        painter.drawText(field, Qt::AlignLeft | Qt::AlignBottom, fields[i] + QCoreApplication::translate("Match", "："));
        painter.drawLine(QPointF(field.left() + 14, field.bottom()), QPointF(field.right(), field.bottom()));
    }
}

bool PackSheet::writePdf(const QString &path, QString *error) const
{
    // Made in memory, then put in place whole: the PDF writer does not say
    // when a file under it fails (a full disk, a size limit).
    QByteArray bytes;
    QBuffer scratch(&bytes);
    scratch.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&scratch);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(QPageLayout::Landscape);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(QCoreApplication::translate("Match", "配组表 %1").arg(m_pack));
        QPainter painter;
        if (!painter.begin(&writer)) {
            if (error)
                *error = QCoreApplication::translate("Match", "无法生成 PDF");
            return false;
        }
        const double scale = writer.width() / kWidthMm;
        for (int page = 0; page < pages(); ++page) {
            if (page > 0)
                writer.newPage();
            painter.save();
            painter.scale(scale, scale);
            paint(painter, page);
            painter.restore();
        }
        painter.end();
    }
    return saveFileAtomically(path, pages::mendTextLayer(bytes), error);
}

QImage PackSheet::image(int page, int dpi) const
{
    const double scale = dpi / 25.4;
    QImage image(int(kWidthMm * scale), int(kHeightMm * scale), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(scale, scale);
    paint(painter, page);
    return image;
}

bool PackSheet::writePngs(const QString &path, QString *error) const
{
    const QFileInfo info(path);
    for (int page = 0; page < pages(); ++page) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image(page, 150).save(&buffer, "PNG");
        const QString name = page == 0 ? path : info.dir().filePath(QStringLiteral("%1-%2.png").arg(info.completeBaseName()).arg(page + 1));
        if (!saveFileAtomically(name, bytes, error))
            return false;
    }
    return true;
}

} // namespace match
