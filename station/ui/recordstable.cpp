#include "recordstable.h"

#include <QHeaderView>

#include <cmath>

namespace station {

namespace {

enum Column { Time, CellId, Verdict, Grade, R, V, K, Record, Columns };

// Sorted by its number where it has one.
class Item : public QTableWidgetItem
{
public:
    Item(const QString &text, double number = NAN) : QTableWidgetItem(text) { setData(Qt::UserRole, number); }
    bool operator<(const QTableWidgetItem &other) const override
    {
        const double a = data(Qt::UserRole).toDouble(), b = other.data(Qt::UserRole).toDouble();
        if (std::isfinite(a) && std::isfinite(b))
            return a < b;
        return QTableWidgetItem::operator<(other);
    }
};

} // namespace

RecordsTable::RecordsTable(QWidget *parent) : QTableWidget(0, Columns, parent)
{
    setObjectName(QStringLiteral("recordsTable"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    horizontalHeader()->setStretchLastSection(true);
    setSortingEnabled(true);
    horizontalHeader()->setSortIndicator(Time, Qt::DescendingOrder);
    retranslate();
}

void RecordsTable::retranslate()
{
    setHorizontalHeaderLabels({tr("时间"), tr("电池编号"), tr("判定"), tr("等级"), tr("R (mΩ)"), tr("V"), tr("K (mV/天)"), tr("记录")});
}

void RecordsTable::show(const std::deque<CellRecord> &newestFirst)
{
    const int sortedBy = horizontalHeader()->sortIndicatorSection();
    const Qt::SortOrder order = horizontalHeader()->sortIndicatorOrder();
    setSortingEnabled(false); // rows filled as they are, sorted once after
    clearContents();
    setRowCount(int(std::min<size_t>(newestFirst.size(), 1000)));
    int row = 0;
    for (const CellRecord &r : newestFirst) {
        if (row == rowCount())
            break;
        const QVector<QTableWidgetItem *> items = {
            new Item(r.time.toString(QStringLiteral("HH:mm:ss")), double(r.time.toMSecsSinceEpoch())),
            new Item(r.cellId), new Item(r.verdict == meter::Verdict::None ? QStringLiteral("—") : verdictText(r.verdict)), new Item(r.grade),
            new Item(QString::number(r.rMilliOhm, 'f', 4), r.rMilliOhm), new Item(QString::number(r.v, 'f', 4), r.v),
            std::isfinite(r.kMvDay) ? new Item(QString::number(r.kMvDay, 'f', 3), r.kMvDay) : new Item(QStringLiteral("—"), -1e300),
            new Item(r.id)};
        if (!r.reason.isEmpty()) // what failed, beside the verdict: "NG · K"
            items[Verdict]->setText(items[Verdict]->text() + QStringLiteral(" · ") + r.reason);
        for (int c = 0; c < items.size(); ++c) {
            items[c]->setToolTip(r.id);
            if (r.voided)
                items[c]->setForeground(Qt::gray);
            else if (r.verdict == meter::Verdict::Ng)
                items[c]->setBackground(QColor(253, 224, 224));
            setItem(row, c, items[c]);
        }
        ++row;
    }
    setSortingEnabled(true);
    sortItems(sortedBy >= 0 && sortedBy < Columns ? sortedBy : Time, sortedBy >= 0 ? order : Qt::DescendingOrder);
}

QString RecordsTable::csvOf(const std::deque<CellRecord> &newestFirst)
{
    QString out = QLatin1String(kCellsHeader) + QLatin1Char('\n');
    for (auto r = newestFirst.crbegin(); r != newestFirst.crend(); ++r)
        if (!r->voided)
            out += cellsCsvLine(*r) + QLatin1Char('\n');
    return out;
}

} // namespace station
