#include "plantdb/boarddb.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace plantdb {

namespace {

// Stations go to the server as one JSON array: no quoting of our own.
QByteArray jsonList(const QStringList &names)
{
    return QJsonDocument(QJsonArray::fromStringList(names)).toJson(QJsonDocument::Compact);
}

#define ZB_WINDOW                                                                                                  \
    "WITH s AS MATERIALIZED (SELECT DISTINCT json_array_elements_text($1::json) AS station), "                   \
    "n AS MATERIALIZED (SELECT to_timestamp($2::bigint / 1000.0) AS day, to_timestamp($3::bigint / 1000.0) AS now) "
#define ZB_MS(column) "(extract(epoch FROM " column ") * 1000)::bigint"

const char *const kPulses =
    ZB_WINDOW
    "SELECT s.station, " ZB_MS("l.time") ", " ZB_MS("l.received") ", l.r_mohm, l.v, l.verdict, "
    "  (SELECT count(*) FROM readings r WHERE r.station = s.station AND r.time > n.now - interval '1 minute' AND r.time <= n.now) "
    "FROM s CROSS JOIN n "
    "LEFT JOIN LATERAL (SELECT time, received, r_mohm, v, verdict FROM readings r "
    "  WHERE r.station = s.station AND r.time >= n.now - interval '1 day' AND r.time <= n.now + interval '1 minute' "
    "  ORDER BY r.time DESC LIMIT 1) l ON true";

// A station's day from the quarters the database keeps (cell_quarters),
// the rest by index: its newest record, its newest NG, the last hour's NG
// and signals, each not voided (cells_voids).
#define ZB_DAY "to_timestamp($2::bigint / 1000.0)"
#define ZB_NOW "to_timestamp($3::bigint / 1000.0)"
#define ZB_COUNTS(c) \
    "coalesce(" c ".voids, '') = '' AND NOT EXISTS (SELECT 1 FROM cells v WHERE v.station = " c ".station " \
    "AND coalesce(v.voids, '') <> '' AND v.voids = " c ".record)"
// A local midnight inside a quarter (a zone whose offset is not a whole
// number of quarters): that quarter's part of the day is counted from its
// records, the quarters after it from cell_quarters.
#define ZB_HEAD_END "(date_bin('15 minutes', " ZB_DAY " - interval '1 microsecond', TIMESTAMPTZ '2000-01-01 00:00:00+00') + interval '15 minutes')"
const char *const kDays =
    "WITH s AS MATERIALIZED (SELECT DISTINCT json_array_elements_text($1::json) AS station), "
    "a AS (SELECT station, sum(cells) AS cells, sum(pass) AS pass, sum(ng) AS ng, sum(with_k) AS with_k FROM ("
    "      SELECT q.station, q.cells, q.pass, q.ng, q.with_k FROM cell_quarters q "
    "      WHERE q.station IN (SELECT station FROM s) AND q.quarter >= " ZB_HEAD_END " AND q.quarter <= " ZB_NOW " "
    "      UNION ALL SELECT c.station, 1, (c.verdict = 'PASS')::int, (c.verdict = 'NG')::int, (c.k_mv_day IS NOT NULL)::int FROM cells c "
    "      WHERE c.station IN (SELECT station FROM s) AND c.time >= " ZB_DAY " AND c.time < " ZB_HEAD_END " AND " ZB_COUNTS("c") ") x "
    "      GROUP BY station) "
    "SELECT s.station, coalesce(a.cells, 0), coalesce(a.pass, 0), coalesce(a.ng, 0), "
    "  (SELECT count(*) FROM cells c WHERE c.station = s.station AND c.verdict = 'NG' AND c.time > " ZB_NOW " - interval '1 hour' "
    "     AND c.time >= " ZB_DAY " AND c.time <= " ZB_NOW " + interval '1 minute' AND " ZB_COUNTS("c") "), "
    "  coalesce(a.with_k, 0), latest.lot, latest.set, " ZB_MS("ng.time") ", ng.cell_id, ng.r_mohm, ng.v, sig.list "
    "FROM s LEFT JOIN a USING (station) "
    "LEFT JOIN LATERAL (SELECT lot, set FROM cells c WHERE c.station = s.station AND c.time >= " ZB_DAY
    "  AND c.time <= " ZB_NOW " + interval '1 minute' AND " ZB_COUNTS("c") " ORDER BY c.time DESC LIMIT 1) latest ON true "
    "LEFT JOIN LATERAL (SELECT time, cell_id, r_mohm, v FROM cells c WHERE c.station = s.station AND c.verdict = 'NG' "
    "  AND c.time >= " ZB_DAY " AND c.time <= " ZB_NOW " + interval '1 minute' AND " ZB_COUNTS("c") " ORDER BY c.time DESC LIMIT 1) ng ON true "
    "LEFT JOIN LATERAL (SELECT json_agg(json_build_array(" ZB_MS("time") ", cell_id, spc) ORDER BY time DESC) AS list FROM ("
    "  SELECT time, cell_id, spc FROM cells c WHERE c.station = s.station AND c.time > " ZB_NOW " - interval '1 hour' AND c.time >= " ZB_DAY
    "    AND c.time <= " ZB_NOW " + interval '1 minute' AND coalesce(c.spc, '') <> '' AND " ZB_COUNTS("c")
    "  ORDER BY c.time DESC LIMIT 20) x) sig ON true";

const char *const kNgReadings =
    ZB_WINDOW ", bad AS MATERIALIZED (SELECT r.station, r.time, r.r_mohm, r.v FROM readings r CROSS JOIN n "
    "  WHERE r.station IN (SELECT station FROM s) AND r.time > n.now - interval '1 hour' AND r.time <= n.now AND r.verdict = 'NG') "
    "SELECT s.station, (SELECT count(*) FROM bad WHERE bad.station = s.station), " ZB_MS("l.time") ", l.r_mohm, l.v "
    "FROM s LEFT JOIN LATERAL (SELECT time, r_mohm, v FROM bad WHERE bad.station = s.station ORDER BY time DESC LIMIT 1) l ON true";

const char *const kLastHour =
    ZB_WINDOW "SELECT " ZB_MS("r.time") ", " ZB_MS("r.received") ", r.r_mohm, r.v, r.verdict FROM readings r CROSS JOIN n "
              "WHERE r.station IN (SELECT station FROM s) AND r.time > n.now - interval '1 hour' AND r.time <= n.now + interval '1 minute' "
              "ORDER BY r.time";

// The station's newest record today names its lot; the lot's records of
// the last 30 days at the station, newest 5,000, in time order.
const char *const kRecords =
    ZB_WINDOW ", latest AS (SELECT c.lot, c.set FROM cells c CROSS JOIN n "
    "  WHERE c.station IN (SELECT station FROM s) AND c.time >= n.day AND c.time <= n.now + interval '1 minute' AND coalesce(c.voids, '') = '' "
    "  ORDER BY c.time DESC LIMIT 1), "
    "picked AS (SELECT c.* FROM cells c CROSS JOIN n LEFT JOIN latest ON true "
    "  WHERE c.station IN (SELECT station FROM s) AND c.time <= n.now + interval '1 minute' AND c.time >= n.now - interval '30 days' "
    "    AND CASE WHEN coalesce(latest.lot, '') <> '' THEN c.lot = latest.lot ELSE c.time >= n.day END AND " ZB_COUNTS("c") " "
    "  ORDER BY c.time DESC LIMIT 5000) "
    "SELECT " ZB_MS("p.time") ", p.record, p.cell_id, p.verdict, p.grade, p.spc, p.stage, p.reason, p.r_mohm, p.v, p.k_mv_day, "
    "       (SELECT lot FROM latest), (SELECT set FROM latest) "
    "FROM picked p ORDER BY p.time";

// Each row of an answer made into an item of the list; false when the question failed.
template <typename List, typename Make>
bool collect(const Result &r, List *out, Make make)
{
    if (!r.ok())
        return false;
    out->clear();
    for (int i = 0; i < r.rows(); ++i)
        out->append(make(r, i));
    return true;
}

} // namespace

Result BoardDb::ask(const char *sql, const QVector<QByteArray> &params, QString *error)
{
    QVector<const char *> values;
    for (const QByteArray &p : params)
        values.append(p.isNull() ? nullptr : p.constData());
    Result r(PQexecParams(m_c.get(), sql, values.size(), nullptr, values.constData(), nullptr, nullptr, 0));
    if (!r.ok() && error)
        *error = failure(m_c.get());
    return r;
}

bool BoardDb::stations(qint64 nowMs, QStringList *out, QString *error)
{
    return collect(ask("SELECT DISTINCT station FROM reading_quarters WHERE quarter >= to_timestamp($1::bigint / 1000.0) - interval '7 days' "
                       "ORDER BY 1",
                       {QByteArray::number(nowMs)}, error),
                   out, [](const Result &r, int i) { return r.text(i, 0); });
}

bool BoardDb::pulses(const QStringList &stations, qint64 nowMs, QVector<StationPulse> *out, QString *error)
{
    return collect(ask(kPulses, {jsonList(stations), QByteArray::number(nowMs), QByteArray::number(nowMs)}, error), out,
                   [](const Result &r, int i) {
                       StationPulse p;
                       p.station = r.text(i, 0);
                       p.last = {r.integer(i, 1), r.integer(i, 2), r.number(i, 3), r.number(i, 4), r.text(i, 5)};
                       p.lastMinute = int(r.integer(i, 6));
                       return p;
                   });
}

bool BoardDb::days(const QStringList &stations, qint64 dayStartMs, qint64 nowMs, QVector<StationDay> *out, QString *error)
{
    return collect(ask(kDays, {jsonList(stations), QByteArray::number(dayStartMs), QByteArray::number(nowMs)}, error), out, [](const Result &r, int i) {
        StationDay d;
        d.station = r.text(i, 0);
        d.cells = r.integer(i, 1);
        d.pass = r.integer(i, 2);
        d.ng = r.integer(i, 3);
        d.ngHour = r.integer(i, 4);
        d.withK = r.integer(i, 5);
        d.lot = r.text(i, 6);
        d.set = r.text(i, 7);
        d.lastNg = {r.integer(i, 8), r.text(i, 9), r.number(i, 10), r.number(i, 11)};
        for (const QJsonValue &s : QJsonDocument::fromJson(r.bytes(i, 12)).array()) {
            const QJsonArray a = s.toArray();
            d.signalsHour.append({qint64(a.at(0).toDouble()), a.at(1).toString(), a.at(2).toString()});
        }
        return d;
    });
}

bool BoardDb::ngReadings(const QStringList &stations, qint64 nowMs, QVector<StationDay> *out, QString *error)
{
    return collect(ask(kNgReadings, {jsonList(stations), QByteArray::number(nowMs), QByteArray::number(nowMs)}, error), out,
                   [](const Result &r, int i) {
                       StationDay d;
                       d.station = r.text(i, 0);
                       d.ngHour = r.integer(i, 1);
                       d.lastNg = {r.integer(i, 2), QString(), r.number(i, 3), r.number(i, 4)};
                       return d;
                   });
}

bool BoardDb::detail(const QString &station, qint64 dayStartMs, qint64 nowMs, StationDetail *out, QString *error)
{
    const QVector<QByteArray> params {jsonList({station}), QByteArray::number(dayStartMs), QByteArray::number(nowMs)};
    const Result hour = ask(kLastHour, params, error);
    if (!hour.ok())
        return false;
    const Result records = ask(kRecords, params, error);
    if (!records.ok())
        return false;
    *out = StationDetail();
    out->station = station;
    for (int i = 0; i < hour.rows(); ++i)
        out->lastHour.append({hour.integer(i, 0), hour.integer(i, 1), hour.number(i, 2), hour.number(i, 3), hour.text(i, 4)});
    for (int i = 0; i < records.rows(); ++i) {
        StationRecord c;
        c.ms = records.integer(i, 0);
        c.record = records.text(i, 1);
        c.cellId = records.text(i, 2);
        c.verdict = records.text(i, 3);
        c.grade = records.text(i, 4);
        c.spc = records.text(i, 5);
        c.stage = records.text(i, 6);
        c.reason = records.text(i, 7);
        c.r = records.number(i, 8);
        c.v = records.number(i, 9);
        c.k = records.number(i, 10);
        out->lot = records.text(i, 11);
        out->set = records.text(i, 12);
        out->records.append(c);
    }
    return true;
}

} // namespace plantdb
