#include "reportdb.h"

#include "journal/journal.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <memory>

namespace report {

namespace {

constexpr int kBoxBins = 1024;     // a station's quantiles to 1/1024 of its range
constexpr int kRunBuckets = 10000; // lowest and highest R of each: 20,000 points at most

struct Result
{
    explicit Result(PGresult *r) : r(r) {}
    ~Result() { PQclear(r); }
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;
    bool null(int row, int col) const { return PQgetisnull(r, row, col); }
    QByteArray bytes(int row, int col) const { return QByteArray(PQgetvalue(r, row, col), PQgetlength(r, row, col)); }
    QString text(int row, int col) const { return QString::fromUtf8(bytes(row, col)); }
    double number(int row, int col) const { return null(row, col) ? NAN : bytes(row, col).toDouble(); }
    qint64 integer(int row, int col) const { return null(row, col) ? 0 : bytes(row, col).toLongLong(); }
    // A limit as the journal writes it: nine decimals at most, no trailing zeros.
    QString limit(int row, int col) const { return null(row, col) ? QString() : journal::plainNumber(number(row, col)); }
    int rows() const { return PQntuples(r); }
    PGresult *r;
};

class Connection
{
public:
    bool open(const QString &conninfo, QString *error)
    {
        const QByteArray info = conninfo.toUtf8();
        const char *keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
        const char *values[] = {info.constData(), "5", "zentrel-report", nullptr};
        m_conn.reset(PQconnectdbParams(keys, values, 1));
        if (!m_conn)
            return fail(QCoreApplication::translate("Report", "内存不足"), error);
        where = QStringLiteral("%1:%2/%3")
                    .arg(QString::fromUtf8(PQhost(m_conn.get())), QString::fromUtf8(PQport(m_conn.get())),
                         QString::fromUtf8(PQdb(m_conn.get())));
        if (PQstatus(m_conn.get()) != CONNECTION_OK)
            return fail(QString::fromUtf8(PQerrorMessage(m_conn.get())).trimmed(), error);
        // One snapshot for every query, so the parts add up.
        return run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {}, error) != nullptr;
    }

    // The rows of a query with text parameters (a null QByteArray is NULL).
    std::unique_ptr<Result> run(const char *sql, const QVector<QByteArray> &params, QString *error)
    {
        QVector<const char *> values;
        for (const QByteArray &p : params)
            values.append(p.isNull() ? nullptr : p.constData());
        auto result = std::make_unique<Result>(
            PQexecParams(m_conn.get(), sql, int(values.size()), nullptr, values.constData(), nullptr, nullptr, 0));
        const ExecStatusType s = PQresultStatus(result->r);
        if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) {
            fail(QString::fromUtf8(PQerrorMessage(m_conn.get())).trimmed(), error);
            return nullptr;
        }
        return result;
    }

    QString where;

private:
    bool fail(const QString &reason, QString *error) const
    {
        if (error)
            *error = QCoreApplication::translate("Report", "数据库 %1：%2").arg(where, reason);
        return false;
    }

    struct Finish
    {
        void operator()(PGconn *c) const { PQfinish(c); }
    };
    std::unique_ptr<PGconn, Finish> m_conn;
};

// Rows the report reads: in the days asked for, of the stations asked for.
// $1, $2: the range's ends; $3: the stations (a JSON array) or NULL.
#define ZR_RANGE "time >= $1::timestamptz AND time < $2::timestamptz AND ($3::jsonb IS NULL OR $3::jsonb ? station)"
// The meter shows at most 1677.7215 of its unit (mΩ for R kept from Ω).
#define ZR_OK "(r_mohm IS NULL OR abs(r_mohm) <= 1677721.5) AND (v IS NULL OR abs(v) <= 1677.7215)"
// Counts, R and V, first and last (ms) of a group.
#define ZR_AGGREGATES                                                                                                   \
    "count(*) FILTER (WHERE verdict = 'PASS'), count(*) FILTER (WHERE verdict = 'NG'), count(*), "                   \
    "count(r_mohm), avg(r_mohm), stddev_samp(r_mohm), min(r_mohm), max(r_mohm), "                                     \
    "count(v), avg(v), stddev_samp(v), min(v), max(v), "                                                              \
    "round(date_part('epoch', min(time)) * 1000)::bigint, round(date_part('epoch', max(time)) * 1000)::bigint"

const char *const kReadings =
    "SELECT station, r_low, r_high, v_low, v_high, ok, " ZR_AGGREGATES
    " FROM (SELECT *, " ZR_OK " AS ok FROM readings WHERE " ZR_RANGE ") x"
    " GROUP BY station, r_low, r_high, v_low, v_high, ok";

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

// One pass for every chart: the histograms' bins of R ($4 low end, $5
// width) and V ($6, $7), each station's fine bins of R ($10: its low end and
// width) and the run chart's time buckets ($8 start in ms, $9 width).
const char *const kCharts =
    "SELECT GROUPING(rb), GROUPING(vb), GROUPING(sb), rb, vb, station, sb, tb, count(*), min(r_mohm), max(r_mohm)"
    " FROM (SELECT x.station, x.r_mohm,"
    "   least(floor((x.r_mohm - $4) / $5), 39)::int AS rb,"
    "   least(floor((x.v - $6) / $7), 39)::int AS vb,"
    "   least(floor((x.r_mohm - f.lo) / f.w), 1023)::int AS sb,"
    "   floor((date_part('epoch', x.time) * 1000 - $8) / $9)::bigint AS tb"
    "  FROM (SELECT station, time, r_mohm, v FROM readings WHERE " ZR_RANGE " AND " ZR_OK ") x"
    "  JOIN jsonb_to_recordset($10::jsonb) AS f(station text, lo float8, w float8) ON f.station = x.station) b"
    " GROUP BY GROUPING SETS ((rb), (vb), (station, sb), (tb))";

QByteArray numberParam(double x)
{
    return QByteArray::number(x, 'g', 17);
}

QByteArray listParam(const QStringList &list)
{
    return list.isEmpty() ? QByteArray() : QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact);
}

// Adds a row of ZR_AGGREGATES (from column at) to a group.
void addPart(Group &g, const Result &r, int row, int at)
{
    const qint64 pass = r.integer(row, at), ng = r.integer(row, at + 1), all = r.integer(row, at + 2);
    g.stats.pass += pass;
    g.stats.ng += ng;
    g.stats.none += all - pass - ng;
    g.stats.r.merge(station::RunningStats::fromMoments(r.integer(row, at + 3), r.number(row, at + 4), r.number(row, at + 5),
                                                       r.number(row, at + 6), r.number(row, at + 7)));
    g.stats.v.merge(station::RunningStats::fromMoments(r.integer(row, at + 8), r.number(row, at + 9), r.number(row, at + 10),
                                                       r.number(row, at + 11), r.number(row, at + 12)));
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(r.integer(row, at + 13));
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(r.integer(row, at + 14));
    if (!g.first.isValid() || first < g.first)
        g.first = first;
    if (!g.last.isValid() || last > g.last)
        g.last = last;
}

class Groups
{
public:
    Group &at(const QString &scope, const LimitKey &limits)
    {
        Group &g = m_groups[{scope, limits}];
        if (g.scope.isEmpty()) {
            g.scope = scope;
            g.limits = limits;
        }
        return g;
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
    QMap<QPair<QString, LimitKey>, Group> m_groups;
};

// The value of rank k (0-based, of n) in a station's fine bins, read
// between the lowest and highest value of its bin.
double rankValue(const QMap<int, std::tuple<qint64, double, double>> &bins, qint64 k)
{
    qint64 before = 0;
    for (const auto &[count, lo, hi] : bins) {
        if (k < before + count)
            return count > 1 ? lo + (hi - lo) * double(k - before) / double(count - 1) : lo;
        before += count;
    }
    return bins.isEmpty() ? NAN : std::get<2>(bins.last());
}

} // namespace

bool readDatabase(const QString &conninfo, const Options &options, DatabaseReport *out, QString *error)
{
    Connection db;
    const bool opened = db.open(conninfo, error);
    out->where = db.where;
    if (!opened)
        return false;
    const QVector<QByteArray> range = {
        options.from.isValid() ? options.from.startOfDay().toUTC().toString(Qt::ISODateWithMs).toUtf8() : QByteArray("-infinity"),
        options.to.isValid() ? options.to.addDays(1).startOfDay().toUTC().toString(Qt::ISODateWithMs).toUtf8() : QByteArray("infinity"),
        listParam(options.stations)};
    Groups groups;
    station::RunningStats allR, allV;
    QMap<QString, station::RunningStats> rOfStation;
    qint64 t0 = 0, t1 = 0;
    // Readings carry no lot: asked for lots, the report is of cell records.
    if (options.lots.isEmpty()) {
        const auto r = db.run(kReadings, range, error);
        if (!r)
            return false;
        for (int i = 0; i < r->rows(); ++i) {
            const qint64 rows = r->integer(i, 8);
            out->lines += rows;
            if (r->bytes(i, 5) != "t") {
                out->skipped += rows;
                continue;
            }
            const QString station = r->text(i, 0);
            LimitKey limits;
            limits.rLow = r->limit(i, 1), limits.rHigh = r->limit(i, 2), limits.vLow = r->limit(i, 3), limits.vHigh = r->limit(i, 4);
            Group part;
            addPart(part, *r, i, 6);
            for (const QString &scope : {QStringLiteral("全部"), QStringLiteral("工位 %1").arg(station)})
                addPart(groups.at(scope, limits), *r, i, 6);
            allR.merge(part.stats.r);
            allV.merge(part.stats.v);
            rOfStation[station].merge(part.stats.r);
            t0 = t0 == 0 ? part.first.toMSecsSinceEpoch() : qMin(t0, part.first.toMSecsSinceEpoch());
            t1 = qMax(t1, part.last.toMSecsSinceEpoch());
        }
    }
    {
        QVector<QByteArray> params = range;
        params.append(listParam(options.lots));
        const auto r = db.run(kCells, params, error);
        if (!r)
            return false;
        for (int i = 0; i < r->rows(); ++i) {
            const qint64 rows = r->integer(i, 11);
            out->lines += rows;
            if (r->bytes(i, 7) == "t") // voided, or a void
                continue;
            if (r->bytes(i, 6) != "t") {
                out->skipped += rows;
                continue;
            }
            LimitKey limits;
            limits.cells = true;
            limits.set = r->text(i, 1);
            limits.rLow = r->limit(i, 2), limits.rHigh = r->limit(i, 3), limits.vLow = r->limit(i, 4), limits.vHigh = r->limit(i, 5);
            const QString grade = r->text(i, 8);
            for (const QString &scope : {QStringLiteral("单体 全部"), QStringLiteral("单体 批次 %1").arg(r->text(i, 0))}) {
                Group &g = groups.at(scope, limits);
                addPart(g, *r, i, 9);
                if (!grade.isEmpty())
                    g.stats.grades[grade] += rows;
            }
        }
    }
    out->groups = groups.sorted();
    if (allR.count() + allV.count() == 0)
        return true;

    Charts &c = out->charts;
    double rLow, rHigh, vLow, vHigh;
    limitsOf(inForce(out->groups), &rLow, &rHigh, &vLow, &vHigh);
    if (allR.count() > 0)
        c.r = Histogram::frame(allR.min(), allR.max(), rLow, rHigh);
    if (allV.count() > 0)
        c.v = Histogram::frame(allV.min(), allV.max(), vLow, vHigh);
    c.r.stats = allR;
    c.v.stats = allV;
    c.runStats = allR;
    QJsonArray frames;
    for (auto it = rOfStation.cbegin(); it != rOfStation.cend(); ++it)
        if (it->count() > 0)
            frames.append(QJsonObject{{"station", it.key()}, {"lo", it->min()},
                                      {"w", it->max() > it->min() ? (it->max() - it->min()) / kBoxBins : 1.0}});
    const double tw = std::fmax(1.0, double(t1 - t0 + 1) / kRunBuckets);
    QVector<QByteArray> params = range;
    params << numberParam(c.r.lo) << numberParam(c.r.width) << numberParam(c.v.lo) << numberParam(c.v.width)
           << QByteArray::number(t0) << numberParam(tw) << QJsonDocument(frames).toJson(QJsonDocument::Compact);
    const auto r = db.run(kCharts, params, error);
    if (!r)
        return false;
    QMap<QString, QMap<int, std::tuple<qint64, double, double>>> fine;
    QMap<qint64, QPair<double, double>> run;
    for (int i = 0; i < r->rows(); ++i) {
        const qint64 n = r->integer(i, 8);
        if (r->bytes(i, 0) == "0") {
            if (!r->null(i, 3))
                c.r.counts[int(r->integer(i, 3))] += double(n);
        } else if (r->bytes(i, 1) == "0") {
            if (!r->null(i, 4))
                c.v.counts[int(r->integer(i, 4))] += double(n);
        } else if (r->bytes(i, 2) == "0") {
            if (!r->null(i, 6))
                fine[r->text(i, 5)][int(r->integer(i, 6))] = {n, r->number(i, 9), r->number(i, 10)};
        } else if (!r->null(i, 9)) {
            run[r->integer(i, 7)] = {r->number(i, 9), r->number(i, 10)};
        }
    }
    for (auto it = run.cbegin(); it != run.cend(); ++it) {
        const qint64 t = t0 + qint64((double(it.key()) + 0.5) * tw);
        c.run.append({t, it->first});
        if (it->second != it->first)
            c.run.append({t, it->second});
    }
    for (auto it = fine.cbegin(); it != fine.cend(); ++it) {
        const station::RunningStats &s = rOfStation[it.key()];
        const qint64 n = s.count();
        auto q = [&](double p) { return rankValue(it.value(), qint64(p * double(n - 1) + 0.5)); };
        c.boxes.insert(it.key(), Box{s.min(), q(0.25), q(0.5), q(0.75), s.max()});
    }
    return true;
}

} // namespace report
