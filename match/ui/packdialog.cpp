#include "packdialog.h"

#include "match/cellfiles.h"
#include "match/packledger.h"
#include "match/pages/packsheet.h"

#include "journal/csvrecords.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>

namespace match {

PackDialog::PackDialog(const QString &folder, const QString &lot, QWidget *parent)
    : QDialog(parent), m_folder(folder), m_lot(lot)
{
    setWindowTitle(tr("配组 — 批次 %1").arg(lot.isEmpty() ? tr("（全部）") : lot));
    setObjectName(QStringLiteral("packDialog"));
    auto *form = new QFormLayout;
    m_series = new QSpinBox;
    m_series->setRange(1, 500);
    m_series->setValue(16);
    m_parallel = new QSpinBox;
    m_parallel->setRange(1, 200);
    m_parallel->setValue(20);
    m_rSpread = new QDoubleSpinBox;
    m_rSpread->setRange(0, 99);
    m_rSpread->setSuffix(QStringLiteral(" %"));
    m_rSpread->setValue(5);
    m_vSpread = new QDoubleSpinBox;
    m_vSpread->setRange(0, 1000);
    m_vSpread->setSuffix(QStringLiteral(" mV"));
    m_vSpread->setValue(20);
    // K rules as zentrel-match takes them; at the bottom of their range, none.
    for (QDoubleSpinBox **box : {&m_kSpread, &m_kMax}) {
        *box = new QDoubleSpinBox;
        (*box)->setRange(-0.1, 1000);
        (*box)->setDecimals(2);
        (*box)->setSingleStep(0.1);
        (*box)->setSuffix(tr(" mV/天"));
        (*box)->setSpecialValueText(tr("不限"));
        (*box)->setValue(-0.1);
    }
    m_kSpread->setObjectName(QStringLiteral("packKSpread"));
    m_kMax->setObjectName(QStringLiteral("packKMax"));
    m_grades = new QLineEdit;
    m_grades->setPlaceholderText(tr("留空：所有等级；或如 A,B"));
    auto *layout = new QHBoxLayout;
    layout->addWidget(m_series);
    layout->addWidget(new QLabel(tr("串 ×")));
    layout->addWidget(m_parallel);
    layout->addWidget(new QLabel(tr("并")));
    form->addRow(tr("布局"), layout);
    form->addRow(tr("组内 ΔR ≤"), m_rSpread);
    form->addRow(tr("组内 ΔV ≤"), m_vSpread);
    form->addRow(tr("组内 ΔK ≤"), m_kSpread);
    form->addRow(tr("K 上限"), m_kMax);
    form->addRow(tr("等级"), m_grades);

    auto *run = new QPushButton(tr("配组"));
    run->setDefault(true);
    m_summary = new QLabel;
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *pages = new QWidget;
    m_pages = new QVBoxLayout(pages);
    auto *scroll = new QScrollArea;
    scroll->setWidget(pages);
    scroll->setWidgetResizable(true);
    scroll->setMinimumSize(900, 480);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    m_save = buttons->addButton(tr("保存配组表…"), QDialogButtonBox::ActionRole);
    m_print = buttons->addButton(tr("打印…"), QDialogButtonBox::ActionRole);
    m_ledger = buttons->addButton(tr("记入配组账"), QDialogButtonBox::ActionRole);
    for (QPushButton *b : {m_save, m_print, m_ledger})
        b->setEnabled(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(run, &QPushButton::clicked, this, &PackDialog::matchNow);
    connect(m_save, &QPushButton::clicked, this, &PackDialog::saveSheet);
    connect(m_print, &QPushButton::clicked, this, &PackDialog::printSheet);
    connect(m_ledger, &QPushButton::clicked, this, &PackDialog::addToLedger);

    auto *top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(run);
    top->addWidget(m_summary);
    top->addWidget(scroll, 1);
    top->addWidget(buttons);
}

void PackDialog::matchNow()
{
    Rules rules;
    rules.series = m_series->value();
    rules.parallel = m_parallel->value();
    rules.rSpreadPct = m_rSpread->value();
    rules.vSpreadMv = m_vSpread->value();
    if (m_kSpread->value() >= 0)
        rules.kSpreadMvDay = m_kSpread->value();
    if (m_kMax->value() >= 0)
        rules.kMax = m_kMax->value();
    rules.lot = m_lot;
    rules.grades = m_grades->text().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString &g : rules.grades)
        g = g.trimmed();
    QStringList problems;
    CellRecords records;
    readCellRecords(journal::findDailyFiles({m_folder}, {QLatin1String(journal::kCellsPrefix)}, {}, &problems), &records, &problems);
    PackLedger ledger(m_folder);
    QString error;
    if (!ledger.load(&error))
        problems << error;
    m_made = QDateTime::currentDateTime();
    m_view = planPack(ledger.nextPackId(m_made.date()), rules, records, ledger.placed());
    QString text = problems.join(QLatin1Char('\n'));
    if (!text.isEmpty())
        text += QLatin1Char('\n');
    text += m_view.plan.ok ? tr("电池包 %1：%2 串 × %3 并，各组 R_g 极差 %4%，备用 %5 个，未用 %6 个")
                                 .arg(m_view.pack).arg(rules.series).arg(rules.parallel)
                                 .arg(QString::number(m_view.plan.rgSpread * 100, 'f', 5))
                                 .arg(m_view.plan.spares.size()).arg(m_view.excluded.size())
                           : tr("没有方案：%1").arg(m_view.plan.problem);
    m_summary->setText(text);
    for (QPushButton *b : {m_save, m_print, m_ledger})
        b->setEnabled(m_view.plan.ok);
    showSheet();
}

void PackDialog::showSheet()
{
    while (QLayoutItem *item = m_pages->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (!m_view.plan.ok)
        return;
    const PackSheet sheet(m_view.pack, m_view.rules, m_view.cells, m_view.plan, m_made);
    for (int page = 0; page < sheet.pages(); ++page) {
        auto *label = new QLabel;
        label->setPixmap(QPixmap::fromImage(sheet.image(page, 110)));
        m_pages->addWidget(label);
    }
}

void PackDialog::saveSheet()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("保存配组表"), m_view.pack + QStringLiteral(".pdf"),
                                                      tr("PDF (*.pdf);;PNG (*.png)"));
    if (path.isEmpty())
        return;
    const PackSheet sheet(m_view.pack, m_view.rules, m_view.cells, m_view.plan, m_made);
    QString error;
    const bool ok = path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? sheet.writePngs(path, &error)
                                                                              : sheet.writePdf(path, &error);
    m_summary->setText(ok ? tr("已保存 %1").arg(path) : tr("未能保存 %1：%2").arg(path, error));
}

void PackDialog::printSheet()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setPageSize(QPageSize(QPageSize::A4));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const PackSheet sheet(m_view.pack, m_view.rules, m_view.cells, m_view.plan, m_made);
    QPainter painter(&printer);
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    const double scale = std::min(page.width() / PackSheet::kWidthMm, page.height() / PackSheet::kHeightMm);
    for (int p = 0; p < sheet.pages(); ++p) {
        if (p > 0)
            printer.newPage();
        painter.save();
        painter.scale(scale, scale);
        sheet.paint(painter, p);
        painter.restore();
    }
}

void PackDialog::addToLedger()
{
    PackLedger ledger(m_folder);
    QString error;
    if (!ledger.addPlan(m_view.pack, m_view.cells, m_view.plan, m_made, &error)) {
        m_summary->setText(tr("未记入配组账：%1").arg(error));
        return;
    }
    m_ledger->setEnabled(false);
    const QString file = QDir(m_folder).filePath(journal::dailyFileName(QLatin1String(journal::kPacksPrefix), m_made.date()));
    m_summary->setText(tr("电池包 %1 已记入配组账（%2）").arg(m_view.pack, file));
}

} // namespace match
