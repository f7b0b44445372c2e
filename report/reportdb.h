#ifndef REPORTDB_H
#define REPORTDB_H

#include "reportdata.h"

// The report over the plant database (the tables zentrel-ingest fills): the
// same groups and charts as from the files, summed up by the server.
namespace report {

struct DatabaseReport
{
    QVector<Group> groups; // in the report's order
    Charts charts;
    qint64 lines = 0;   // rows in the range asked for
    qint64 skipped = 0; // rows beyond the meter's range
    QString where;      // host:port/database, no password
};

// Days are the report machine's local days, as the files' names are.
// False with the reason (naming the server) when the database cannot be
// read.
bool readDatabase(const QString &conninfo, const Options &options, DatabaseReport *out, QString *error);

} // namespace report

#endif // REPORTDB_H
