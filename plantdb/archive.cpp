#include "archive.h"

#include "plantdb/pq.h"
#include "platform/filesync.h"
#include "storage/textfile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <zlib.h>

#include <algorithm>
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

// A day's archive is one or more parts, each a partition's rows (a day's
// table archived, then late lines of the day archived again, or a second
// table made while the first stood detached): TABLE-DAY for the first,
// TABLE-DAY.N from the second on, each a .csv.gz and its .json manifest.
// A part is whole once its manifest is there; none is ever written over.
QString partBase(const QString &folder, const QString &table, const QDate &day, int part)
{
    const QString name = QStringLiteral("%1-%2").arg(table, day.toString(Qt::ISODate));
    return QDir(folder).filePath(part == 1 ? name : QStringLiteral("%1.%2").arg(name).arg(part));
}

// The parts whose manifests are there, in order.
QVector<int> partsOf(const QString &folder, const QString &table, const QDate &day)
{
    const QString stem = QStringLiteral("%1-%2").arg(table, day.toString(Qt::ISODate));
    const QRegularExpression named(QStringLiteral("^%1(?:\\.(\\d+))?\\.json$").arg(QRegularExpression::escape(stem)));
    QVector<int> parts;
    for (const QString &file : QDir(folder).entryList({stem + QStringLiteral("*.json")}, QDir::Files)) {
        const QRegularExpressionMatch m = named.match(file);
        if (m.hasMatch())
            parts.append(m.captured(1).isEmpty() ? 1 : m.captured(1).toInt());
    }
    std::sort(parts.begin(), parts.end());
    return parts;
}

QJsonObject manifestOf(const QString &base)
{
    QFile f(base + QStringLiteral(".json"));
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}

// A file's bytes on the disk before anything that depends on them (a
// rename, a drop).
bool syncPath(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && syncToDisk(f);
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

// The partition's rows as COPY's CSV into a new part of the day (written
// under another name, synced, then moved), with its manifest. A partition
// archived before by a run that stopped ere it dropped it is found by its
// checksum and not written twice.
bool writeDay(Db &db, const QString &folder, const QString &table, const QString &partition, const QDate &day, ArchivedDay *out,
              QString *error)
{
    const auto counted = db.run(QStringLiteral("SELECT count(*) FROM %1").arg(partition), {}, error);
    if (!counted)
        return false;
    const QString scratch = partBase(folder, table, day, 1) + QStringLiteral(".csv.gz.tmp");
    gzFile gz = gzopen(QFile::encodeName(scratch).constData(), "wb6");
    if (!gz) {
        *error = QStringLiteral("%1: cannot be written").arg(scratch);
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
    if (!copied || !closed || !syncPath(scratch)) {
        if (copied)
            *error = QStringLiteral("%1: the disk took not all of it").arg(scratch);
        QFile::remove(scratch);
        return false;
    }
    out->table = table;
    out->day = day;
    out->rows = counted->integer(0, 0);
    out->sha256 = sha.result().toHex();
    int part = 1;
    for (int k : partsOf(folder, table, day)) {
        const QJsonObject m = manifestOf(partBase(folder, table, day, k));
        if (m.value(QStringLiteral("sha256")).toString().toLatin1() == out->sha256 && qint64(m.value(QStringLiteral("rows")).toDouble()) == out->rows) {
            out->file = partBase(folder, table, day, k) + QStringLiteral(".csv.gz");
            QFile::remove(scratch);
            return true;
        }
    }
    // The first number free of both files (a data file without its
    // manifest is a part a stopped run left unfinished: kept, not reused).
    while (QFile::exists(partBase(folder, table, day, part) + QStringLiteral(".json"))
           || QFile::exists(partBase(folder, table, day, part) + QStringLiteral(".csv.gz")))
        ++part;
    const QString base = partBase(folder, table, day, part);
    out->file = base + QStringLiteral(".csv.gz");
    const QByteArray json = QJsonDocument(QJsonObject {{"table", table},
                                                       {"day", day.toString(Qt::ISODate)},
                                                       {"part", part},
                                                       {"partition", partition},
                                                       {"rows", double(out->rows)},
                                                       {"sha256", QString::fromLatin1(out->sha256)},
                                                       {"format", "COPY csv with header, gzip"},
                                                       {"archived", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}})
                                .toJson();
    // The data first, its manifest last (written whole and synced): a part
    // is whole once it has one.
    QString why;
    if (!QFile::rename(scratch, out->file) || !saveFileAtomically(base + QStringLiteral(".json"), json, &why) || !syncFolder(folder)) {
        *error = QStringLiteral("%1: cannot be written%2").arg(base + QStringLiteral(".json"), why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
        QFile::remove(scratch);
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

namespace {

// One part into the scratch table "archived", checked against its manifest
// (checksum, rows). A file cut short or changed is named as damaged, not
// by what COPY made of its broken last line.
bool loadPart(Db &db, const QString &base, const QString &table, qint64 *rowsSoFar, QString *error)
{
    const QJsonObject m = manifestOf(base);
    const QString file = base + QStringLiteral(".csv.gz");
    if (m.value(QStringLiteral("table")).toString() != table || m.value(QStringLiteral("sha256")).toString().isEmpty()) {
        *error = QStringLiteral("%1.json: no archive's manifest").arg(base);
        return false;
    }
    gzFile gz = gzopen(QFile::encodeName(file).constData(), "rb");
    if (!gz) {
        *error = QStringLiteral("%1: cannot be read").arg(file);
        return false;
    }
    QCryptographicHash sha(QCryptographicHash::Sha256);
    QString broken; // gzip's word on the file, if it had one
    auto next = [&] {
        QByteArray chunk(1 << 16, Qt::Uninitialized);
        const int n = broken.isEmpty() ? gzread(gz, chunk.data(), unsigned(chunk.size())) : 0;
        int code = Z_OK;
        const char *said = n <= 0 ? gzerror(gz, &code) : nullptr;
        if (code != Z_OK) // a stream cut short ends with Z_BUF_ERROR, not with -1
            broken = QString::fromUtf8(said);
        chunk.resize(std::max(0, n));
        sha.addData(chunk);
        return chunk;
    };
    const bool loaded = db.copyIn(QStringLiteral("COPY archived FROM STDIN (FORMAT csv, HEADER)"), next, error);
    while (!next().isEmpty()) { // the rest, for its checksum, when COPY stopped early
    }
    gzclose(gz);
    const bool same = sha.result().toHex() == m.value(QStringLiteral("sha256")).toString().toLatin1();
    if (!broken.isEmpty() || !same) {
        *error = QStringLiteral("%1: the file is damaged (%2); restore it from a copy")
                     .arg(file, !broken.isEmpty() ? QStringLiteral("gzip: %1").arg(broken)
                                                  : QStringLiteral("its SHA-256 is not the one its manifest names"));
        return false;
    }
    if (!loaded)
        return false;
    const auto rows = db.run(QStringLiteral("SELECT count(*) FROM archived"), {}, error);
    if (!rows)
        return false;
    const qint64 added = rows->integer(0, 0) - *rowsSoFar;
    if (added != qint64(m.value(QStringLiteral("rows")).toDouble())) {
        *error = QStringLiteral("%1: %2 rows, its manifest says %3").arg(file).arg(added).arg(m.value("rows").toDouble());
        return false;
    }
    *rowsSoFar += added;
    return true;
}

} // namespace

bool restoreDay(const QString &conninfo, const QString &folder, const QString &table, const QDate &day, qint64 *restored, QString *error)
{
    const QVector<int> parts = partsOf(folder, table, day);
    if (parts.isEmpty()) {
        *error = QStringLiteral("%1.json: no archive's manifest").arg(partBase(folder, table, day, 1));
        return false;
    }
    Db db;
    qint64 loadedRows = 0;
    bool loaded = db.open(conninfo, error) && db.exec(QStringLiteral("BEGIN"), error)
                  && db.exec(QStringLiteral("CREATE TEMP TABLE archived (LIKE %1 INCLUDING DEFAULTS) ON COMMIT DROP").arg(table), error);
    for (int part : parts)
        loaded = loaded && loadPart(db, partBase(folder, table, day, part), table, &loadedRows, error);
    if (!loaded) {
        db.exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
    }
    // Through the table: the day's partition made again, the ids that left
    // with the day free again (unless a row of theirs came back meanwhile).
    const QByteArray from = day.toString(Qt::ISODate).toUtf8(), to = day.addDays(1).toString(Qt::ISODate).toUtf8();
    const QString partition = QStringLiteral("%1_%2").arg(table, day.toString(QStringLiteral("yyyyMMdd")));
    // The day's partition, unless one holds the day again (rows came for it).
    QVector<QPair<QString, QDate>> partitions;
    QVector<bool> attached;
    bool held = false;
    if (partitionsOf(db, table, &partitions, &attached, error))
        for (int i = 0; i < partitions.size(); ++i)
            held = held || (attached[i] && partitions[i].second == day);
    std::unique_ptr<Result> inserted;
    const bool ok =
        (held || db.exec(QStringLiteral("CREATE TABLE %1 PARTITION OF %2 FOR VALUES FROM ('%3 00:00:00+00') TO ('%4 00:00:00+00')")
                                     .arg(partition, table, QString::fromLatin1(from), QString::fromLatin1(to)),
                                 error))
        && db.exec(QStringLiteral("DELETE FROM message_ids m USING archived a WHERE m.id = a.id AND NOT EXISTS (SELECT 1 FROM %1 t WHERE t.id = a.id)")
                       .arg(table),
                   error)
        && (inserted = db.run(QStringLiteral("INSERT INTO %1 SELECT DISTINCT ON (a.id) a.* FROM archived a"
                                             " WHERE NOT EXISTS (SELECT 1 FROM %1 t WHERE t.id = a.id)").arg(table),
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
