#ifndef NOTATION_H
#define NOTATION_H

#include <QByteArray>
#include <QString>

// The console's three ways of writing bytes as text: plain, hexadecimal
// ("01 AB FF") and ASCII with named control characters ("\CR\LF", "\x7F").
namespace console {

QString bytesToHexText(const QByteArray &data);
// Pairs of hex digits, blanks between pairs ignored; a lone last digit is dropped.
QByteArray hexTextToBytes(const QString &text);
QString bytesToEscapedText(const QByteArray &data);
QByteArray escapedTextToBytes(const QString &text);
// value in hex, at least two digits.
QString twoDigitHex(const int &value);

} // namespace console

#endif // NOTATION_H
