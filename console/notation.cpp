#include "notation.h"

#include <QStringList>

namespace console {

namespace {

const char *const controlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
    "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
    "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

int controlValue(const QString &name)
{
    for (int v = 0; v < 32; ++v) {
        if (name == QLatin1String(controlNames[v]))
            return v;
    }
    return -1;
}

// A typed character reduced to one byte: Latin-1 as is, anything wider as 0.
inline unsigned char latin1Byte(QChar c)
{
    return c.unicode() <= 0xFF ? static_cast<unsigned char>(c.unicode()) : 0;
}

inline int hexDigitValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QString bytesToHexText(const QByteArray &data)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    if (data.isEmpty())
        return text;
    text.reserve(data.size() * 3 - 1);
    for (int i = 0; i < data.size(); ++i) {
        const auto b = static_cast<unsigned char>(data.at(i));
        if (i > 0)
            text += QLatin1Char(' ');
        text += QLatin1Char(digits[b >> 4]);
        text += QLatin1Char(digits[b & 0x0F]);
    }
    return text;
}

QByteArray hexTextToBytes(const QString &text)
{
    QByteArray bytes;
    const int n = text.size();
    int j = 0;
    while (j < n) {
        const unsigned char c1 = latin1Byte(text.at(j));
        if (c1 == ' ') {
            ++j;
            continue;
        }
        if (j + 1 >= n)
            break; // a lone trailing digit is dropped
        const unsigned char c2 = latin1Byte(text.at(j + 1));
        const int value = hexDigitValue(c1) * 16 + hexDigitValue(c2);
        bytes.append(static_cast<char>(((value % 256) + 256) % 256));
        j += 2;
    }
    return bytes;
}

QString twoDigitHex(const int &value)
{
    QString digits = QString::number(value, 16);
    if (digits.size() == 1)
        digits.prepend(QLatin1Char('0'));
    return digits;
}

QString bytesToEscapedText(const QByteArray &data)
{
    QString text;
    text.reserve(data.size() * 2);
    for (const char ch : data) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20) {
            text += QLatin1Char('\\');
            text += QLatin1String(controlNames[b]);
        } else if (b == 0x20) {
            text += QLatin1String("\\x20");
        } else if (b == 0x5C) {
            text += QLatin1String("\\x5C");
        } else if (b == 0x7F) {
            text += QLatin1String("\\x7F");
        } else if (b < 0x7F) {
            text += QLatin1Char(char(b));
        } else {
            text += QLatin1String("\\x") + twoDigitHex(b);
        }
    }
    return text;
}

QByteArray escapedTextToBytes(const QString &s)
{
    QByteArray bytes;
    const int n = s.size();
    auto at = [&](int pos) { return pos < n ? s.at(pos) : QChar(); };
    // An ordinary character: its Latin-1 byte, '?' when wider, nothing past the end.
    auto appendChar = [&](int pos) {
        if (pos >= n)
            return;
        const QChar c = s.at(pos);
        bytes.append(c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?');
    };
    static const QString nameStarts = QStringLiteral("NSEABCDFHLGRUV");
    static const QStringList twoLetterNames = {"BS", "HT", "LF", "VT", "FF", "CR",
                                               "SI", "EM", "FS", "GS", "RS", "US"};
    static const QStringList threeLetterStarts = {"NU", "NA", "ST", "SY", "SU", "ET", "EO",
                                                  "EN", "ES", "AC", "BE", "CA", "DL", "DC"};
    int i = 0;
    while (i < n) {
        if (s.at(i) != QLatin1Char('\\')) {
            appendChar(i);
            ++i;
            continue;
        }
        const QChar c1 = at(i + 1);
        const QChar c2 = at(i + 2);
        const QChar c3 = at(i + 3);
        if (c1 == QLatin1Char('x')) {
            bool ok = false;
            const int value = s.mid(i + 2, 2).toInt(&ok, 16);
            bytes.append(ok ? static_cast<char>(value & 0xFF) : '\0');
            i += 4;
        } else if (c1 == QLatin1Char('\\')) {
            bytes.append('\\');
            i += 2;
        } else if (!c1.isNull() && nameStarts.contains(c1)) {
            const QString pair = QString(c1) + (c2.isNull() ? QString() : QString(c2));
            if (twoLetterNames.contains(pair)) {
                bytes.append(static_cast<char>(controlValue(pair)));
                i += 3;
            } else if (pair == QLatin1String("SO")) {
                if (c3 == QLatin1Char('H')) {
                    bytes.append('\x01');
                    i += 4;
                } else {
                    bytes.append('\x0E');
                    i += 3;
                }
            } else if (threeLetterStarts.contains(pair)) {
                const int value = c3.isNull() ? -1 : controlValue(pair + c3);
                if (value >= 0)
                    bytes.append(static_cast<char>(value));
                else
                    appendChar(i + 3);
                i += 4;
            } else {
                appendChar(i + 2);
                i += 3;
            }
        } else {
            bytes.append('\\');
            appendChar(i + 1);
            i += 2;
        }
    }
    return bytes;
}

} // namespace console
