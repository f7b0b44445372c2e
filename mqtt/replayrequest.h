#ifndef MQTT_REPLAYREQUEST_H
#define MQTT_REPLAYREQUEST_H

// A request to a station to publish some of its journal lines again:
// published on zentrel/<station>/replay as
//   {"stream":"readings","day":"2026-12-08","from":22,"to":221}
// (lines of that day's file, both ends included; line 1 is the header).
// The station sends them again with their ids, and the plant's database drops
// what it holds already. Header-only: the station's publisher reads it, the
// plant's ingest (which links no station code) writes it.

#include <QCoreApplication>
#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace mqtt {

struct ReplayRequest
{
    QString stream; // readings, cells or packs: the daily files' prefix
    QDate day;
    qint64 from = 0, to = 0;

    bool operator==(const ReplayRequest &o) const { return stream == o.stream && day == o.day && from == o.from && to == o.to; }
};

// More lines than a day's file at any pace a meter has: a bound on what one
// request can make a station read and send.
constexpr qint64 kMaxReplayLines = 1000000;

inline QString replayTopic(const QString &station)
{
    return QStringLiteral("zentrel/") + station + QStringLiteral("/replay");
}

inline QByteArray replayRequestJson(const ReplayRequest &r)
{
    const QJsonObject o {{QStringLiteral("stream"), r.stream},
                         {QStringLiteral("day"), r.day.toString(Qt::ISODate)},
                         {QStringLiteral("from"), double(r.from)},
                         {QStringLiteral("to"), double(r.to)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// False with the reason for anything but a whole, sane request.
inline bool parseReplayRequest(const QByteArray &json, ReplayRequest *out, QString *why)
{
    auto fail = [why](const char *text) {
        if (why)
            *why = QCoreApplication::translate("Mqtt", text);
        return false;
    };
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    ReplayRequest r;
    r.stream = o.value(QLatin1String("stream")).toString();
    r.day = QDate::fromString(o.value(QLatin1String("day")).toString(), Qt::ISODate);
    const QJsonValue from = o.value(QLatin1String("from")), to = o.value(QLatin1String("to"));
    if (r.stream != QLatin1String("readings") && r.stream != QLatin1String("cells") && r.stream != QLatin1String("packs"))
        return fail(QT_TRANSLATE_NOOP("Mqtt", "stream 须为 readings、cells 或 packs"));
    if (!r.day.isValid())
        return fail(QT_TRANSLATE_NOOP("Mqtt", "day 须为日期（2026-12-08）"));
    // Whole numbers within what a double holds exactly.
    auto whole = [](const QJsonValue &v) { return v.isDouble() && v.toDouble() == double(qint64(v.toDouble())) && qAbs(v.toDouble()) < 9e15; };
    if (!whole(from) || !whole(to))
        return fail(QT_TRANSLATE_NOOP("Mqtt", "from 与 to 须为整数行号"));
    r.from = qint64(from.toDouble());
    r.to = qint64(to.toDouble());
    if (r.from < 1 || r.to < r.from)
        return fail(QT_TRANSLATE_NOOP("Mqtt", "行号须满足 1 ≤ from ≤ to"));
    if (r.to - r.from >= kMaxReplayLines)
        return fail(QT_TRANSLATE_NOOP("Mqtt", "一次最多重发 1000000 行"));
    *out = r;
    return true;
}

} // namespace mqtt

#endif // MQTT_REPLAYREQUEST_H
