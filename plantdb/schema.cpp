#include "schema.h"

#include <QDir>

namespace plantdb {

const char *const kVersionQuery =
    "SELECT CASE WHEN to_regclass('schema_version') IS NULL THEN 0"
    " ELSE (SELECT coalesce(max(version), 0) FROM schema_version) END";

QVector<SchemaFile> schemaFiles()
{
    const QString folder = QStringLiteral(":/plantdb/sql/");
    QVector<SchemaFile> files;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.sql")}, QDir::Files, QDir::Name))
        files.append({name.left(3).toInt(), name, folder + name});
    return files;
}

int schemaVersion()
{
    const QVector<SchemaFile> files = schemaFiles();
    return files.isEmpty() ? 0 : files.last().version;
}

} // namespace plantdb
