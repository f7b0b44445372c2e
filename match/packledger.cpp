#include "packledger.h"

#include <QCoreApplication>

#include "journal/csvrecords.h"
#include "journal/dailycsv.h"
#include "journal/journal.h"
#include "platform/regularfile.h"
#include "storage/textfile.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSysInfo>

namespace match {

// station: the host that made the plan (a ledger line names where it came from).
const char *const kPacksHeader = "time,station,pack,event,group,slot,cell_id,r_mohm,v,lot,record";

PackLedger::PackLedger(const QString &folder)
    : m_folder(folder)
{
}

bool PackLedger::load(QString *error)
{
    m_placed.clear();
    m_packs.clear();
    m_cancelled.clear();
    const QDir dir(folder());
    QHash<QString, QStringList> cellsOf;
    // Every entry of a ledger's name, whatever its kind: a day that cannot be
    // read leaves its cells' state unknown, so nothing is matched over it.
    const QDir::Filters all = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
    for (const QString &name : dir.entryList({journal::dailyFilePattern(QLatin1String(journal::kPacksPrefix))}, all, QDir::Name)) {
        QFile file;
        if (!openRegularFile(file, dir.filePath(name), QIODevice::ReadOnly, error))
            return false;
        journal::RecordReader reader(file);
        QByteArray line;
        int pack = 1, event = 2, cell = 5;
        while (reader.next(&line)) {
            if (journal::isHeaderRecord(line)) {
                if (line.startsWith("\xEF\xBB\xBF"))
                    line.remove(0, 3);
                const QList<QByteArray> names = journal::csvFields(line);
                pack = int(names.indexOf("pack")), event = int(names.indexOf("event")), cell = int(names.indexOf("cell_id"));
                continue;
            }
            const QList<QByteArray> f = journal::csvFields(line);
            if (pack < 0 || event < 0 || cell < 0 || f.size() <= std::max({pack, event, cell}))
                continue;
            const QString id = QString::fromUtf8(f[pack]);
            if (f[event] == "plan") {
                m_packs.insert(id);
                cellsOf[id] << QString::fromUtf8(f[cell]);
            } else if (f[event] == "cancel") {
                m_cancelled.insert(id);
            }
        }
    }
    for (auto it = cellsOf.cbegin(); it != cellsOf.cend(); ++it)
        if (!m_cancelled.contains(it.key()))
            for (const QString &cell : it.value())
                m_placed.insert(cell, it.key());
    return true;
}

QString PackLedger::nextPackId(const QDate &day) const
{
    const QString stem = QStringLiteral("PACK-%1-").arg(day.toString(QStringLiteral("yyyyMMdd")));
    int n = 1;
    while (m_packs.contains(stem + QString::number(n)) || m_cancelled.contains(stem + QString::number(n)))
        ++n;
    return stem + QString::number(n);
}

bool PackLedger::locked(const std::function<bool(QString *)> &work, QString *error)
{
    if (!QDir().mkpath(folder())) {
        if (error)
            *error = QCoreApplication::translate("Match", "无法创建文件夹 %1").arg(folder());
        return false;
    }
    // Two programs adding packs at once must not both take a cell.
    const QString lockPath = QDir(folder()).filePath(QStringLiteral("packs.lock"));
    if (fileKind(lockPath) == FileKind::Other) { // a folder or FIFO is no one's lock
        if (error)
            *error = notRegularFileReason(lockPath);
        return false;
    }
    QLockFile lock(lockPath);
    if (!lock.tryLock(10000)) {
        // Held by another program, or not to be made at all (a full disk, no right to write).
        if (error)
            *error = lock.error() == QLockFile::LockFailedError
                         ? QCoreApplication::translate("Match", "%1 被另一个程序占用（packs.lock）").arg(folder())
                         : QCoreApplication::translate("Match", "无法创建锁文件 %1（磁盘已满或无写入权限）").arg(lockPath);
        return false;
    }
    return load(error) && work(error);
}

bool PackLedger::write(const QDate &day, const QByteArray &lines, QString *error)
{
    // A writer of its own each time: lines it could not write go with it,
    // so the ledger never holds a plan its caller was told had failed.
    journal::DailyCsv file(m_folder, QLatin1String(journal::kPacksPrefix), kPacksHeader);
    file.append(day, lines);
    if (!file.writeWaitingNow()) {
        if (error)
            *error = file.reason(); // names the file
        return false;
    }
    file.close(); // synced
    return true;
}

bool PackLedger::addPlan(const QString &pack, const QVector<Cell> &cells, const Plan &plan, const QDateTime &now,
                         QString *error)
{
    return locked([&](QString *why) {
        if (m_packs.contains(pack) || m_cancelled.contains(pack)) {
            *why = QCoreApplication::translate("Match", "电池包编号 %1 已在配组账中").arg(pack);
            return false;
        }
        QByteArray lines;
        const QString time = journal::isoTime(now); // with its offset from UTC, as the journal's
        for (int g = 0; g < plan.groups.size(); ++g) {
            for (int s = 0; s < plan.groups[g].size(); ++s) {
                const Cell &c = cells[plan.groups[g][s]];
                if (m_placed.contains(c.id)) {
                    *why = QCoreApplication::translate("Match", "电芯 %1 已在电池包 %2 中").arg(c.id, m_placed.value(c.id));
                    return false;
                }
                lines += QStringList {time, journal::csvField(QSysInfo::machineHostName()), journal::csvField(pack), QStringLiteral("plan"), QString::number(g + 1),
                                      QString::number(s + 1), journal::csvField(c.id), QString::number(c.r, 'f', 4),
                                      QString::number(c.v, 'f', 4), journal::csvField(c.lot), journal::csvField(c.record)}
                             .join(QLatin1Char(','))
                             .toUtf8()
                         + '\n';
            }
        }
        return write(now.date(), lines, why);
    }, error);
}

bool PackLedger::cancel(const QString &pack, const QDateTime &now, QString *error)
{
    return locked([&](QString *why) {
        if (!m_packs.contains(pack)) {
            *why = QCoreApplication::translate("Match", "配组账中没有电池包 %1").arg(pack);
            return false;
        }
        if (m_cancelled.contains(pack)) {
            *why = QCoreApplication::translate("Match", "电池包 %1 已经取消过").arg(pack);
            return false;
        }
        const QByteArray line = QStringLiteral("%1,%2,%3,cancel,,,,,,,\n")
                                    .arg(journal::isoTime(now), journal::csvField(QSysInfo::machineHostName()),
                                         journal::csvField(pack))
                                    .toUtf8();
        return write(now.date(), line, why);
    }, error);
}

} // namespace match
