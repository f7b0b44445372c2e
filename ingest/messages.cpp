#include "messages.h"

#include "journal/isotime.h"
#include "meter/meterframe.h"

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

// An ISO 8601 time that names its offset from UTC (Z or ±hh:mm): without
// one, the station's local time is anyone's guess.
bool hasOffset(const char *s, size_t n)
{
    if (n >= 1 && (s[n - 1] == 'Z' || s[n - 1] == 'z'))
        return true;
    return n >= 6 && (s[n - 6] == '+' || s[n - 6] == '-') && s[n - 3] == ':';
}

// Whole days since 1970-01-01 as a date, rounded down for times before it.
QDate utcDayOf(qint64 ms)
{
    return QDate(1970, 1, 1).addDays(ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000));
}

// Text PostgreSQL takes: no NUL, and no UTF-16 surrogate written as UTF-8
// (a lone "\udc00" escape comes out of the parser as ED B0 80).
bool storableText(const char *s, size_t n)
{
    if (std::memchr(s, 0, n))
        return false;
    for (size_t i = 0; i + 1 < n; ++i)
        if (quint8(s[i]) == 0xED && quint8(s[i + 1]) >= 0xA0)
            return false;
    return true;
}


// The one reading of a field for the checks and the columns alike: names
// compared whole, by their length (a name holding a NUL is refused before
// this), and of a name given twice the last counts.
const rapidjson::Value *member(const rapidjson::Document &doc, const char *key, size_t size)
{
    const rapidjson::Value *found = nullptr;
    for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m)
        if (m->name.GetStringLength() == size && std::memcmp(m->name.GetString(), key, size) == 0)
            found = &m->value;
    return found;
}

const rapidjson::Value *member(const rapidjson::Document &doc, const char *key)
{
    return member(doc, key, std::strlen(key));
}

// A field's name with a NUL in it reads as another name to any reader that
// stops there: no such message is anyone's.
bool namesAreText(const rapidjson::Document &doc, QString *reason)
{
    for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m)
        if (std::memchr(m->name.GetString(), 0, m->name.GetStringLength())) {
            *reason = QStringLiteral("a field's name holds a NUL character (\"%1\")").arg(QString::fromUtf8(m->name.GetString()));
            return false;
        }
    return true;
}

bool startsWith(const rapidjson::Value *v, const QByteArray &stem)
{
    return v->IsString() && v->GetStringLength() >= rapidjson::SizeType(stem.size())
           && std::memcmp(v->GetString(), stem.constData(), size_t(stem.size())) == 0;
}

// A message speaks only for the station its topic names (the level before
// its kind, which the broker's ACL ties to the sender): its body's station,
// its id (station/stream/day/line) and a record it voids (station-day-n)
// are that station's, or it is no one's to keep.
bool speaksForItsTopic(const rapidjson::Document &doc, const QByteArray &topic, QString *reason)
{
    const QList<QByteArray> levels = topic.split('/');
    const QByteArray owner = levels.size() >= 2 ? levels.at(levels.size() - 2) : QByteArray();
    const rapidjson::Value *station = member(doc, "station");
    if (owner.isEmpty()) {
        *reason = QStringLiteral("the topic %1 names no station").arg(QString::fromUtf8(topic));
        return false;
    }
    if (!station || !station->IsString() || QByteArray(station->GetString(), int(station->GetStringLength())) != owner) {
        *reason = QStringLiteral("station %1 on station %2's topic (%3)")
                      .arg(station && station->IsString() ? QStringLiteral("\"%1\"").arg(QString::fromUtf8(station->GetString()))
                                                          : QStringLiteral("missing"),
                           QString::fromUtf8(owner), QString::fromUtf8(topic));
        return false;
    }
    const rapidjson::Value *id = member(doc, "id");
    if (id && id->IsString() && id->GetStringLength() > 0 && !startsWith(id, owner + '/')) {
        *reason = QStringLiteral("id %1 is not station %2's").arg(QString::fromUtf8(id->GetString()), QString::fromUtf8(owner));
        return false;
    }
    const rapidjson::Value *voids = member(doc, "voids");
    if (voids && voids->IsString() && voids->GetStringLength() > 0 && !startsWith(voids, owner + '-')) {
        *reason = QStringLiteral("voids %1, a record that is not station %2's").arg(QString::fromUtf8(voids->GetString()), QString::fromUtf8(owner));
        return false;
    }
    return true;
}

// The payload as a JSON object whose field names are text: parsed in place
// in text (a copy: the parse writes into it), strings checked to be UTF-8 as
// PostgreSQL's text requires; iteratively, so a message nested a hundred
// thousand deep costs heap, not the stack.
bool parseObject(const QByteArray &payload, const MessageBounds &bounds, QByteArray &text, rapidjson::Document &doc, QString *reason)
{
    if (payload.size() > bounds.maxBytes) {
        *reason = QStringLiteral("a message of %1 bytes, more than the %2 taken (--max-message-bytes)")
                      .arg(payload.size())
                      .arg(bounds.maxBytes);
        return false;
    }
    text = payload;
    doc.ParseInsitu<rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag>(text.data());
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
    return namesAreText(doc, reason);
}

// A whole number a double holds exactly, at least 1.
bool lineNumber(const rapidjson::Value *v, qint64 *out)
{
    if (!v || !v->IsNumber())
        return false;
    const double d = v->GetDouble();
    if (!(d >= 1 && d < 9e15) || d != std::floor(d))
        return false;
    *out = qint64(d);
    return true;
}

} // namespace

bool tallyFromJson(const QByteArray &topic, const QByteArray &payload, const MessageBounds &bounds, Tally *tally, QString *reason)
{
    QByteArray text;
    rapidjson::Document doc;
    if (!parseObject(payload, bounds, text, doc, reason) || !speaksForItsTopic(doc, topic, reason))
        return false;
    const rapidjson::Value *stream = member(doc, "stream"), *day = member(doc, "day");
    Tally t;
    t.station = QString::fromUtf8(member(doc, "station")->GetString());
    t.stream = stream && stream->IsString() ? QString::fromUtf8(stream->GetString()) : QString();
    if (t.stream != QLatin1String("readings") && t.stream != QLatin1String("cells") && t.stream != QLatin1String("packs")) {
        *reason = QStringLiteral("a tally's stream is readings, cells or packs");
        return false;
    }
    t.day = day && day->IsString() && day->GetStringLength() == 10 ? QDate::fromString(QString::fromUtf8(day->GetString()), Qt::ISODate) : QDate();
    if (!t.day.isValid()) {
        *reason = QStringLiteral("a tally's day is a date (2026-12-09)");
        return false;
    }
    if (bounds.nowMs) {
        const qint64 days = utcDayOf(bounds.nowMs()).toJulianDay() - t.day.toJulianDay();
        if (days > bounds.daysBack || -days > bounds.daysAhead + 1) {
            *reason = QStringLiteral("a tally's day is more than %1 days back or %2 ahead (--accept-days)").arg(bounds.daysBack).arg(bounds.daysAhead);
            return false;
        }
    }
    if (!lineNumber(member(doc, "first"), &t.first) || !lineNumber(member(doc, "last"), &t.last)
        || !lineNumber(member(doc, "lines"), &t.lines) || t.last < t.first || t.lines > t.last - t.first + 1) {
        *reason = QStringLiteral("a tally's first, last and lines are whole numbers, 1 <= first <= last, lines <= last - first + 1");
        return false;
    }
    *tally = t;
    return true;
}

bool rowFromJson(const QVector<Column> &columns, const QByteArray &topic, const QByteArray &payload,
                 const MessageBounds &bounds, Row *row, QString *reason)
{
    QByteArray text;
    rapidjson::Document doc;
    if (!parseObject(payload, bounds, text, doc, reason) || !speaksForItsTopic(doc, topic, reason))
        return false;
    QByteArray &line = row->copyLine;
    line.clear();
    line.reserve(payload.size());
    row->day = QDate();
    row->id.clear();
    bool first = true;
    for (const Column &c : columns) {
        if (!first)
            line += '\t';
        first = false;
        const rapidjson::Value *v = member(doc, c.key.constData(), size_t(c.key.size()));
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
            // A station's "nan" or "inf" comes as text (JSON has no such
            // number): for R and V it is a value no meter can show.
            const bool meterValue = c.name == QLatin1String("r_mohm") || c.name == QLatin1String("v");
            if (meterValue && v->IsString()) {
                bool ok = false;
                const double text = QByteArray(v->GetString(), int(v->GetStringLength())).toDouble(&ok);
                if (ok && !std::isfinite(text)) {
                    *reason = QStringLiteral("field \"%1\" is %2, beyond what the meter can show").arg(c.name, QString::fromUtf8(v->GetString()));
                    return false;
                }
            }
            const double d = v->IsNumber() ? v->GetDouble() : NAN;
            if (!std::isfinite(d) || (c.kind == Column::Integer && d != std::floor(d))) {
                *reason = QStringLiteral("field \"%1\" is not %2").arg(c.name, c.kind == Column::Integer ? QStringLiteral("a whole number")
                                                                                                        : QStringLiteral("a number"));
                return false;
            }
            // A reading no meter can show, as the files' report skips it.
            if ((c.name == QLatin1String("r_mohm") && !meter::meterCanShow(d, 0)) || (c.name == QLatin1String("v") && !meter::meterCanShow(0, d))) {
                *reason = QStringLiteral("field \"%1\" is %2, beyond what the meter can show").arg(c.name).arg(d, 0, 'g', 17);
                return false;
            }
            if (c.kind == Column::Integer && std::fabs(d) > double(c.largest)) {
                *reason = QStringLiteral("field \"%1\" is %2, beyond what its column holds").arg(c.name).arg(d, 0, 'g', 17);
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
            qint64 ms = 0;
            if (!v->IsString() || v->GetStringLength() > 64 || !journal::readIsoTime(v->GetString(), int(v->GetStringLength()), &ms)) {
                *reason = QStringLiteral("field \"%1\" is not a time (ISO 8601)").arg(c.name);
                return false;
            }
            if (!hasOffset(v->GetString(), v->GetStringLength())) {
                *reason = QStringLiteral("field \"%1\" has no offset from UTC").arg(c.name);
                return false;
            }
            if (bounds.nowMs) {
                const qint64 now = bounds.nowMs(), day = 86400000;
                if (ms < now - bounds.daysBack * day || ms > now + bounds.daysAhead * day) {
                    *reason = QStringLiteral("field \"%1\" is more than %2 days back or %3 ahead (--accept-days)")
                                  .arg(c.name).arg(bounds.daysBack).arg(bounds.daysAhead);
                    return false;
                }
            }
            appendCopyText(line, v->GetString(), v->GetStringLength());
            if (c.name == QLatin1String("time"))
                row->day = utcDayOf(ms), row->ms = ms;
            break;
        }
        case Column::Text:
            if (!v->IsString()) {
                *reason = QStringLiteral("field \"%1\" is not text").arg(c.name);
                return false;
            }
            if (!storableText(v->GetString(), v->GetStringLength())) { // PostgreSQL's text cannot hold it
                *reason = QStringLiteral("field \"%1\" holds a NUL character or a lone UTF-16 surrogate").arg(c.name);
                return false;
            }
            if (c.required && v->GetStringLength() == 0) {
                *reason = QStringLiteral("field \"%1\" is empty").arg(c.name);
                return false;
            }
            appendCopyText(line, v->GetString(), v->GetStringLength());
            if (c.name == QLatin1String("id"))
                row->id = QByteArray(v->GetString(), int(v->GetStringLength()));
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
