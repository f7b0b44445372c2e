#include "database.h"
#include "changenotice.h"

#include "plantdb/pq.h"
#include "plantdb/schema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

#include <limits>
#include <memory>

namespace ingest {

namespace {

using plantdb::Result;

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

} // namespace

int Batch::size() const
{
    int n = rejects.size() + tallies.size();
    for (const auto &r : rows)
        n += r.size();
    return n;
}

void Batch::clear()
{
    rows.clear();
    rejects.clear();
    tallies.clear();
}

Database::~Database()
{
    close();
}

bool Database::isOpen() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

void Database::close()
{
    {
        QMutexLocker lock(&m_cancelLock);
        if (m_cancel)
            PQfreeCancel(m_cancel);
        m_cancel = nullptr;
    }
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_partitions.clear();
    m_scratch.clear();
}

QString Database::lastError() const
{
    return m_conn ? QString::fromUtf8(PQerrorMessage(m_conn)).trimmed() : QString();
}

bool Database::open(const QString &conninfo, QString *error)
{
    close();
    m_claimedElsewhere = false;
    m_conn = plantdb::connect(conninfo, "zentrel-ingest").release(); // closed by close(), with its cancel handle
    m_where = plantdb::where(m_conn);
    if (!isOpen()) {
        if (error)
            *error = QStringLiteral("database %1: %2").arg(m_where, lastError());
        close();
        return false;
    }
    {
        QMutexLocker lock(&m_cancelLock);
        m_cancel = PQgetCancel(m_conn);
    }
    // Partition bounds and days are UTC whatever the server's zone.
    // The server's notices ("already exists, skipping") are no news here.
    // A machine that vanished frees its claim within a minute or two.
    if (!exec(QStringLiteral("SET TIME ZONE 'UTC'; SET client_min_messages = warning; SET tcp_keepalives_idle = 30; "
                             "SET tcp_keepalives_interval = 10; SET tcp_keepalives_count = 3"),
              error)
        || !migrate(error)
        || !readColumns(error)) {
        close();
        return false;
    }
    makePartitionsAhead(QDateTime::currentDateTimeUtc().date());
    return announce(error);
}

// The advisory lock's key of the name in $1.
#define ZI_CLAIM_KEY "hashtextextended('zentrel-ingest ' || $1, 0)"

// One name, one ingest: its claim is a session lock on this connection,
// which only one connection can hold and which goes with it (a process
// killed, a machine gone once the server's keep-alive notices). Claims are
// taken one at a time, each with its row of ingest_status, so a refused
// ingest reads who holds the name.
bool Database::announce(QString *error)
{
    if (m_name.isEmpty())
        return true;
    const QByteArray name = m_name.toUtf8(), host = QSysInfo::machineHostName().toUtf8(),
                     pid = QByteArray::number(QCoreApplication::applicationPid()), share = m_share.toUtf8();
    const char *values[] = {name.constData(), host.constData(), pid.constData(), share.isEmpty() ? nullptr : share.constData()};
    QString why;
    // A holder just killed is gone within moments (its session ends when
    // its socket closes): a restart right after waits for it a little.
    bool ok = exec(QStringLiteral("BEGIN"), &why) && exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kClaimsLock), &why)
              && exec(QStringLiteral("SET LOCAL lock_timeout = '%1ms'").arg(kClaimWaitMs), &why);
    if (ok) {
        Result r(PQexecParams(m_conn, "SELECT pg_advisory_lock(" ZI_CLAIM_KEY ")", 1, nullptr, values, nullptr, nullptr, 0));
        if (r.state() == "55P03")
            return refuseClaim(error);
        if (!(ok = r.ok()))
            noteState(r.get()), why = QStringLiteral("database %1: %2").arg(m_where, lastError());
    }
    if (ok) {
        Result r(PQexecParams(m_conn,
                              "INSERT INTO ingest_status (name, host, pid, share, started) VALUES ($1, $2, $3, $4, now())"
                              " ON CONFLICT (name) DO UPDATE SET host = excluded.host, pid = excluded.pid, share = excluded.share,"
                              " started = excluded.started, lag_ms = NULL",
                              4, nullptr, values, nullptr, nullptr, 0));
        if (!(ok = r.ok()))
            noteState(r.get()), why = QStringLiteral("database %1: %2").arg(m_where, lastError());
    }
    if (ok && exec(QStringLiteral("COMMIT"), &why))
        return true;
    if (error)
        *error = why;
    close();
    return false;
}

bool Database::refuseClaim(QString *error)
{
    exec(QStringLiteral("ROLLBACK"), nullptr);
    const QByteArray name = m_name.toUtf8();
    const char *values[] = {name.constData()};
    Result holder(PQexecParams(m_conn,
                               "SELECT s.pid, s.host, to_char(s.started, 'YYYY-MM-DD\"T\"HH24:MI:SSOF'),"
                               " (SELECT l.pid FROM pg_locks l WHERE l.locktype = 'advisory' AND l.granted AND l.objsubid = 1"
                               "  AND l.classid::bigint = (k >> 32) & 4294967295 AND l.objid::bigint = k & 4294967295)"
                               " FROM " ZI_CLAIM_KEY " k LEFT JOIN ingest_status s ON s.name = $1",
                               1, nullptr, values, nullptr, nullptr, 0));
    const bool known = holder.ok() && PQntuples(holder.get()) == 1;
    auto field = [&](int column) { return known ? QString::fromUtf8(PQgetvalue(holder.get(), 0, column)) : QString(); };
    if (error)
        *error = QStringLiteral("client id %1 is in use by another ingest (process %2 on %3, connected since %4); two clients with one id "
                                "take the session from each other, so this one does not run: give it another --client-id, or, if "
                                "that ingest is gone, end its database session (SELECT pg_terminate_backend(%5))")
                     .arg(m_name, field(0), field(1), field(2), field(3));
    close();
    m_claimedElsewhere = true;
    return false;
}

bool Database::noteCommit(const Batch &batch, qint64 inserted, QString *why)
{
    if (m_name.isEmpty())
        return true;
    qint64 newest = std::numeric_limits<qint64>::min();
    for (const QVector<Row> &rows : batch.rows)
        for (const Row &row : rows)
            newest = std::max(newest, row.ms);
    const QByteArray name = m_name.toUtf8(), rows = QByteArray::number(inserted),
                     ms = newest == std::numeric_limits<qint64>::min() ? QByteArray() : QByteArray::number(newest);
    const char *values[] = {name.constData(), rows.constData(), ms.isNull() ? nullptr : ms.constData()};
    Result r(PQexecParams(m_conn,
                          "UPDATE ingest_status SET last_commit = clock_timestamp(), rows = rows + $2::bigint,"
                          " lag_ms = coalesce(round(extract(epoch FROM clock_timestamp()) * 1000)::bigint - $3::bigint, lag_ms)"
                          " WHERE name = $1",
                          3, nullptr, values, nullptr, nullptr, 0));
    if (r.ok())
        return true;
    noteState(r.get());
    *why = QStringLiteral("database %1: %2").arg(m_where, lastError());
    return false;
}

bool Database::tellWatchers(const Batch &batch, QString *why)
{
    const QByteArray notice = changeNotice(batch, QDateTime::currentMSecsSinceEpoch());
    if (notice.isEmpty())
        return true;
    const QByteArray channel(plantdb::kChangeChannel);
    const char *values[] = {channel.constData(), notice.constData()};
    Result r(PQexecParams(m_conn, "SELECT pg_notify($1, $2)", 2, nullptr, values, nullptr, nullptr, 0));
    if (r.ok())
        return true;
    noteState(r.get());
    *why = QStringLiteral("database %1: %2").arg(m_where, lastError());
    return false;
}

bool Database::exec(const QString &sql, QString *error)
{
    Result r(PQexec(m_conn, sql.toUtf8().constData()));
    if (r.ok())
        return true;
    noteState(r.get());
    if (error)
        *error = QStringLiteral("database %1: %2").arg(m_where, lastError());
    return false;
}

void Database::noteState(const PGresult *result)
{
    m_failedLine = 0;
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char *constraint = result ? PQresultErrorField(result, PG_DIAG_CONSTRAINT_NAME) : nullptr;
    m_state = state ? QString::fromLatin1(state) : QString();
    m_constraintNamed = constraint && *constraint;
}

bool Database::rowsAtFault(const QString &state, bool constraintNamed)
{
    // "No partition for the row" (a day's table detached) is a check
    // violation too, but names no constraint: the plant's doing.
    if (state == QLatin1String("23514"))
        return constraintNamed;
    // Of the program limits only 54000 is a row's: a value too big for an
    // index ("index row size … exceeds maximum") or a row too big for a
    // page. Too complex a statement, too many columns or arguments (54001,
    // 54011, 54023) are the statement's, and no row mends them.
    return state.startsWith(QLatin1String("22")) || state.startsWith(QLatin1String("23")) || state == QLatin1String("54000");
}

void Database::cancel()
{
    QMutexLocker lock(&m_cancelLock);
    char why[256];
    if (m_cancel)
        PQcancel(m_cancel, why, int(sizeof why));
}

QStringList Database::column(const QString &sql, QString *error)
{
    QStringList out;
    Result r(PQexec(m_conn, sql.toUtf8().constData()));
    if (!r.ok()) {
        noteState(r.get());
        if (error)
            *error = QStringLiteral("database %1: %2").arg(m_where, lastError());
        return out;
    }
    for (int i = 0; i < PQntuples(r.get()); ++i)
        out << QString::fromUtf8(PQgetvalue(r.get(), i, 0));
    return out;
}

bool Database::migrate(QString *error)
{
    // Versioned SQL files, each applied once, in order, in its own
    // transaction; an advisory lock keeps two ingests from racing.
    if (!exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version integer PRIMARY KEY, "
                             "applied timestamptz NOT NULL DEFAULT now())"),
              error))
        return false;
    for (const plantdb::SchemaFile &schema : plantdb::schemaFiles()) {
        const int version = schema.version;
        const QString &name = schema.name;
        QFile file(schema.path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString sql = QString::fromUtf8(file.readAll());
        if (!exec(QStringLiteral("BEGIN"), error))
            return false;
        QString why;
        const bool ok = exec(QStringLiteral("SELECT pg_advisory_xact_lock(7263)"), &why)
                        && (!column(QStringLiteral("SELECT 1 FROM schema_version WHERE version = %1").arg(version), &why).isEmpty()
                            || (exec(sql, &why)
                                && exec(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(version), &why)));
        if (!ok || !exec(QStringLiteral("COMMIT"), &why)) {
            exec(QStringLiteral("ROLLBACK"), nullptr);
            if (error)
                *error = QStringLiteral("%1 (schema file %2)").arg(why, name);
            return false;
        }
    }
    return true;
}

bool Database::readColumns(QString *error)
{
    m_tables.clear();
    for (const QString &table : {QStringLiteral("readings"), QStringLiteral("cells"), QStringLiteral("packs")}) {
        Result r(PQexec(m_conn, QStringLiteral("SELECT column_name, data_type, is_nullable = 'NO' AND column_default IS NULL "
                                               "FROM information_schema.columns WHERE table_schema = current_schema() "
                                               "AND table_name = '%1' ORDER BY ordinal_position")
                                    .arg(table)
                                    .toUtf8()
                                    .constData()));
        if (!r.ok()) {
            if (error)
                *error = QStringLiteral("database %1: %2").arg(m_where, lastError());
            return false;
        }
        QVector<Column> columns;
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            Column c;
            c.key = PQgetvalue(r.get(), i, 0);
            c.name = QString::fromUtf8(c.key);
            const QByteArray type = PQgetvalue(r.get(), i, 1);
            c.kind = type == "double precision" || type == "real" || type == "numeric" ? Column::Number
                     : type == "bigint" || type == "integer" || type == "smallint"     ? Column::Integer
                     : type.startsWith("timestamp")                                    ? Column::Time
                                                                                       : Column::Text;
            // What the type holds, so a number beyond it is the message's fault, told before COPY.
            c.largest = type == "smallint" ? 32767 : type == "integer" ? 2147483647 : qint64(9e15);
            c.required = QByteArray(PQgetvalue(r.get(), i, 2)) == "t";
            if (c.name != QLatin1String("received"))
                columns.append(c);
        }
        m_tables.insert(table, columns);
    }
    return true;
}

void Database::makePartitionsAhead(const QDate &today)
{
    // Each in a transaction of its own with a short lock wait, off the
    // commit path: a long reader only delays them to the next try.
    for (const QString &table : m_tables.keys())
        for (int ahead = 0; ahead <= kDaysAhead; ++ahead) {
            QString ignored;
            const bool made = exec(QStringLiteral("BEGIN"), &ignored)
                              && exec(QStringLiteral("SET LOCAL lock_timeout = '%1ms'").arg(kLockWaitMs), &ignored)
                              && ensurePartition(table, today.addDays(ahead), &ignored) && exec(QStringLiteral("COMMIT"), &ignored);
            if (!made) {
                exec(QStringLiteral("ROLLBACK"), nullptr);
                m_partitions.clear(); // looked up again when next needed
            }
        }
}

bool Database::sealSeries(QString *error)
{
    // A batch of quarters a transaction (writers wait while one runs, and
    // it waits for no one long), for at most a second: a database sealing
    // a year's backlog still takes its messages between.
    QElapsedTimer spent;
    spent.start();
    while (spent.elapsed() < 1000) {
        QStringList sealed;
        const bool ok = exec(QStringLiteral("BEGIN"), error) && exec(QStringLiteral("SET LOCAL lock_timeout = '%1ms'").arg(kLockWaitMs), error)
                        && !(sealed = column(QStringLiteral("SELECT reading_series_seal(interval '2 minutes', %1)").arg(kSealBatch), error)).isEmpty()
                        && exec(QStringLiteral("COMMIT"), error);
        if (!ok) {
            exec(QStringLiteral("ROLLBACK"), nullptr);
            return false;
        }
        if (sealed.first().toInt() < kSealBatch)
            break;
    }
    return true;
}

bool Database::ensurePartition(const QString &table, const QDate &day, QString *error)
{
    const QString base = QStringLiteral("%1_%2").arg(table, day.toString(QStringLiteral("yyyyMMdd")));
    if (m_partitions.contains(base))
        return true;
    // A day's table detached while the day still receives (archiving it too
    // early) keeps its name: its successor takes the next free one.
    for (int k = 0; k < 100; ++k) {
        const QString name = k == 0 ? base : QStringLiteral("%1_%2").arg(base).arg(k + 1);
        const QStringList state = column(QStringLiteral("SELECT CASE WHEN to_regclass('%1') IS NULL THEN 'none' WHEN EXISTS (SELECT 1 "
                                                        "FROM pg_inherits WHERE inhrelid = to_regclass('%1') AND inhparent = '%2'::regclass) "
                                                        "THEN 'attached' ELSE 'detached' END")
                                             .arg(name, table),
                                         error);
        if (state.isEmpty())
            return false;
        if (state.first() == QLatin1String("detached"))
            continue;
        if (state.first() == QLatin1String("none")
            && !exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 PARTITION OF %2 FOR VALUES FROM ('%3 00:00:00+00') TO ('%4 00:00:00+00')")
                         .arg(name, table, day.toString(Qt::ISODate), day.addDays(1).toString(Qt::ISODate)),
                     error))
            return false;
        m_partitions.insert(base);
        return true;
    }
    if (error)
        *error = QStringLiteral("database %1: no free name for a partition of %2 on %3").arg(m_where, table, day.toString(Qt::ISODate));
    return false;
}

// COPY of lines into a table; the unique-violation SQLSTATE in duplicate
// when that is why it failed.
bool Database::copyIn(const QString &target, const QString &list, const QVector<Row> &rows, bool *duplicate, QString *error)
{
    *duplicate = false;
    {
        Result r(PQexec(m_conn, QStringLiteral("COPY %1 (%2) FROM STDIN").arg(target, list).toUtf8().constData()));
        if (PQresultStatus(r.get()) != PGRES_COPY_IN) {
            noteState(r.get());
            if (error)
                *error = QStringLiteral("database %1: %2").arg(m_where, lastError());
            return false;
        }
    }
    QByteArray data;
    data.reserve(1 << 20);
    auto send = [&]() {
        if (data.isEmpty())
            return true;
        const bool ok = PQputCopyData(m_conn, data.constData(), data.size()) == 1;
        data.clear();
        return ok;
    };
    bool ok = true;
    for (const Row &row : rows) {
        data += row.copyLine;
        if (data.size() > (1 << 20) && !(ok = send()))
            break;
    }
    ok = ok && send();
    if (PQputCopyEnd(m_conn, ok ? nullptr : "cancelled") != 1)
        ok = false;
    Result end(PQgetResult(m_conn));
    while (PGresult *more = PQgetResult(m_conn))
        PQclear(more);
    if (ok && PQresultStatus(end.get()) == PGRES_COMMAND_OK)
        return true;
    noteState(end.get());
    *duplicate = m_state == QLatin1String("23505");
    // COPY names the line it failed on: straight into the table, that is
    // the batch's row of the same number.
    const char *context = PQresultErrorField(end.get(), PG_DIAG_CONTEXT);
    const QRegularExpressionMatch at = QRegularExpression(QStringLiteral("^COPY (\\S+), line (\\d+)"))
                                           .match(QString::fromUtf8(context ? context : ""));
    if (at.hasMatch() && at.captured(1) == target && m_tables.contains(target)) {
        m_failedTable = target;
        m_failedLine = at.captured(2).toInt();
    }
    if (error)
        *error = QStringLiteral("database %1: %2").arg(m_where, lastError());
    return false;
}

bool Database::copyRows(const QString &table, const QVector<Row> &rows, qint64 *inserted, QVector<Reject> *conflicts,
                        QString *error)
{
    const QVector<Column> &columns = m_tables.value(table);
    QStringList names;
    for (const Column &c : columns)
        names << quoted(c.name);
    // Straight in while no message comes twice (a backlog drains at COPY's
    // own pace); an id stored already undoes that COPY (the database's
    // message_ids refuses it), and until a batch comes with none again,
    // rows go the careful way.
    bool duplicate = false;
    if (!m_careful.contains(table)) {
        if (!exec(QStringLiteral("SAVEPOINT straight"), error))
            return false;
        if (copyIn(table, names.join(QLatin1Char(',')), rows, &duplicate, error)) {
            *inserted += rows.size();
            return exec(QStringLiteral("RELEASE SAVEPOINT straight"), error);
        }
        if (!duplicate || !exec(QStringLiteral("ROLLBACK TO SAVEPOINT straight"), error))
            return false;
        m_careful.insert(table);
    }
    return copyCarefully(table, names, rows, inserted, conflicts, error);
}

// Into a scratch table first; then what has another message's id with other
// content is a conflict, and only ids not stored yet go in.
bool Database::copyCarefully(const QString &table, const QStringList &names, const QVector<Row> &rows, qint64 *inserted,
                             QVector<Reject> *conflicts, QString *error)
{
    auto failed = [&](PGresult *result) {
        noteState(result);
        if (error)
            *error = QStringLiteral("database %1: %2").arg(m_where, lastError());
        return false;
    };
    // One id twice in the batch: the first goes on, a later one with other
    // content is a conflict (with the stored row, when there is one).
    QHash<QByteArray, int> first;
    QVector<Row> fresh, again;
    for (const Row &row : rows) {
        const auto seen = first.constFind(row.id);
        if (seen == first.cend()) {
            first.insert(row.id, fresh.size());
            fresh.append(row);
        } else if (fresh.at(*seen).copyLine != row.copyLine) {
            again.append(row);
        }
    }
    const QString scratch = QStringLiteral("incoming_") + table;
    if (!m_scratch.contains(scratch)) {
        if (!exec(QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS %1 (LIKE %2 INCLUDING DEFAULTS) ON COMMIT DELETE ROWS").arg(scratch, table), error))
            return false;
        m_scratch.insert(scratch);
    }
    const QString list = names.join(QLatin1Char(','));
    bool duplicate = false;
    if (!copyIn(scratch, list, fresh, &duplicate, error))
        return false;
    // The ids stored already, with whether the stored row says otherwise.
    QStringList stored, incoming;
    for (const QString &n : names)
        stored << QStringLiteral("r.") + n, incoming << QStringLiteral("s.") + n;
    Result known(PQexec(m_conn, QStringLiteral("SELECT s.id, m.time::text, r.id IS NOT NULL AND ROW(%3) IS DISTINCT FROM ROW(%4) FROM %1 s "
                                               "JOIN message_ids m ON m.id = s.id LEFT JOIN %2 r ON r.id = m.id AND r.time = m.time")
                                    .arg(scratch, table, stored.join(QLatin1Char(',')), incoming.join(QLatin1Char(',')))
                                    .toUtf8()
                                    .constData()));
    if (!known.ok())
        return failed(known.get());
    QHash<QByteArray, QString> storedAt;
    auto conflict = [&](const Row &row, const QString &at) {
        conflicts->append({row.topic, row.payload,
                           QStringLiteral("conflict: id %1 is stored already (%2, time %3) with other content")
                               .arg(QString::fromUtf8(row.id), table, at)});
    };
    for (int i = 0; i < PQntuples(known.get()); ++i) {
        const QByteArray id = PQgetvalue(known.get(), i, 0);
        const QString at = QString::fromUtf8(PQgetvalue(known.get(), i, 1));
        storedAt.insert(id, at);
        // A stored row no longer in its table (its day archived): the id
        // is taken all the same; nothing to compare with.
        if (QByteArray(PQgetvalue(known.get(), i, 2)) == "t")
            conflict(fresh.at(first.value(id)), at);
    }
    for (const Row &row : qAsConst(again)) {
        if (storedAt.contains(row.id))
            conflict(row, storedAt.value(row.id));
        else
            conflicts->append({row.topic, row.payload,
                               QStringLiteral("conflict: id %1 came twice in one batch with other content; the first is kept")
                                   .arg(QString::fromUtf8(row.id))});
    }
    Result r(PQexec(m_conn, QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3 s WHERE NOT EXISTS "
                                           "(SELECT 1 FROM message_ids m WHERE m.id = s.id)")
                                .arg(table, list, scratch)
                                .toUtf8()
                                .constData()));
    if (!r.ok())
        return failed(r.get());
    const qint64 added = QByteArray(PQcmdTuples(r.get())).toLongLong();
    *inserted += added;
    if (added == rows.size())
        m_careful.remove(table);
    return true;
}

bool Database::writeTallies(const QVector<Tally> &tallies, QString *why)
{
    // Only ever more: a tally sent again late says no less than it did.
    for (const Tally &t : tallies) {
        const QByteArray station = t.station.toUtf8(), stream = t.stream.toUtf8(), day = t.day.toString(Qt::ISODate).toUtf8(),
                         first = QByteArray::number(t.first), last = QByteArray::number(t.last), lines = QByteArray::number(t.lines);
        const char *values[] = {station.constData(), stream.constData(), day.constData(), first.constData(), last.constData(), lines.constData()};
        Result r(PQexecParams(m_conn, "INSERT INTO line_tallies (station, stream, day, first_line, last_line, lines) "
                              "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (station, stream, day) DO UPDATE SET "
                              "first_line = least(line_tallies.first_line, excluded.first_line), "
                              "last_line = greatest(line_tallies.last_line, excluded.last_line), "
                              "lines = greatest(line_tallies.lines, excluded.lines), received = now()",
                              6, nullptr, values, nullptr, nullptr, 0));
        if (!r.ok()) {
            noteState(r.get());
            *why = QStringLiteral("database %1: %2").arg(m_where, lastError());
            return false;
        }
    }
    return true;
}

bool Database::write(const Batch &batch, qint64 *inserted, QString *error)
{
    *inserted = 0;
    m_conflicts = 0;
    QVector<Reject> conflicts;
    if (!isOpen()) {
        if (error)
            *error = QStringLiteral("database %1: not connected").arg(m_where);
        return false;
    }
    QString why;
    // A partition for a day nobody made ahead needs the table's strongest
    // lock, which waits behind any long reader, and every reader after it
    // would queue behind that: the wait is cut short, and the batch comes
    // again later (lock_not_available is the plant's doing, not the rows').
    // A statement that hangs is cut too: acknowledgements wait for the
    // commit, and the broker drops a client silent for 1.5 keep-alives.
    bool ok = exec(QStringLiteral("BEGIN"), &why)
              && exec(QStringLiteral("SET LOCAL lock_timeout = '%1ms'; SET LOCAL statement_timeout = '%2ms'").arg(kLockWaitMs).arg(kStatementMs),
                      &why);
    for (auto it = batch.rows.cbegin(); ok && it != batch.rows.cend(); ++it) {
        QSet<QDate> days;
        for (const Row &row : it.value())
            days.insert(row.day);
        for (const QDate &day : qAsConst(days))
            ok = ok && ensurePartition(it.key(), day, &why);
        ok = ok && copyRows(it.key(), it.value(), inserted, &conflicts, &why);
    }
    m_conflicts = conflicts.size();
    for (const Reject &reject : batch.rejects + conflicts) {
        if (!ok)
            break;
        const QByteArray reason = reject.reason.toUtf8();
        const char *values[] = {reject.topic.constData(), reject.payload.constData(), reason.constData()};
        const int lengths[] = {reject.topic.size(), reject.payload.size(), reason.size()};
        const int formats[] = {0, 1, 0};
        Result r(PQexecParams(m_conn, "INSERT INTO rejects (topic, payload, reason, key) "
                              "VALUES ($1, $2, $3, sha256(convert_to($1, 'UTF8') || $2)) ON CONFLICT (key) DO NOTHING", 3, nullptr, values,
                              lengths, formats, 0));
        if (!r.ok()) {
            noteState(r.get());
            ok = false;
            why = QStringLiteral("database %1: %2").arg(m_where, lastError());
        }
    }
    ok = ok && writeTallies(batch.tallies, &why);
    ok = ok && noteCommit(batch, *inserted, &why);
    ok = ok && tellWatchers(batch, &why);
    if (ok && exec(QStringLiteral("COMMIT"), &why))
        return true;
    const QString state = m_state;
    exec(QStringLiteral("ROLLBACK"), nullptr);
    m_state = state; // the failure's, not the rollback's
    // Partitions and scratch tables made in a rolled-back transaction are
    // gone again (and a partition detached meanwhile is looked up anew).
    m_partitions.clear();
    m_scratch.clear();
    if (error)
        *error = why;
    return false;
}

} // namespace ingest
