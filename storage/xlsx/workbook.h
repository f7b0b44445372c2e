#ifndef STORAGE_XLSX_WORKBOOK_H
#define STORAGE_XLSX_WORKBOOK_H

#include "storage/sheet.h"

#include <QStringList>

// Writes a table as an .xlsx workbook of one sheet (libxlsxwriter): the
// header in bold and frozen, numbers as numbers shown to their places, an
// empty cell for none. Written beside the path and renamed over it, so a
// failure leaves what was there; false with the reason naming the file.
bool writeWorkbook(const QString &path, const QString &sheet, const QStringList &header, const QVector<SheetRow> &rows,
                   QString *error);

#endif
