#include "messages.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

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
    row->values.clear();
    row->day = QDate();
    for (const Column &c : columns) {
        const QJsonValue v = o.value(c.name);
        if (v.isUndefined() || v.isNull()) {
            if (c.required) {
                *reason = QStringLiteral("field \"%1\" is missing").arg(c.name);
                return false;
            }
            row->values << QString();
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
            row->values << (c.kind == Column::Integer ? QString::number(qint64(d)) : QString::number(d, 'g', QLocale::FloatingPointShortest));
            break;
        }
        case Column::Time: {
            const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
            if (!v.isString() || !t.isValid()) {
                *reason = QStringLiteral("field \"%1\" is not a time (ISO 8601)").arg(c.name);
                return false;
            }
            row->values << v.toString();
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
            row->values << v.toString();
            break;
        }
    }
    if (!row->day.isValid()) {
        *reason = QStringLiteral("no time");
        return false;
    }
    return true;
}

} // namespace ingest
