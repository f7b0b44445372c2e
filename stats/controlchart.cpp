#include "controlchart.h"

#include <QCoreApplication>

#include <cmath>

namespace stats {

ControlLimits individualsLimits(const QVector<double> &values)
{
    LimitsBuilder b;
    for (double x : values)
        b.add(x);
    return b.limits();
}

void LimitsBuilder::add(double x)
{
    if (m_n == 0)
        m_first = x;
    else
        m_ranges += std::fabs(x - m_last), m_alike = m_alike && x == m_first;
    m_sum += x;
    m_last = x;
    ++m_n;
}

ControlLimits LimitsBuilder::limits() const
{
    ControlLimits limits;
    if (m_n < 2)
        return limits;
    constexpr double d2 = 1.128;
    // All alike: the centre is that value itself, not a sum's rounding of it
    // that would put every reading on one side and beyond a σ̂ of 0.
    limits.centre = m_alike ? m_first : m_sum / double(m_n);
    limits.sigma = averageRange() / d2;
    limits.valid = true;
    return limits;
}

SubgroupConstants subgroupConstants(int n)
{
    static const SubgroupConstants table[] = {
        {2.660, 0, 3.267, 1.128}, {1.023, 0, 2.574, 1.693}, {0.729, 0, 2.282, 2.059},
        {0.577, 0, 2.114, 2.326}, {0.483, 0, 2.004, 2.534}, {0.419, 0.076, 1.924, 2.704},
        {0.373, 0.136, 1.864, 2.847}, {0.337, 0.184, 1.816, 2.970}, {0.308, 0.223, 1.777, 3.078},
    };
    return n >= 2 && n <= 10 ? table[n - 2] : SubgroupConstants();
}

bool SubgroupBuilder::add(double x)
{
    if (m_filled == 0)
        m_sum = 0, m_lo = m_hi = x;
    m_sum += x;
    m_lo = std::min(m_lo, x);
    m_hi = std::max(m_hi, x);
    if (++m_filled < m_size)
        return false;
    m_filled = 0;
    m_mean = m_sum / m_size;
    m_range = m_hi - m_lo;
    return true;
}

ControlLimits SubgroupBuilder::meanLimits() const
{
    ControlLimits limits;
    const SubgroupConstants k = subgroupConstants(m_size);
    if (m_counted < 2 || k.d2 <= 0)
        return limits;
    limits.centre = m_means / double(m_counted);
    limits.sigma = averageRange() / (k.d2 * std::sqrt(double(m_size)));
    limits.valid = true;
    return limits;
}

unsigned NelsonRules::add(double x)
{
    const double c = m_limits.centre, s = m_limits.sigma;
    unsigned fired = 0;
    auto fire = [&](int rule) { fired |= 1u << (rule - 1); };

    // Runs that need only the last step.
    const int side = x > c ? 1 : x < c ? -1 : 0;
    m_sideRun = side != 0 && side == m_side ? m_sideRun + 1 : (side != 0 ? 1 : 0);
    m_side = side;
    if (!m_last.empty()) {
        const double step = x - m_last.back();
        const int trend = step > 0 ? 1 : step < 0 ? -1 : 0;
        const int before = m_trend;
        m_trendRun = trend != 0 && trend == before ? m_trendRun + 1 : (trend != 0 ? 2 : 1);
        m_alternating = trend != 0 && before != 0 && trend == -before ? m_alternating + 1 : (trend != 0 ? 2 : 1);
        m_trend = trend;
    }
    const double distance = std::fabs(x - c);
    const bool within = distance < s, outside = distance > s;
    m_within = within ? m_within + 1 : 0;
    // Rule 8 looks at the last eight alone: a run that once crossed and then
    // stayed on one side is a shift (rule 2's), not a mixture.
    if (outside) {
        ++m_outside;
        m_sinceAbove = x > c ? 0 : std::min(m_sinceAbove + 1, kFar);
        m_sinceBelow = x < c ? 0 : std::min(m_sinceBelow + 1, kFar);
    } else {
        m_outside = 0;
        m_sinceAbove = m_sinceBelow = kFar;
    }

    m_last.push_back(x);
    if (m_last.size() > 15)
        m_last.pop_front();
    // How many of the last n are beyond k·σ̂ on this reading's side.
    auto beyond = [&](size_t n, double k) {
        int count = 0;
        for (size_t i = m_last.size() > n ? m_last.size() - n : 0; i < m_last.size(); ++i)
            count += side > 0 ? m_last[i] > c + k * s : m_last[i] < c - k * s;
        return count;
    };

    if (distance > 3 * s)
        fire(1);
    if (m_sideRun >= 9)
        fire(2);
    if (m_trendRun >= 6)
        fire(3);
    if (m_alternating >= 14)
        fire(4);
    if (side != 0 && distance > 2 * s && beyond(3, 2) >= 2)
        fire(5);
    if (side != 0 && distance > s && beyond(5, 1) >= 4)
        fire(6);
    if (m_within >= 15)
        fire(7);
    if (m_outside >= 8 && m_sinceAbove < 8 && m_sinceBelow < 8)
        fire(8);
    return fired;
}

QVector<Signal> nelsonSignals(const QVector<double> &values, const ControlLimits &limits)
{
    QVector<Signal> signals_;
    if (!limits.valid)
        return signals_;
    NelsonRules rules(limits);
    for (int i = 0; i < values.size(); ++i) {
        for (int rule : firedRules(rules.add(values[i])))
            signals_.append({rule, i});
    }
    return signals_;
}

QVector<int> firedRules(unsigned fired)
{
    QVector<int> rules;
    for (int rule = 1; fired && rule <= 8; ++rule)
        if (fired & (1u << (rule - 1)))
            rules.append(rule);
    return rules;
}

QString ruleText(int rule)
{
    switch (rule) {
    case 1: return QCoreApplication::translate("ControlChart", "一个点超出 3σ 控制限");
    case 2: return QCoreApplication::translate("ControlChart", "连续 9 个点在中心线同一侧");
    case 3: return QCoreApplication::translate("ControlChart", "连续 6 个点持续上升或下降");
    case 4: return QCoreApplication::translate("ControlChart", "连续 14 个点上下交替");
    case 5: return QCoreApplication::translate("ControlChart", "连续 3 个点中有 2 个在同侧 2σ 以外");
    case 6: return QCoreApplication::translate("ControlChart", "连续 5 个点中有 4 个在同侧 1σ 以外");
    case 7: return QCoreApplication::translate("ControlChart", "连续 15 个点都在 1σ 以内");
    case 8: return QCoreApplication::translate("ControlChart", "连续 8 个点都在 1σ 以外（两侧都有）");
    }
    return QString();
}

LotControl::Fired LotControl::add(double r, double v, bool pass, const QString &tag)
{
    Fired fired;
    if (stillNeeded() > 0) {
        if (!pass)
            return fired;
        m_r.append(r);
        m_v.append(v);
        m_tags.append(tag);
        if (stillNeeded() == 0)
            fixLimits();
        return fired;
    }
    if (m_rRules && !std::isnan(r))
        fired.r = m_rRules->add(r);
    if (m_vRules && !std::isnan(v))
        fired.v = m_vRules->add(v);
    return fired;
}

void LotControl::fixLimits()
{
    auto present = [](const QVector<double> &xs, const QVector<bool> &keep) {
        QVector<double> out;
        for (int i = 0; i < xs.size(); ++i)
            if (keep[i] && !std::isnan(xs[i]))
                out.append(xs[i]);
        return out;
    };
    QVector<bool> keep(m_r.size(), true);
    const ControlLimits rTrial = individualsLimits(present(m_r, keep)), vTrial = individualsLimits(present(m_v, keep));
    auto beyond = [](const ControlLimits &l, double x) { return l.valid && !std::isnan(x) && (x > l.ucl() || x < l.lcl()); };
    for (int i = 0; i < m_r.size(); ++i) {
        if (beyond(rTrial, m_r[i]) || beyond(vTrial, m_v[i])) {
            keep[i] = false;
            m_setAside << m_tags[i];
        }
    }
    // Fixed now; the records kept prime the windows, their own patterns unsaid.
    const QVector<double> r = present(m_r, keep), v = present(m_v, keep);
    m_rLimits = individualsLimits(r);
    m_vLimits = individualsLimits(v);
    m_rRules.reset(m_rLimits.valid ? new NelsonRules(m_rLimits) : nullptr);
    m_vRules.reset(m_vLimits.valid ? new NelsonRules(m_vLimits) : nullptr);
    for (double x : r)
        if (m_rRules)
            m_rRules->add(x);
    for (double x : v)
        if (m_vRules)
            m_vRules->add(x);
}

void LotControl::restart()
{
    *this = LotControl();
}

} // namespace stats
