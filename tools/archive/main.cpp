// zentrel-archive: old days out of the plant database into files, and back.
// Run it hourly (a systemd timer or cron): a day a report is reading waits
// for the next run. See --help and docs/plant.md.
#include "plantdb/archive.h"
#include "plantdb/conninfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

void say(const QString &text)
{
    std::fprintf(stderr, "zentrel-archive: %s\n", qPrintable(text));
    std::fflush(stderr);
}

int days(const QCommandLineParser &parser, const QCommandLineOption &option, bool *ok)
{
    if (!parser.isSet(option))
        return -1;
    bool read = false;
    const int n = parser.value(option).toInt(&read);
    *ok = *ok && read && n >= 0;
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrel-archive"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTREL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Old days of the plant database into files (one gzip CSV and a manifest per table and day, with its SHA-256), "
        "their partitions dropped; or a day back from its files."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dbOpt("db", "The database, as libpq takes it (postgresql://user@host:5432/plant).", "conninfo");
    const QCommandLineOption dirOpt("dir", "Where the archive's files are.", "folder");
    const QCommandLineOption keepOpt("keep-days", "Readings of this many days before today (UTC) stay; older days are archived.", "n");
    const QCommandLineOption keepCellOpt("keep-cell-days", "The same for cell records and pack lines (default: kept for ever).", "n");
    const QCommandLineOption restoreOpt("restore", "Put this day's archived rows back (with --table).", "YYYY-MM-DD");
    const QCommandLineOption tableOpt("table", "With --restore: readings (default), cells or packs.", "table", "readings");
    parser.addOptions({dbOpt, dirOpt, keepOpt, keepCellOpt, restoreOpt, tableOpt});
    parser.process(app);
    if (!parser.isSet(dbOpt) || !parser.isSet(dirOpt) || parser.isSet(restoreOpt) == (parser.isSet(keepOpt) || parser.isSet(keepCellOpt))) {
        say(QStringLiteral("give --db, --dir and either --keep-days (and/or --keep-cell-days) or --restore (--help)"));
        return 2;
    }
    const QString conninfo = parser.value(dbOpt);
    if (plantdb::conninfoHasPassword(conninfo.toUtf8())) {
        say(QStringLiteral("--db holds a password, which every user can read (ps); put it in ~/.pgpass or the file PGPASSFILE names"));
        return 2;
    }
    QString error;
    if (parser.isSet(restoreOpt)) {
        const QDate day = QDate::fromString(parser.value(restoreOpt), Qt::ISODate);
        const QString table = parser.value(tableOpt);
        if (!day.isValid() || !QStringList {"readings", "cells", "packs"}.contains(table)) {
            say(QStringLiteral("--restore takes a day (YYYY-MM-DD), --table readings, cells or packs"));
            return 2;
        }
        qint64 restored = 0;
        if (!plantdb::restoreDay(conninfo, parser.value(dirOpt), table, day, &restored, &error)) {
            say(error);
            return 1;
        }
        say(QStringLiteral("%1 %2: %3 rows back").arg(table, day.toString(Qt::ISODate)).arg(restored));
        return 0;
    }
    plantdb::ArchiveSettings settings;
    settings.conninfo = conninfo;
    settings.folder = parser.value(dirOpt);
    bool ok = true;
    settings.keepDays = days(parser, keepOpt, &ok);
    settings.keepCellDays = days(parser, keepCellOpt, &ok);
    if (!ok) {
        say(QStringLiteral("--keep-days and --keep-cell-days take whole days, 0 or more"));
        return 2;
    }
    QVector<plantdb::ArchivedDay> done;
    QStringList waiting;
    const bool archived = plantdb::archiveOldDays(settings, &done, &waiting, &error);
    for (const plantdb::ArchivedDay &d : done)
        say(QStringLiteral("%1 %2: %3 rows into %4 (SHA-256 %5), its partition dropped")
                .arg(d.table, d.day.toString(Qt::ISODate)).arg(d.rows).arg(d.file, QString::fromLatin1(d.sha256)));
    for (const QString &w : waiting)
        say(QStringLiteral("%1: a reader holds the table; tried on the next run").arg(w));
    if (!archived) {
        say(error);
        return 1;
    }
    return 0;
}
