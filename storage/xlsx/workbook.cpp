#include "workbook.h"

#include "platform/regularfile.h"
#include "storage/textfile.h"

#include <QFile>
#include <QHash>

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>

namespace {

// One number format per count of places: "0", "0.00", "0.0000".
lxw_format *placesFormat(lxw_workbook *book, QHash<int, lxw_format *> &formats, int decimals)
{
    auto it = formats.constFind(decimals);
    if (it != formats.constEnd())
        return it.value();
    lxw_format *f = workbook_add_format(book);
    const QByteArray pattern = decimals > 0 ? "0." + QByteArray(decimals, '0') : QByteArray("0");
    format_set_num_format(f, pattern.constData());
    return formats.insert(decimals, f).value();
}

lxw_error writeRows(lxw_workbook *book, lxw_worksheet *sheet, const QStringList &header, const QVector<SheetRow> &rows)
{
    lxw_format *bold = workbook_add_format(book);
    format_set_bold(bold);
    QHash<int, lxw_format *> formats;
    for (int c = 0; c < header.size(); ++c)
        if (lxw_error e = worksheet_write_string(sheet, 0, lxw_col_t(c), header[c].toUtf8().constData(), bold))
            return e;
    worksheet_freeze_panes(sheet, 1, 0);
    for (int r = 0; r < rows.size(); ++r) {
        const lxw_row_t row = lxw_row_t(r + 1);
        for (int c = 0; c < rows[r].size(); ++c) {
            const SheetCell &cell = rows[r][c];
            lxw_error e = LXW_NO_ERROR;
            if (cell.isNumber() && std::isfinite(cell.number))
                e = worksheet_write_number(sheet, row, lxw_col_t(c), cell.number, placesFormat(book, formats, cell.decimals));
            else if (!cell.isNumber() && !cell.text.isEmpty())
                e = worksheet_write_string(sheet, row, lxw_col_t(c), cell.text.toUtf8().constData(), nullptr);
            if (e)
                return e;
        }
    }
    worksheet_set_column(sheet, 0, 1, 28, nullptr); // the scope and the limits: names
    return LXW_NO_ERROR;
}

} // namespace

bool writeWorkbook(const QString &path, const QString &sheetName, const QStringList &header, const QVector<SheetRow> &rows,
                   QString *error)
{
    auto fail = [&](const QString &reason) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    };
    if (fileKind(path) == FileKind::Other) {
        if (error)
            *error = notRegularFileReason(path); // names the path
        return false;
    }
    const QString part = path + QStringLiteral(".part");
    QFile::remove(part);
    lxw_workbook *book = workbook_new(QFile::encodeName(part).constData());
    if (!book)
        return fail(QStringLiteral("cannot be created"));
    lxw_worksheet *sheet = workbook_add_worksheet(book, sheetName.toUtf8().constData());
    lxw_error e = sheet ? writeRows(book, sheet, header, rows) : LXW_ERROR_MEMORY_MALLOC_FAILED;
    errno = 0;
    const lxw_error closed = workbook_close(book); // writes the file, and frees the book in any case
    const int code = errno;
    if (e == LXW_NO_ERROR)
        e = closed;
    if (e != LXW_NO_ERROR) {
        QFile::remove(part);
        // The system's reason where there is one ("No such file or
        // directory", "No space left on device"), the library's otherwise.
        return fail(code != 0 && e == closed ? qt_error_string(code) : QString::fromUtf8(lxw_strerror(e)));
    }
    QString reason;
    if (!replaceFileWith(part, path, &reason)) {
        QFile::remove(part);
        if (error)
            *error = reason; // names both files
        return false;
    }
    return true;
}
