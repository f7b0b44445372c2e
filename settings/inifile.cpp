#include "inifile.h"

#include "platform/regularfile.h"
#include "storage/textfile.h"

#include <QFile>

namespace ini {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Physical lines joined where a backslash ends one, comments (from ';'
// outside quotes) dropped, as QSettings reads them.
QList<QByteArray> logicalLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    QByteArray line;
    bool inQuotes = false;
    bool inComment = false;
    const int n = bytes.size();
    for (int i = 0; i < n; ++i) {
        const char c = bytes.at(i);
        if (c == '\n' || c == '\r') {
            lines << line;
            line.clear();
            inQuotes = inComment = false;
            continue;
        }
        if (inComment)
            continue;
        if (c == '\\' && i + 1 < n) {
            const char next = bytes.at(i + 1);
            if (next == '\n' || next == '\r') { // continuation
                ++i;
                if (next == '\r' && i + 1 < n && bytes.at(i + 1) == '\n')
                    ++i;
                continue;
            }
            line += c;
            line += next;
            ++i;
            continue;
        }
        if (c == '"')
            inQuotes = !inQuotes;
        else if (c == ';' && !inQuotes) {
            inComment = true;
            continue;
        }
        line += c;
    }
    lines << line;
    return lines;
}

QString unescapedKey(const QByteArray &key)
{
    QString out;
    const int n = key.size();
    for (int i = 0; i < n; ++i) {
        const char c = key.at(i);
        if (c == '\\') {
            out += QLatin1Char('/');
        } else if (c == '%' && i + 5 < n && key.at(i + 1) == 'U') {
            int v = 0;
            bool ok = true;
            for (int k = 2; k <= 5 && ok; ++k) {
                const int h = hexValue(key.at(i + k));
                ok = h >= 0;
                v = v * 16 + h;
            }
            if (ok) {
                out += QChar(ushort(v));
                i += 5;
            } else {
                out += QLatin1Char('%');
            }
        } else if (c == '%' && i + 2 < n && hexValue(key.at(i + 1)) >= 0 && hexValue(key.at(i + 2)) >= 0) {
            out += QChar(ushort(hexValue(key.at(i + 1)) * 16 + hexValue(key.at(i + 2))));
            i += 2;
        } else {
            out += QLatin1Char(c);
        }
    }
    return out;
}

// The comma-separated pieces of a value with quotes and escapes undone.
QStringList unescapedPieces(const QByteArray &value, bool *isList)
{
    QStringList pieces;
    QString current;
    int keep = 0; // length of current up to its last quoted or non-blank char
    bool inQuotes = false;
    bool atStart = true;
    *isList = false;
    const int n = value.size();
    auto finish = [&] {
        current.truncate(keep);
        pieces << current;
        current.clear();
        keep = 0;
        atStart = true;
    };
    for (int i = 0; i < n; ++i) {
        const char c = value.at(i);
        if (atStart && !inQuotes && isSpace(c))
            continue;
        atStart = false;
        if (c == '"') {
            inQuotes = !inQuotes;
            keep = current.size();
        } else if (c == ',' && !inQuotes) {
            *isList = true;
            finish();
        } else if (c == '\\' && i + 1 < n) {
            const char e = value.at(++i);
            uint code = 0;
            switch (e) {
            case 'a': current += QLatin1Char('\a'); break;
            case 'b': current += QLatin1Char('\b'); break;
            case 'f': current += QLatin1Char('\f'); break;
            case 'n': current += QLatin1Char('\n'); break;
            case 'r': current += QLatin1Char('\r'); break;
            case 't': current += QLatin1Char('\t'); break;
            case 'v': current += QLatin1Char('\v'); break;
            case 'x':
                while (i + 1 < n && hexValue(value.at(i + 1)) >= 0)
                    code = ((code << 4) | uint(hexValue(value.at(++i)))) & 0xFFFFFu;
                current += QChar(ushort(code & 0xFFFF));
                break;
            default:
                if (e >= '0' && e <= '7') {
                    code = uint(e - '0');
                    for (int k = 0; k < 2 && i + 1 < n && value.at(i + 1) >= '0' && value.at(i + 1) <= '7'; ++k)
                        code = code * 8 + uint(value.at(++i) - '0');
                    current += QChar(ushort(code));
                } else {
                    current += QLatin1Char(e); // \" \' \? \\ and anything else: the character itself
                }
            }
            keep = current.size();
        } else {
            current += QLatin1Char(c);
            if (inQuotes || !isSpace(c))
                keep = current.size();
        }
    }
    finish();
    return pieces;
}

enum class Taken { Value, Invalid, Refused };

// A piece as QSettings would turn it into a value, refusing what needs
// QDataStream or any other type this program never writes.
Taken takePiece(const QString &piece, QVariant *out)
{
    if (!piece.startsWith(QLatin1Char('@'))) {
        *out = piece;
        return Taken::Value;
    }
    if (piece.startsWith(QLatin1String("@@"))) {
        *out = piece.mid(1);
        return Taken::Value;
    }
    if (piece.startsWith(QLatin1String("@ByteArray(")) && piece.endsWith(QLatin1Char(')'))) {
        *out = piece.mid(11, piece.size() - 12).toLatin1();
        return Taken::Value;
    }
    // QSettings writes a string holding a NUL character this way.
    if (piece.startsWith(QLatin1String("@String(")) && piece.endsWith(QLatin1Char(')'))) {
        *out = piece.mid(8, piece.size() - 9);
        return Taken::Value;
    }
    if (piece == QLatin1String("@Invalid()"))
        return Taken::Invalid;
    return Taken::Refused;
}

} // namespace

Document parse(const QByteArray &bytes)
{
    Document doc;
    QString section;
    for (const QByteArray &raw : logicalLines(bytes)) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('[')) {
            const int end = line.indexOf(']');
            section = unescapedKey(line.mid(1, end < 0 ? -1 : end - 1).trimmed());
            if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                section.clear();
            else if (section == QLatin1String("%General"))
                section = QStringLiteral("General");
            while (section.startsWith(QLatin1Char('/')))
                section.remove(0, 1);
            continue;
        }
        const int eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        QString key = unescapedKey(line.left(eq).trimmed());
        while (key.startsWith(QLatin1Char('/')))
            key.remove(0, 1);
        if (key.isEmpty())
            continue;
        const QString fullKey = section.isEmpty() ? key : section + QLatin1Char('/') + key;
        bool isList = false;
        const QStringList pieces = unescapedPieces(line.mid(eq + 1), &isList);
        if (!isList) {
            QVariant value;
            switch (takePiece(pieces.value(0), &value)) {
            case Taken::Value: doc.values.insert(fullKey, value); break;
            case Taken::Invalid: doc.values.remove(fullKey); break;
            case Taken::Refused:
                doc.values.remove(fullKey);
                if (!doc.ignored.contains(fullKey))
                    doc.ignored << fullKey;
                break;
            }
            continue;
        }
        QStringList list;
        bool refused = false;
        for (const QString &piece : pieces) {
            QVariant value;
            if (takePiece(piece, &value) == Taken::Value)
                list << value.toString();
            else
                refused = true;
        }
        if (refused) {
            doc.values.remove(fullKey);
            if (!doc.ignored.contains(fullKey))
                doc.ignored << fullKey;
        } else {
            doc.values.insert(fullKey, list);
        }
    }
    return doc;
}

Document read(const QString &path, qint64 maxBytes)
{
    Document doc;
    switch (fileKind(path)) {
    case FileKind::Missing:
        return doc;
    case FileKind::Other:
        doc.notRegular = true;
        return doc;
    case FileKind::Regular:
        break;
    }
    QFile file;
    if (!openRegularFile(file, path, QIODevice::ReadOnly, nullptr)) {
        doc.notRegular = true; // a link planted at the name, or a FIFO put there since
        return doc;
    }
    if (file.size() > maxBytes)
        return doc;
    return parse(file.readAll());
}

} // namespace ini
