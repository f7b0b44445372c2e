#include "lotstats.h"

namespace station {

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

double RunningStats::stddev() const
{
    return m_n >= 2 ? std::sqrt(m_m2 / double(m_n - 1)) : std::nan("");
}

double cp(const RunningStats &s, double low, double high)
{
    const double sigma = s.stddev();
    // Bounds the wrong way round describe no tolerance: no index.
    if (!std::isfinite(low) || !std::isfinite(high) || !(sigma > 0) || low > high)
        return std::nan("");
    return (high - low) / (6.0 * sigma);
}

double cpk(const RunningStats &s, double low, double high)
{
    const double sigma = s.stddev();
    if (!std::isfinite(low) || !std::isfinite(high) || !(sigma > 0) || low > high)
        return std::nan("");
    return std::fmin(high - s.mean(), s.mean() - low) / (3.0 * sigma);
}

} // namespace station
