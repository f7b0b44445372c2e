#ifndef REPORTSPC_H
#define REPORTSPC_H

#include "stats/capability.h"
#include "stats/controlchart.h"

#include <QByteArray>
#include <QHash>
#include <QPointF>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <vector>

// The report's control charts: each group's readings in time order, its
// trial limits from all of them, revised once without the readings beyond
// them (Phase I, as the station does), and the rules' signals along them.
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
    // Readings charted one by one (individuals and moving ranges, subgroup
    // 1), or past kIndividualsMost by the means and ranges of consecutive
    // subgroups of kSubgroup (X̄ and R): the limits, points, rules and
    // signals are then the subgroups'.
    int subgroup = 1;
    stats::ControlLimits limits; // invalid below two readings (subgroups)
    qint64 n = 0;                // readings
    qint64 charted = 0;          // points on the chart: readings or whole subgroups
    // The rules are not checked on a group that mixes stations' readings
    // (each station is charted on its own): the mixture itself would fire them.
    bool ruled = true;
    bool mixed = false; // readings of more than one station
    qint64 setAside = 0; // readings beyond the trial limits, left out of these
    bool revised() const { return setAside > 0; }
    // Readings revision would have set aside, more than kMostSetAside of
    // them: the trial limits stand (levels would leave nothing to chart).
    qint64 unrevised = 0;
    // Readings that come in contacts, one cell each (a station's cell
    // mode): their levels are the cells', not a process's walk. Neither
    // charted nor tested; the cell records are.
    bool byContact = false;
    double averageRange = NAN; // MR̄ or R̄: the range chart's centre
    double rangeHigh() const { return stats::subgroupConstants(std::max(2, subgroup)).d4 * averageRange; }
    double rangeLow() const { return stats::subgroupConstants(std::max(2, subgroup)).d3 * averageRange; }
    // σ̂ of a single reading, the within σ that capability takes.
    double sigmaWithin() const { return limits.valid ? limits.sigma * std::sqrt(double(subgroup)) : NAN; }
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
    // A group too large to hold is charted from a sample: 1 reading in
    // sampleEvery, of `readings` (1 and n when all are charted).
    qint64 sampleEvery = 1;
    qint64 readings = 0;
    // Anderson–Darling over the series, or an even sample of at most
    // kNormalityTested of it.
    stats::Normality normality;
    // Order statistics of the tested values, at most kOrderShown, evenly
    // spread by rank from the least to the greatest: the capability page's
    // probability plot and histogram. ranks[i] is order[i]'s rank from 1 in
    // `tested` values.
    QVector<double> order;
    QVector<double> ranks;
    qint64 tested = 0;
};

struct Spc
{
    SpcSeries r, v;
};

constexpr int kSpcShown = 4000;
constexpr double kMostSetAside = 0.25;
constexpr int kIndividualsMost = 1000;
constexpr int kSubgroup = 5;
constexpr int kOrderShown = 1000;
constexpr int kNormalityTested = 50000;
constexpr int kSpcListed = 10000;
// Readings held for the charts at most (40 bytes each): past it, the
// largest groups are charted from a sample.
constexpr qint64 kSpcHeld = 12000000;

struct Walk;

// The three walks over every reading of the groups in time order: the
// trial limits from all, the revised ones from those within them, then the
// rules and the drawn points. For a caller that can give the readings again
// rather than hold them (the database's packed series), and under SpcData.
class SpcPasses
{
public:
    static constexpr int kPasses = 3;
    // overall (by group number): the groups whose rules go unchecked when
    // they mix stations; settable until the first pass ends. replay: the
    // readings are given once, the first pass keeps each group's subgroups
    // (24 bytes for every five readings) and the later passes walk those.
    explicit SpcPasses(QVector<bool> overall = {}, bool replay = false);
    ~SpcPasses();
    void setOverall(const QVector<bool> &overall) { m_overall = overall; }
    // The same readings in the same order at every pass; groupB < 0: none.
    // station: the caller's number of the reading's station.
    void add(int groupA, int groupB, int station, qint64 ms, double r, double v);
    void markMixed(int group); // stations the caller knows of beyond those added
    // Replaying: the readings of R and V a group will be given, before the
    // first: its normality is tested on one in every n / kNormalityTested.
    // unruled: known to mix stations (an overall group), so it is charted
    // as the readings come, nothing kept.
    void expect(int group, qint64 r, qint64 v, bool unruled = false);
    void next();               // ends a pass
    int pass() const { return m_pass; }
    // After the last pass: each group's charts, by number (groups beyond
    // those added left empty).
    QVector<Spc> result(int groups);

private:
    void step(Walk &w, qint64 ms, double x);
    void finish(); // each group's counts of what it was given
    void grow(int group);

    QVector<bool> m_overall;
    bool m_replay = false;
    int m_pass = 0;
    std::vector<Walk> m_r, m_v;
    std::vector<int> m_station; // the first station seen, per group
    std::vector<bool> m_mixed;
    std::vector<qint64> m_added; // readings given, with or without each value
    QVector<Spc> m_out;
};

// Readings in any order, each with the one or two groups it counts in (by
// the caller's numbers). In time order at the end, readings of the same
// moment by their station's name (UTF-8 bytes), as the database orders
// them with COLLATE "C".
//
// At most a bound of readings is held. Past it the group holding most is
// thinned to every second of its readings, again as often as needed: a
// reading stays in a group's sample when a hash of its time, station and
// values has that many low bits clear, so the sample is the same whatever
// the order the readings came in (files or the database) and each level's
// sample lies within the one before.
class SpcData
{
public:
    explicit SpcData(qint64 held = kSpcHeld) : m_held(std::max<qint64>(held, 16)) {}
    void add(int groupA, int groupB, qint64 ms, const QByteArray &station, double r, double v); // groupB < 0: none
    // Indexed by the caller's group number; empties the readings. overall
    // (by group number): the groups whose rules go unchecked when they mix
    // stations.
    QVector<Spc> compute(int groups, const QVector<bool> &overall = {});
    qint64 size() const { return m_points.size(); }
    // Another's readings after these, its groups renumbered by `ids`; each
    // group's sample is the sparser of the two (the same hash decides).
    void absorb(SpcData &&other, const QVector<int> &ids);
    void reserve(qint64 readings) { m_points.reserve(int(qMin(readings, m_held))); }

    struct Point
    {
        qint64 ms;
        int station;
        quint32 order; // as added, for readings of one station and moment
        int a, b;      // the groups it is held for; -1: none
        double r, v;
    };

private:
    struct GroupSample
    {
        int level = 0;     // 1 reading in 2^level held
        qint64 held = 0, seen = 0;
        int station = -1;  // the first station seen
        bool mixed = false;
    };
    quint64 hashOf(const Point &p) const;
    bool kept(quint64 hash, int group) const;
    GroupSample &sample(int group);
    void thin();
    void thinTo(int group, int level);
    int stationOf(const QByteArray &name);

    qint64 m_held;
    QVector<Point> m_points; // plain data (below): grown by realloc, no copy of a large block
    QHash<QByteArray, int> m_stations;
    int m_lastStation = -1; // the last reading's, and its name (a key of m_stations)
    QByteArray m_lastName;
    std::vector<quint64> m_stationHash;
    std::vector<GroupSample> m_samples;
    quint32 m_added = 0;
};

} // namespace report

Q_DECLARE_TYPEINFO(report::SpcData::Point, Q_PRIMITIVE_TYPE);

#endif // REPORTSPC_H
