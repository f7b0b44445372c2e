#include "tally.h"

#include "journal/csvrecords.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace mqtt {

namespace {

QJsonArray jsonOf(const StationTally &t)
{
    return {double(t.first), double(t.last), double(t.lines)};
}

StationTally tallyOf(const QJsonValue &v)
{
    const QJsonArray a = v.toArray();
    return {qint64(a.at(0).toDouble()), qint64(a.at(1).toDouble()), qint64(a.at(2).toDouble())};
}

QJsonObject stationsJson(const QMap<QString, StationTally> &stations)
{
    QJsonObject o;
    for (auto it = stations.begin(); it != stations.end(); ++it)
        o.insert(it.key(), jsonOf(*it));
    return o;
}

QMap<QString, StationTally> stationsOf(const QJsonValue &v)
{
    QMap<QString, StationTally> out;
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it)
        out.insert(it.key(), tallyOf(*it));
    return out;
}

} // namespace

QByteArray tallyJson(const TallyMessage &m)
{
    const QJsonObject o {{QStringLiteral("station"), m.station},
                         {QStringLiteral("stream"), m.stream},
                         {QStringLiteral("day"), m.day.toString(Qt::ISODate)},
                         {QStringLiteral("first"), double(m.tally.first)},
                         {QStringLiteral("last"), double(m.tally.last)},
                         {QStringLiteral("lines"), double(m.tally.lines)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

Tallies::Tallies(const QString &folder, const QVector<const Outbox *> &streams) : m_folder(folder), m_streams(streams)
{
    for (const Outbox *stream : streams)
        m_readers[stream->prefix()] = std::make_unique<Outbox>(folder, stream->prefix(), stream->numberColumns());
}

QString Tallies::pathOf(const Outbox &stream, const QDate &day) const
{
    return QDir(m_folder).filePath(journal::dailyFileName(stream.prefix(), day));
}

bool Tallies::restore(const QJsonObject &saved)
{
    if (!saved.value(QLatin1String("files")).isArray())
        return false;
    m_files.clear();
    for (const QJsonValue &v : saved.value(QLatin1String("files")).toArray()) {
        const QJsonObject o = v.toObject();
        const QDate day = QDate::fromString(o.value(QLatin1String("day")).toString(), Qt::ISODate);
        const QString stream = o.value(QLatin1String("stream")).toString();
        if (!day.isValid() || !m_readers.count(stream))
            continue;
        File &file = m_files[{stream, day}];
        file.at = {day, qint64(o.value(QLatin1String("offset")).toDouble()), qint64(o.value(QLatin1String("line")).toDouble())};
        file.stations = stationsOf(o.value(QLatin1String("stations")));
        file.told = stationsOf(o.value(QLatin1String("told")));
    }
    return true;
}

void Tallies::startAtEnd()
{
    m_files.clear();
    const QDir dir(m_folder);
    for (const Outbox *stream : qAsConst(m_streams))
        for (const QString &name : dir.entryList({journal::dailyFilePattern(stream->prefix())}, QDir::Files)) {
            const QDate day = journal::dailyFileDay(name, stream->prefix());
            if (day.isValid())
                m_files[{stream->prefix(), day}].at = {day, QFileInfo(dir.filePath(name)).size(), -1};
        }
    m_changed = true;
}

QJsonObject Tallies::toJson() const
{
    QJsonArray files;
    for (const auto &[key, file] : m_files)
        files.append(QJsonObject {{QStringLiteral("stream"), key.first},
                                  {QStringLiteral("day"), key.second.toString(Qt::ISODate)},
                                  {QStringLiteral("offset"), double(file.at.offset)},
                                  {QStringLiteral("line"), double(file.at.line)},
                                  {QStringLiteral("stations"), stationsJson(file.stations)},
                                  {QStringLiteral("told"), stationsJson(file.told)}});
    return {{QStringLiteral("files"), files}};
}

bool Tallies::countSome(int budgetMs, bool withCursorDay)
{
    QElapsedTimer budget;
    budget.start();
    const QDir dir(m_folder);
    for (const Outbox *stream : qAsConst(m_streams)) {
        const Position cursor = stream->acknowledged();
        if (!cursor.day.isValid())
            continue;
        QSet<QDate> present;
        for (const QString &name : dir.entryList({journal::dailyFilePattern(stream->prefix())}, QDir::Files)) {
            const QDate day = journal::dailyFileDay(name, stream->prefix());
            if (!day.isValid())
                continue;
            present.insert(day);
            // Past the cursor nothing is the publisher's to answer for yet.
            if (day > cursor.day || (day == cursor.day && !withCursorDay))
                continue;
            File &file = m_files[{stream->prefix(), day}];
            if (!file.at.day.isValid())
                file.at = {day, 0, 0};
            if (countFile(*stream, file, day, day == cursor.day ? cursor : Position(), budget, budgetMs))
                return true;
        }
        // A file taken away (archived, deleted) is no longer told of.
        for (auto it = m_files.begin(); it != m_files.end();) {
            if (it->first.first == stream->prefix() && !present.contains(it->first.second)) {
                it = m_files.erase(it);
                m_changed = true;
            } else {
                ++it;
            }
        }
    }
    return false;
}

bool Tallies::countFile(const Outbox &stream, File &file, const QDate &day, const Position &limit, const QElapsedTimer &budget,
                        int budgetMs)
{
    const QString path = pathOf(stream, day);
    if (limit.day.isValid() ? file.at.offset >= limit.offset : QFileInfo(path).size() == file.at.offset)
        return false;
    if (file.at.line < 0) // counted from an end known only by its offset
        file.at.line = Outbox::recordsBefore(path, file.at.offset);
    Outbox &reader = *m_readers[stream.prefix()];
    reader.onlyDay(day);
    reader.setAcknowledged(file.at);
    for (;;) {
        if (budget.elapsed() >= budgetMs)
            return true;
        const QVector<Message> messages = reader.read(200);
        if (!reader.takeNote().isEmpty()) {
            // Truncated or replaced: counted again from its start.
            file.stations.clear();
            file.at = {day, 0, 0};
            m_changed = true;
            return false;
        }
        bool done = messages.isEmpty();
        for (const Message &m : messages) {
            const qint64 line = m.id.section(QLatin1Char('/'), -1).toLongLong();
            if (limit.day.isValid() && line > limit.line) {
                done = true;
                break;
            }
            StationTally &t = file.stations[m.station];
            if (t.lines == 0)
                t.first = line;
            t.last = line;
            ++t.lines;
            reader.acknowledge(m.serial);
        }
        const Position at = reader.acknowledged();
        if (at.day == day && (at.offset != file.at.offset || at.line != file.at.line)) {
            file.at = at;
            m_changed = true;
        }
        if (done)
            return false;
    }
}

QVector<TallyMessage> Tallies::unsent(int max) const
{
    QVector<TallyMessage> out;
    for (const auto &[key, file] : m_files)
        for (auto it = file.stations.begin(); it != file.stations.end() && out.size() < max; ++it)
            if (file.told.value(it.key()) != *it)
                out.append({it.key(), key.first, key.second, *it});
    return out;
}

void Tallies::sent(const TallyMessage &m)
{
    const auto it = m_files.find({m.stream, m.day});
    if (it == m_files.end())
        return;
    it->second.told.insert(m.station, m.tally);
    m_changed = true;
}

void Tallies::retellRecent(int days)
{
    for (const Outbox *stream : qAsConst(m_streams)) {
        const QDate cursor = stream->acknowledged().day;
        for (auto &[key, file] : m_files)
            if (cursor.isValid() && key.first == stream->prefix() && key.second >= cursor.addDays(-days))
                file.told.clear();
    }
}

bool Tallies::takeChanged()
{
    const bool changed = m_changed;
    m_changed = false;
    return changed;
}

} // namespace mqtt
