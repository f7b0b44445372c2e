#ifndef RECORDSTABLE_H
#define RECORDSTABLE_H

#include "station/cellrecorder.h"

#include <QTableWidget>

#include <deque>

namespace station {

// The lot's records, newest first: what the operator looks for (time, cell
// ID, verdict, grade, R, V) first, the record's id last and in full on
// hover; NG rows tinted, voided ones grey; sortable by any column (numbers
// as numbers).
class RecordsTable : public QTableWidget
{
    Q_OBJECT

public:
    explicit RecordsTable(QWidget *parent = nullptr);
    void show(const std::deque<CellRecord> &newestFirst);
    void retranslate();

    // The lot's records as the cells file has them (its header first).
    static QString csvOf(const std::deque<CellRecord> &newestFirst);
};

} // namespace station

#endif
