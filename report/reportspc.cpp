#include "reportspc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

namespace report {

qint64 SpcSeries::total() const
{
    return std::accumulate(std::begin(perRule), std::end(perRule), qint64(0));
}

bool SpcSeries::truncated() const
{
    return total() > signalled.size();
}

namespace {

quint64 mix(quint64 x)
{
    // splitmix64's finaliser: every input bit moves every output bit.
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

quint64 bitsOf(double d)
{
    quint64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

} // namespace

quint64 SpcData::hashOf(const Point &p) const
{
    return mix(mix(mix(quint64(p.ms) ^ m_stationHash[size_t(p.station)]) ^ bitsOf(p.r)) ^ bitsOf(p.v));
}

bool SpcData::kept(quint64 hash, int group) const
{
    const int level = m_samples[size_t(group)].level;
    return level == 0 || (hash & ((quint64(1) << level) - 1)) == 0;
}

SpcData::GroupSample &SpcData::sample(int group)
{
    if (size_t(group) >= m_samples.size())
        m_samples.resize(size_t(group) + 1);
    return m_samples[size_t(group)];
}

void SpcData::add(int groupA, int groupB, qint64 ms, const QByteArray &station, double r, double v)
{
    // Most readings are of the station before (files are a station's).
    if (m_lastStation < 0 || station != m_lastName) {
        auto it = m_stations.constFind(station);
        if (it == m_stations.constEnd()) { // a deep copy: the caller's bytes may be borrowed
            it = m_stations.insert(QByteArray(station.constData(), station.size()), m_stations.size());
            m_stationHash.push_back(mix(qHash(it.key(), 0x5a17) + 1));
        }
        m_lastStation = it.value();
        m_lastName = it.key();
    }
    Point p {ms, m_lastStation, m_added++, groupA, groupB, r, v};
    auto seen = [this](int group, int station) {
        GroupSample &s = sample(group);
        ++s.seen;
        if (s.station < 0)
            s.station = station;
        s.mixed = s.mixed || s.station != station;
    };
    seen(groupA, p.station);
    if (groupB >= 0)
        seen(groupB, p.station);
    if (m_samples[size_t(groupA)].level > 0 || (groupB >= 0 && m_samples[size_t(groupB)].level > 0)) {
        const quint64 h = hashOf(p);
        if (!kept(h, groupA))
            p.a = -1;
        if (groupB >= 0 && !kept(h, groupB))
            p.b = -1;
        if (p.a < 0 && p.b < 0)
            return;
    }
    if (p.a >= 0)
        ++m_samples[size_t(p.a)].held;
    if (p.b >= 0)
        ++m_samples[size_t(p.b)].held;
    // Grown in steps, never past the bound.
    if (m_points.size() == m_points.capacity())
        m_points.reserve(int(std::min<qint64>(m_held, std::max<qint64>(1024, 2LL * m_points.capacity()))));
    m_points.append(p);
    if (m_points.size() >= m_held)
        thin();
}

void SpcData::thin()
{
    // Down to three quarters of the bound, the fullest group first.
    while (m_points.size() > m_held * 3 / 4) {
        const auto fullest = std::max_element(m_samples.begin(), m_samples.end(),
                                               [](const GroupSample &x, const GroupSample &y) { return x.held < y.held; });
        const int g = int(fullest - m_samples.begin());
        ++fullest->level;
        fullest->held = 0;
        int out = 0;
        for (int i = 0; i < m_points.size(); ++i) {
            Point p = m_points[i];
            if ((p.a == g || p.b == g) && !kept(hashOf(p), g)) {
                if (p.a == g)
                    p.a = -1;
                if (p.b == g)
                    p.b = -1;
            }
            if (p.a == g || p.b == g)
                ++fullest->held;
            if (p.a >= 0 || p.b >= 0)
                m_points[out++] = p;
        }
        m_points.resize(out);
    }
}

namespace {

// A bucket's lowest and highest point, in the order they came: a chart of
// thousands of points still shows every excursion.
struct Thinner
{
    qint64 every = 1, seen = 0;
    QPointF lo, hi;
    bool open = false;
    void add(QVector<QPointF> &out, double x, double y)
    {
        if (!open)
            lo = hi = QPointF(x, y), open = true;
        else if (y < lo.y())
            lo = QPointF(x, y);
        else if (y > hi.y())
            hi = QPointF(x, y);
        if (++seen % every == 0)
            flush(out);
    }
    void flush(QVector<QPointF> &out)
    {
        if (!open)
            return;
        if (lo.x() == hi.x())
            out << lo;
        else
            out << (lo.x() < hi.x() ? lo : hi) << (lo.x() < hi.x() ? hi : lo);
        open = false;
    }
};

// One quantity of one group through the three passes over its readings:
// the trial limits from all, the revised ones from those within the trial
// limits, then the rules and the drawn points along all of them.
struct Walk
{
    stats::LimitsBuilder all, kept;
    stats::SubgroupBuilder allGroups {kSubgroup}, keptGroups {kSubgroup}, walkGroups {kSubgroup};
    int subgroup = 1;
    bool ruled = true;
    stats::ControlLimits trial;
    double trialRangeHigh = INFINITY;
    std::unique_ptr<stats::NelsonRules> rules;
    SpcSeries *out = nullptr; // from start() on
    qint64 index = 0; // the next point's position on the chart
    double last = 0;
    Thinner points, ranges;
    qint64 testEvery = 1, seen = 0;
    QVector<double> tested; // for the normality test

    void first(double x)
    {
        all.add(x);
        if (allGroups.add(x))
            allGroups.count();
    }
    // After the first pass: individuals or subgroups, and the trial limits.
    void decide()
    {
        subgroup = all.count() > kIndividualsMost ? kSubgroup : 1;
        if (subgroup == 1) {
            trial = all.limits();
        } else {
            trial = allGroups.meanLimits();
            trialRangeHigh = stats::subgroupConstants(subgroup).d4 * allGroups.averageRange();
        }
    }
    // An unruled group (stations mixed) keeps its trial limits: beside a
    // mixture's levels, nearly every reading would be set aside.
    bool within(double x) const { return !trial.valid || !ruled || (x <= trial.ucl() && x >= trial.lcl()); }
    void second(double x)
    {
        if (subgroup == 1) {
            if (within(x))
                kept.add(x);
        } else if (keptGroups.add(x) && within(keptGroups.mean()) && (!ruled || keptGroups.range() <= trialRangeHigh)) {
            keptGroups.count();
        }
    }
    void start(SpcSeries &series)
    {
        out = &series;
        SpcSeries &s = series;
        s.subgroup = subgroup;
        s.n = all.count();
        if (subgroup == 1) {
            s.limits = kept.limits();
            s.setAside = all.count() - kept.count();
            s.averageRange = kept.count() > 1 ? kept.averageRange() : NAN;
            s.charted = s.n;
        } else {
            s.limits = keptGroups.meanLimits();
            s.setAside = (allGroups.counted() - keptGroups.counted()) * subgroup;
            s.averageRange = keptGroups.counted() > 0 ? keptGroups.averageRange() : NAN;
            s.charted = allGroups.counted();
        }
        s.ruled = ruled;
        if (s.limits.valid && ruled)
            rules.reset(new stats::NelsonRules(s.limits));
        points.every = ranges.every = std::max<qint64>(1, (s.charted + kSpcShown / 2 - 1) / (kSpcShown / 2));
        testEvery = std::max<qint64>(1, (s.n + kNormalityTested - 1) / kNormalityTested);
    }
    void point(qint64 ms, double x, double range)
    {
        SpcSeries &s = *out;
        if (rules) {
            for (int rule : stats::firedRules(rules->add(x))) {
                ++s.perRule[rule - 1];
                if (s.signalled.size() < kSpcListed)
                    s.signalled.append({rule, index, ms, x});
            }
        }
        points.add(s.points, double(index), x);
        if (!std::isnan(range))
            ranges.add(s.ranges, double(index), range);
        ++index;
    }
    void add(qint64 ms, double x)
    {
        if (std::isnan(x))
            return;
        if (seen++ % testEvery == 0)
            tested.append(x);
        if (subgroup == 1)
            point(ms, x, index > 0 ? std::fabs(x - last) : NAN);
        else if (walkGroups.add(x))
            point(ms, walkGroups.mean(), walkGroups.range());
        last = x;
    }
    void finish()
    {
        SpcSeries &s = *out;
        points.flush(s.points);
        ranges.flush(s.ranges);
        std::sort(tested.begin(), tested.end());
        const qint64 n = tested.size();
        const qint64 shown = std::min<qint64>(n, kOrderShown);
        for (qint64 k = 0; k < shown; ++k) {
            const qint64 i = shown > 1 ? k * (n - 1) / (shown - 1) : 0; // the least and the greatest among them
            s.order.append(tested[int(i)]);
            s.ranks.append(double(i + 1));
        }
        s.tested = n;
        s.normality = stats::andersonDarling(std::move(tested));
    }
};

} // namespace

QVector<Spc> SpcData::compute(int groups, const QVector<bool> &overall)
{
    if (groups <= 0)
        return {};
    // Stations ranked by their names' bytes: the order of readings of one moment.
    QVector<QByteArray> names(m_stations.size());
    for (auto it = m_stations.cbegin(); it != m_stations.cend(); ++it)
        names[it.value()] = it.key();
    QVector<int> order(names.size()), rank(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return names[a] < names[b]; });
    for (int i = 0; i < order.size(); ++i)
        rank[order[i]] = i;
    for (Point &p : m_points)
        p.station = rank[p.station];
    // In place (a stable sort would want a copy's worth more memory); one
    // station's files in day order come in order already.
    const auto before = [](const Point &a, const Point &b) {
        return a.ms != b.ms ? a.ms < b.ms : a.station != b.station ? a.station < b.station : a.order < b.order;
    };
    if (!std::is_sorted(m_points.begin(), m_points.end(), before))
        std::sort(m_points.begin(), m_points.end(), before);

    std::vector<Walk> r(static_cast<size_t>(groups)), v(static_cast<size_t>(groups));
    auto each = [this, &r, &v](const auto &f) {
        for (const Point &p : qAsConst(m_points)) {
            for (int g : {p.a, p.b}) {
                if (g < 0)
                    continue;
                if (!std::isnan(p.r))
                    f(r[size_t(g)], p.ms, p.r);
                if (!std::isnan(p.v))
                    f(v[size_t(g)], p.ms, p.v);
            }
        }
    };
    // Phase I: the trial limits of each group from all its readings, revised
    // once without those beyond them; then the rules along every reading.
    each([](Walk &w, qint64, double x) { w.first(x); });
    const GroupSample none;
    auto taken = [&](int g) -> const GroupSample & { return size_t(g) < m_samples.size() ? m_samples[size_t(g)] : none; };
    for (int g = 0; g < groups; ++g) {
        const bool unruled = overall.value(g) && taken(g).mixed;
        for (Walk *w : {&r[size_t(g)], &v[size_t(g)]})
            w->decide(), w->ruled = !unruled;
    }
    each([](Walk &w, qint64, double x) { w.second(x); });
    QVector<Spc> out(groups);
    Spc *const spc = out.data(); // detached once, not at every reading
    for (int g = 0; g < groups; ++g)
        r[size_t(g)].start(spc[g].r), v[size_t(g)].start(spc[g].v);
    each([](Walk &w, qint64 ms, double x) { w.add(ms, x); });
    for (int g = 0; g < groups; ++g) {
        r[size_t(g)].finish();
        v[size_t(g)].finish();
        for (SpcSeries *s : {&spc[g].r, &spc[g].v}) {
            s->sampleEvery = qint64(1) << taken(g).level;
            s->readings = taken(g).seen;
            s->mixed = taken(g).mixed;
        }
    }
    m_points = QVector<Point>();
    m_stations.clear();
    m_stationHash.clear();
    m_lastStation = -1;
    m_lastName.clear();
    m_samples.clear();
    return out;
}

} // namespace report
