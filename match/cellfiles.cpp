#include "cellfiles.h"

#include <QCoreApplication>

#include "journal/csvrecords.h"
#include "platform/regularfile.h"

#include <QFile>

namespace match {

namespace {

QList<QByteArray> headerOf(QByteArray record)
{
    if (record.startsWith("\xEF\xBB\xBF"))
        record.remove(0, 3);
    return journal::csvFields(record.trimmed());
}

struct Columns
{
    explicit Columns(const QList<QByteArray> &header) : names(header)
    {
        auto column = [this](const char *name) { return int(names.indexOf(QByteArray(name))); };
        time = column("time"), station = column("station"), lot = column("lot"), record = column("record"),
        id = column("cell_id"), r = column("r_mohm"), v = column("v"), verdict = column("verdict"),
        grade = column("grade"), voids = column("voids");
    }
    bool usable() const { return time >= 0 && station >= 0 && record >= 0 && id >= 0 && r >= 0 && v >= 0 && verdict >= 0; }
    QList<QByteArray> names;
    int time, station, lot, record, id, r, v, verdict, grade, voids;
};

} // namespace

bool readCellRecords(const QString &path, CellRecords *into, QString *error)
{
    QFile file;
    if (!openRegularFile(file, path, QIODevice::ReadOnly, error))
        return false;
    journal::RecordReader reader(file);
    QByteArray line;
    reader.next(&line);
    Columns c(headerOf(line));
    if (!c.usable()) {
        if (error)
            *error = QCoreApplication::translate("Match", "%1：第一行不是电芯记录文件的列名").arg(path);
        return false;
    }
    while (reader.next(&line)) {
        if (line.isEmpty())
            continue;
        if (journal::isHeaderRecord(line)) { // a newer version's columns from here on
            const Columns again(headerOf(line));
            if (again.usable())
                c = again;
            continue;
        }
        const QList<QByteArray> f = journal::csvFields(line);
        if (f.size() < c.names.size()) {
            ++into->skipped;
            continue;
        }
        auto text = [&](int column) { return column >= 0 ? QString::fromUtf8(f[column]) : QString(); };
        if (c.voids >= 0 && !f[c.voids].isEmpty()) {
            into->voided.insert(text(c.station) + QLatin1Char(',') + text(c.voids));
            continue;
        }
        Cell cell;
        cell.id = text(c.id);
        bool okR = false, okV = false;
        cell.r = f[c.r].toDouble(&okR);
        cell.v = f[c.v].toDouble(&okV);
        if (!okR)
            cell.r = NAN;
        if (!okV)
            cell.v = NAN;
        cell.lot = text(c.lot);
        cell.verdict = text(c.verdict);
        cell.grade = text(c.grade);
        cell.time = QDateTime::fromString(text(c.time), Qt::ISODateWithMs);
        cell.record = text(c.record);
        cell.station = text(c.station);
        into->records.append(cell);
    }
    if (reader.torn())
        ++into->skipped;
    return true;
}

bool readCapacities(const QString &path, QHash<QString, double> *into, QString *error)
{
    QFile file;
    if (!openRegularFile(file, path, QIODevice::ReadOnly, error))
        return false;
    journal::RecordReader reader(file);
    QByteArray line;
    int column = 1;
    bool first = true;
    while (reader.next(&line)) {
        const QList<QByteArray> f = headerOf(line);
        if (f.size() < 2)
            continue;
        if (first) {
            first = false;
            bool number = false;
            f.value(column).toDouble(&number);
            if (!number) { // a header: find the capacity's column
                for (int i = 1; i < f.size(); ++i) {
                    const QString name = QString::fromUtf8(f[i]).toLower();
                    if (name.contains(QLatin1String("cap")) || name.contains(QString::fromUtf8("容量"))) {
                        column = i;
                        break;
                    }
                }
                continue;
            }
        }
        bool ok = false;
        const double capacity = f.value(column).toDouble(&ok);
        if (ok && !f[0].isEmpty())
            into->insert(QString::fromUtf8(f[0]), capacity);
    }
    if (into->isEmpty()) {
        if (error)
            *error = QCoreApplication::translate("Match", "%1：没有“电芯编号,容量”行").arg(path);
        return false;
    }
    return true;
}

bool readCellRecords(const QStringList &paths, CellRecords *into, QStringList *problems)
{
    bool all = true;
    for (const QString &path : paths) {
        QString error;
        if (!readCellRecords(path, into, &error)) {
            *problems << error;
            all = false;
        }
    }
    return all;
}

} // namespace match
