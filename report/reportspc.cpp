#include "reportspc.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <numeric>
#include <thread>

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

int SpcData::stationOf(const QByteArray &station)
{
    auto it = m_stations.constFind(station);
    if (it == m_stations.constEnd()) { // a deep copy: the caller's bytes may be borrowed
        it = m_stations.insert(QByteArray(station.constData(), station.size()), m_stations.size());
        m_stationHash.push_back(mix(qHash(it.key(), 0x5a17) + 1));
    }
    return it.value();
}

void SpcData::add(int groupA, int groupB, qint64 ms, const QByteArray &station, double r, double v)
{
    // Most readings are of the station before (files are a station's).
    if (m_lastStation < 0 || station != m_lastName) {
        m_lastStation = stationOf(station);
        m_lastName = m_stations.key(m_lastStation); // shares the key's bytes
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

void SpcData::thinTo(int group, int level)
{
    GroupSample &s = sample(group);
    if (level <= s.level)
        return;
    s.level = level;
    s.held = 0;
    int out = 0;
    for (int i = 0; i < m_points.size(); ++i) {
        Point p = m_points[i];
        if ((p.a == group || p.b == group) && !kept(hashOf(p), group)) {
            if (p.a == group)
                p.a = -1;
            if (p.b == group)
                p.b = -1;
        }
        if (p.a == group || p.b == group)
            ++s.held;
        if (p.a >= 0 || p.b >= 0)
            m_points[out++] = p;
    }
    m_points.resize(out);
}

void SpcData::absorb(SpcData &&other, const QVector<int> &ids)
{
    QVector<int> stations(other.m_stations.size());
    for (auto it = other.m_stations.cbegin(); it != other.m_stations.cend(); ++it)
        stations[it.value()] = stationOf(it.key());
    for (int g = 0; g < int(other.m_samples.size()); ++g) {
        const GroupSample &theirs = other.m_samples[size_t(g)];
        const int id = ids[g];
        thinTo(id, theirs.level);
        GroupSample &mine = sample(id);
        const bool mineSeen = mine.seen > 0, theirsSeen = theirs.seen > 0;
        mine.seen += theirs.seen;
        mine.mixed = mine.mixed || theirs.mixed
                     || (mineSeen && theirsSeen && mine.station != stations[std::max(0, theirs.station)]);
        if (!mineSeen && theirsSeen)
            mine.station = stations[theirs.station];
    }
    m_points.reserve(int(std::min<qint64>(m_held, qint64(m_points.size()) + other.m_points.size())));
    for (Point p : qAsConst(other.m_points)) {
        p.station = stations[p.station];
        p.order += m_added;
        p.a = p.a >= 0 ? ids[p.a] : -1;
        p.b = p.b >= 0 ? ids[p.b] : -1;
        const quint64 h = hashOf(p);
        if (p.a >= 0 && !kept(h, p.a))
            p.a = -1;
        if (p.b >= 0 && !kept(h, p.b))
            p.b = -1;
        if (p.a < 0 && p.b < 0)
            continue;
        for (int g : {p.a, p.b})
            if (g >= 0)
                ++sample(g).held;
        m_points.append(p);
        if (m_points.size() >= m_held)
            thin();
    }
    m_added += other.m_added;
    other.m_points = QVector<Point>();
    m_lastStation = -1;
}

void SpcData::thin()
{
    // Down to three quarters of the bound, the fullest group first.
    while (m_points.size() > m_held * 3 / 4) {
        const auto fullest = std::max_element(m_samples.begin(), m_samples.end(),
                                               [](const GroupSample &x, const GroupSample &y) { return x.held < y.held; });
        thinTo(int(fullest - m_samples.begin()), fullest->level + 1);
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

} // namespace

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
    // Replaying: the first pass keeps what the later ones walk, the
    // subgroups (and the first readings, should the group stay small), and
    // takes the tested readings, one in testEvery of those expected.
    bool replay = false;
    // A group known to go unjudged before the walk (its stations mixed) and
    // too large for individuals is charted in that one pass, nothing kept:
    // its limits are the trial ones, and its points need no limits.
    bool direct = false;
    SpcSeries early; // its points until start()
    struct Point
    {
        double x, range;
        qint64 ms;
    };
    std::vector<Point> subgroups, single;

    void beginDirect(qint64 n)
    {
        direct = true;
        subgroup = kSubgroup;
        ruled = false;
        points.every = ranges.every = thinning(n / kSubgroup);
    }
    static qint64 thinning(qint64 charted) { return std::max<qint64>(1, (charted + kSpcShown / 2 - 1) / (kSpcShown / 2)); }
    void first(qint64 ms, double x)
    {
        all.add(x);
        if (allGroups.add(x)) {
            allGroups.count();
            if (direct) {
                out = &early; // here: the walks may have moved since
                point(ms, allGroups.mean(), allGroups.range());
            }
            else if (replay)
                subgroups.push_back({allGroups.mean(), allGroups.range(), ms});
        }
        if (!replay)
            return;
        if (!direct && single.size() <= size_t(kIndividualsMost))
            single.push_back({x, NAN, ms});
        if (seen++ % testEvery == 0)
            tested.append(x);
    }
    // After the first pass: individuals or subgroups, and the trial limits.
    void decide()
    {
        subgroup = direct || all.count() > kIndividualsMost ? kSubgroup : 1;
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
        } else if (keptGroups.add(x)) {
            keepSubgroup();
        }
    }
    void keepSubgroup()
    {
        if (within(keptGroups.mean()) && (!ruled || keptGroups.range() <= trialRangeHigh))
            keptGroups.count();
    }
    // The second and third passes over what the first kept.
    void replaySecond()
    {
        if (subgroup == 1) {
            for (const Point &p : single)
                second(p.x);
            return;
        }
        std::vector<Point>().swap(single);
        for (const Point &p : subgroups)
            if (keptGroups.take(p.x, p.range))
                keepSubgroup();
    }
    void replayPoints()
    {
        if (subgroup == 1) {
            for (const Point &p : single) {
                point(p.ms, p.x, index > 0 ? std::fabs(p.x - last) : NAN);
                last = p.x;
            }
        } else {
            for (const Point &p : subgroups)
                point(p.ms, p.x, p.range);
        }
        std::vector<Point>().swap(single);
        std::vector<Point>().swap(subgroups);
    }
    void start(SpcSeries &series)
    {
        if (direct) { // every subgroup counts: its limits are the trial ones
            series = std::move(early);
            keptGroups = allGroups;
        }
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
        if (!(trial.valid && trial.sigma > 0)) {
            // Values all alike: nothing to chart (rounding of their mean
            // would set every one aside, or beyond limits of no width).
            s.limits = stats::ControlLimits();
            s.setAside = 0;
        } else if (s.setAside > kMostSetAside * double(s.charted * subgroup)) {
            // Not one process beyond its outliers: the trial limits stand.
            s.unrevised = s.setAside;
            s.setAside = 0;
            s.limits = trial;
            s.averageRange = subgroup == 1 ? all.averageRange() : allGroups.averageRange();
        }
        s.ruled = ruled;
        if (s.limits.valid && ruled)
            rules.reset(new stats::NelsonRules(s.limits));
        points.every = ranges.every = thinning(s.charted);
        if (!replay)
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

SpcPasses::SpcPasses(QVector<bool> overall, bool replay) : m_overall(std::move(overall)), m_replay(replay) {}

SpcPasses::~SpcPasses() = default;

void SpcPasses::grow(int group)
{
    if (size_t(group) < m_r.size())
        return;
    m_r.resize(size_t(group) + 1);
    m_v.resize(size_t(group) + 1);
    for (size_t g = 0; g < m_r.size(); ++g)
        m_r[g].replay = m_v[g].replay = m_replay;
    m_station.resize(size_t(group) + 1, -1);
    m_mixed.resize(size_t(group) + 1, false);
    m_added.resize(size_t(group) + 1, 0);
}

void SpcPasses::expect(int group, qint64 r, qint64 v, bool unruled)
{
    grow(group);
    for (auto [w, n] : {std::pair<Walk *, qint64>(&m_r[size_t(group)], r), std::pair<Walk *, qint64>(&m_v[size_t(group)], v)}) {
        w->testEvery = std::max<qint64>(1, (n + kNormalityTested - 1) / kNormalityTested);
        if (m_replay && unruled && n > kIndividualsMost)
            w->beginDirect(n);
        else if (m_replay && n > kIndividualsMost)
            w->subgroups.reserve(size_t(n / kSubgroup));
    }
}

void SpcPasses::markMixed(int group)
{
    grow(group);
    m_mixed[size_t(group)] = true;
}

inline void SpcPasses::step(Walk &w, qint64 ms, double x)
{
    if (m_pass == 0)
        w.first(ms, x);
    else if (m_pass == 1)
        w.second(x);
    else
        w.add(ms, x);
}

void SpcPasses::add(int groupA, int groupB, int station, qint64 ms, double r, double v)
{
    for (int g : {groupA, groupB}) {
        if (g < 0)
            continue;
        if (m_pass == 0) {
            grow(g);
            ++m_added[size_t(g)];
            int &first = m_station[size_t(g)];
            if (first < 0)
                first = station;
            else if (first != station)
                m_mixed[size_t(g)] = true;
        }
        if (!std::isnan(r))
            step(m_r[size_t(g)], ms, r);
        if (!std::isnan(v))
            step(m_v[size_t(g)], ms, v);
    }
}

namespace {

// f(0) … f(n - 1) on this thread and as many more as there are cores: each
// group's walk is its own, and the normality tests of a hundred groups of
// 50,000 readings take longer than the walk itself.
template<typename F>
void inParallel(int n, const F &f)
{
    std::atomic<int> next {0};
    const auto work = [&] {
        for (int i; (i = next.fetch_add(1)) < n;)
            f(i);
    };
    std::vector<std::thread> helpers;
    const int more = std::min(n, int(std::thread::hardware_concurrency())) - 1;
    for (int k = 0; k < more; ++k)
        helpers.emplace_back(work);
    work();
    for (std::thread &h : helpers)
        h.join();
}

} // namespace

void SpcPasses::next()
{
    const int groups = int(m_r.size());
    if (m_pass == 0) {
        // Phase I: individuals or subgroups and the trial limits; a mixture
        // of stations goes unjudged.
        for (int g = 0; g < groups; ++g) {
            const bool unruled = m_overall.value(g) && m_mixed[size_t(g)];
            for (Walk *w : {&m_r[size_t(g)], &m_v[size_t(g)]})
                w->decide(), w->ruled = !unruled && !w->direct;
        }
        if (m_replay) { // the later passes over what each walk kept
            m_out = QVector<Spc>(groups);
            Spc *const spc = m_out.data();
            inParallel(2 * groups, [this, spc](int i) {
                const int g = i / 2;
                Walk &w = i % 2 ? m_v[size_t(g)] : m_r[size_t(g)];
                w.replaySecond();
                w.start(i % 2 ? spc[g].v : spc[g].r);
                w.replayPoints();
                w.finish();
            });
            finish();
            m_pass = kPasses;
            return;
        }
    } else if (m_pass == 1) {
        m_out = QVector<Spc>(groups);
        Spc *const spc = m_out.data(); // detached once, not at every reading
        for (int g = 0; g < groups; ++g)
            m_r[size_t(g)].start(spc[g].r), m_v[size_t(g)].start(spc[g].v);
    } else if (m_pass == 2) {
        inParallel(2 * groups, [this](int i) { (i % 2 ? m_v : m_r)[size_t(i / 2)].finish(); });
        finish();
    }
    ++m_pass;
}

void SpcPasses::finish()
{
    for (int g = 0; g < m_out.size(); ++g) {
        for (SpcSeries *s : {&m_out[g].r, &m_out[g].v}) {
            s->readings = m_added[size_t(g)];
            s->mixed = m_mixed[size_t(g)];
        }
    }
}

QVector<Spc> SpcPasses::result(int groups)
{
    QVector<Spc> out = std::move(m_out);
    out.resize(std::max(groups, int(out.size())));
    return out;
}

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

    SpcPasses passes(overall);
    // A thinned group may have lost its other stations' readings.
    for (int g = 0; g < int(m_samples.size()); ++g)
        if (m_samples[size_t(g)].mixed)
            passes.markMixed(g);
    for (int pass = 0; pass < SpcPasses::kPasses; ++pass) {
        for (const Point &p : qAsConst(m_points))
            passes.add(p.a, p.b, p.station, p.ms, p.r, p.v);
        passes.next();
    }
    QVector<Spc> out = passes.result(groups);
    for (int g = 0; g < int(m_samples.size()) && g < groups; ++g) {
        for (SpcSeries *s : {&out[g].r, &out[g].v}) {
            s->sampleEvery = qint64(1) << m_samples[size_t(g)].level;
            s->readings = m_samples[size_t(g)].seen;
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
