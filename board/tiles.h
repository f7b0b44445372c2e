#ifndef BOARD_TILES_H
#define BOARD_TILES_H

#include "plantdb/boarddb.h"

#include <QJsonObject>
#include <QMap>

// The board's model: a tile per station (its pulse and its day, as the
// database last told), the state each is in at a given moment, and the
// line's summary. Pure: the clock is the caller's.
namespace board {

enum class State { Measuring, Idle, Away };

struct Timing
{
    qint64 idleMs = 60 * 1000;       // no reading for this long: idle
    qint64 awayMs = 15 * 60 * 1000;  // ... for this long: away
};

// Measuring while its newest reading is younger than the idle time. A
// station whose readings still arrive (received recently) but are old is
// working off its publisher's backlog: away, and "behind" says by how much.
struct Presence
{
    State state = State::Away;
    qint64 behindMs = 0; // > 0: catching up a backlog this far behind
};
Presence presenceOf(const plantdb::BoardReading &last, qint64 nowMs, const Timing &timing);
const char *stateKey(State state); // "measuring", "idle", "away": the page's classes and keys

struct Tile
{
    plantdb::StationPulse pulse;
    plantdb::StationDay day;
    bool recordsCells() const { return day.cells > 0; }
};

struct Summary
{
    int measuring = 0, idle = 0, away = 0;
    qint64 cells = 0, pass = 0, ng = 0, ngHour = 0;
};

class Tiles
{
public:
    void setPulse(const plantdb::StationPulse &pulse);
    void setDay(const plantdb::StationDay &day);
    // Readings' NG of the last hour, for a station that records no cells.
    void setNgReadings(const plantdb::StationDay &ng);
    bool contains(const QString &station) const { return m_tiles.contains(station); }
    QStringList stations() const { return m_tiles.keys(); }
    QStringList stationsWithoutCells() const;

    Summary summary(qint64 nowMs, const Timing &timing) const;
    // A tile as the page takes it (numbers as numbers, texts as texts).
    QJsonObject json(const QString &station, qint64 nowMs, const Timing &timing) const;
    QJsonObject summaryJson(qint64 nowMs, const Timing &timing) const;

private:
    QMap<QString, Tile> m_tiles; // by name: the page's order
};

} // namespace board

#endif // BOARD_TILES_H
