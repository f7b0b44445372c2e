#include "messages.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ingest {

QString tableForTopic(const QByteArray &topic)
{
    const QByteArray last = topic.mid(topic.lastIndexOf('/') + 1);
    if (last == "reading")
        return QStringLiteral("readings");
    if (last == "cell")
        return QStringLiteral("cells");
    if (last == "pack")
        return QStringLiteral("packs");
    return QString();
}

namespace {

// A field in COPY's text format: backslash escapes; most need none.
void appendCopyText(QByteArray &out, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    const char *p = utf8.constData(), *end = p + utf8.size();
    if (std::none_of(p, end, [](char c) { return c == '\\' || c == '\t' || c == '\n' || c == '\r'; })) {
        out += utf8;
        return;
    }
    for (; p != end; ++p) {
        switch (*p) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += *p;
        }
    }
}

} // namespace

bool rowFromJson(const QVector<Column> &columns, const QByteArray &payload, Row *row, QString *reason)
{
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *reason = parse.error != QJsonParseError::NoError ? QStringLiteral("not JSON: %1 at byte %2").arg(parse.errorString()).arg(parse.offset)
                                                          : QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    QByteArray &line = row->copyLine;
    line.clear();
    line.reserve(payload.size());
    row->day = QDate();
    bool first = true;
    for (const Column &c : columns) {
        if (!first)
            line += '\t';
        first = false;
        const QJsonValue v = o.value(c.name);
        if (v.isUndefined() || v.isNull()) {
            if (c.required) {
                *reason = QStringLiteral("field \"%1\" is missing").arg(c.name);
                return false;
            }
            line += "\\N";
            continue;
        }
        switch (c.kind) {
        case Column::Number:
        case Column::Integer: {
            const double d = v.toDouble(NAN);
            if (!v.isDouble() || !std::isfinite(d) || (c.kind == Column::Integer && (d != std::floor(d) || std::fabs(d) > 9e15))) {
                *reason = QStringLiteral("field \"%1\" is not %2").arg(c.name, c.kind == Column::Integer ? QStringLiteral("a whole number")
                                                                                                        : QStringLiteral("a number"));
                return false;
            }
            // The shortest text that reads back as the same double.
            char buffer[64];
            const auto end = c.kind == Column::Integer ? std::to_chars(buffer, buffer + sizeof buffer, qint64(d)).ptr
                                                       : std::to_chars(buffer, buffer + sizeof buffer, d).ptr;
            line.append(buffer, int(end - buffer));
            break;
        }
        case Column::Time: {
            const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
            if (!v.isString() || !t.isValid()) {
                *reason = QStringLiteral("field \"%1\" is not a time (ISO 8601)").arg(c.name);
                return false;
            }
            appendCopyText(line, v.toString());
            if (c.name == QLatin1String("time"))
                row->day = t.toUTC().date();
            break;
        }
        case Column::Text:
            if (!v.isString()) {
                *reason = QStringLiteral("field \"%1\" is not text").arg(c.name);
                return false;
            }
            if (v.toString().contains(QChar(0))) { // PostgreSQL's text cannot hold it
                *reason = QStringLiteral("field \"%1\" holds a NUL character").arg(c.name);
                return false;
            }
            if (c.required && v.toString().isEmpty()) {
                *reason = QStringLiteral("field \"%1\" is empty").arg(c.name);
                return false;
            }
            appendCopyText(line, v.toString());
            break;
        }
    }
    line += '\n';
    if (!row->day.isValid()) {
        *reason = QStringLiteral("no time");
        return false;
    }
    return true;
}

} // namespace ingest
