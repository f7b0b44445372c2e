#include "matcher.h"

#include "meter/meterframe.h"

#include "platform/punctuation.h"

#include <QCoreApplication>

#include <QHash>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

namespace match {

namespace {

// Figures written with four decimals and read back must judge the same: a
// hair of slack at the rules' edges.
constexpr double kSlack = 1e-9;
// Steps of the complete search for groups before it gives up (about a second).
constexpr qint64 kSearchSteps = 20000000;
// The sweep looks at this many of a lowest cell's nearest companions.
constexpr int kCandidatesPerSlot = 8, kCandidatesLeast = 64;
// The swaps' pool: this many cells per cell of the pack, and at least this
// many (so lots of a few thousand cells are searched whole).
constexpr int kPoolPerPackCell = 3, kPoolLeast = 8000;
// The annealing's moves at most (six times as many in the second stage): a
// few seconds for the largest pool.
constexpr int kMostMoves = 4200000;

double vOf(const Cell &c) { return std::fabs(c.v); }

// kWidth: max − min of the group's K (0 without a K rule).
bool withinRules(double minR, double maxR, double meanR, double minV, double maxV, const Rules &rules, double kWidth = 0)
{
    return (maxR - minR) / meanR * 100.0 <= rules.rSpreadPct + kSlack
           && (maxV - minV) * 1000.0 <= rules.vSpreadMv + kSlack && !(kWidth > rules.kSpreadMvDay + kSlack);
}

// max − min of the cells' K, when a K spread is ruled (else 0).
template<typename Cells>
double kWidthOf(const QVector<Cell> &cells, const Cells &group, const Rules &rules)
{
    if (!std::isfinite(rules.kSpreadMvDay))
        return 0;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c : group)
        lo = std::min(lo, cells[c].k), hi = std::max(hi, cells[c].k);
    return hi >= lo ? hi - lo : 0;
}

QString pctText(double v) { return QString::number(v, 'g', 4); }

// The values of cells within `width` of each other around `at` that hold
// the most of them: the window [a, a + width] with at in it, a a value.
template<typename Value>
void keepFullestWindow(std::vector<int> &cells, double at, double width, Value value)
{
    std::vector<int> sorted = cells;
    std::sort(sorted.begin(), sorted.end(), [&](int a, int b) { return value(a) < value(b); });
    int best = 0;
    double from = -std::numeric_limits<double>::infinity(), to = -from;
    size_t end = 0;
    for (size_t s = 0; s < sorted.size(); ++s) {
        const double a = value(sorted[s]);
        if (a < at - width - kSlack || a > at)
            continue;
        end = std::max(end, s);
        while (end < sorted.size() && value(sorted[end]) <= a + width + kSlack)
            ++end;
        if (int(end - s) > best)
            best = int(end - s), from = a, to = a + width;
    }
    cells.erase(std::remove_if(cells.begin(), cells.end(), [&](int c) { return value(c) < from - kSlack || value(c) > to + kSlack; }),
                cells.end());
}

// Disjoint groups of P cells that keep the rules, swept from the low end of
// R (or of V, or of K); rules may be left out, to tell which of them binds.
enum class Sweep { R, V, K };
QVector<QVector<int>> formGroups(const QVector<Cell> &cells, const Rules &rules, Sweep along, bool useR, bool useV, bool useK = true)
{
    const int n = cells.size(), p = rules.parallel;
    const bool byR = along == Sweep::R;
    auto key = [&](int i) { return along == Sweep::R ? cells[i].r : along == Sweep::V ? vOf(cells[i]) : cells[i].k; };
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return key(a) < key(b); });
    std::vector<char> used(size_t(n), 0);
    Rules loose = rules;
    if (!useR)
        loose.rSpreadPct = std::numeric_limits<double>::infinity();
    if (!useV)
        loose.vSpreadMv = std::numeric_limits<double>::infinity();
    if (!useK)
        loose.kSpreadMvDay = std::numeric_limits<double>::infinity();
    const bool kRuled = std::isfinite(loose.kSpreadMvDay);
    const double vWidth = loose.vSpreadMv / 1000.0;
    QVector<QVector<int>> groups;
    int left = n;
    size_t pos = 0;
    std::vector<int> candidates;
    while (left >= p) {
        while (used[size_t(order[pos])])
            ++pos;
        const int low = order[pos];
        // The lowest cell left is the lowest of any group it can join:
        // max − min ≤ r·mean ≤ r·max bounds the others.
        double bound = std::numeric_limits<double>::infinity();
        if (byR && useR && loose.rSpreadPct < 100.0)
            bound = cells[low].r / (1.0 - loose.rSpreadPct / 100.0);
        else if (along == Sweep::V && useV)
            bound = vOf(cells[low]) + vWidth;
        else if (along == Sweep::K && kRuled)
            bound = cells[low].k + loose.kSpreadMvDay;
        // Its nearest companions only: on a fleet's lot thousands lie within
        // the bound, and a group takes P of the nearest anyway.
        candidates.clear();
        const size_t most = size_t(kCandidatesPerSlot * p + kCandidatesLeast);
        for (size_t k = pos; k < order.size() && candidates.size() < most && key(order[k]) <= bound * (1 + kSlack); ++k)
            if (!used[size_t(order[k])])
                candidates.push_back(order[k]);
        QVector<int> group;
        if (int(candidates.size()) >= p) {
            // Sweeping by R: the V window around the lowest cell that holds
            // the most candidates, then the K window so, then the P lowest in R.
            if (byR && useV)
                keepFullestWindow(candidates, vOf(cells[low]), vWidth, [&](int c) { return vOf(cells[c]); });
            if (byR && kRuled)
                keepFullestWindow(candidates, cells[low].k, loose.kSpreadMvDay, [&](int c) { return cells[c].k; });
            for (int c : candidates) {
                group.append(c);
                if (group.size() == p)
                    break;
            }
            if (group.size() == p) {
                double minR = 1e300, maxR = -1e300, sumR = 0, minV = 1e300, maxV = -1e300;
                for (int c : group) {
                    minR = std::min(minR, cells[c].r), maxR = std::max(maxR, cells[c].r), sumR += cells[c].r;
                    minV = std::min(minV, vOf(cells[c])), maxV = std::max(maxV, vOf(cells[c]));
                }
                if (!withinRules(minR, maxR, sumR / p, minV, maxV, loose, kWidthOf(cells, group, loose)))
                    group.clear();
            } else {
                group.clear();
            }
        }
        if (group.isEmpty()) {
            used[size_t(low)] = 1; // fits no group: a spare
            --left;
            continue;
        }
        for (int c : group)
            used[size_t(c)] = 1;
        left -= p;
        groups.append(group);
    }
    return groups;
}

// S disjoint groups that keep the rules, when the sweep found fewer: a
// depth-first search over the lowest cell left (the lowest of its group, or
// a spare), trying its possible groups lowest cells first. Complete: it finds
// S groups whenever they exist, unless it runs out of steps first (then
// *exhausted is set and the answer is "none found", not "none exist").
class GroupSearch
{
public:
    GroupSearch(const QVector<Cell> &cells, const Rules &rules, qint64 budget)
        : m_cells(cells), m_rules(rules), m_p(rules.parallel), m_budget(budget)
    {
        m_order.resize(size_t(cells.size()));
        std::iota(m_order.begin(), m_order.end(), 0);
        std::stable_sort(m_order.begin(), m_order.end(), [&](int a, int b) { return cells[a].r < cells[b].r; });
        m_used.assign(size_t(cells.size()), 0);
        m_byV = m_order;
        std::stable_sort(m_byV.begin(), m_byV.end(), [&](int a, int b) { return vOf(cells[a]) < vOf(cells[b]); });
        m_byK = m_order;
        std::stable_sort(m_byK.begin(), m_byK.end(), [&](int a, int b) { return cells[a].k < cells[b].k; });
    }

    QVector<QVector<int>> find(int groups, bool *exhausted)
    {
        m_groups.clear();
        m_spares = m_cells.size() - groups * m_p;
        const bool found = m_spares >= 0 && search(0, groups);
        *exhausted = !found && m_steps > m_budget;
        return found ? m_groups : QVector<QVector<int>>();
    }

private:
    bool search(size_t from, int needed)
    {
        if (needed == 0)
            return true;
        while (from < m_order.size() && m_used[size_t(m_order[from])])
            ++from;
        if (from >= m_order.size() || ++m_steps > m_budget || mostGroupsLeft() < needed)
            return false;
        const int low = m_order[from];
        // Its companions: above it in R within the R rule's bound, and within
        // the V rule of it.
        const double bound = m_rules.rSpreadPct < 100.0 ? m_cells[low].r / (1.0 - m_rules.rSpreadPct / 100.0) * (1 + kSlack)
                                                        : std::numeric_limits<double>::infinity();
        const double width = m_rules.vSpreadMv / 1000.0 + kSlack;
        std::vector<int> companions;
        for (size_t k = from + 1; k < m_order.size() && m_cells[m_order[k]].r <= bound; ++k) {
            const int c = m_order[k];
            if (!m_used[size_t(c)] && std::fabs(vOf(m_cells[c]) - vOf(m_cells[low])) <= width
                && !(std::fabs(m_cells[c].k - m_cells[low].k) > m_rules.kSpreadMvDay + kSlack))
                companions.push_back(c);
        }
        QVector<int> group {low};
        m_used[size_t(low)] = 1;
        if (int(companions.size()) >= m_p - 1 && choose(companions, 0, group, from, needed))
            return true;
        // Or it is a spare.
        m_used[size_t(low)] = 0;
        if (m_spares > 0) {
            --m_spares;
            m_used[size_t(low)] = 1;
            if (search(from + 1, needed))
                return true;
            m_used[size_t(low)] = 0;
            ++m_spares;
        }
        return false;
    }

    // Completes group from companions[next...], then searches on.
    bool choose(const std::vector<int> &companions, size_t next, QVector<int> &group, size_t from, int needed)
    {
        if (group.size() == m_p) {
            if (!keeps(group))
                return false;
            for (int c : group)
                m_used[size_t(c)] = 1;
            m_groups.append(group);
            if (search(from + 1, needed - 1))
                return true;
            m_groups.removeLast();
            for (int c : group.mid(1))
                m_used[size_t(c)] = 0;
            return false;
        }
        for (size_t k = next; k + size_t(m_p - group.size()) <= companions.size(); ++k) {
            if (++m_steps > m_budget)
                return false;
            group.append(companions[k]);
            const bool done = choose(companions, k + 1, group, from, needed);
            group.removeLast();
            if (done)
                return true;
        }
        return false;
    }

    // More groups than the cells left can make: any group's R lie within
    // [min, min / (1 − ΔR)] (max − min ≤ ΔR·mean ≤ ΔR·max) and its V within
    // ΔV. For such windows alone the sweep is exact (take the lowest cell
    // with the next P − 1 when they fit the window, else leave it out), so
    // the fewer of the two counts bounds what both rules allow.
    int mostGroupsLeft() const
    {
        const double ratio = m_rules.rSpreadPct < 100.0 ? 1.0 / (1.0 - m_rules.rSpreadPct / 100.0) : std::numeric_limits<double>::infinity();
        const int byR = windows(m_order, [&](int low, int c) { return m_cells[c].r <= m_cells[low].r * ratio * (1 + kSlack); });
        const double width = m_rules.vSpreadMv / 1000.0 + kSlack;
        const int byV = windows(m_byV, [&](int low, int c) { return vOf(m_cells[c]) <= vOf(m_cells[low]) + width; });
        const double kWidth = m_rules.kSpreadMvDay + kSlack;
        const int byK = std::isfinite(kWidth) ? windows(m_byK, [&](int low, int c) { return m_cells[c].k <= m_cells[low].k + kWidth; }) : byV;
        return std::min({byR, byV, byK});
    }
    template<typename Fits>
    int windows(const std::vector<int> &order, Fits fits) const
    {
        std::vector<int> left;
        left.reserve(order.size());
        for (int c : order)
            if (!m_used[size_t(c)])
                left.push_back(c);
        int count = 0;
        for (size_t i = 0; i + size_t(m_p) <= left.size();) {
            if (fits(left[i], left[i + size_t(m_p) - 1])) {
                ++count;
                i += size_t(m_p);
            } else {
                ++i;
            }
        }
        return count;
    }

    bool keeps(const QVector<int> &group) const { return keepsRules(figuresOf(m_cells, group), m_rules); }

    const QVector<Cell> &m_cells;
    const Rules &m_rules;
    const int m_p;
    const qint64 m_budget;
    qint64 m_steps = 0;
    int m_spares = 0;
    std::vector<int> m_order, m_byV, m_byK; // by R, by V, by K
    std::vector<char> m_used;
    QVector<QVector<int>> m_groups;
};

// Swaps cells between groups, and with the spares, keeping every group
// inside the rules, to make the groups' conductances (and capacities) equal.
class Search
{
public:
    Search(const QVector<Cell> &cells, const Rules &rules, const QVector<QVector<int>> &start, quint32 seed)
        : m_cells(cells), m_rules(rules), m_s(start.size()), m_p(rules.parallel), m_random(seed)
    {
        const int n = cells.size();
        m_where.assign(size_t(n), -1);
        m_groups.resize(size_t(m_s));
        m_g.assign(size_t(m_s), 0.0);
        m_c.assign(size_t(m_s), 0.0);
        for (int g = 0; g < m_s; ++g) {
            for (int c : start[g]) {
                m_groups[size_t(g)].push_back(c);
                m_where[size_t(c)] = g;
                m_g[size_t(g)] += 1.0 / cells[c].r;
                m_c[size_t(g)] += capacity(c);
            }
        }
        m_byR.resize(size_t(n));
        std::iota(m_byR.begin(), m_byR.end(), 0);
        std::sort(m_byR.begin(), m_byR.end(), [&](int a, int b) { return cells[a].r < cells[b].r; });
        m_rank.resize(size_t(n));
        for (int k = 0; k < n; ++k)
            m_rank[size_t(m_byR[size_t(k)])] = k;
    }

    void anneal(int moves);
    // Annealed on a high power of the deviations (close to the range, which
    // the variance neglects when the rules pin a few groups off the mean).
    void annealRange(int moves);
    void polish(int rounds);
    QVector<QVector<int>> groups() const;

private:
    double capacity(int c) const { return m_rules.useCapacity ? m_cells[c].capacity : 0.0; }
    double relVariance(double sum, double sumSq) const { return sum > 0 ? m_s * sumSq / (sum * sum) - 1.0 : 0.0; }
    // Whether group g keeps the rules with cell `out` replaced by `in`.
    bool fits(int g, int out, int in) const;
    // The score the polish lowers: relative ranges of conductance (and capacity).
    double rangeScore(const std::vector<double> &values, int a, double va, int b, double vb, double total,
                      const std::vector<int> &top, const std::vector<int> &bottom) const;
    void swapCells(int x, int y);
    // A cell x of a group a and a cell y to swap it with: every other move
    // one of x's neighbours in R (fine steps), else any cell (a spare too).
    bool pickMove(int k, int *a, int *x, int *y);

    const QVector<Cell> &m_cells;
    const Rules &m_rules;
    int m_s, m_p;
    std::mt19937 m_random;
    std::vector<int> m_where;               // group of a cell, or -1 for a spare
    std::vector<std::vector<int>> m_groups;
    std::vector<double> m_g, m_c;           // Σ 1/R and Σ C per group
    std::vector<int> m_byR, m_rank;
};

bool Search::fits(int g, int out, int in) const
{
    double minR = m_cells[in].r, maxR = minR, sumR = minR, minV = vOf(m_cells[in]), maxV = minV;
    double minK = m_cells[in].k, maxK = minK;
    for (int c : m_groups[size_t(g)]) {
        if (c == out)
            continue;
        const double r = m_cells[c].r, v = vOf(m_cells[c]);
        minR = std::min(minR, r), maxR = std::max(maxR, r), sumR += r;
        minV = std::min(minV, v), maxV = std::max(maxV, v);
        minK = std::min(minK, m_cells[c].k), maxK = std::max(maxK, m_cells[c].k);
    }
    return withinRules(minR, maxR, sumR / m_p, minV, maxV, m_rules, std::isfinite(m_rules.kSpreadMvDay) ? maxK - minK : 0);
}

bool Search::pickMove(int k, int *a, int *x, int *y)
{
    const int n = m_cells.size();
    *a = std::uniform_int_distribution<int>(0, m_s - 1)(m_random);
    *x = m_groups[size_t(*a)][size_t(std::uniform_int_distribution<int>(0, m_p - 1)(m_random))];
    if (k & 1) {
        *y = std::uniform_int_distribution<int>(0, n - 1)(m_random);
        return true;
    }
    const int step = std::uniform_int_distribution<int>(1, 24)(m_random);
    const int rank = m_rank[size_t(*x)] + ((k & 2) ? step : -step);
    if (rank < 0 || rank >= n)
        return false;
    *y = m_byR[size_t(rank)];
    return true;
}

void Search::swapCells(int x, int y)
{
    const int a = m_where[size_t(x)], b = m_where[size_t(y)];
    const double dg = 1.0 / m_cells[y].r - 1.0 / m_cells[x].r, dc = capacity(y) - capacity(x);
    auto &ga = m_groups[size_t(a)];
    *std::find(ga.begin(), ga.end(), x) = y;
    m_g[size_t(a)] += dg, m_c[size_t(a)] += dc;
    if (b >= 0) {
        auto &gb = m_groups[size_t(b)];
        *std::find(gb.begin(), gb.end(), y) = x;
        m_g[size_t(b)] -= dg, m_c[size_t(b)] -= dc;
    }
    m_where[size_t(x)] = b;
    m_where[size_t(y)] = a;
}

void Search::anneal(int moves)
{
    const int n = m_cells.size();
    if (m_s < 2 && n == m_s * m_p)
        return;
    double sumG = 0, sqG = 0, sumC = 0, sqC = 0;
    for (int g = 0; g < m_s; ++g)
        sumG += m_g[size_t(g)], sqG += m_g[size_t(g)] * m_g[size_t(g)], sumC += m_c[size_t(g)],
            sqC += m_c[size_t(g)] * m_c[size_t(g)];
    auto objective = [&](double sg, double qg, double sc, double qc) {
        return relVariance(sg, qg) + (m_rules.useCapacity ? relVariance(sc, qc) : 0.0);
    };
    double f = objective(sumG, sqG, sumC, sqC);
    // Cooling from a temperature that lets about one in three worsening
    // moves through, to one that lets none.
    const double t0 = std::max(f * 1e-2, 1e-12), t1 = std::max(f * 1e-9, 1e-16);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int k = 0; k < moves; ++k) {
        const double t = t0 * std::pow(t1 / t0, double(k) / moves);
        int a, x, y;
        if (!pickMove(k, &a, &x, &y))
            continue;
        const int b = m_where[size_t(y)];
        if (b == a)
            continue;
        const double dg = 1.0 / m_cells[y].r - 1.0 / m_cells[x].r, dc = capacity(y) - capacity(x);
        const double ga = m_g[size_t(a)], ca = m_c[size_t(a)];
        double sg = sumG + (b < 0 ? dg : 0.0), qg = sqG - ga * ga + (ga + dg) * (ga + dg);
        double sc = sumC + (b < 0 ? dc : 0.0), qc = sqC - ca * ca + (ca + dc) * (ca + dc);
        if (b >= 0) {
            const double gb = m_g[size_t(b)], cb = m_c[size_t(b)];
            qg += -gb * gb + (gb - dg) * (gb - dg);
            qc += -cb * cb + (cb - dc) * (cb - dc);
        }
        const double f2 = objective(sg, qg, sc, qc);
        if (f2 > f && unit(m_random) >= std::exp((f - f2) / t))
            continue;
        if (!fits(a, x, y) || (b >= 0 && !fits(b, y, x)))
            continue;
        swapCells(x, y);
        sumG = sg, sqG = qg, sumC = sc, sqC = qc, f = f2;
    }
}

void Search::annealRange(int moves)
{
    if (m_s < 2)
        return;
    auto power = [](double d) {
        const double d2 = d * d, d4 = d2 * d2;
        return d4 * d4;
    };
    double sumG = 0, sumC = 0;
    for (int g = 0; g < m_s; ++g)
        sumG += m_g[size_t(g)], sumC += m_c[size_t(g)];
    auto terms = [&](const std::vector<double> &v, double mean) {
        double t = 0;
        for (double x : v)
            t += power((x - mean) / mean);
        return t;
    };
    double tg = terms(m_g, sumG / m_s), tc = m_rules.useCapacity ? terms(m_c, sumC / m_s) : 0.0;
    // Metropolis on the logarithm: the same schedule whatever the spread's scale.
    auto score = [&](double g, double c) { return std::log(g + c + 1e-300); };
    double f = score(tg, tc);
    const double t0 = 0.3, t1 = 1e-4;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> gs, cs;
    for (int k = 0; k < moves; ++k) {
        const double t = t0 * std::pow(t1 / t0, double(k) / moves);
        int a, x, y;
        if (!pickMove(k, &a, &x, &y))
            continue;
        const int b = m_where[size_t(y)];
        if (b == a || (b < 0 && (k & 4))) // spare swaps cost a full count: fewer of them
            continue;
        const double dg = 1.0 / m_cells[y].r - 1.0 / m_cells[x].r, dc = capacity(y) - capacity(x);
        double tg2, tc2 = 0, sg = sumG, sc = sumC;
        if (b >= 0) {
            const double mg = sumG / m_s, mc = sumC / m_s;
            const double ga = m_g[size_t(a)], gb = m_g[size_t(b)];
            tg2 = tg - power((ga - mg) / mg) - power((gb - mg) / mg) + power((ga + dg - mg) / mg) + power((gb - dg - mg) / mg);
            if (m_rules.useCapacity) {
                const double ca = m_c[size_t(a)], cb = m_c[size_t(b)];
                tc2 = tc - power((ca - mc) / mc) - power((cb - mc) / mc) + power((ca + dc - mc) / mc) + power((cb - dc - mc) / mc);
            }
        } else {
            sg += dg, sc += dc;
            gs = m_g, cs = m_c;
            gs[size_t(a)] += dg, cs[size_t(a)] += dc;
            tg2 = terms(gs, sg / m_s);
            tc2 = m_rules.useCapacity ? terms(cs, sc / m_s) : 0.0;
        }
        const double f2 = score(std::max(tg2, 0.0), std::max(tc2, 0.0));
        if (f2 > f && unit(m_random) >= std::exp((f - f2) / t))
            continue;
        if (!fits(a, x, y) || (b >= 0 && !fits(b, y, x)))
            continue;
        swapCells(x, y);
        sumG = sg, sumC = sc;
        // Counted afresh now and then: the running sums drift.
        if (b < 0 || (k & 1023) == 0) {
            tg = terms(m_g, sumG / m_s);
            tc = m_rules.useCapacity ? terms(m_c, sumC / m_s) : 0.0;
        } else {
            tg = tg2, tc = tc2;
        }
        f = score(tg, tc);
    }
}

double Search::rangeScore(const std::vector<double> &values, int a, double va, int b, double vb, double total,
                          const std::vector<int> &top, const std::vector<int> &bottom) const
{
    double hi = va, lo = va;
    if (b >= 0)
        hi = std::max(hi, vb), lo = std::min(lo, vb);
    for (int g : top)
        if (g != a && g != b) {
            hi = std::max(hi, values[size_t(g)]);
            break;
        }
    for (int g : bottom)
        if (g != a && g != b) {
            lo = std::min(lo, values[size_t(g)]);
            break;
        }
    return (hi - lo) / (total / m_s);
}

void Search::polish(int rounds)
{
    const int n = m_cells.size();
    auto extremes = [this](const std::vector<double> &values, std::vector<int> &top, std::vector<int> &bottom) {
        std::vector<int> all(static_cast<size_t>(m_s));
        std::iota(all.begin(), all.end(), 0);
        const size_t k = std::min<size_t>(3, all.size());
        std::partial_sort(all.begin(), all.begin() + long(k), all.end(),
                          [&](int x, int y) { return values[size_t(x)] > values[size_t(y)]; });
        top.assign(all.begin(), all.begin() + long(k));
        std::partial_sort(all.begin(), all.begin() + long(k), all.end(),
                          [&](int x, int y) { return values[size_t(x)] < values[size_t(y)]; });
        bottom.assign(all.begin(), all.begin() + long(k));
    };
    std::vector<int> topG, bottomG, topC, bottomC;
    for (int round = 0; round < rounds; ++round) {
        double sumG = 0, sumC = 0;
        for (int g = 0; g < m_s; ++g)
            sumG += m_g[size_t(g)], sumC += m_c[size_t(g)];
        extremes(m_g, topG, bottomG);
        if (m_rules.useCapacity)
            extremes(m_c, topC, bottomC);
        auto score = [&](int a, double ga, double ca, int b, double gb, double cb, double sg, double sc) {
            double s = rangeScore(m_g, a, ga, b, gb, sg, topG, bottomG);
            if (m_rules.useCapacity)
                s += rangeScore(m_c, a, ca, b, cb, sc, topC, bottomC);
            return s;
        };
        const double now = score(topG[0], m_g[size_t(topG[0])], m_c[size_t(topG[0])], -1, 0, 0, sumG, sumC);
        double best = now * (1 - 1e-12);
        int bestX = -1, bestY = -1;
        std::vector<int> ends {topG[0], bottomG[0]};
        if (m_rules.useCapacity)
            ends.insert(ends.end(), {topC[0], bottomC[0]});
        for (int a : ends) {
            for (int x : m_groups[size_t(a)]) {
                for (int y = 0; y < n; ++y) {
                    const int b = m_where[size_t(y)];
                    if (b == a)
                        continue;
                    const double dg = 1.0 / m_cells[y].r - 1.0 / m_cells[x].r, dc = capacity(y) - capacity(x);
                    const double s = b >= 0 ? score(a, m_g[size_t(a)] + dg, m_c[size_t(a)] + dc, b, m_g[size_t(b)] - dg,
                                                    m_c[size_t(b)] - dc, sumG, sumC)
                                            : score(a, m_g[size_t(a)] + dg, m_c[size_t(a)] + dc, -1, 0, 0, sumG + dg, sumC + dc);
                    if (s < best && fits(a, x, y) && (b < 0 || fits(b, y, x)))
                        best = s, bestX = x, bestY = y;
                }
            }
        }
        if (bestX < 0)
            return;
        swapCells(bestX, bestY);
    }
}

QVector<QVector<int>> Search::groups() const
{
    QVector<QVector<int>> out;
    for (const auto &g : m_groups) {
        QVector<int> cells(g.begin(), g.end());
        std::sort(cells.begin(), cells.end(), [this](int a, int b) { return m_cells[a].r < m_cells[b].r; });
        out.append(cells);
    }
    return out;
}

void finishPlan(Plan &plan, const QVector<Cell> &cells, const Rules &rules)
{
    QVector<double> rg, cap;
    QVector<char> used(cells.size(), 0);
    plan.groupsBreakingRules = 0;
    for (const QVector<int> &g : plan.groups) {
        const GroupFigures f = figuresOf(cells, g);
        rg.append(f.rg);
        cap.append(f.capacity);
        if (!keepsRules(f, rules))
            ++plan.groupsBreakingRules;
        for (int c : g)
            used[c] = 1;
    }
    plan.spares.clear();
    for (int c = 0; c < cells.size(); ++c)
        if (!used[c])
            plan.spares.append(c);
    plan.rgSpread = spreadOf(rg);
    plan.capacitySpread = rules.useCapacity ? spreadOf(cap) : NAN;
}

// Cells a search may use, with each one's index in the lot.
struct Pool
{
    QVector<Cell> cells;
    QVector<int> index;
    QVector<QVector<int>> groups; // the starting groups, as indices into cells
};

// A pool of at most `size` cells: the starting groups' and, around the
// middle of their R, the nearest others. The whole lot when it is no larger.
Pool poolAround(const QVector<Cell> &cells, const QVector<QVector<int>> &start, int size)
{
    Pool pool;
    std::vector<char> taken(size_t(cells.size()), 0);
    std::vector<double> inGroups;
    for (const QVector<int> &g : start)
        for (int c : g) {
            taken[size_t(c)] = 1;
            inGroups.push_back(cells[c].r);
        }
    std::vector<int> others;
    for (int c = 0; c < cells.size(); ++c)
        if (!taken[size_t(c)])
            others.push_back(c);
    const int room = std::max(0, size - int(inGroups.size()));
    if (int(others.size()) > room && !inGroups.empty()) {
        std::nth_element(inGroups.begin(), inGroups.begin() + long(inGroups.size() / 2), inGroups.end());
        const double middle = inGroups[inGroups.size() / 2];
        std::nth_element(others.begin(), others.begin() + room, others.end(), [&](int a, int b) {
            return std::fabs(cells[a].r - middle) < std::fabs(cells[b].r - middle);
        });
        others.resize(size_t(room));
        std::sort(others.begin(), others.end()); // the lot's order: the same pool for the same input
    }
    for (const QVector<int> &g : start) {
        QVector<int> group;
        for (int c : g) {
            group.append(pool.cells.size());
            pool.cells.append(cells[c]);
            pool.index.append(c);
        }
        pool.groups.append(group);
    }
    for (int c : others) {
        pool.cells.append(cells[c]);
        pool.index.append(c);
    }
    return pool;
}

} // namespace

Choice chooseCells(const QVector<Cell> &records, const QSet<QString> &voidedRecords, const Rules &rules,
                   const QHash<QString, QString> &placed)
{
    Choice out;
    QHash<QString, int> newest;
    QStringList ids;
    for (int i = 0; i < records.size(); ++i) {
        const Cell &c = records[i];
        if (!c.record.isEmpty() && voidedRecords.contains(c.station + QLatin1Char(',') + c.record))
            continue;
        if (c.id.isEmpty()) {
            out.excluded.append({c, QCoreApplication::translate("Match", "没有电芯编号")});
            continue;
        }
        const auto it = newest.find(c.id);
        if (it == newest.end()) {
            newest.insert(c.id, i);
            ids << c.id;
            continue;
        }
        ++out.superseded;
        if (!(c.time < records[*it].time))
            *it = i;
    }
    for (const QString &id : qAsConst(ids)) {
        const Cell &c = records[newest.value(id)];
        QString why;
        if (placed.contains(id))
            why = QCoreApplication::translate("Match", "已在电池包 %1 中").arg(placed.value(id));
        else if (rules.passOnly && c.verdict != QLatin1String("PASS"))
            why = c.verdict.isEmpty() ? QCoreApplication::translate("Match", "没有判定") : QCoreApplication::translate("Match", "判定 %1").arg(c.verdict);
        else if (!rules.lot.isEmpty() && c.lot != rules.lot)
            why = QCoreApplication::translate("Match", "批次 %1").arg(c.lot.isEmpty() ? QStringLiteral("—") : c.lot);
        else if (!rules.grades.isEmpty() && !rules.grades.contains(c.grade))
            why = QCoreApplication::translate("Match", "等级 %1").arg(c.grade.isEmpty() ? QStringLiteral("—") : c.grade);
        else if (!(std::isfinite(c.r) && c.r > 0 && std::isfinite(c.v)))
            why = QCoreApplication::translate("Match", "读数不可用（过载或缺失）");
        else if (!meter::meterCanShow(c.r, c.v) || c.r < meter::kMagnitudeStep / 2)
            why = QCoreApplication::translate("Match", "读数超出仪表量程（R %1 mΩ，V %2 V）")
                      .arg(c.r, 0, 'g', 6).arg(c.v, 0, 'g', 6);
        else if (rules.useCapacity && !(std::isfinite(c.capacity) && c.capacity > 0))
            why = QCoreApplication::translate("Match", "容量文件中没有它");
        else if (rules.usesK() && !std::isfinite(c.k))
            why = QCoreApplication::translate("Match", "没有 K 值（记录中没有自放电）");
        else if (c.k > rules.kMax)
            why = QCoreApplication::translate("Match", "K %1 mV/天，高于 %2").arg(c.k, 0, 'g', 4).arg(rules.kMax, 0, 'g', 4);
        if (why.isEmpty())
            out.usable.append(c);
        else
            out.excluded.append({c, why});
    }
    return out;
}

GroupFigures figuresOf(const QVector<Cell> &cells, const QVector<int> &group)
{
    GroupFigures f;
    f.n = group.size();
    if (group.isEmpty())
        return f;
    double minR = 1e300, maxR = -1e300, sumR = 0, minV = 1e300, maxV = -1e300, g = 0, cap = 0;
    for (int c : group) {
        const double r = cells[c].r, v = vOf(cells[c]);
        minR = std::min(minR, r), maxR = std::max(maxR, r), sumR += r;
        minV = std::min(minV, v), maxV = std::max(maxV, v);
        g += 1.0 / r;
        cap += cells[c].capacity;
    }
    f.meanR = sumR / f.n;
    f.spreadRPct = (maxR - minR) / f.meanR * 100.0;
    f.spreadVMv = (maxV - minV) * 1000.0;
    f.rg = 1.0 / g;
    f.capacity = cap;
    double minK = std::numeric_limits<double>::infinity(), maxK = -minK;
    for (int c : group)
        if (std::isfinite(cells[c].k))
            minK = std::min(minK, cells[c].k), maxK = std::max(maxK, cells[c].k);
    f.spreadKMvDay = maxK >= minK ? maxK - minK : 0;
    return f;
}

bool keepsRules(const GroupFigures &f, const Rules &rules)
{
    return f.n == rules.parallel && f.spreadRPct <= rules.rSpreadPct + kSlack && f.spreadVMv <= rules.vSpreadMv + kSlack
           && !(f.spreadKMvDay > rules.kSpreadMvDay + kSlack);
}

double spreadOf(const QVector<double> &values)
{
    if (values.isEmpty())
        return NAN;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double mean = std::accumulate(values.begin(), values.end(), 0.0) / values.size();
    return (*hi - *lo) / mean;
}

Plan matchCells(const QVector<Cell> &cells, const Rules &rules, quint32 seed)
{
    Plan plan;
    const int s = rules.series, p = rules.parallel;
    if (s < 1 || p < 1) {
        plan.problem = QCoreApplication::translate("Match", "布局不对：串数和并数都要至少为 1");
        return plan;
    }
    QVector<QVector<int>> formed = formGroups(cells, rules, Sweep::R, true, true);
    plan.groupsPossible = formed.size();
    if (cells.size() < s * p) {
        plan.problem = QCoreApplication::translate("Match", "电芯不够：可用 %1 个，%2 串 × %3 并需要 %4 个").arg(cells.size()).arg(s).arg(p).arg(s * p);
        return plan;
    }
    bool exhausted = false;
    if (formed.size() < s) {
        // The sweep takes each lowest cell's nearest neighbours, which can
        // miss groups that exist (a group's mean may need a higher cell):
        // the complete search decides.
        const QVector<QVector<int>> found = GroupSearch(cells, rules, kSearchSteps).find(s, &exhausted);
        if (!found.isEmpty()) {
            formed = found;
            plan.groupsPossible = s;
        }
    }
    if (formed.size() < s) {
        // Which rule binds: each one alone, swept along its own quantity.
        const bool kRuled = std::isfinite(rules.kSpreadMvDay);
        const int byR = formGroups(cells, rules, Sweep::R, true, false, false).size();
        const int byV = formGroups(cells, rules, Sweep::V, false, true, false).size();
        const int byK = kRuled ? formGroups(cells, rules, Sweep::K, false, false, true).size() : s;
        QStringList alone, bind;
        for (const auto &[rule, groups] : {std::pair<QString, int>(QStringLiteral("ΔR ≤ %1%").arg(pctText(rules.rSpreadPct)), byR),
                                           {QStringLiteral("ΔV ≤ %1 mV").arg(pctText(rules.vSpreadMv)), byV},
                                           {QCoreApplication::translate("Match", "ΔK ≤ %1 mV/天").arg(pctText(rules.kSpreadMvDay)), byK}}) {
            if (rule.startsWith(QStringLiteral("ΔK")) && !kRuled)
                continue;
            alone << QCoreApplication::translate("Match", "只按 %1 可组 %2 组").arg(rule).arg(groups);
            if (groups < s)
                bind << rule;
        }
        const QString binding = bind.isEmpty()
                                    ? QCoreApplication::translate("Match", "各条规则单独都够，同时满足时不够（%1）").arg(punctuation::listed(alone))
                                    : QCoreApplication::translate("Match", "受 %1 限制（%2）").arg(punctuation::listed(bind), punctuation::listed(alone));
        plan.problem = QCoreApplication::translate("Match", "规则无法满足：%1 个可用电芯最多组成 %2 个 %3 并组，需要 %4 组；%5")
                           .arg(cells.size()).arg(formed.size()).arg(p).arg(s).arg(binding);
        if (exhausted)
            plan.problem += QCoreApplication::translate("Match", "（完整搜索在 %1 步后停止，未能证明无解）").arg(kSearchSteps);
        return plan;
    }
    // S neighbouring groups of the sweep whose resistances lie closest
    // together: the search starts from there.
    int first = 0;
    double bestSpread = std::numeric_limits<double>::infinity();
    for (int i = 0; i + s <= formed.size(); ++i) {
        QVector<double> rg;
        for (int g = i; g < i + s; ++g)
            rg.append(figuresOf(cells, formed[g]).rg);
        const double spread = spreadOf(rg);
        if (spread < bestSpread)
            bestSpread = spread, first = i;
    }
    // The search works on a pool: the starting groups and the cells nearest
    // them in R. A fleet's lot holds far more spares than a pack can use,
    // and moves towards cells far off in R are wasted. Effort grows with
    // the pool, within bounds that keep it to seconds; the same effort for
    // the same input.
    const Pool pool = poolAround(cells, formed.mid(first, s), std::max(kPoolPerPackCell * s * p, kPoolLeast));
    Search search(pool.cells, rules, pool.groups, seed);
    const int moves = std::clamp(600 * int(pool.cells.size()), 200000, kMostMoves);
    search.anneal(moves);
    search.annealRange(5 * moves);
    const qint64 perRound = 4LL * p * pool.cells.size();
    search.polish(int(std::clamp<qint64>(300000000LL / std::max<qint64>(perRound, 1), 1, 4LL * s)));
    for (const QVector<int> &group : search.groups()) {
        QVector<int> original;
        for (int c : group)
            original.append(pool.index[c]);
        plan.groups.append(original);
    }
    std::sort(plan.groups.begin(), plan.groups.end(),
              [&](const QVector<int> &a, const QVector<int> &b) { return figuresOf(cells, a).rg < figuresOf(cells, b).rg; });
    finishPlan(plan, cells, rules);
    if (plan.groupsBreakingRules > 0) { // never handed out
        plan.problem = QCoreApplication::translate("Match", "内部错误：%1 组不合规则，不给出方案").arg(plan.groupsBreakingRules);
        plan.groups.clear();
        return plan;
    }
    plan.ok = true;
    return plan;
}

Plan snakePlan(const QVector<Cell> &cells, const Rules &rules)
{
    Plan plan;
    const int s = rules.series, p = rules.parallel;
    if (s < 1 || p < 1 || cells.size() < s * p) {
        plan.problem = QCoreApplication::translate("Match", "电芯不够");
        return plan;
    }
    QVector<int> order(cells.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return cells[a].r < cells[b].r; });
    const double median = cells[order[order.size() / 2]].r;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return std::fabs(cells[a].r - median) < std::fabs(cells[b].r - median); });
    order.resize(s * p);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return cells[a].r < cells[b].r; });
    plan.groups.resize(s);
    for (int k = 0; k < order.size(); ++k) {
        const int round = k / s, at = k % s;
        plan.groups[round % 2 == 0 ? at : s - 1 - at].append(order[k]);
    }
    finishPlan(plan, cells, rules);
    plan.ok = true;
    return plan;
}

} // namespace match
