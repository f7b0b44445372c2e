#ifndef REPORTSPC_H
#define REPORTSPC_H

#include "station/controlchart.h"

#include <QByteArray>
#include <QHash>
#include <QPointF>
#include <QVector>

#include <cmath>

// The report's control charts: each group's readings in time order, its
// limits from all of them (Phase I) and the rules' signals along them.
namespace report {

struct SpcSignal
{
    int rule = 0;
    qint64 index = 0; // position in the group's series of this quantity, from 0
    qint64 ms = 0;    // the reading's time
    double value = 0;
};

// One quantity (R or V) of one group.
struct SpcSeries
{
    station::ControlLimits limits; // invalid below two readings
    qint64 n = 0;
    double averageRange = NAN; // MR̄: the moving-range chart's centre
    // The signals in order, the first kSpcListed of them: a process far
    // out of control signals at nearly every reading, and a list of
    // millions says no more than its counts.
    QVector<SpcSignal> signalled;
    qint64 perRule[8] = {};     // every signal, counted by rule
    bool truncated() const;     // more signals than listed
    // What the charts draw: (index, value) and (index, moving range), at
    // most about kSpcShown points, each bucket's lowest and highest kept.
    QVector<QPointF> points, ranges;
    qint64 count(int rule) const { return rule >= 1 && rule <= 8 ? perRule[rule - 1] : 0; }
    qint64 total() const;
};

struct Spc
{
    SpcSeries r, v;
};

constexpr int kSpcShown = 4000;
constexpr int kSpcListed = 10000;

// Readings in any order, each with the one or two groups it counts in (by
// the caller's numbers). In time order at the end, readings of the same
// moment by their station's name (UTF-8 bytes), as the database orders
// them with COLLATE "C".
class SpcData
{
public:
    void add(int groupA, int groupB, qint64 ms, const QByteArray &station, double r, double v); // groupB < 0: none
    // Indexed by the caller's group number; empties the readings.
    QVector<Spc> compute(int groups);
    qint64 size() const { return m_points.size(); }
    void reserve(qint64 readings) { m_points.reserve(int(qMin<qint64>(readings, 1 << 28))); }

    struct Point
    {
        qint64 ms;
        int station, order, a, b; // order: as added, for readings of one station and moment
        double r, v;
    };

private:
    QVector<Point> m_points; // plain data (below): grown by realloc, no copy of a large block
    QHash<QByteArray, int> m_stations;
};

} // namespace report

Q_DECLARE_TYPEINFO(report::SpcData::Point, Q_PRIMITIVE_TYPE);

#endif // REPORTSPC_H
