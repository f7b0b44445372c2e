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
    auto it = m_stations.constFind(station);
    if (it == m_stations.constEnd()) { // a deep copy: the caller's bytes may be borrowed
        it = m_stations.insert(QByteArray(station.constData(), station.size()), m_stations.size());
        m_stationHash.push_back(mix(qHash(it.key(), 0x5a17) + 1));
    }
    Point p {ms, it.value(), m_added++, groupA, groupB, r, v};
    ++sample(groupA).seen;
    if (groupB >= 0)
        ++sample(groupB).seen;
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

struct Walk
{
    std::unique_ptr<stats::NelsonRules> rules;
    qint64 index = 0;
    double last = 0;
    Thinner points, ranges;
    qint64 testEvery = 1;
    QVector<double> tested; // for the normality test

    // all: every reading; kept: those within the trial limits.
    void start(SpcSeries &s, const stats::LimitsBuilder &all, const stats::LimitsBuilder &kept)
    {
        s.limits = kept.limits();
        s.n = all.count();
        s.setAside = all.count() - kept.count();
        s.averageRange = kept.count() > 1 ? kept.averageRange() : NAN;
        if (s.limits.valid)
            rules.reset(new stats::NelsonRules(s.limits));
        points.every = ranges.every = std::max<qint64>(1, (s.n + kSpcShown / 2 - 1) / (kSpcShown / 2));
        testEvery = std::max<qint64>(1, (s.n + kNormalityTested - 1) / kNormalityTested);
    }
    void add(SpcSeries &s, qint64 ms, double x)
    {
        if (std::isnan(x))
            return;
        if (rules) {
            for (int rule : stats::firedRules(rules->add(x))) {
                ++s.perRule[rule - 1];
                if (s.signalled.size() < kSpcListed)
                    s.signalled.append({rule, index, ms, x});
            }
        }
        if (index % testEvery == 0)
            tested.append(x);
        points.add(s.points, double(index), x);
        if (index > 0)
            ranges.add(s.ranges, double(index), std::fabs(x - last));
        last = x;
        ++index;
    }
    void finish(SpcSeries &s)
    {
        points.flush(s.points);
        ranges.flush(s.ranges);
        s.normality = stats::andersonDarling(std::move(tested));
    }
};

} // namespace

QVector<Spc> SpcData::compute(int groups)
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
    // In place (a stable sort would want a copy's worth more memory).
    std::sort(m_points.begin(), m_points.end(), [](const Point &a, const Point &b) {
        return a.ms != b.ms ? a.ms < b.ms : a.station != b.station ? a.station < b.station : a.order < b.order;
    });

    auto each = [this](const auto &f) {
        for (const Point &p : qAsConst(m_points)) {
            if (p.a >= 0)
                f(p.a, p);
            if (p.b >= 0)
                f(p.b, p);
        }
    };
    // Phase I: the limits of each group from all its readings, then the
    // rules along the same readings.
    QVector<stats::LimitsBuilder> rLimits(groups), vLimits(groups);
    each([&](int g, const Point &p) {
        if (!std::isnan(p.r))
            rLimits[g].add(p.r);
        if (!std::isnan(p.v))
            vLimits[g].add(p.v);
    });
    // The trial limits revised once: readings beyond them set aside.
    QVector<stats::ControlLimits> rTrial(groups), vTrial(groups);
    for (int g = 0; g < groups; ++g)
        rTrial[g] = rLimits[g].limits(), vTrial[g] = vLimits[g].limits();
    auto within = [](const stats::ControlLimits &l, double x) { return !l.valid || (x <= l.ucl() && x >= l.lcl()); };
    QVector<stats::LimitsBuilder> rKept(groups), vKept(groups);
    each([&](int g, const Point &p) {
        if (!std::isnan(p.r) && within(rTrial[g], p.r))
            rKept[g].add(p.r);
        if (!std::isnan(p.v) && within(vTrial[g], p.v))
            vKept[g].add(p.v);
    });
    QVector<Spc> out(groups);
    Spc *const spc = out.data(); // detached once, not at every reading
    std::vector<Walk> rWalks(static_cast<size_t>(groups)), vWalks(static_cast<size_t>(groups));
    for (int g = 0; g < groups; ++g) {
        rWalks[size_t(g)].start(spc[g].r, rLimits[g], rKept[g]);
        vWalks[size_t(g)].start(spc[g].v, vLimits[g], vKept[g]);
    }
    each([&](int g, const Point &p) {
        rWalks[size_t(g)].add(spc[g].r, p.ms, p.r);
        vWalks[size_t(g)].add(spc[g].v, p.ms, p.v);
    });
    for (int g = 0; g < groups; ++g) {
        rWalks[size_t(g)].finish(spc[g].r);
        vWalks[size_t(g)].finish(spc[g].v);
        const GroupSample none;
        const GroupSample &taken = size_t(g) < m_samples.size() ? m_samples[size_t(g)] : none;
        for (SpcSeries *s : {&spc[g].r, &spc[g].v}) {
            s->sampleEvery = qint64(1) << taken.level;
            s->readings = taken.seen;
        }
    }
    m_points = QVector<Point>();
    m_stations.clear();
    m_stationHash.clear();
    m_samples.clear();
    return out;
}

} // namespace report
