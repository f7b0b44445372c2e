#ifndef INGEST_MESSAGES_H
#define INGEST_MESSAGES_H

#include "store.h"

#include <functional>

// A station's MQTT message as a row of its table, or the reason it is none.
namespace ingest {

// readings, cells or packs by the topic's last level (reading, cell, pack);
// empty for another topic.
QString tableForTopic(const QByteArray &topic);

// What a message may hold, checked before the database sees it: whatever
// the database would refuse is the message's fault and becomes a reject at
// once, so it never stalls a batch.
struct MessageBounds
{
    int maxBytes = 256 * 1024;            // --max-message-bytes
    int daysBack = 400, daysAhead = 1;    // --accept-days: times within this of now
    std::function<qint64()> nowMs;         // the clock of that window (tests set their own)
};

// The JSON object's fields in the table's columns: numbers as numbers (or
// null) that the column's type holds,
// text as UTF-8 text, times as ISO 8601 with their offset from UTC and
// within the bounds' window; every required column present; its station,
// id and voided record those of the station its topic names
// (…/<station>/<kind>). Parsed without recursion, so no nesting reaches the
// stack. False with the reason.
bool rowFromJson(const QVector<Column> &columns, const QByteArray &topic, const QByteArray &payload,
                 const MessageBounds &bounds, Row *row, QString *reason);

// A tally (…/<station>/tally) for the station its topic names: a stream,
// a day within the bounds' window, whole line numbers with
// 1 <= first <= last and 1 <= lines <= last - first + 1. False with the reason.
bool tallyFromJson(const QByteArray &topic, const QByteArray &payload, const MessageBounds &bounds, Tally *tally, QString *reason);

} // namespace ingest

#endif // INGEST_MESSAGES_H
