#include "outbox.h"

#include "journal/journal.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace mqtt {

Outbox::Outbox(const QString &folder, const QString &prefix, const QStringList &numberColumns)
    : m_folder(folder), m_prefix(prefix), m_numbers(numberColumns)
{
}

QString Outbox::fileFor(const QDate &day) const
{
    return QDir(m_folder).filePath(m_prefix + day.toString(QStringLiteral("'-'yyyy-MM-dd'.csv'")));
}

QDate Outbox::nextDay(const QDate &after) const
{
    // The daily files sort by name as by date.
    const QStringList files = QDir(m_folder).entryList({m_prefix + QStringLiteral("-????-??-??.csv")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        const QDate day = QDate::fromString(name.mid(m_prefix.size() + 1, 10), QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && (!after.isValid() || day > after))
            return day;
    }
    return QDate();
}

bool Outbox::readLine(Position &at, QByteArray *line)
{
    for (int hops = 0; hops < 10000; ++hops) {
        if (!at.day.isValid()) {
            at.day = nextDay(QDate());
            at.offset = at.line = 0;
            if (!at.day.isValid())
                return false;
        }
        QFile file(fileFor(at.day));
        if (file.open(QIODevice::ReadOnly) && file.seek(at.offset)) {
            const QByteArray got = file.readLine(1 << 20);
            if (got.endsWith('\n')) {
                at.offset += got.size();
                ++at.line;
                *line = got;
                line->chop(1);
                if (line->endsWith('\r'))
                    line->chop(1);
                return true;
            }
        }
        // The end of this day's file: on to the next day, if there is one.
        const QDate next = nextDay(at.day);
        if (!next.isValid())
            return false;
        at = {next, 0, 0};
    }
    return false;
}

void Outbox::setAcknowledged(const Position &position)
{
    m_acked = m_read = m_counted = position;
    m_countedLines = 0;
    m_inFlight.clear();
}

void Outbox::startAtEnd()
{
    Position at;
    QByteArray line;
    while (readLine(at, &line)) {
    }
    setAcknowledged(at);
}

QVector<Message> Outbox::read(int max)
{
    QVector<Message> out;
    QByteArray line;
    while (out.size() < max) {
        if (!readLine(m_read, &line))
            break;
        // Counting for backlog() runs ahead of reading, or with it.
        if (m_countedLines > 0)
            --m_countedLines;
        else
            m_counted = m_read;
        if (m_read.line == 1) { // the header (after the byte-order mark)
            if (line.startsWith("\xEF\xBB\xBF"))
                line.remove(0, 3);
            m_header = journal::csvFields(line);
        } else if (m_header.isEmpty()) {
            // Resumed in the middle of a file: its header names the fields.
            Position top {m_read.day, 0, 0};
            QByteArray first;
            if (readLine(top, &first) && top.day == m_read.day) {
                if (first.startsWith("\xEF\xBB\xBF"))
                    first.remove(0, 3);
                m_header = journal::csvFields(first);
            }
        }
        Flight flight {m_nextSerial++, m_read};
        if (m_read.line == 1 || m_header.isEmpty()) {
            flight.acked = true; // nothing to send: passes with the others
        } else {
            const QList<QByteArray> fields = journal::csvFields(line);
            if (fields.size() != m_header.size()) {
                flight.acked = true; // a torn line
            } else {
                QJsonObject json = toJson(fields);
                const QString station = json.value(QStringLiteral("station")).toString();
                json.insert(QStringLiteral("id"), QStringLiteral("%1/%2/%3/%4")
                                                      .arg(station, m_prefix, m_read.day.toString(Qt::ISODate),
                                                           QString::number(m_read.line)));
                out.append({json.value(QStringLiteral("id")).toString(), QJsonDocument(json).toJson(QJsonDocument::Compact),
                            flight.serial});
            }
        }
        m_inFlight.push_back(flight);
    }
    // Lines with nothing to send may already close the gap.
    acknowledge(0);
    return out;
}

void Outbox::acknowledge(quint64 serial)
{
    if (serial != 0 && !m_inFlight.empty() && serial >= m_inFlight.front().serial) {
        const quint64 index = serial - m_inFlight.front().serial;
        if (index < m_inFlight.size())
            m_inFlight[size_t(index)].acked = true;
    }
    while (!m_inFlight.empty() && m_inFlight.front().acked) {
        m_acked = m_inFlight.front().after;
        m_inFlight.pop_front();
    }
}

void Outbox::rewind()
{
    m_countedLines = 0;
    m_read = m_counted = m_acked;
    m_inFlight.clear();
}

qint64 Outbox::backlog()
{
    // Count on from where counting stopped, so a long backlog is read once.
    QByteArray line;
    Position at = m_counted;
    while (readLine(at, &line))
        ++m_countedLines;
    m_counted = at;
    return qint64(m_inFlight.size()) + m_countedLines;
}

QJsonObject Outbox::toJson(const QList<QByteArray> &fields) const
{
    QJsonObject json;
    for (int i = 0; i < m_header.size() && i < fields.size(); ++i) {
        const QString name = QString::fromUtf8(m_header[i]);
        const QString value = QString::fromUtf8(fields[i]);
        if (m_numbers.contains(name)) {
            bool ok = false;
            const double number = value.toDouble(&ok);
            json.insert(name, ok ? QJsonValue(number) : QJsonValue(QJsonValue::Null));
        } else {
            json.insert(name, value);
        }
    }
    return json;
}

} // namespace mqtt
