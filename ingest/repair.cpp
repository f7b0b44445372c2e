#include "repair.h"

#include "mqtt/replayrequest.h"
#include "platform/queuedcall.h"

#include <QDateTime>
#include <QPointer>

#include "plantdb/pq.h"


namespace ingest {

namespace {

QString keyOf(const Gap &g)
{
    return QStringLiteral("%1|%2|%3|%4|%5").arg(g.station, g.stream, g.day.toString(Qt::ISODate)).arg(g.first).arg(g.last);
}

} // namespace

QVector<Gap> RepairPlan::due(const QVector<Gap> &gaps, qint64 nowMs)
{
    QHash<QString, Seen> still;
    QVector<Gap> out;
    for (const Gap &gap : gaps) {
        const QString key = keyOf(gap);
        Seen seen = m_seen.value(key, Seen {nowMs, -1, 0});
        const qint64 wait = seen.times == 0 ? m_ageMs : qMin<qint64>(m_retryMs << qMin(seen.times - 1, 20), 3600000);
        if (nowMs - (seen.times == 0 ? seen.since : seen.asked) >= wait) {
            seen.asked = nowMs;
            ++seen.times;
            out << gap;
        }
        still.insert(key, seen);
    }
    m_seen.swap(still);
    return out;
}

bool readLineGaps(const QString &conninfo, QVector<Gap> *gaps, QString *error)
{
    const plantdb::Connection conn = plantdb::connect(conninfo, "zentrel-ingest repair");
    auto fail = [&] {
        *error = plantdb::failure(conn.get());
        return false;
    };
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
        return fail();
    const plantdb::Result result(PQexec(conn.get(), "SET statement_timeout = 60000; "
                                                    "SELECT station, stream, day, first_missing, last_missing FROM line_gaps "
                                                    "ORDER BY day, station, stream, first_missing LIMIT 1000"));
    if (result.status() != PGRES_TUPLES_OK)
        return fail();
    gaps->clear();
    for (int i = 0; i < result.rows(); ++i)
        gaps->append({result.text(i, 0), result.text(i, 1), QDate::fromString(result.text(i, 2), Qt::ISODate), result.integer(i, 3),
                      result.integer(i, 4)});
    return true;
}

Repairer::Repairer(Reader reader, qint64 ageMs, MessageSource *source, std::function<void(const QString &)> say, Clock clock,
                   QObject *parent)
    : QObject(parent),
      m_reader(std::move(reader)),
      // Asked again while the gap stays: the station may have been away.
      m_plan(ageMs, qMax<qint64>(5 * ageMs, 10000)),
      m_source(source),
      m_say(std::move(say)),
      m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentMSecsSinceEpoch(); }))
{
    m_pool.setMaxThreadCount(1);
    m_timer.setInterval(int(qBound<qint64>(500, ageMs / 2, 30000)));
    connect(&m_timer, &QTimer::timeout, this, &Repairer::poll);
}

Repairer::~Repairer()
{
    m_timer.stop();
    platform::waitForPool(m_pool);
}

void Repairer::start()
{
    m_timer.start();
    poll();
}

void Repairer::poll()
{
    if (m_busy)
        return;
    m_busy = true;
    // The view reads every stored id: off the intake's thread.
    QPointer<Repairer> self(this);
    Reader reader = m_reader;
    platform::pooled(m_pool, [self, reader] {
        QVector<Gap> gaps;
        QString error;
        if (!reader(&gaps, &error))
            gaps.clear();
        platform::queuedCall(self.data(), [self, gaps, error] {
            if (self)
                self->got(gaps, error);
        });
    });
}

void Repairer::got(const QVector<Gap> &gaps, const QString &error)
{
    m_busy = false;
    if (!error.isEmpty()) {
        if (error != m_failure)
            m_say(QStringLiteral("repair: cannot read the gaps: %1").arg(error));
        m_failure = error;
        return;
    }
    m_failure.clear();
    for (const Gap &gap : m_plan.due(gaps, m_clock())) {
        // A longer gap is asked a part at a time: the rest shows again.
        const mqtt::ReplayRequest request {gap.stream, gap.day, gap.first, qMin(gap.last, gap.first + mqtt::kMaxReplayLines - 1)};
        QString why;
        if (!m_source->send(mqtt::replayTopic(gap.station), mqtt::replayRequestJson(request), &why)) {
            m_say(QStringLiteral("repair: cannot ask %1 for its lines: %2").arg(gap.station, why));
            continue;
        }
        ++m_asked;
        m_say(QStringLiteral("repair: asked %1 for %2 of %3, lines %4-%5")
                  .arg(gap.station, gap.stream, gap.day.toString(Qt::ISODate))
                  .arg(request.from)
                  .arg(request.to));
    }
}

} // namespace ingest
