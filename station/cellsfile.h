#ifndef STATION_CELLSFILE_H
#define STATION_CELLSFILE_H

#include "cellrecorder.h"

#include <QVector>

// cells-YYYY-MM-DD.csv read back: the station writes it (cellsCsvLine) and
// is the one that knows its columns. Columns are found by the header's
// names, so files of older versions read as far as they go.
namespace station {

struct CellsFile
{
    QVector<CellRecord> lines; // records and void lines (voids set), in file order
    qint64 skipped = 0;        // torn or malformed lines
};

// Adds one file's lines; false with the reason (naming the file) when it
// cannot be read or is no cells file.
bool readCellsFile(const QString &path, CellsFile *into, QString *error);

} // namespace station

#endif
