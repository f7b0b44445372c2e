#include "stagelookup.h"

#include "pq.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace plantdb {

namespace {

const char *const kLatest =
    "SELECT round(date_part('epoch', time) * 1000)::bigint, v, record FROM cell_stages"
    " WHERE cell_id = $1 AND stage = $2 AND time < $3::timestamptz AND time >= $3::timestamptz - make_interval(days => $4::int)"
    " ORDER BY time DESC LIMIT 1";

} // namespace

struct StageLookup::Private
{
    QString conninfo;
    std::function<void(const QString &)> say;
    Connection connection;
    bool failing = false;
    QElapsedTimer sinceAttempt; // a failed connection is tried again only a minute on
};

StageLookup::StageLookup(const QString &conninfo, std::function<void(const QString &)> say) : d(new Private)
{
    d->conninfo = conninfo;
    d->say = std::move(say);
}

StageLookup::~StageLookup() = default;

bool StageLookup::connected()
{
    if (d->connection && PQstatus(d->connection.get()) == CONNECTION_OK)
        return true;
    // A host that drops the packets costs the connect timeout: not at every record.
    if (d->failing && d->sinceAttempt.isValid() && d->sinceAttempt.elapsed() < 60000)
        return false;
    d->sinceAttempt.start();
    d->connection = connect(d->conninfo, "zentrel-station");
    PGconn *c = d->connection.get();
    // Read-only whatever the role may do: the station only looks.
    const bool ok = c && PQstatus(c) == CONNECTION_OK
                    && PQresultStatus(Result(PQexec(c, "SET default_transaction_read_only = on")).get()) == PGRES_COMMAND_OK;
    if (!ok && !d->failing && d->say)
        d->say(QCoreApplication::translate("Station", "工厂数据库 %1 无法查询前一工序：%2").arg(where(c), errorOf(c)));
    d->failing = !ok;
    return ok;
}

std::optional<station::StageHistory::Earlier> StageLookup::latest(const QString &cellId, const QString &stage, const QDateTime &at, int days)
{
    if (!connected())
        return std::nullopt;
    const QByteArray params[] = {cellId.toUtf8(), stage.toUtf8(), at.toUTC().toString(Qt::ISODateWithMs).toUtf8(), QByteArray::number(days)};
    const char *values[] = {params[0].constData(), params[1].constData(), params[2].constData(), params[3].constData()};
    const Result r(PQexecParams(d->connection.get(), kLatest, 4, nullptr, values, nullptr, nullptr, 0));
    if (!r.ok()) {
        if (!d->failing && d->say)
            d->say(QCoreApplication::translate("Station", "工厂数据库 %1 无法查询前一工序：%2")
                       .arg(where(d->connection.get()), QString::fromUtf8(PQresultErrorMessage(r.get())).trimmed()));
        d->failing = true;
        return std::nullopt;
    }
    d->failing = false;
    if (r.rows() == 0)
        return std::nullopt;
    return station::StageHistory::Earlier {QDateTime::fromMSecsSinceEpoch(r.integer(0, 0)), r.number(0, 1), r.text(0, 2)};
}

} // namespace plantdb
