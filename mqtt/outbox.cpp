#include "outbox.h"

#include <cmath>

#include <QCoreApplication>

#include "journal/csvrecords.h"
#include "platform/regularfile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

namespace mqtt {

namespace {

constexpr qint64 kChunk = 256 * 1024;

} // namespace

bool operator<(const Position &a, const Position &b)
{
    if (a.day != b.day)
        return !a.day.isValid() || (b.day.isValid() && a.day < b.day);
    return a.offset < b.offset;
}

Outbox::Outbox(const QString &folder, const QString &prefix, const QStringList &numberColumns)
    : m_folder(folder), m_prefix(prefix), m_numbers(numberColumns)
{
}

QString Outbox::fileFor(const QDate &day) const
{
    return QDir(m_folder).filePath(journal::dailyFileName(m_prefix, day));
}

QDate Outbox::nextDay(const QDate &after)
{
    if (m_onlyDay.isValid())
        return (!after.isValid() || after < m_onlyDay) && QFileInfo::exists(fileFor(m_onlyDay)) ? m_onlyDay : QDate();
    // The daily files sort by name as by date. At the end of today's file
    // this is asked at every pump: the folder is listed at most once a second.
    if (!m_daysAge.isValid() || (!m_followed && m_daysAge.elapsed() > 1000)) {
        m_days = QDir(m_folder).entryList({journal::dailyFilePattern(m_prefix)}, QDir::Files, QDir::Name);
        m_daysAge.start();
    }
    for (const QString &name : qAsConst(m_days)) {
        const QDate day = journal::dailyFileDay(name, m_prefix);
        if (day.isValid() && (!after.isValid() || day > after))
            return day;
    }
    return QDate();
}

void Outbox::dayWritten(const QDate &day)
{
    const QString name = journal::dailyFileName(m_prefix, day);
    if (!m_daysAge.isValid() || m_days.contains(name))
        return; // listed when first needed
    m_days.append(name);
    m_days.sort();
}

bool Outbox::open(Reader &reader, const QDate &day)
{
    reader.file.close();
    reader.day = QDate();
    reader.buffer.clear();
    reader.bufferStart = 0;
    if (!openRegularFile(reader.file, fileFor(day), QIODevice::ReadOnly, nullptr))
        return false;
    reader.day = day;
    return true;
}

bool Outbox::lineStart(Reader &reader, qint64 offset)
{
    if (offset == 0)
        return true;
    if (offset < 0 || offset > reader.file.size())
        return false;
    const qint64 i = offset - 1 - reader.bufferStart;
    if (i >= 0 && i < reader.buffer.size())
        return reader.buffer.at(int(i)) == '\n';
    return reader.file.seek(offset - 1) && reader.file.read(1) == "\n";
}

void Outbox::fallBack(const QString &why)
{
    const QDate day = m_read.day;
    m_note = QCoreApplication::translate("Mqtt", "%1：%2，从该文件开头重新发送").arg(QDir::toNativeSeparators(fileFor(day)), why);
    m_read = {day, 0, 0};
    // What was sent of this file goes again; ids let the receiver drop it.
    if (m_acked.day == day || !m_acked.day.isValid())
        m_acked = m_read;
    m_inFlight.clear();
    m_counted = m_acked;
    m_countedLines = 0;
    m_countedToEnd = false;
}

bool Outbox::nextLine(Reader &reader, Position &at, QByteArray *line, bool check)
{
    bool reopened = false;
    for (int hops = 0; hops < 10000; ++hops) {
        if (!at.day.isValid()) {
            const QDate first = nextDay(QDate());
            if (!first.isValid())
                return false;
            at = {first, 0, 0};
        }
        if (reader.day != at.day || !reader.file.isOpen()) {
            if (!open(reader, at.day)) {
                // The day's file is gone: on to the next day, if there is one.
                const QDate next = nextDay(at.day);
                if (!next.isValid())
                    return false;
                at = {next, 0, 0};
                continue;
            }
            if (check && !lineStart(reader, at.offset))
                fallBack(QCoreApplication::translate("Mqtt", "位置 %1 不是行首").arg(at.offset));
        }
        if (at.offset < reader.bufferStart || at.offset > reader.bufferStart + reader.buffer.size()) {
            reader.buffer.clear();
            reader.bufferStart = at.offset;
        } else if (at.offset - reader.bufferStart >= kChunk) {
            reader.buffer.remove(0, int(at.offset - reader.bufferStart));
            reader.bufferStart = at.offset;
        }
        int from = int(at.offset - reader.bufferStart);
        // A record ends at a line break outside quotes.
        int nl = journal::recordEnd(reader.buffer, from);
        while (nl < 0) {
            const int had = reader.buffer.size();
            if (!reader.file.seek(reader.bufferStart + had))
                break;
            const QByteArray more = reader.file.read(kChunk);
            if (more.isEmpty())
                break;
            reader.buffer += more;
            nl = journal::recordEnd(reader.buffer, from);
        }
        if (nl >= 0) {
            if (line) {
                *line = reader.buffer.mid(from, nl - from);
                if (line->endsWith('\r'))
                    line->chop(1);
            }
            at.offset = reader.bufferStart + nl + 1;
            ++at.line;
            if (at.line == 1 && line && &at == &m_read) {
                m_header = journal::headerFields(*line);
                m_headerDay = at.day;
            }
            return true;
        }
        // The end of what this file holds now. Truncated or replaced since
        // it was opened: what was read of it says nothing about what is there.
        if (check && !reopened) {
            reopened = true;
            const bool same = pathStillNamesFile(reader.file, fileFor(at.day));
            if (!same || reader.file.size() < at.offset) {
                if (same)
                    reader.buffer.clear();
                else
                    reader.file.close();
                if (!same && !open(reader, at.day))
                    continue; // gone: the next day is looked for above
                if (!lineStart(reader, at.offset))
                    fallBack(same ? QCoreApplication::translate("Mqtt", "文件变短了") : QCoreApplication::translate("Mqtt", "文件被替换"));
                reader.buffer.clear();
                reader.bufferStart = at.offset;
                continue;
            }
        }
        const QDate next = nextDay(at.day);
        if (!next.isValid())
            return false;
        at = {next, 0, 0};
        reopened = false;
    }
    return false;
}

void Outbox::setAcknowledged(const Position &position)
{
    m_acked = m_read = position;
    m_inFlight.clear();
    if (position.offset < 0 || position.line < 0 || (position.offset > 0 && position.line == 0)) {
        fallBack(QCoreApplication::translate("Mqtt", "记录的位置 %1 无效").arg(position.offset));
    } else if (position.day.isValid() && open(m_reader, position.day) && !lineStart(m_reader, position.offset)) {
        fallBack(QCoreApplication::translate("Mqtt", "记录的位置 %1 不是行首").arg(position.offset));
    }
    m_acked = m_read;
    m_counted = m_acked;
    m_countedLines = 0;
    m_countedToEnd = false;
    if (m_headerDay != m_read.day)
        m_header.clear();
}

void Outbox::startAtEnd()
{
    Position at;
    QDate last;
    for (QDate d = nextDay(QDate()); d.isValid(); d = nextDay(d))
        last = d;
    if (last.isValid()) {
        at = {last, 0, 0};
        Position end = at;
        while (nextLine(m_counter, at, nullptr, false))
            end = at;
        at = end;
    }
    setAcknowledged(at);
}

void Outbox::startAtBeginning()
{
    setAcknowledged(Position());
}

QVector<Message> Outbox::read(int max)
{
    QVector<Message> out;
    QByteArray line;
    while (out.size() < max) {
        if (!nextLine(m_reader, m_read, &line, true))
            break;
        if (m_headerDay != m_read.day) {
            // Resumed in the middle of a file: its first line names the fields.
            Reader top;
            m_header.clear();
            if (open(top, m_read.day)) {
                m_header = journal::headerFields(top.file.readLine(1 << 16).trimmed());
                // A header written again further on (a newer version's
                // columns) holds from there: the last one before this line.
                qint64 at = top.file.pos() - 1, found = -1;
                while (at < m_read.offset && top.file.seek(at)) {
                    const QByteArray block = top.file.read(qMin<qint64>(1 << 20, m_read.offset - at));
                    const int i = block.lastIndexOf("\ntime,");
                    if (i >= 0)
                        found = at + i + 1;
                    if (block.size() < 7)
                        break;
                    at += block.size() - 6;
                }
                if (found >= 0 && top.file.seek(found))
                    m_header = journal::headerFields(top.file.readLine(1 << 16).trimmed());
            }
            m_headerDay = m_read.day;
        }
        Flight flight {m_nextSerial++, m_read};
        if (m_read.line > 1 && journal::isHeaderRecord(line))
            m_header = journal::headerFields(line); // a newer version's columns from here on
        const QList<QByteArray> fields = m_read.line == 1 || m_header.isEmpty() || journal::isHeaderRecord(line)
                                             ? QList<QByteArray>()
                                             : journal::csvFields(line);
        // Fewer fields than the header: torn by a power cut. More: columns a
        // newer version added after those the header names.
        if (fields.size() < m_header.size() || fields.isEmpty()) {
            flight.acked = true; // a header, a torn line: nothing to send
        } else {
            QJsonObject json = toJson(fields);
            const QString station = json.value(QStringLiteral("station")).toString();
            const QString id = QStringLiteral("%1/%2/%3/%4")
                                   .arg(station, m_prefix, m_read.day.toString(Qt::ISODate), QString::number(m_read.line));
            json.insert(QStringLiteral("id"), id);
            out.append({id, QJsonDocument(json).toJson(QJsonDocument::Compact), station, flight.serial});
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
        if (m_acked.day.isValid() && m_inFlight.front().after.day != m_acked.day)
            m_left.append(m_acked); // a day behind now: later lines in it are the caller's to find
        m_acked = m_inFlight.front().after;
        m_inFlight.pop_front();
        // The count runs ahead of the acknowledgements, or is caught up by them.
        if (m_acked < m_counted || (m_acked.day == m_counted.day && m_acked.offset == m_counted.offset)) {
            m_countedLines = qMax<qint64>(0, m_countedLines - 1);
        } else {
            m_counted = m_acked;
            m_countedLines = 0;
            m_countedToEnd = false;
        }
    }
}

void Outbox::rewind()
{
    m_read = m_acked;
    m_inFlight.clear();
}

bool Outbox::countSome(qint64 maxBytes)
{
    // Newlines counted block by block, not line by line: a week of lines
    // in a few dozen slices of a few milliseconds each.
    qint64 bytes = 0;
    m_countedToEnd = false;
    while (bytes < maxBytes) {
        if (!m_counted.day.isValid()) {
            const QDate first = nextDay(QDate());
            if (!first.isValid())
                break;
            m_counted = {first, 0, 0};
        }
        if (m_counter.day != m_counted.day || !m_counter.file.isOpen()) {
            if (!open(m_counter, m_counted.day)) {
                const QDate next = nextDay(m_counted.day);
                if (!next.isValid())
                    break;
                m_counted = {next, 0, 0};
                continue;
            }
        }
        if (m_counter.file.size() < m_counted.offset) {
            // Shorter than counted: count again from the acknowledged place.
            m_counted = m_acked;
            m_countedLines = 0;
            return false;
        }
        m_counter.buffer.clear();
        m_counter.bufferStart = m_counted.offset;
        QByteArray block;
        if (m_counter.file.seek(m_counted.offset))
            block = m_counter.file.read(qMin<qint64>(kChunk * 4, maxBytes - bytes + kChunk));
        int last = -1;
        qint64 n = 0;
        if (!block.contains('"')) {
            last = block.lastIndexOf('\n');
            n = block.left(last + 1).count('\n');
        } else {
            // Quoted line breaks belong to their record.
            for (int end = journal::recordEnd(block, 0); end >= 0; end = journal::recordEnd(block, end + 1)) {
                last = end;
                ++n;
            }
        }
        if (last < 0) {
            // The end of this file's complete lines: on to the next day.
            const QDate next = nextDay(m_counted.day);
            if (!next.isValid())
                break;
            m_counted = {next, 0, 0};
            continue;
        }
        m_counted.offset += last + 1;
        m_counted.line += n;
        m_countedLines += n;
        bytes += last + 1;
    }
    m_countedToEnd = bytes < maxBytes;
    return m_countedToEnd;
}

qint64 Outbox::recordsBefore(const QString &path, qint64 offset)
{
    QFile file;
    if (offset <= 0 || !openRegularFile(file, path, QIODevice::ReadOnly, nullptr))
        return 0;
    // Whole records only: a quoted line break belongs to its field.
    const QByteArray head = file.read(offset);
    qint64 n = 0;
    for (int end = journal::recordEnd(head, 0); end >= 0; end = journal::recordEnd(head, end + 1))
        ++n;
    return n;
}

QString Outbox::takeNote()
{
    QString note;
    note.swap(m_note);
    return note;
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
            // JSON has no NaN or infinity: such a value goes as its text, never
            // as a silent null (the plant's ingest refuses it, as the report
            // skips the line). Text that is no number is an empty value.
            json.insert(name, ok && !std::isfinite(number) ? QJsonValue(value) : ok ? QJsonValue(number) : QJsonValue(QJsonValue::Null));
        } else {
            json.insert(name, value);
        }
    }
    return json;
}

} // namespace mqtt
