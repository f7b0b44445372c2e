#include "cellfiles.h"

#include <QCoreApplication>

#include "journal/csvrecords.h"
#include "station/cellsfile.h"
#include "platform/regularfile.h"

#include <QFile>

namespace match {

namespace {

} // namespace

bool readCellRecords(const QString &path, CellRecords *into, QString *error)
{
    // The station owns the file's columns; a void line names the record it voids.
    station::CellsFile file;
    if (!station::readCellsFile(path, &file, error))
        return false;
    into->skipped += file.skipped;
    for (const station::CellRecord &r : qAsConst(file.lines)) {
        if (!r.voids.isEmpty()) {
            into->voided.insert(r.station + QLatin1Char(',') + r.voids);
            continue;
        }
        Cell cell;
        cell.id = r.cellId;
        cell.r = r.rMilliOhm;
        cell.k = r.kMvDay;
        cell.v = r.v;
        cell.lot = r.lot;
        cell.verdict = station::verdictText(r.verdict);
        cell.grade = r.grade;
        cell.time = r.time;
        cell.record = r.id;
        cell.station = r.station;
        into->records.append(cell);
    }
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
        const QList<QByteArray> f = journal::headerFields(line);
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
