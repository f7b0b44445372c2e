#include "messages.h"

#include "journal/isotime.h"

#include <QDateTime>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

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
void appendCopyText(QByteArray &out, const char *p, size_t size)
{
    const char *end = p + size;
    while (p != end) {
        const char *plain = p;
        while (p != end && *p != '\\' && *p != '\t' && *p != '\n' && *p != '\r')
            ++p;
        out.append(plain, int(p - plain));
        if (p == end)
            break;
        out += *p == '\\' ? "\\\\" : *p == '\t' ? "\\t" : *p == '\n' ? "\\n" : "\\r";
        ++p;
    }
}

// The UTC day of an ISO 8601 time with its offset, invalid when it is none.
QDate utcDay(const char *s, size_t n)
{
    qint64 ms = 0;
    if (n > size_t(std::numeric_limits<int>::max()) || !journal::readIsoTime(s, int(n), &ms))
        return QDate();
    // Whole days since 1970-01-01, rounded down for times before it.
    return QDate(1970, 1, 1).addDays(ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000));
}

} // namespace

bool rowFromJson(const QVector<Column> &columns, const QByteArray &payload, Row *row, QString *reason)
{
    // A well-formed object read in place (a copy: the parse writes into it),
    // strings checked to be UTF-8 as PostgreSQL's text requires.
    QByteArray text = payload;
    rapidjson::Document doc;
    doc.ParseInsitu<rapidjson::kParseValidateEncodingFlag>(text.data());
    if (doc.HasParseError()) {
        *reason = QStringLiteral("not JSON: %1 at byte %2")
                      .arg(QString::fromUtf8(rapidjson::GetParseError_En(doc.GetParseError())))
                      .arg(doc.GetErrorOffset());
        return false;
    }
    if (!doc.IsObject()) {
        *reason = QStringLiteral("not a JSON object");
        return false;
    }
    QByteArray &line = row->copyLine;
    line.clear();
    line.reserve(payload.size());
    row->day = QDate();
    bool first = true;
    for (const Column &c : columns) {
        if (!first)
            line += '\t';
        first = false;
        // A name given twice: the last counts.
        const rapidjson::Value *v = nullptr;
        for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m)
            if (m->name.GetStringLength() == rapidjson::SizeType(c.key.size())
                && std::memcmp(m->name.GetString(), c.key.constData(), size_t(c.key.size())) == 0)
                v = &m->value;
        if (!v || v->IsNull()) {
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
            const double d = v->IsNumber() ? v->GetDouble() : NAN;
            if (!std::isfinite(d) || (c.kind == Column::Integer && (d != std::floor(d) || std::fabs(d) > 9e15))) {
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
            const QDate day = v->IsString() ? utcDay(v->GetString(), v->GetStringLength()) : QDate();
            if (!day.isValid()) {
                *reason = QStringLiteral("field \"%1\" is not a time (ISO 8601)").arg(c.name);
                return false;
            }
            appendCopyText(line, v->GetString(), v->GetStringLength());
            if (c.name == QLatin1String("time"))
                row->day = day;
            break;
        }
        case Column::Text:
            if (!v->IsString()) {
                *reason = QStringLiteral("field \"%1\" is not text").arg(c.name);
                return false;
            }
            if (std::memchr(v->GetString(), 0, v->GetStringLength())) { // PostgreSQL's text cannot hold it
                *reason = QStringLiteral("field \"%1\" holds a NUL character").arg(c.name);
                return false;
            }
            if (c.required && v->GetStringLength() == 0) {
                *reason = QStringLiteral("field \"%1\" is empty").arg(c.name);
                return false;
            }
            appendCopyText(line, v->GetString(), v->GetStringLength());
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
