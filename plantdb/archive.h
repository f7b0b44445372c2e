#ifndef PLANTDB_ARCHIVE_H
#define PLANTDB_ARCHIVE_H

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

// Old days out of the plant database and back: each stream's day partition
// older than the days kept is detached, written to a part of the day's
// archive (TABLE-YYYY-MM-DD.csv.gz, and TABLE-YYYY-MM-DD.N.csv.gz for later
// parts: late lines of an archived day, a second table of a day; COPY's CSV
// with its header, gzip; beside each a .json manifest: rows, the CSV's
// SHA-256, the partition's name), synced with its folder, and only then
// dropped, with its readings' quarters and packed series. No file is ever
// written over. A day a report is reading waits for the next run (the
// detach's lock wait is cut short). A restore puts every part of a day back
// through the table, so its quarters, series and message ids come back as
// they do for rows that arrive.
namespace plantdb {

struct ArchiveSettings
{
    QString conninfo;
    QString folder;          // where the files go (made if missing)
    int keepDays = -1;       // readings: days kept before today (UTC); < 0: none archived
    int keepCellDays = -1;   // cells and packs the same; < 0: kept for ever
    QDate today;             // UTC; invalid: the machine's
    int lockWaitMs = 2000;
};

struct ArchivedDay
{
    QString table; // readings, cells or packs
    QDate day;     // UTC
    qint64 rows = 0;
    QByteArray sha256; // of the CSV, hex
    QString file;
};

// Every day due. done: what was archived; waiting: days whose detach had to
// wait (a reader holds the table), tried on the next run. False with the
// reason (file or server named) when something failed; what was archived
// before stays archived, and nothing is dropped before its file is whole.
bool archiveOldDays(const ArchiveSettings &settings, QVector<ArchivedDay> *done, QStringList *waiting, QString *error);

// A day's archive of a table, every part, back into the database (each
// checked against its SHA-256 and rows first; a damaged file is named);
// rows already there again are not doubled.
bool restoreDay(const QString &conninfo, const QString &folder, const QString &table, const QDate &day, qint64 *restored,
                QString *error);

} // namespace plantdb

#endif // PLANTDB_ARCHIVE_H
