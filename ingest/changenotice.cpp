#include "changenotice.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace ingest {

namespace {

constexpr int kMostBytes = 7900; // NOTIFY refuses a payload of 8,000 bytes or more

QString stationOfTopic(const QByteArray &topic)
{
    const int last = topic.lastIndexOf('/');
    const int before = last > 0 ? topic.lastIndexOf('/', last - 1) : -1;
    return last > 0 ? QString::fromUtf8(topic.mid(before + 1, last - before - 1)) : QString();
}

} // namespace

QByteArray changeNotice(const Batch &batch, qint64 nowMs)
{
    QJsonObject notice {{QStringLiteral("t"), double(nowMs)}};
    bool any = false;
    for (auto it = batch.rows.cbegin(); it != batch.rows.cend(); ++it) {
        QSet<QString> seen;
        QJsonArray stations;
        for (const Row &row : it.value()) {
            const QString station = stationOfTopic(row.topic);
            if (!station.isEmpty() && !seen.contains(station)) {
                seen.insert(station);
                stations.append(station);
            }
        }
        if (!stations.isEmpty()) {
            notice.insert(it.key(), stations);
            any = true;
        }
    }
    if (!any)
        return QByteArray();
    const QByteArray text = QJsonDocument(notice).toJson(QJsonDocument::Compact);
    if (text.size() <= kMostBytes)
        return text;
    return QJsonDocument(QJsonObject {{QStringLiteral("t"), double(nowMs)}, {QStringLiteral("all"), true}}).toJson(QJsonDocument::Compact);
}

} // namespace ingest
