#include "lotstats.h"

namespace stats {

void RunningStats::add(double x)
{
    if (!std::isfinite(x))
        return;
    ++m_n;
    const double delta = x - m_mean;
    m_mean += delta / double(m_n);
    m_m2 += delta * (x - m_mean);
    m_min = std::fmin(m_min, x);
    m_max = std::fmax(m_max, x);
}

RunningStats RunningStats::fromMoments(long long n, double mean, double sd, double min, double max)
{
    return fromM2(n, mean, n >= 2 && std::isfinite(sd) ? sd * sd * double(n - 1) : 0.0, min, max);
}

RunningStats RunningStats::fromM2(long long n, double mean, double m2, double min, double max)
{
    RunningStats s;
    if (n <= 0)
        return s;
    s.m_n = n;
    s.m_mean = min < max ? mean : min;
    // All values alike: no spread, whatever rounding the sums left behind
    // (a σ of 1e-16 would give a Cp of 1e13).
    s.m_m2 = n >= 2 && std::isfinite(m2) && min < max ? m2 : 0.0;
    s.m_min = min;
    s.m_max = max;
    return s;
}

void RunningStats::merge(const RunningStats &other)
{
    if (other.m_n == 0)
        return;
    if (m_n == 0) {
        *this = other;
        return;
    }
    const double n = double(m_n + other.m_n);
    const double delta = other.m_mean - m_mean;
    m_mean += delta * double(other.m_n) / n;
    m_m2 += other.m_m2 + delta * delta * double(m_n) * double(other.m_n) / n;
    m_n += other.m_n;
    m_min = std::fmin(m_min, other.m_min);
    m_max = std::fmax(m_max, other.m_max);
    if (m_min == m_max) // all alike, as one-by-one adding would have kept it
        m_mean = m_min, m_m2 = 0;
}

double RunningStats::stddev() const
{
    return m_n >= 2 ? std::sqrt(m_m2 / double(m_n - 1)) : std::nan("");
}

double pp(const RunningStats &s, double low, double high)
{
    const double sigma = s.stddev();
    // Bounds the wrong way round describe no tolerance: no index.
    if (!std::isfinite(low) || !std::isfinite(high) || !(sigma > 0) || low > high)
        return std::nan("");
    return (high - low) / (6.0 * sigma);
}

double ppk(const RunningStats &s, double low, double high)
{
    const double sigma = s.stddev();
    if (!std::isfinite(low) || !std::isfinite(high) || !(sigma > 0) || low > high)
        return std::nan("");
    return std::fmin(high - s.mean(), s.mean() - low) / (3.0 * sigma);
}

} // namespace stats
