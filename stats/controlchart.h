#ifndef CONTROLCHART_H
#define CONTROLCHART_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <deque>
#include <memory>

// Individuals control charts and the eight Nelson rules: whether the process
// that makes the cells is stable, apart from whether each cell is good. The
// control limits come from the readings themselves, not from the limits a
// cell is judged by.
namespace stats {

struct ControlLimits
{
    double centre = 0;
    double sigma = 0; // σ̂: the average moving range / d2 (1.128 for ranges of two)
    bool valid = false;
    double ucl() const { return centre + 3 * sigma; }
    double lcl() const { return centre - 3 * sigma; }
};

// From a series in time order: centre = its mean; invalid below two values.
ControlLimits individualsLimits(const QVector<double> &values);

// The same, reading by reading, for series too long to keep.
class LimitsBuilder
{
public:
    void add(double x);
    ControlLimits limits() const;
    qint64 count() const { return m_n; }
    double averageRange() const { return m_n > 1 ? m_ranges / double(m_n - 1) : 0; } // MR̄

private:
    qint64 m_n = 0;
    double m_sum = 0, m_ranges = 0, m_first = 0, m_last = 0;
    bool m_alike = true;
};

// Shewhart's constants for subgroups of n readings (2 to 10): the X̄
// chart's limits X̿ ± A2·R̄, the R chart's D3·R̄ to D4·R̄, σ̂ = R̄ / d2.
// (ASTM STP 15D; Montgomery, Introduction to Statistical Quality Control,
// appendix table VI.)
struct SubgroupConstants
{
    double a2 = 0, d3 = 0, d4 = 0, d2 = 0;
};
SubgroupConstants subgroupConstants(int n);

// X̄-R charts of consecutive subgroups of a fixed size, reading by reading:
// a long series charted by its subgroups' means and ranges. A tail short of
// a whole subgroup is not charted.
class SubgroupBuilder
{
public:
    explicit SubgroupBuilder(int size = 5) : m_size(size) {}
    // True when x completes a subgroup: then mean() and range() are its.
    bool add(double x);
    // A subgroup completed elsewhere, as add() would have made it (a second
    // pass over kept subgroups); true.
    bool take(double mean, double range)
    {
        m_filled = 0, m_mean = mean, m_range = range;
        return true;
    }
    double mean() const { return m_mean; }
    double range() const { return m_range; }
    // Counts a completed subgroup (after add() said so) into the limits.
    void count() { m_means += m_mean, m_ranges += m_range, ++m_counted; }
    qint64 counted() const { return m_counted; }
    int size() const { return m_size; }
    double averageRange() const { return m_counted > 0 ? m_ranges / double(m_counted) : 0; } // R̄
    // The X̄ chart's: centre X̿, σ̂ of a mean R̄ / (d2·√n), so 3σ̂ = A2·R̄;
    // invalid below two subgroups.
    ControlLimits meanLimits() const;

private:
    int m_size;
    int m_filled = 0;
    double m_sum = 0, m_lo = 0, m_hi = 0;
    double m_mean = 0, m_range = 0;
    double m_means = 0, m_ranges = 0;
    qint64 m_counted = 0;
};

// The rules checked reading by reading against fixed limits. A signal is
// given at the reading that completes its pattern, and again at each reading
// that continues it.
//  1 one point beyond 3σ̂
//  2 nine in a row on one side of the centre
//  3 six in a row steadily increasing or decreasing
//  4 fourteen in a row alternating up and down
//  5 two of three beyond 2σ̂ on one side (this one among them)
//  6 four of five beyond 1σ̂ on one side (this one among them)
//  7 fifteen in a row within 1σ̂
//  8 eight in a row beyond 1σ̂, on both sides, none within
class NelsonRules
{
public:
    explicit NelsonRules(const ControlLimits &limits) : m_limits(limits) {}
    // The rules this reading completes: bit (rule - 1) set for each.
    unsigned add(double x);

private:
    ControlLimits m_limits;
    std::deque<double> m_last; // the last 15 readings, this one last
    int m_side = 0, m_sideRun = 0;  // side of the centre (+1/-1/0) and its run
    int m_trend = 0, m_trendRun = 1; // direction of the last step and the points it has run
    int m_alternating = 1;           // points in the run alternating up and down
    static constexpr int kFar = 1 << 20;
    int m_within = 0, m_outside = 0; // points in a row within / beyond 1σ̂
    int m_sinceAbove = kFar, m_sinceBelow = kFar; // readings since the run was last beyond on that side
};

// The rules set in a bitmask of NelsonRules::add, in order.
QVector<int> firedRules(unsigned fired);

struct Signal
{
    int rule = 0;
    int index = 0; // the reading's position in the series, from 0
};
// Every signal of a series against its limits, in order.
QVector<Signal> nelsonSignals(const QVector<double> &values, const ControlLimits &limits);

// The rule in the operator's words.
QString ruleText(int rule);

// A lot's watch at the station. Trial limits from its first kBaseline PASS
// records; those of them beyond the trial limits (R or V) are set aside and
// the limits computed once more from the rest, as trial limits are revised.
// The records kept prime the rules' windows; each later record, NG ones
// too, is checked as it comes. NG records before the limits are fixed
// neither set them nor are checked. A new lot or limit set starts again
// (restart()).
class LotControl
{
public:
    static constexpr int kBaseline = 25;
    struct Fired
    {
        unsigned r = 0, v = 0; // bit (rule - 1) per rule, as NelsonRules::add
    };
    // A record's R and V (NaN: none); pass: whether it may set the limits;
    // tag: how setAside() names it. Nothing fires while the baseline fills.
    Fired add(double r, double v, bool pass = true, const QString &tag = QString());
    void restart();
    // Records still needed before checking starts.
    int stillNeeded() const { return std::max(0, kBaseline - int(m_r.size())); }
    const ControlLimits &rLimits() const { return m_rLimits; }
    const ControlLimits &vLimits() const { return m_vLimits; }
    // The baseline's records that the revision set aside, by tag.
    const QStringList &setAside() const { return m_setAside; }

private:
    void fixLimits();

    QVector<double> m_r, m_v; // the baseline's values (NaN: none)
    QStringList m_tags;
    QStringList m_setAside;
    ControlLimits m_rLimits, m_vLimits;
    std::unique_ptr<NelsonRules> m_rRules, m_vRules;
};

} // namespace stats

#endif // CONTROLCHART_H
