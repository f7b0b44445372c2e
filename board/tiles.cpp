#include "board/tiles.h"

#include <QJsonArray>

namespace board {

namespace {

QJsonValue number(double x)
{
    return std::isfinite(x) ? QJsonValue(x) : QJsonValue();
}

QJsonValue time(qint64 ms)
{
    return ms > 0 ? QJsonValue(double(ms)) : QJsonValue();
}

} // namespace

Presence presenceOf(const plantdb::BoardReading &last, qint64 nowMs, const Timing &timing)
{
    if (last.ms <= 0)
        return {State::Away, 0};
    const qint64 age = nowMs - last.ms;
    if (age <= timing.idleMs)
        return {State::Measuring, 0};
    const qint64 lag = last.receivedMs - last.ms;
    if (nowMs - last.receivedMs <= timing.idleMs && lag > timing.idleMs)
        return {State::Away, lag};
    return {age <= timing.awayMs ? State::Idle : State::Away, 0};
}

const char *stateKey(State state)
{
    switch (state) {
    case State::Measuring: return "measuring";
    case State::Idle: return "idle";
    case State::Away: break;
    }
    return "away";
}

void Tiles::setPulse(const plantdb::StationPulse &pulse)
{
    Tile &t = m_tiles[pulse.station];
    t.pulse = pulse;
    t.day.station = pulse.station;
}

void Tiles::setDay(const plantdb::StationDay &day)
{
    Tile &t = m_tiles[day.station];
    t.pulse.station = day.station;
    t.day = day;
}

void Tiles::setNgReadings(const plantdb::StationDay &ng)
{
    auto it = m_tiles.find(ng.station);
    if (it == m_tiles.end() || it->recordsCells())
        return;
    it->day.ngHour = ng.ngHour;
    it->day.lastNg = ng.lastNg;
}

QStringList Tiles::stationsWithoutCells() const
{
    QStringList out;
    for (auto it = m_tiles.cbegin(); it != m_tiles.cend(); ++it)
        if (!it->recordsCells())
            out.append(it.key());
    return out;
}

Summary Tiles::summary(qint64 nowMs, const Timing &timing) const
{
    Summary s;
    for (const Tile &t : m_tiles) {
        switch (presenceOf(t.pulse.last, nowMs, timing).state) {
        case State::Measuring: ++s.measuring; break;
        case State::Idle: ++s.idle; break;
        case State::Away: ++s.away; break;
        }
        s.cells += t.day.cells;
        s.pass += t.day.pass;
        s.ng += t.day.ng;
        s.ngHour += t.day.ngHour;
    }
    return s;
}

QJsonObject Tiles::json(const QString &station, qint64 nowMs, const Timing &timing) const
{
    const Tile t = m_tiles.value(station);
    const Presence p = presenceOf(t.pulse.last, nowMs, timing);
    QJsonArray signalList;
    for (const plantdb::BoardSignal &s : t.day.signalsHour)
        signalList.append(QJsonObject {{"t", time(s.ms)}, {"cell", s.cellId}, {"rules", s.spc}});
    const plantdb::BoardReading &last = t.pulse.last;
    const plantdb::BoardNg &ng = t.day.lastNg;
    const qint64 judged = t.day.pass + t.day.ng;
    return QJsonObject {
        {"station", station},
        {"state", stateKey(p.state)},
        {"behind_ms", p.behindMs > 0 ? QJsonValue(double(p.behindMs)) : QJsonValue()},
        {"last", QJsonObject {{"t", time(last.ms)}, {"r", number(last.r)}, {"v", number(last.v)}, {"verdict", last.verdict}}},
        {"per_minute", t.pulse.lastMinute},
        {"lot", t.day.lot},
        {"set", t.day.set},
        {"cells", double(t.day.cells)},
        {"pass", double(t.day.pass)},
        {"ng", double(t.day.ng)},
        {"yield", judged > 0 ? QJsonValue(double(t.day.pass) / double(judged)) : QJsonValue()},
        {"ng_hour", double(t.day.ngHour)},
        {"last_ng", ng.ms > 0 ? QJsonValue(QJsonObject {{"t", time(ng.ms)}, {"cell", ng.cellId}, {"r", number(ng.r)}, {"v", number(ng.v)}})
                              : QJsonValue()},
        {"signals", signalList},
        {"k", double(t.day.withK)},
    };
}

QJsonObject Tiles::summaryJson(qint64 nowMs, const Timing &timing) const
{
    const Summary s = summary(nowMs, timing);
    const qint64 judged = s.pass + s.ng;
    return QJsonObject {
        {"measuring", s.measuring}, {"idle", s.idle}, {"away", s.away}, {"stations", s.measuring + s.idle + s.away},
        {"cells", double(s.cells)}, {"yield", judged > 0 ? QJsonValue(double(s.pass) / double(judged)) : QJsonValue()},
        {"ng_hour", double(s.ngHour)},
    };
}

} // namespace board
