#ifndef INGEST_MESSAGES_H
#define INGEST_MESSAGES_H

#include "database.h"

// A station's MQTT message as a row of its table, or the reason it is none.
namespace ingest {

// readings, cells or packs by the topic's last level (reading, cell, pack);
// empty for another topic.
QString tableForTopic(const QByteArray &topic);

// The JSON object's fields in the table's columns: numbers as numbers (or
// null), text as text, times as ISO 8601 with their offset; every required
// column present. False with the reason.
bool rowFromJson(const QVector<Column> &columns, const QByteArray &payload, Row *row, QString *reason);

} // namespace ingest

#endif // INGEST_MESSAGES_H
