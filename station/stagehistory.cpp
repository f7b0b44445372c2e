#include "stagehistory.h"

#include "journal/csvrecords.h"
#include "journal/isotime.h"
#include "journal/journal.h"
#include "platform/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace station {

namespace {

QString keyOf(const QString &stage, const QString &cellId)
{
    return stage + QLatin1Char('\x1f') + cellId;
}

} // namespace

void StageHistory::refresh(const QDate &last)
{
    const QString prefix = QLatin1String(journal::kCellsPrefix);
    const QDate first = last.addDays(-m_days);
    QSet<QString> seen;
    for (const QString &name : QDir(m_folder).entryList({prefix + QStringLiteral("*.csv")}, QDir::Files)) {
        const QDate day = journal::dailyFileDay(name, prefix);
        // Later days too: a void line goes in the file of the day it was written.
        if (!day.isValid() || day < first)
            continue;
        seen << name;
        File &file = m_files[name];
        const qint64 size = QFileInfo(QDir(m_folder).filePath(name)).size();
        if (size < file.offset) // written anew: read from the start
            file = File();
        if (size > file.offset)
            read(QDir(m_folder).filePath(name), file);
    }
    for (auto it = m_files.begin(); it != m_files.end();) // days that left the window
        it = seen.contains(it.key()) ? std::next(it) : m_files.erase(it);
}

void StageHistory::read(const QString &path, File &file)
{
    QFile device;
    if (!openRegularFile(device, path, QIODevice::ReadOnly, nullptr))
        return;
    journal::RecordReader reader(device);
    QByteArray line;
    if (file.offset == 0) {
        if (!reader.next(&line))
            return;
        file.header = journal::headerFields(line);
    } else if (!reader.seek(file.offset)) {
        return;
    }
    auto column = [&file](const char *name) { return int(file.header.indexOf(QByteArray(name))); };
    int time = column("time"), cell = column("cell_id"), stage = column("stage"), v = column("v");
    int verdict = column("verdict"), record = column("record"), voids = column("voids");
    journal::FieldViews f;
    while (reader.next(&line)) {
        if (line.isEmpty())
            continue;
        if (journal::isHeaderRecord(line)) { // a newer version's columns from here on
            file.header = journal::headerFields(line);
            time = column("time"), cell = column("cell_id"), stage = column("stage"), v = column("v");
            verdict = column("verdict"), record = column("record"), voids = column("voids");
            continue;
        }
        f.split(line);
        if (f.size() < file.header.size() || time < 0 || cell < 0 || v < 0 || verdict < 0 || record < 0)
            continue;
        if (voids >= 0 && !f[voids].isEmpty()) {
            file.voids << QString::fromUtf8(f[voids]);
            continue;
        }
        if (f[verdict] == "VOID")
            continue;
        qint64 ms = 0;
        bool ok = false;
        const double volts = journal::fieldNumber(f[v], &ok);
        if (!ok || !journal::readIsoTime(f[time], &ms) || f[cell].isEmpty())
            continue;
        const QString key = keyOf(stage >= 0 ? QString::fromUtf8(f[stage]) : QString(), QString::fromUtf8(f[cell]));
        file.byKey[key].append({ms, volts, QString::fromUtf8(f[record])});
    }
    file.offset = reader.offset();
}

std::optional<StageHistory::Earlier> StageHistory::latest(const QString &cellId, const QString &stage, const QDateTime &at)
{
    refresh(at.date());
    const QString key = keyOf(stage, cellId);
    const qint64 before = at.toMSecsSinceEpoch(), first = at.addDays(-m_days).toMSecsSinceEpoch();
    auto voided = [this](const QString &record) {
        for (const File &f : qAsConst(m_files))
            if (f.voids.contains(record))
                return true;
        return false;
    };
    const Entry *best = nullptr;
    for (const File &f : qAsConst(m_files)) {
        const auto it = f.byKey.constFind(key);
        if (it == f.byKey.constEnd())
            continue;
        for (const Entry &e : *it)
            if (e.ms < before && e.ms >= first && (!best || e.ms > best->ms) && !voided(e.record))
                best = &e;
    }
    if (!best)
        return std::nullopt;
    return Earlier {QDateTime::fromMSecsSinceEpoch(best->ms), best->v, best->record};
}

} // namespace station
