#include "archive.h"

#include "plantdb/pq.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <zlib.h>

#include <functional>

namespace plantdb {

namespace {

const char *const kStreams[] = {"readings", "cells", "packs"};

class Db
{
public:
    bool open(const QString &conninfo, QString *error)
    {
        m_conn = connect(conninfo, "zentrel-archive");
        if (PQstatus(m_conn.get()) == CONNECTION_OK)
            return exec("SET TIME ZONE 'UTC'", error) && exec("SET client_min_messages = warning", error);
        return fail(error);
    }
    std::unique_ptr<Result> run(const QString &sql, const QVector<QByteArray> &params, QString *error)
    {
        QVector<const char *> values;
        for (const QByteArray &p : params)
            values.append(p.constData());
        auto r = std::make_unique<Result>(PQexecParams(m_conn.get(), sql.toUtf8().constData(), int(values.size()), nullptr,
                                                       values.constData(), nullptr, nullptr, 0));
        if (r->ok())
            return r;
        m_state = r->state();
        fail(error);
        return nullptr;
    }
    bool exec(const QString &sql, QString *error) { return run(sql, {}, error) != nullptr; }
    // COPY … TO STDOUT, chunk by chunk.
    bool copyOut(const QString &sql, const std::function<bool(const char *, int)> &chunk, QString *error)
    {
        Result start(PQexec(m_conn.get(), sql.toUtf8().constData()));
        if (start.status() != PGRES_COPY_OUT)
            return fail(error);
        char *buffer = nullptr;
        int n;
        bool kept = true;
        while ((n = PQgetCopyData(m_conn.get(), &buffer, 0)) > 0) {
            kept = kept && chunk(buffer, n);
            PQfreemem(buffer);
        }
        Result end(PQgetResult(m_conn.get()));
        while (PGresult *more = PQgetResult(m_conn.get()))
            PQclear(more);
        return (n == -2 || end.status() != PGRES_COMMAND_OK) ? fail(error) : kept;
    }
    // COPY … FROM STDIN, fed by `next` until it gives an empty chunk.
    bool copyIn(const QString &sql, const std::function<QByteArray()> &next, QString *error)
    {
        Result start(PQexec(m_conn.get(), sql.toUtf8().constData()));
        if (start.status() != PGRES_COPY_IN)
            return fail(error);
        for (QByteArray chunk = next(); !chunk.isEmpty(); chunk = next())
            if (PQputCopyData(m_conn.get(), chunk.constData(), chunk.size()) != 1)
                return fail(error);
        if (PQputCopyEnd(m_conn.get(), nullptr) != 1)
            return fail(error);
        Result end(PQgetResult(m_conn.get()));
        while (PGresult *more = PQgetResult(m_conn.get()))
            PQclear(more);
        return end.ok() || fail(error);
    }
    QByteArray state() const { return m_state; }
    QString where() const { return plantdb::where(m_conn.get()); }

private:
    bool fail(QString *error) const
    {
        if (error)
            *error = failure(m_conn.get());
        return false;
    }
    Connection m_conn;
    QByteArray m_state;
};

QString baseName(const QString &table, const QDate &day)
{
    return QStringLiteral("%1-%2").arg(table, day.toString(Qt::ISODate));
}

// A stream's day partitions (attached, or detached by a run that stopped
// before it dropped them), with their days.
bool partitionsOf(Db &db, const QString &table, QVector<QPair<QString, QDate>> *out, QVector<bool> *attached, QString *error)
{
    const auto r = db.run(QStringLiteral("SELECT c.relname, coalesce(pg_get_expr(c.relpartbound, c.oid), ''), i.inhrelid IS NOT NULL"
                                         " FROM pg_class c LEFT JOIN pg_inherits i ON i.inhrelid = c.oid AND i.inhparent = '%1'::regclass"
                                         " WHERE c.relkind = 'r' AND c.relnamespace = current_schema()::regnamespace"
                                         " AND c.relname ~ '^%1_[0-9]{8}(_[0-9]+)?$' ORDER BY 1")
                              .arg(table),
                          {}, error);
    if (!r)
        return false;
    static const QRegularExpression from(QStringLiteral("FROM \\('(\\d{4}-\\d{2}-\\d{2})")), named(QStringLiteral("_(\\d{8})"));
    for (int i = 0; i < r->rows(); ++i) {
        const QString name = r->text(i, 0);
        const QRegularExpressionMatch bound = from.match(r->text(i, 1));
        const QDate day = bound.hasMatch() ? QDate::fromString(bound.captured(1), Qt::ISODate)
                                           : QDate::fromString(named.match(name).captured(1), QStringLiteral("yyyyMMdd"));
        if (day.isValid())
            out->append({name, day}), attached->append(r->bytes(i, 2) == "t");
    }
    return true;
}

// The partition's rows as COPY's CSV into folder/BASE.csv.gz (written under
// another name, then moved), with its manifest.
bool writeDay(Db &db, const QString &folder, const QString &table, const QString &partition, const QDate &day, ArchivedDay *out,
              QString *error)
{
    const auto counted = db.run(QStringLiteral("SELECT count(*) FROM %1").arg(partition), {}, error);
    if (!counted)
        return false;
    const QString base = QDir(folder).filePath(baseName(table, day));
    const QString part = base + QStringLiteral(".csv.gz.part");
    gzFile gz = gzopen(QFile::encodeName(part).constData(), "wb6");
    if (!gz) {
        *error = QStringLiteral("%1: cannot be written").arg(part);
        return false;
    }
    QCryptographicHash sha(QCryptographicHash::Sha256);
    const bool copied = db.copyOut(QStringLiteral("COPY (SELECT * FROM %1 ORDER BY time, id) TO STDOUT (FORMAT csv, HEADER)").arg(partition),
                                   [&](const char *data, int size) {
                                       sha.addData(data, size);
                                       return gzwrite(gz, data, unsigned(size)) == size;
                                   },
                                   error);
    const bool closed = gzclose(gz) == Z_OK;
    if (!copied || !closed) {
        if (copied)
            *error = QStringLiteral("%1: the disk took not all of it").arg(part);
        QFile::remove(part);
        return false;
    }
    out->table = table;
    out->day = day;
    out->rows = counted->integer(0, 0);
    out->sha256 = sha.result().toHex();
    out->file = base + QStringLiteral(".csv.gz");
    QFile manifest(base + QStringLiteral(".json"));
    const QByteArray json = QJsonDocument(QJsonObject {{"table", table},
                                                       {"day", day.toString(Qt::ISODate)},
                                                       {"partition", partition},
                                                       {"rows", double(out->rows)},
                                                       {"sha256", QString::fromLatin1(out->sha256)},
                                                       {"format", "COPY csv with header, gzip"},
                                                       {"archived", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}})
                                .toJson();
    QFile::remove(out->file);
    if (!manifest.open(QIODevice::WriteOnly) || manifest.write(json) != json.size() || !manifest.flush() || !QFile::rename(part, out->file)) {
        *error = QStringLiteral("%1: cannot be written").arg(manifest.fileName());
        return false;
    }
    return true;
}

// Detach (waiting at most lockWaitMs for readers), write, then drop with
// the day's quarters and packed series (readings) or its cells' quarters.
// false with waited set: a reader held it.
bool archiveDay(Db &db, const ArchiveSettings &s, const QString &table, const QString &partition, bool attached, const QDate &day,
                ArchivedDay *out, bool *waited, QString *error)
{
    *waited = false;
    if (attached) {
        const bool detached = db.exec(QStringLiteral("BEGIN"), error)
                              && db.exec(QStringLiteral("SET LOCAL lock_timeout = '%1ms'").arg(s.lockWaitMs), error)
                              && db.exec(QStringLiteral("ALTER TABLE %1 DETACH PARTITION %2").arg(table, partition), error)
                              && db.exec(QStringLiteral("COMMIT"), error);
        if (!detached) {
            *waited = db.state() == "55P03"; // lock_not_available
            db.exec(QStringLiteral("ROLLBACK"), nullptr);
            return false;
        }
    }
    if (!writeDay(db, s.folder, table, partition, day, out, error))
        return false;
    const QByteArray from = day.toString(Qt::ISODate).toUtf8(), to = day.addDays(1).toString(Qt::ISODate).toUtf8();
    bool ok = db.exec(QStringLiteral("BEGIN"), error) && db.exec(QStringLiteral("DROP TABLE %1").arg(partition), error);
    if (table == QLatin1String("readings"))
        for (const char *t : {"reading_quarters", "reading_series", "reading_series_due"})
            ok = ok && db.run(QStringLiteral("DELETE FROM %1 WHERE quarter >= $1::timestamptz AND quarter < $2::timestamptz").arg(t),
                              {from, to}, error);
    if (table == QLatin1String("cells"))
        ok = ok && db.run(QStringLiteral("DELETE FROM cell_quarters WHERE quarter >= $1::timestamptz AND quarter < $2::timestamptz"), {from, to},
                          error);
    ok = ok && db.exec(QStringLiteral("COMMIT"), error);
    if (!ok)
        db.exec(QStringLiteral("ROLLBACK"), nullptr);
    return ok;
}

} // namespace

bool archiveOldDays(const ArchiveSettings &s, QVector<ArchivedDay> *done, QStringList *waiting, QString *error)
{
    if (!QDir().mkpath(s.folder)) {
        *error = QStringLiteral("%1: cannot be made").arg(s.folder);
        return false;
    }
    Db db;
    if (!db.open(s.conninfo, error))
        return false;
    const QDate today = s.today.isValid() ? s.today : QDateTime::currentDateTimeUtc().date();
    for (const char *stream : kStreams) {
        const QString table = QString::fromLatin1(stream);
        const int keep = table == QLatin1String("readings") ? s.keepDays : s.keepCellDays;
        if (keep < 0)
            continue;
        QVector<QPair<QString, QDate>> partitions;
        QVector<bool> attached;
        if (!partitionsOf(db, table, &partitions, &attached, error))
            return false;
        for (int i = 0; i < partitions.size(); ++i) {
            const auto &[partition, day] = partitions[i];
            if (day >= today.addDays(-keep))
                continue;
            ArchivedDay archived;
            bool waited = false;
            if (archiveDay(db, s, table, partition, attached[i], day, &archived, &waited, error))
                done->append(archived);
            else if (waited)
                waiting->append(QStringLiteral("%1 %2").arg(table, day.toString(Qt::ISODate)));
            else
                return false;
        }
    }
    return true;
}

bool restoreDay(const QString &conninfo, const QString &folder, const QString &table, const QDate &day, qint64 *restored, QString *error)
{
    const QString base = QDir(folder).filePath(baseName(table, day));
    QFile manifest(base + QStringLiteral(".json"));
    const QJsonObject m = manifest.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(manifest.readAll()).object() : QJsonObject();
    if (m.value(QStringLiteral("table")).toString() != table || m.value(QStringLiteral("sha256")).toString().isEmpty()) {
        *error = QStringLiteral("%1: no archive's manifest").arg(manifest.fileName());
        return false;
    }
    gzFile gz = gzopen(QFile::encodeName(base + QStringLiteral(".csv.gz")).constData(), "rb");
    if (!gz) {
        *error = QStringLiteral("%1.csv.gz: cannot be read").arg(base);
        return false;
    }
    Db db;
    QCryptographicHash sha(QCryptographicHash::Sha256);
    bool readable = true;
    const bool loaded = db.open(conninfo, error) && db.exec(QStringLiteral("BEGIN"), error)
                        && db.exec(QStringLiteral("CREATE TEMP TABLE archived (LIKE %1 INCLUDING DEFAULTS) ON COMMIT DROP").arg(table), error)
                        && db.copyIn(QStringLiteral("COPY archived FROM STDIN (FORMAT csv, HEADER)"),
                                     [&] {
                                         QByteArray chunk(1 << 16, Qt::Uninitialized);
                                         const int n = gzread(gz, chunk.data(), unsigned(chunk.size()));
                                         readable = readable && n >= 0;
                                         chunk.resize(std::max(0, n));
                                         sha.addData(chunk);
                                         return chunk;
                                     },
                                     error);
    gzclose(gz);
    if (!loaded || !readable || sha.result().toHex() != m.value(QStringLiteral("sha256")).toString().toLatin1()) {
        if (loaded)
            *error = QStringLiteral("%1.csv.gz: not the file its manifest describes (SHA-256 differs)").arg(base);
        db.exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
    }
    // Through the table: the day's partition made again, the ids that left
    // with the day free again (unless a row of theirs came back meanwhile).
    const QByteArray from = day.toString(Qt::ISODate).toUtf8(), to = day.addDays(1).toString(Qt::ISODate).toUtf8();
    const QString partition = QStringLiteral("%1_%2").arg(table, day.toString(QStringLiteral("yyyyMMdd")));
    const auto rows = db.run(QStringLiteral("SELECT count(*) FROM archived"), {}, error);
    if (rows && rows->integer(0, 0) != qint64(m.value(QStringLiteral("rows")).toDouble())) {
        *error = QStringLiteral("%1.csv.gz: %2 rows, its manifest says %3").arg(base).arg(rows->integer(0, 0)).arg(m.value("rows").toDouble());
        db.exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
    }
    // The day's partition, unless one holds the day again (rows came for it).
    QVector<QPair<QString, QDate>> partitions;
    QVector<bool> attached;
    bool held = false;
    if (rows && partitionsOf(db, table, &partitions, &attached, error))
        for (int i = 0; i < partitions.size(); ++i)
            held = held || (attached[i] && partitions[i].second == day);
    std::unique_ptr<Result> inserted;
    const bool ok =
        rows && (held || db.exec(QStringLiteral("CREATE TABLE %1 PARTITION OF %2 FOR VALUES FROM ('%3 00:00:00+00') TO ('%4 00:00:00+00')")
                                     .arg(partition, table, QString::fromLatin1(from), QString::fromLatin1(to)),
                                 error))
        && db.exec(QStringLiteral("DELETE FROM message_ids m USING archived a WHERE m.id = a.id AND NOT EXISTS (SELECT 1 FROM %1 t WHERE t.id = a.id)")
                       .arg(table),
                   error)
        && (inserted = db.run(QStringLiteral("INSERT INTO %1 SELECT a.* FROM archived a WHERE NOT EXISTS (SELECT 1 FROM %1 t WHERE t.id = a.id)").arg(table),
                              {}, error))
        && db.exec(QStringLiteral("COMMIT"), error);
    if (!ok) {
        db.exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
    }
    *restored = QByteArray(PQcmdTuples(inserted->get())).toLongLong();
    return true;
}

} // namespace plantdb
