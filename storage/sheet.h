#ifndef STORAGE_SHEET_H
#define STORAGE_SHEET_H

#include <QString>
#include <QVector>

#include <cmath>

// A table's cell as its writers take it: a number (shown to `decimals`
// places, NaN for none) or text. A spreadsheet gets numbers as numbers.
struct SheetCell
{
    QString text;
    double number = NAN;
    int decimals = -1; // -1: text

    static SheetCell ofNumber(double value, int decimals) { return {QString(), value, decimals}; }
    static SheetCell ofText(const QString &text) { return {text, NAN, -1}; }
    bool isNumber() const { return decimals >= 0; }
    // As text: the number to its places, "—" for none.
    QString shown() const
    {
        if (!isNumber())
            return text;
        return std::isfinite(number) ? QString::number(number, 'f', decimals) : QStringLiteral("—");
    }
};

using SheetRow = QVector<SheetCell>;

#endif
