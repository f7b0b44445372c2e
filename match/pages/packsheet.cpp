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

namespace match {

namespace {

constexpr double kMargin = 10, kHeaderMm = 16, kBandMm = 5.5, kBoxW = 27.6, kBoxH = 11, kPerRow = 10;

int rowsOf(int p) { return (p + int(kPerRow) - 1) / int(kPerRow); }

QColor shade(double deviation, double span)
{
    // Blue below the mean resistance, red above, white at it.
    const double t = span > 0 ? std::clamp(deviation / span, -1.0, 1.0) : 0.0;
    return t < 0 ? QColor::fromRgbF(1 + 0.45 * t, 1 + 0.3 * t, 1.0) : QColor::fromRgbF(1.0, 1 - 0.3 * t, 1 - 0.45 * t);
}

} // namespace

PackSheet::PackSheet(const QString &pack, const Rules &rules, const QVector<Cell> &cells, const Plan &plan,
                     const QDateTime &made)
    : m_pack(pack), m_rules(rules), m_cells(cells), m_plan(plan), m_made(made)
{
}

int PackSheet::groupsPerPage() const
{
    const double block = kBandMm + rowsOf(m_rules.parallel) * kBoxH + 2.5;
    return std::max(1, int((kHeightMm - 2 * kMargin - kHeaderMm) / block));
}

int PackSheet::pages() const
{
    return std::max(1, (int(m_plan.groups.size()) + groupsPerPage() - 1) / groupsPerPage());
}

void PackSheet::paint(QPainter &painter, int page) const
{
    painter.save();
    painter.fillRect(QRectF(0, 0, kWidthMm, kHeightMm), Qt::white);
    QFont font = pages::pageFont(10); // sized below; its families give the PDF a true text layer
    // Sizes in millimetres of letter height, whatever the device's dots.
    const double pointsPerMm = 72.0 / painter.device()->logicalDpiY();
    auto setSize = [&](double mm, bool bold) {
        font.setPointSizeF(mm * pointsPerMm);
        font.setBold(bold);
        painter.setFont(font);
    };
    setSize(4.5, true);
    const QRectF title(kMargin, kMargin, kWidthMm - 2 * kMargin, 7);
    painter.setPen(Qt::black);
    painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter,
                     QCoreApplication::translate("Match", "配组表  电池包 %1   %2 串 × %3 并").arg(m_pack).arg(m_rules.series).arg(m_rules.parallel));
    setSize(2.6, false);
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

    double meanRg = 0, span = 0;
    QVector<GroupFigures> figures;
    for (const QVector<int> &g : m_plan.groups) {
        figures.append(figuresOf(m_cells, g));
        meanRg += figures.last().rg / m_plan.groups.size();
    }
    // Full colour at the largest deviation, but never for less than 0.1 %:
    // groups equal to a millionth stay white.
    span = meanRg * 1e-3;
    for (const GroupFigures &f : figures)
        span = std::max(span, std::fabs(f.rg - meanRg));

    const int first = page * groupsPerPage(), last = std::min(int(m_plan.groups.size()), first + groupsPerPage());
    double y = kMargin + kHeaderMm;
    QPen thin(Qt::black, 0.15);
    for (int g = first; g < last; ++g) {
        const GroupFigures &f = figures[g];
        const QRectF band(kMargin, y, kPerRow * kBoxW, kBandMm);
        painter.fillRect(band, shade(f.rg - meanRg, span));
        painter.setPen(thin);
        painter.drawRect(band);
        setSize(3.0, true);
        painter.drawText(band.adjusted(1.5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QCoreApplication::translate("Match", "第 %1 组").arg(g + 1));
        setSize(2.6, false);
        QString text = QCoreApplication::translate("Match", "n %1   平均 R %2 mΩ   ΔR %3%   ΔV %4 mV   R_g %5 mΩ")
                           .arg(f.n)
                           .arg(QString::number(f.meanR, 'f', 4), QString::number(f.spreadRPct, 'f', 2),
                                QString::number(f.spreadVMv, 'f', 1), QString::number(f.rg, 'f', 5));
        if (m_rules.usesK())
            text += QCoreApplication::translate("Match", "   ΔK %1 mV/天").arg(QString::number(f.spreadKMvDay, 'f', 3));
        if (m_rules.useCapacity)
            text += QCoreApplication::translate("Match", "   容量 %1 mAh").arg(QString::number(f.capacity, 'f', 0));
        painter.drawText(band.adjusted(18, 0, -1.5, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
        y += kBandMm;
        const QVector<int> &cells = m_plan.groups[g];
        for (int s = 0; s < cells.size(); ++s) {
            const Cell &c = m_cells[cells[s]];
            const QRectF box(kMargin + (s % int(kPerRow)) * kBoxW, y + (s / int(kPerRow)) * kBoxH, kBoxW, kBoxH);
            painter.setPen(thin);
            painter.drawRect(box);
            setSize(2.0, false);
            painter.drawText(box.adjusted(0.8, 0.4, -0.8, 0), Qt::AlignLeft | Qt::AlignTop, QString::number(s + 1));
            setSize(2.9, true);
            painter.drawText(box.adjusted(0.8, 0.6, -0.8, -6.2), Qt::AlignRight | Qt::AlignVCenter, c.id);
            setSize(2.6, false);
            painter.drawText(box.adjusted(0.8, 4.8, -0.8, -3.0), Qt::AlignLeft | Qt::AlignVCenter,
                             QStringLiteral("R %1 mΩ").arg(QString::number(c.r, 'f', 4)));
            painter.drawText(box.adjusted(0.8, 7.8, -0.8, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             QStringLiteral("V %1 V").arg(QString::number(c.v, 'f', 4)));
            if (std::isfinite(c.k)) { // self-discharge, beside V
                setSize(2.2, false);
                painter.drawText(box.adjusted(0.8, 7.8, -0.8, 0), Qt::AlignRight | Qt::AlignVCenter,
                                 QStringLiteral("K %1").arg(QString::number(c.k, 'f', 2)));
            }
        }
        y += rowsOf(m_rules.parallel) * kBoxH + 2.5;
    }
    painter.restore();
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
