#ifndef CELLFILES_H
#define CELLFILES_H

#include "matcher.h"

#include <QHash>
#include <QSet>

// The matcher's input from the station's own files: cell records from
// cells-YYYY-MM-DD.csv and capacities from a CSV joined by cell ID.
namespace match {

struct CellRecords
{
    QVector<Cell> records;      // in file order
    QSet<QString> voided;       // "station,record" of records a void line names
    qint64 skipped = 0;         // torn or malformed lines
};

// Adds one cells-*.csv file; false with the reason (naming the file) when it
// cannot be read.
bool readCellRecords(const QString &path, CellRecords *into, QString *error);
// Adds every file; false when one could not be read (each reason in problems).
bool readCellRecords(const QStringList &paths, CellRecords *into, QStringList *problems);

// cell_id → capacity (mAh) from a CSV: the cell ID in the first column, the
// capacity in a column whose header names it ("capacity", "容量", …) or else
// the second; a header line is optional.
bool readCapacities(const QString &path, QHash<QString, double> *into, QString *error);

} // namespace match

#endif // CELLFILES_H
