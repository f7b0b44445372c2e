#ifndef PLANTDB_SCHEMA_H
#define PLANTDB_SCHEMA_H

// The plant's schema: versioned SQL files (plantdb/sql/NNN_what.sql), each
// applied once and in order by the ingest, which records the versions in
// schema_version. Every reader of the database needs the version its build
// knows: a query may use anything the newest file defines.

#include <QString>
#include <QVector>

namespace plantdb {

struct SchemaFile
{
    int version = 0;
    QString name; // "004_reading_quarters.sql"
    QString path; // in the program's resources
};

// In order of version.
QVector<SchemaFile> schemaFiles();

// The newest version this build knows.
int schemaVersion();

// The version of a database as `SELECT coalesce(max(version), 0) FROM
// schema_version` gives it (0: never migrated), for a reader to compare.
extern const char *const kVersionQuery;

} // namespace plantdb

#endif
