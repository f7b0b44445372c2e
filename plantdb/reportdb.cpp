#include "reportdb.h"

#include "plantdb/conninfo.h"

#include "journal/journal.h"

#include "plantdb/pq.h"
#include "plantdb/schema.h"

#include <QCoreApplication>
#include <QtEndian>
#include <QJsonArray>
#include <QJsonDocument>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <tuple>

namespace report {

namespace {

// Above this many readings the charts are drawn from a sample of about as
// many (the table's figures are always of every row).
constexpr qint64 kChartRows = 500000;

using plantdb::Result;

// A limit as the journal writes it: nine decimals at most, no trailing zeros.
QString limitOf(const Result &r, int row, int col)
{
    return r.null(row, col) ? QString() : journal::plainNumber(r.number(row, col));
}

class Connection
{
public:
    bool open(const QString &conninfo, QString *error)
    {
        const QByteArray info = conninfo.toUtf8();
        // A password on the command line is anyone's to read (ps).
        if (plantdb::conninfoHasPassword(info)) {
            where = QStringLiteral("--db");
            return fail(QCoreApplication::translate("Report", "CONNINFO 含密码（任何用户都能用 ps 看到）；请把密码放在 ~/.pgpass 或 PGPASSFILE 指定的文件里"), error);
        }
        m_conn = plantdb::connect(conninfo, "zentrel-report");
        if (!m_conn)
            return fail(QCoreApplication::translate("Report", "内存不足"), error);
        where = QStringLiteral("%1:%2/%3")
                    .arg(QString::fromUtf8(PQhost(m_conn.get())), QString::fromUtf8(PQport(m_conn.get())),
                         QString::fromUtf8(PQdb(m_conn.get())));
        if (PQstatus(m_conn.get()) != CONNECTION_OK)
            return fail(QString::fromUtf8(PQerrorMessage(m_conn.get())).trimmed(), error);
        // One snapshot for every query, so the parts add up. No JIT: over a
        // month's partitions it compiles for seconds to save less.
        return run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}, error) && run("SET LOCAL jit = off", {}, error)
               && knowsTheSchema(error);
    }

    // The queries use what the newest schema file defines; a database that
    // the ingest has not brought there yet is said so, not met with an SQL
    // error about a missing function.
    bool knowsTheSchema(QString *error)
    {
        const std::unique_ptr<Result> r = run(plantdb::kVersionQuery, {}, error);
        if (!r)
            return false;
        const qint64 version = r->integer(0, 0);
        if (version >= plantdb::schemaVersion())
            return true;
        return fail(QCoreApplication::translate("Report", "数据库的架构版本为 %1，本报表需要 %2；请先用同一版本的 zentrel-ingest 连接它一次（它会升级架构）")
                        .arg(version)
                        .arg(plantdb::schemaVersion()),
                    error);
    }

    // The rows of a query with text parameters (a null QByteArray is NULL).
    std::unique_ptr<Result> run(const char *sql, const QVector<QByteArray> &params, QString *error)
    {
        QVector<const char *> values;
        for (const QByteArray &p : params)
            values.append(p.isNull() ? nullptr : p.constData());
        auto result = std::make_unique<Result>(
            PQexecParams(m_conn.get(), sql, int(values.size()), nullptr, values.constData(), nullptr, nullptr, 0));
        const ExecStatusType s = result->status();
        if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) {
            fail(QString::fromUtf8(PQerrorMessage(m_conn.get())).trimmed(), error);
            return nullptr;
        }
        return result;
    }

    // COPY (sql) TO STDOUT, each chunk handed on as it comes.
    bool copyOut(const QByteArray &sql, const std::function<void(const char *, int)> &line, QString *error)
    {
        Result start(PQexec(m_conn.get(), sql.constData()));
        if (start.status() != PGRES_COPY_OUT)
            return fail(QString::fromUtf8(PQerrorMessage(m_conn.get())).trimmed(), error);
        char *buffer = nullptr;
        int n;
        while ((n = PQgetCopyData(m_conn.get(), &buffer, 0)) > 0) {
            line(buffer, n);
            PQfreemem(buffer);
        }
        Result end(PQgetResult(m_conn.get()));
        if (n == -2 || end.status() != PGRES_COMMAND_OK)
            return fail(QString::fromUtf8(PQerrorMessage(m_conn.get())).trimmed(), error);
        while (PGresult *more = PQgetResult(m_conn.get()))
            PQclear(more);
        return true;
    }

    // A value as an SQL literal (COPY takes no parameters); NULL for a null one.
    QByteArray literal(const QByteArray &value) const
    {
        if (value.isNull())
            return QByteArrayLiteral("NULL");
        char *quoted = PQescapeLiteral(m_conn.get(), value.constData(), size_t(value.size()));
        const QByteArray out(quoted ? quoted : "NULL");
        PQfreemem(quoted);
        return out;
    }

    QString where;

private:
    bool fail(const QString &reason, QString *error) const
    {
        if (error)
            *error = QCoreApplication::translate("Report", "数据库 %1：%2").arg(where, reason);
        return false;
    }

    plantdb::Connection m_conn;
};

// Rows the report reads: in the days asked for (local days: whole quarters of
// an hour in UTC, in every time zone), of the stations asked for.
// $1, $2: the range's ends; $3: the stations (a JSON array) or NULL.
#define ZR_RANGE "time >= $1::timestamptz AND time < $2::timestamptz AND ($3::jsonb IS NULL OR $3::jsonb ? station)"
// What a meter can show: the schema's own rule (version 10).
#define ZR_OK "within_meter_range(r_mohm, v)"
// Counts, R and V, first and last (ms) of a group.
#define ZR_AGGREGATES                                                                                                   \
    "count(*) FILTER (WHERE verdict = 'PASS'), count(*) FILTER (WHERE verdict = 'NG'), count(*), "                   \
    "count(r_mohm), avg(r_mohm), stddev_samp(r_mohm), min(r_mohm), max(r_mohm), "                                     \
    "count(v), avg(v), stddev_samp(v), min(v), max(v), "                                                              \
    "round(date_part('epoch', min(time)) * 1000)::bigint, round(date_part('epoch', max(time)) * 1000)::bigint"

// The readings from their quarters of an hour (kept by the database as rows
// arrive), merged here per station, limits and range (n, mean and m2 of
// each quarter merged exactly): a month is some 150,000 of them, which COPY
// in binary gives faster than the server sorts them into groups.
const char *const kQuarters =
    "COPY (SELECT station, r_low, r_high, v_low, v_high, ok, verdict, n, r_n, r_mean, r_m2, r_min, r_max,"
    " v_n, v_mean, v_m2, v_min, v_max, first, last, contact_known, settled FROM reading_quarters"
    " WHERE quarter >= $1::timestamptz AND quarter < $2::timestamptz AND ($3::jsonb IS NULL OR $3::jsonb ? station))"
    " TO STDOUT (FORMAT binary)";

// A cell record that a later one voids does not count, nor the void itself.
// $4: the lots (a JSON array) or NULL.
const char *const kCells =
    "SELECT lot, set, r_low, r_high, v_low, v_high, ok, voided, grade, " ZR_AGGREGATES
    " FROM (SELECT time, station, coalesce(nullif(lot, ''), '—') AS lot, coalesce(set, '') AS set, r_low, r_high,"
    "  v_low, v_high, coalesce(grade, '') AS grade, r_mohm, v, verdict, " ZR_OK " AS ok,"
    "  coalesce(voids, '') <> '' OR coalesce((station, record) IN (SELECT station, voids FROM cells WHERE voids <> ''), false) AS voided"
    "  FROM cells WHERE " ZR_RANGE ") x"
    " WHERE $4::jsonb IS NULL OR $4::jsonb ? lot"
    " GROUP BY lot, set, r_low, r_high, v_low, v_high, ok, voided, grade";

// The readings the charts are drawn from: all of them up to kChartRows, an
// even sample of the table's pages beyond ($4: the percentage).
const char *const kChartPoints =
    "SELECT station, round(date_part('epoch', time) * 1000)::bigint, r_mohm, v FROM readings %1"
    " WHERE " ZR_RANGE " AND " ZR_OK " ORDER BY time";

// Every reading a control chart takes, packed per station and quarter of an
// hour (the schema's reading_series; a quarter not sealed yet is packed on
// the spot), quarter by quarter: each quarter's stations are merged in time
// here. Three walks read them three times: a few thousand packed rows cost
// less than holding ten million readings. COPY in binary: the packed bytes
// go as they are stored. $1..$3 become literals.
const char *const kSpcSeries =
    "COPY (SELECT quarter, station, r_low, r_high, v_low, v_high, points FROM ("
    "  SELECT quarter, station, r_low, r_high, v_low, v_high, points FROM reading_series"
    "  WHERE quarter >= $1::timestamptz AND quarter < $2::timestamptz AND ($3::jsonb IS NULL OR $3::jsonb ? station)"
    "  UNION ALL"
    "  SELECT d.quarter, d.station, b.r_low, b.r_high, b.v_low, b.v_high, b.points"
    "  FROM reading_series_due d CROSS JOIN LATERAL reading_series_build(d.quarter, d.station) b"
    "  WHERE d.quarter >= $1::timestamptz AND d.quarter < $2::timestamptz AND ($3::jsonb IS NULL OR $3::jsonb ? d.station)) s"
    " ORDER BY quarter, station) TO STDOUT (FORMAT binary)";
// The cell records a control chart takes, in the order they lie: SpcData
// puts them in time order (records of one moment by their station's bytes),
// as for the files.
const char *const kSpcCells =
    "COPY (SELECT station, time, r_mohm, v, r_low, r_high, v_low, v_high, lot, set"
    " FROM (SELECT time, station, coalesce(nullif(lot, ''), '—') AS lot, coalesce(set, '') AS set, r_low, r_high,"
    "  v_low, v_high, r_mohm, v,"
    "  coalesce(voids, '') <> '' OR coalesce((station, record) IN (SELECT station, voids FROM cells WHERE voids <> ''), false) AS voided"
    "  FROM cells WHERE " ZR_RANGE " AND " ZR_OK ") x"
    " WHERE ($4::jsonb IS NULL OR $4::jsonb ? lot) AND NOT voided) TO STDOUT (FORMAT binary)";

// The cell records at a stage that count, for K (schema 12's cell_stages):
// paired in the report as the files' are.
const char *const kStages =
    "SELECT cell_id, stage, round(date_part('epoch', time) * 1000)::bigint, v, coalesce(lot, ''), coalesce(reason, ''),"
    " k_mv_day, coalesce(k_note, '')"
    " FROM cell_stages WHERE " ZR_RANGE " AND " ZR_OK " AND stage <> ''"
    " AND ($4::jsonb IS NULL OR $4::jsonb ? coalesce(nullif(lot, ''), '—'))";

// Lines the ingest refused that the files' report skips (no meter's
// reading, or no readable time): counted as skipped lines. Readings only
// when no lot is asked for. Those without a time go by their file's day
// ($5, $6: the days asked for, as ISO text).
const char *const kSkippedRejects =
    "SELECT stream, count(*) FROM rejects_skipped"
    " WHERE (CASE WHEN time IS NOT NULL THEN time >= $1::timestamptz AND time < $2::timestamptz"
    "             ELSE day >= $5 AND day <= $6 END)"
    " AND ($3::jsonb IS NULL OR $3::jsonb ? station)"
    " AND ((stream = 'readings' AND $4::jsonb IS NULL)"
    "  OR (stream = 'cells' AND ($4::jsonb IS NULL OR $4::jsonb ? coalesce(nullif(lot, ''), '—'))))"
    " GROUP BY stream";

QByteArray listParam(const QStringList &list)
{
    return list.isEmpty() ? QByteArray() : QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact);
}

// A row of ZR_AGGREGATES (from column at) as the statistics it sums up.
Group partOf(const Result &r, int row, int at)
{
    Group g;
    const qint64 pass = r.integer(row, at), ng = r.integer(row, at + 1), all = r.integer(row, at + 2);
    g.stats.pass = pass;
    g.stats.ng = ng;
    g.stats.none = all - pass - ng;
    g.stats.r = stats::RunningStats::fromMoments(r.integer(row, at + 3), r.number(row, at + 4), r.number(row, at + 5),
                                                   r.number(row, at + 6), r.number(row, at + 7));
    g.stats.v = stats::RunningStats::fromMoments(r.integer(row, at + 8), r.number(row, at + 9), r.number(row, at + 10),
                                                   r.number(row, at + 11), r.number(row, at + 12));
    g.first = QDateTime::fromMSecsSinceEpoch(r.integer(row, at + 13));
    g.last = QDateTime::fromMSecsSinceEpoch(r.integer(row, at + 14));
    return g;
}

void absorb(Group &g, const Group &part)
{
    g.settled.known += part.settled.known;
    g.settled.pass += part.settled.pass;
    g.settled.ng += part.settled.ng;
    g.settled.none += part.settled.none;
    g.stats.pass += part.stats.pass;
    g.stats.ng += part.stats.ng;
    g.stats.none += part.stats.none;
    g.stats.r.merge(part.stats.r);
    g.stats.v.merge(part.stats.v);
    if (!g.first.isValid() || part.first < g.first)
        g.first = part.first;
    if (!g.last.isValid() || part.last > g.last)
        g.last = part.last;
}

class Groups
{
public:
    Group &at(const Scope &scope, const LimitKey &limits)
    {
        Group &g = m_groups[{scope, limits}];
        if (g.id < 0) {
            g.scope = scope;
            g.limits = limits;
            g.id = m_groups.size() - 1;
        }
        return g;
    }
    int size() const { return m_groups.size(); }
    void setSpc(const QVector<Spc> &spc)
    {
        for (Group &g : m_groups)
            g.spc = chartsOf(g, spc[g.id]);
    }
    QVector<Group> sorted() const
    {
        QVector<Group> out;
        for (const Group &g : m_groups)
            out.append(g);
        sortGroups(out);
        return out;
    }

private:
    QMap<QPair<Scope, LimitKey>, Group> m_groups;
};

} // namespace

bool BinaryRows::feed(const char *chunk, int size, const std::function<void(const Field *, int)> &row)
{
    m_pending.append(chunk, size);
    const char *p = m_pending.constData(), *end = p + m_pending.size();
    if (!m_started) {
        static const char signature[] = "PGCOPY\n\377\r\n";
        if (end - p < 19)
            return true;
        if (std::memcmp(p, signature, 11) != 0)
            return false;
        const qint32 extension = qFromBigEndian<qint32>(p + 15);
        if (extension < 0 || end - p < 19 + extension)
            return extension >= 0;
        p += 19 + extension;
        m_started = true;
    }
    Field fields[32];
    while (end - p >= 2) {
        const qint16 count = qFromBigEndian<qint16>(p);
        if (count < 0) { // the trailer
            p = end;
            break;
        }
        if (count > 32)
            return false;
        const char *q = p + 2;
        int i = 0;
        for (; i < count && end - q >= 4; ++i) {
            const qint32 length = qFromBigEndian<qint32>(q);
            q += 4;
            if (length > end - q)
                break;
            fields[i] = {q, length};
            q += std::max(0, length);
        }
        if (i < count) // the rest comes in the next chunk
            break;
        row(fields, count);
        p = q;
    }
    m_pending.remove(0, int(p - m_pending.constData()));
    return true;
}

// $1..$n as literals, in one pass over the query's own text: a value that
// holds "$3" (a station named so) stays that value.
QByteArray withLiterals(const char *query, const QVector<QByteArray> &params, const Connection &db)
{
    QByteArray out;
    for (const char *p = query; *p; ++p) {
        int n = 0;
        const char *q = p + 1;
        while (*p == '$' && *q >= '0' && *q <= '9')
            n = n * 10 + (*q++ - '0');
        if (n >= 1 && n <= params.size()) {
            out += db.literal(params[n - 1]);
            p = q - 1;
        } else {
            out += *p;
        }
    }
    return out;
}

bool readGaps(const QString &conninfo, const Options &options, QVector<LineGap> *out, QString *where, QString *error)
{
    Connection db;
    const bool opened = db.open(conninfo, error);
    *where = db.where;
    if (!opened)
        return false;
    const auto r = db.run("SELECT station, stream, day, first_missing, last_missing FROM line_gaps"
                          " WHERE ($1::jsonb IS NULL OR $1::jsonb ? station) AND day >= $2 AND day <= $3"
                          " ORDER BY station, day, stream, first_missing",
                          {listParam(options.stations), options.from.isValid() ? options.from.toString(Qt::ISODate).toUtf8() : QByteArray("0000"),
                           options.to.isValid() ? options.to.toString(Qt::ISODate).toUtf8() : QByteArray("9999")},
                          error);
    if (!r)
        return false;
    for (int i = 0; i < r->rows(); ++i)
        out->append({r->text(i, 0), r->text(i, 1), r->text(i, 2), r->integer(i, 3), r->integer(i, 4)});
    return true;
}

namespace {

// The report from the database, a job per step: the sums of readings and of
// cell records (and the lines skipped), the control charts from every row in
// time order, and the charts' points.
class DatabaseReader
{
public:
    DatabaseReader(const Options &options, DatabaseReport *out) : m_options(options), m_out(out) {}

    bool open(const QString &conninfo, QString *error)
    {
        const bool opened = m_db.open(conninfo, error);
        m_out->where = m_db.where;
        m_range = {m_options.from.isValid() ? isoUtc(m_options.startMs()) : QByteArray("-infinity"),
                   m_options.to.isValid() ? isoUtc(m_options.endMs()) : QByteArray("infinity"), listParam(m_options.stations)};
        return opened;
    }
    bool until(QString *error)
    {
        const auto r = m_db.run("SELECT round(date_part('epoch', max(last_commit)) * 1000)::bigint FROM ingest_status", {}, error);
        if (!r)
            return false;
        if (!r->null(0, 0))
            m_out->until = QDateTime::fromMSecsSinceEpoch(r->integer(0, 0));
        return true;
    }
    bool sums(QString *error)
    {
        // Readings carry no lot: asked for lots, the report is of cell records.
        return (!m_options.lots.isEmpty() || readingSums(error)) && skippedRejects(error) && cellSums(error);
    }
    bool controlCharts(QString *error)
    {
        // The readings once, their subgroups kept for the later passes.
        const QVector<Group> groups = m_groups.sorted();
        SpcPasses readings(overallById(groups), true);
        for (const Group &g : groups)
            if (!g.limits.cells)
                readings.expect(g.id, g.stats.r.count(), g.stats.v.count(), g.scope.overall() && stationsOf(groups, g) > 1);
        if (m_options.controlCharts) {
            if (m_options.lots.isEmpty()) {
                if (!walkSeries(readings, error))
                    return false;
                readings.next();
            }
            if (!fillSpc(error))
                return false;
        }
        // Readings' groups from the walks, cell records' from theirs.
        QVector<Spc> spc = m_spc.compute(m_groups.size(), overallById(m_groups.sorted()));
        if (readings.pass() == SpcPasses::kPasses) {
            const QVector<Spc> walked = readings.result(m_groups.size());
            for (const Group &g : m_groups.sorted())
                if (!g.limits.cells)
                    spc[g.id] = walked[g.id];
        }
        m_groups.setSpc(spc);
        m_out->groups = m_groups.sorted();
        return true;
    }
    bool charts(QString *error);
    // The stations whose readings an overall group of readings holds: those
    // with a group of their own under its limits.
    static int stationsOf(const QVector<Group> &groups, const Group &overall)
    {
        return int(std::count_if(groups.begin(), groups.end(), [&overall](const Group &g) {
            return g.scope.kind == Scope::Station && g.limits == overall.limits;
        }));
    }
    // Self-discharge: every counted record at a stage, paired per cell.
    bool selfDischarge(QString *error)
    {
        const auto r = m_db.run(kStages, withLots(), error);
        if (!r)
            return false;
        KCollector k;
        for (int i = 0; i < r->rows(); ++i)
            k.add({r->text(i, 0), r->text(i, 1), r->integer(i, 2), r->number(i, 3), r->text(i, 4), r->text(i, 5), true,
                   r->number(i, 6), r->text(i, 7)});
        m_out->k = k.groups();
        return true;
    }

private:
    static QByteArray isoUtc(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs).toUtf8(); }
    QVector<QByteArray> withLots() const { return m_range + QVector<QByteArray> {listParam(m_options.lots)}; }
    bool readingSums(QString *error);
    bool skippedRejects(QString *error);
    bool cellSums(QString *error);
    bool fillSpc(QString *error);
    bool walkSeries(SpcPasses &passes, QString *error);
    // The groups (cells' and lot's) of a cell record's COPY row.
    QPair<int, int> groupsOfRow(const BinaryRows::Field *f);
    // The groups (overall and station's) of a station's readings with these limits.
    QPair<int, int> readingGroups(const QByteArray &station, const BinaryRows::Field *limits);

    const Options &m_options;
    DatabaseReport *m_out;
    Connection m_db;
    QVector<QByteArray> m_range; // $1, $2: the range's ends; $3: the stations
    Groups m_groups;
    QHash<QByteArray, QPair<int, int>> m_seriesGroups; // by station and limits
    QHash<QByteArray, int> m_stationNumbers;
    QVector<QString> m_stationNames; // by number
    ChartData m_points;               // fed by the walk, when it ran
    qint64 m_chartEvery = 1;
    bool m_pointsFed = false;
    stats::RunningStats m_allR, m_allV;
    QMap<QString, stats::RunningStats> m_rOfStation;
    SpcData m_spc;
};

QString limitOfField(const BinaryRows::Field &x)
{
    return x.null() ? QString() : journal::plainNumber(x.number());
}

bool DatabaseReader::readingSums(QString *error)
{
    struct Part
    {
        QString station;
        LimitKey limits;
        bool ok = false;
        Group sums;
        qint64 first = std::numeric_limits<qint64>::max(), last = std::numeric_limits<qint64>::min();
    };
    QMap<QByteArray, Part> parts; // by station, limits and range (in order: sums that add up the same each time)
    QByteArray key;
    const auto ms = [](const BinaryRows::Field &f) { return std::llround(double(f.integer()) / 1000.0) + Q_INT64_C(946684800000); };
    const auto count = [](const BinaryRows::Field &f) { return f.null() ? 0 : f.integer(); };
    const auto stats = [count](const BinaryRows::Field *f) { // n, mean, m2, min, max
        return stats::RunningStats::fromM2(count(f[0]), f[1].number(), f[2].number(), f[3].number(), f[4].number());
    };
    bool malformed = false;
    const auto row = [&](const BinaryRows::Field *f, int n) {
        if (n < 22 || f[0].null() || f[5].size != 1 || f[18].size != 8 || f[19].size != 8) {
            malformed = true;
            return;
        }
        key.resize(0);
        for (int i = 0; i <= 5; ++i) {
            key.append(reinterpret_cast<const char *>(&f[i].size), sizeof f[i].size);
            if (!f[i].null())
                key.append(f[i].data, f[i].size);
        }
        Part &p = parts[key];
        if (p.station.isNull()) {
            p.station = QString::fromUtf8(f[0].bytes());
            p.limits.rLow = limitOfField(f[1]), p.limits.rHigh = limitOfField(f[2]);
            p.limits.vLow = limitOfField(f[3]), p.limits.vHigh = limitOfField(f[4]);
            p.ok = *f[5].data != 0;
        }
        stats::LotStats &s = p.sums.stats;
        Settled &c = p.sums.settled;
        const QByteArray verdict = QByteArray::fromRawData(f[6].data, std::max(0, f[6].size));
        const bool pass = verdict == "PASS", ng = verdict == "NG";
        (pass ? s.pass : ng ? s.ng : s.none) += count(f[7]);
        s.r.merge(stats(f + 8));
        s.v.merge(stats(f + 13));
        p.first = std::min(p.first, ms(f[18]));
        p.last = std::max(p.last, ms(f[19]));
        // Where the probes were: the quarters count those said and those settled.
        c.known += count(f[20]);
        (pass ? c.pass : ng ? c.ng : c.none) += count(f[21]);
    };
    BinaryRows rows;
    bool readable = true;
    const bool copied = m_db.copyOut(withLiterals(kQuarters, m_range, m_db),
                                     [&](const char *chunk, int size) { readable = readable && rows.feed(chunk, size, row); }, error);
    if (copied && (!readable || malformed) && error)
        *error = QCoreApplication::translate("Report", "数据库 %1：%2").arg(m_db.where, QStringLiteral("COPY gave no quarters"));
    if (!copied || !readable || malformed)
        return false;
    for (Part &p : parts) {
        const qint64 rows = p.sums.stats.pass + p.sums.stats.ng + p.sums.stats.none;
        m_out->lines += rows;
        if (!p.ok) {
            m_out->skipped += rows;
            continue;
        }
        p.sums.first = QDateTime::fromMSecsSinceEpoch(p.first);
        p.sums.last = QDateTime::fromMSecsSinceEpoch(p.last);
        for (const Scope &scope : {Scope {Scope::All, QString()}, Scope {Scope::Station, p.station}})
            absorb(m_groups.at(scope, p.limits), p.sums);
        m_allR.merge(p.sums.stats.r);
        m_allV.merge(p.sums.stats.v);
        m_rOfStation[p.station].merge(p.sums.stats.r);
    }
    return true;
}

bool DatabaseReader::skippedRejects(QString *error)
{
    // A database an older ingest made has no such view (nor such rejects).
    const auto hasView = m_db.run("SELECT to_regclass('rejects_skipped') IS NOT NULL", {}, error);
    if (!hasView)
        return false;
    if (hasView->bytes(0, 0) != "t")
        return true;
    QVector<QByteArray> days = withLots();
    days << (m_options.from.isValid() ? m_options.from.toString(Qt::ISODate).toUtf8() : QByteArray("0000"))
         << (m_options.to.isValid() ? m_options.to.toString(Qt::ISODate).toUtf8() : QByteArray("9999"));
    const auto skipped = m_db.run(kSkippedRejects, days, error);
    if (!skipped)
        return false;
    for (int i = 0; i < skipped->rows(); ++i)
        m_out->lines += skipped->integer(i, 1), m_out->skipped += skipped->integer(i, 1);
    return true;
}

bool DatabaseReader::cellSums(QString *error)
{
    const auto r = m_db.run(kCells, withLots(), error);
    if (!r)
        return false;
    for (int i = 0; i < r->rows(); ++i) {
        const qint64 rows = r->integer(i, 11);
        m_out->lines += rows;
        if (r->bytes(i, 7) == "t") // voided, or a void
            continue;
        if (r->bytes(i, 6) != "t") {
            m_out->skipped += rows;
            continue;
        }
        LimitKey limits;
        limits.cells = true;
        limits.set = r->text(i, 1);
        limits.rLow = limitOf(*r, i, 2), limits.rHigh = limitOf(*r, i, 3), limits.vLow = limitOf(*r, i, 4), limits.vHigh = limitOf(*r, i, 5);
        const QString grade = r->text(i, 8);
        const Group part = partOf(*r, i, 9);
        for (const Scope &scope : {Scope {Scope::Cells, QString()}, Scope {Scope::Lot, r->text(i, 0)}}) {
            Group &g = m_groups.at(scope, limits);
            absorb(g, part);
            if (!grade.isEmpty())
                g.stats.grades[grade] += rows;
        }
    }
    return true;
}

QPair<int, int> DatabaseReader::groupsOfRow(const BinaryRows::Field *f)
{
    LimitKey limits;
    limits.rLow = limitOfField(f[4]), limits.rHigh = limitOfField(f[5]), limits.vLow = limitOfField(f[6]), limits.vHigh = limitOfField(f[7]);
    limits.cells = true;
    limits.set = QString::fromUtf8(f[9].bytes());
    return {m_groups.at({Scope::Cells, QString()}, limits).id, m_groups.at({Scope::Lot, QString::fromUtf8(f[8].bytes())}, limits).id};
}

QPair<int, int> DatabaseReader::readingGroups(const QByteArray &station, const BinaryRows::Field *f)
{
    LimitKey limits;
    limits.rLow = limitOfField(f[0]), limits.rHigh = limitOfField(f[1]), limits.vLow = limitOfField(f[2]), limits.vHigh = limitOfField(f[3]);
    return {m_groups.at({Scope::All, QString()}, limits).id, m_groups.at({Scope::Station, QString::fromUtf8(station)}, limits).id};
}

// One station's packed readings of a quarter with one set of limits (a row
// of reading_series): 24 bytes a reading, its time in µs since 1970, R and
// V, big-endian, in time order.
struct PackedSeries
{
    QByteArray points, name;
    int n = 0;
    int station = 0;
    QPair<int, int> groups;
    const char *at(int i) const { return points.constData() + 24 * i; }
    // To ms as round(epoch × 1000) gives them (half away from zero).
    qint64 ms(int i) const
    {
        const qint64 us = qFromBigEndian<qint64>(at(i));
        return us >= 0 ? (us + 500) / 1000 : -((500 - us) / 1000);
    }
    double value(int i, int k) const
    {
        const quint64 bits = qFromBigEndian<quint64>(at(i) + 8 * k);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
};

// Keys sorted by their top 20 bits, keys of equal top bits left in the order
// they came: two passes of a counting sort, 10 bits each.
void sortByTop20(std::vector<quint64> &keys, std::vector<quint64> &spare)
{
    spare.resize(keys.size());
    for (const int shift : {44, 54}) {
        std::array<quint32, 1025> at {};
        for (const quint64 k : keys)
            ++at[size_t((k >> shift & 1023) + 1)];
        for (size_t b = 1; b < at.size(); ++b)
            at[b] += at[b - 1];
        for (const quint64 k : keys)
            spare[at[size_t(k >> shift & 1023)]++] = k;
        keys.swap(spare);
    }
}

// A quarter's readings to `take` (series, ms, R, V) in time order, readings
// of one moment by their station's bytes, as the files' report orders them.
// As keys: the ms within the quarter (20 bits), the series' rank by station
// (20), the reading's place in its series (24); made in the order of rank
// and place, so sorting by the ms alone (stable) orders them all.
template<typename Take>
void feedQuarter(std::vector<PackedSeries> &quarter, qint64 startMs, std::vector<quint64> &keys, std::vector<quint64> &spare,
                 const Take &take)
{
    if (quarter.size() == 1) {
        const PackedSeries &s = quarter.front();
        for (int i = 0; i < s.n; ++i)
            take(s, s.ms(i), s.value(i, 1), s.value(i, 2));
        return;
    }
    std::vector<int> rank(quarter.size());
    std::iota(rank.begin(), rank.end(), 0);
    std::stable_sort(rank.begin(), rank.end(), [&quarter](int a, int b) { return quarter[size_t(a)].name < quarter[size_t(b)].name; });
    keys.clear();
    for (size_t r = 0; r < rank.size(); ++r) {
        const PackedSeries &s = quarter[size_t(rank[r])];
        for (int i = 0; i < s.n; ++i)
            keys.push_back(quint64(s.ms(i) - startMs) << 44 | quint64(r) << 24 | quint64(i));
    }
    sortByTop20(keys, spare);
    for (const quint64 key : keys) {
        const PackedSeries &s = quarter[size_t(rank[size_t(key >> 24 & 0xfffff)])];
        const int i = int(key & 0xffffff);
        take(s, s.ms(i), s.value(i, 1), s.value(i, 2));
    }
}

// Every reading in the range, once, into the walks, and into the charts'
// points: all of them up to kChartRows, an even share in time order beyond.
bool DatabaseReader::walkSeries(SpcPasses &passes, QString *error)
{
    const qint64 readings = qMax(m_allR.count(), m_allV.count());
    m_chartEvery = std::max<qint64>(1, (readings + kChartRows - 1) / kChartRows);
    qint64 seen = 0;
    const auto take = [&](const PackedSeries &s, qint64 ms, double r, double v) {
        passes.add(s.groups.first, s.groups.second, s.station, ms, r, v);
        if (seen++ % m_chartEvery == 0)
            m_points.add(m_stationNames[s.station], ms, r, !std::isnan(r), v, !std::isnan(v));
    };
    const QByteArray sql = withLiterals(kSpcSeries, m_range, m_db);
    QByteArray key;
    std::vector<PackedSeries> quarter;
    std::vector<quint64> keys, spare;
    qint64 at = 0;
    // timestamptz: µs since 2000-01-01 UTC.
    const auto startMs = [&at] { return at / 1000 + Q_INT64_C(946684800000); };
    BinaryRows rows;
    bool readable = true, malformed = false;
    auto row = [&](const BinaryRows::Field *f, int n) {
        if (n < 7 || f[0].size != 8 || f[1].null() || f[6].null() || f[6].size % 24 != 0 || f[6].size / 24 > 0xffffff) {
            malformed = true;
            return;
        }
        if (quarter.empty() || f[0].integer() != at) {
            if (!quarter.empty())
                feedQuarter(quarter, startMs(), keys, spare, take);
            quarter.clear();
            at = f[0].integer();
        }
        key.resize(0);
        for (int i = 1; i <= 5; ++i) {
            key.append(reinterpret_cast<const char *>(&f[i].size), sizeof f[i].size);
            if (!f[i].null())
                key.append(f[i].data, f[i].size);
        }
        auto it = m_seriesGroups.constFind(key);
        if (it == m_seriesGroups.constEnd())
            it = m_seriesGroups.insert(key, readingGroups(f[1].bytes(), f + 2));
        PackedSeries s;
        s.name = f[1].bytes();
        s.station = m_stationNumbers.value(s.name, int(m_stationNumbers.size()));
        if (s.station == m_stationNumbers.size()) {
            m_stationNumbers.insert(s.name, s.station);
            m_stationNames.append(QString::fromUtf8(s.name));
        }
        s.points = f[6].bytes();
        s.n = f[6].size / 24;
        s.groups = it.value();
        quarter.push_back(std::move(s));
    };
    const bool copied = m_db.copyOut(sql, [&](const char *chunk, int size) { readable = readable && rows.feed(chunk, size, row); }, error);
    readable = readable && !malformed;
    if (copied && readable && !quarter.empty())
        feedQuarter(quarter, startMs(), keys, spare, take);
    m_pointsFed = copied && readable;
    if (copied && !readable && error)
        *error = QCoreApplication::translate("Report", "数据库 %1：%2").arg(m_db.where, QStringLiteral("COPY gave no packed readings"));
    return copied && readable;
}

// Every cell record of the query into the control charts.
bool DatabaseReader::fillSpc(QString *error)
{
    const QByteArray sql = withLiterals(kSpcCells, withLots(), m_db);
    QHash<QByteArray, QPair<int, int>> ids; // by station, limits, lot and set
    QByteArray key, lastKey;                 // reused: the row's station and all from its limits on
    QPair<int, int> last;
    BinaryRows rows;
    bool readable = true;
    auto row = [&](const BinaryRows::Field *f, int n) {
        if (n < 10 || f[0].null() || f[1].size != 8)
            return;
        key.resize(0);
        for (int i : {0, 4, 5, 6, 7, 8, 9}) {
            if (i >= n)
                break;
            key.append(reinterpret_cast<const char *>(&f[i].size), sizeof f[i].size);
            if (!f[i].null())
                key.append(f[i].data, f[i].size);
        }
        // Rows of a station come in runs: the row before's groups, unhashed.
        if (key != lastKey) {
            auto it = ids.constFind(key);
            if (it == ids.constEnd())
                it = ids.insert(key, groupsOfRow(f));
            last = it.value();
            lastKey = key;
        }
        // timestamptz: µs since 2000-01-01 UTC; to ms since 1970 as
        // round(epoch × 1000) gives them.
        const qint64 ms = std::llround(double(f[1].integer()) / 1000.0) + Q_INT64_C(946684800000);
        m_spc.add(last.first, last.second, ms, QByteArray::fromRawData(f[0].data, f[0].size), f[2].number(), f[3].number());
    };
    const bool copied = m_db.copyOut(sql, [&](const char *chunk, int size) { readable = readable && rows.feed(chunk, size, row); }, error);
    if (copied && !readable && error)
        *error = QCoreApplication::translate("Report", "数据库 %1：%2").arg(m_db.where, QStringLiteral("COPY gave no binary rows"));
    return copied && readable;
}

bool DatabaseReader::charts(QString *error)
{
    if (m_allR.count() + m_allV.count() == 0)
        return true;
    const qint64 readings = qMax(m_allR.count(), m_allV.count());
    // The walk over every reading gave the points; else (no control
    // charts) a sample of the table's pages, the server's quickest.
    const bool sampled = m_pointsFed ? m_chartEvery > 1 : readings > kChartRows;
    if (!m_pointsFed) {
        QVector<QByteArray> params = m_range;
        QByteArray sql = QByteArray(kChartPoints).replace("%1", sampled ? "TABLESAMPLE SYSTEM ($4::float8)" : "");
        if (sampled)
            params << QByteArray::number(100.0 * double(kChartRows) / double(readings), 'g', 6);
        const auto r = m_db.run(sql.constData(), params, error);
        if (!r)
            return false;
        for (int i = 0; i < r->rows(); ++i)
            m_points.add(r->text(i, 0), r->integer(i, 1), r->number(i, 2), !r->null(i, 2), r->number(i, 3), !r->null(i, 3));
    }
    Charts &c = m_out->charts;
    c = m_points.summarise(m_out->groups);
    c.sampled = sampled;
    if (!sampled)
        return true;
    // The sample's shape at the whole's scale, and the whole's figures.
    for (auto [h, all, seen] : {std::tuple<Histogram *, const stats::RunningStats *, qint64>(&c.r, &m_allR, m_points.rCount()),
                                std::tuple<Histogram *, const stats::RunningStats *, qint64>(&c.v, &m_allV, m_points.vCount())}) {
        const double scale = double(all->count()) / double(qMax<qint64>(1, seen));
        for (double &count : h->counts)
            count *= scale;
        h->below *= scale, h->above *= scale;
        h->estimated = true;
        h->stats = *all;
    }
    c.runStats = m_allR;
    for (auto it = c.boxes.begin(); it != c.boxes.end(); ++it)
        it->min = m_rOfStation[it.key()].min(), it->max = m_rOfStation[it.key()].max();
    return true;
}

} // namespace

bool readDatabase(const QString &conninfo, const Options &options, DatabaseReport *out, QString *error)
{
    DatabaseReader reader(options, out);
    return reader.open(conninfo, error) && reader.until(error) && reader.sums(error) && reader.controlCharts(error) && reader.charts(error)
           && reader.selfDischarge(error);
}

} // namespace report
