#ifndef LOTSTATS_H
#define LOTSTATS_H

#include <QMap>
#include <QString>

#include <cmath>
#include <limits>

namespace stats {

// Running statistics of one quantity: n, mean, sample standard deviation,
// min, max (Welford's method: one pass, no stored values, no cancellation).
class RunningStats
{
public:
    void add(double x);
    void clear() { *this = RunningStats(); }
    long long count() const { return m_n; }
    double mean() const { return m_n > 0 ? m_mean : std::nan(""); }
    // Sample standard deviation (n - 1); NaN below two values.
    double stddev() const;
    double min() const { return m_n > 0 ? m_min : std::nan(""); }
    double max() const { return m_n > 0 ? m_max : std::nan(""); }
    // Statistics summed elsewhere (a database's aggregates): n, mean, sample
    // standard deviation (ignored below two values), min, max.
    static RunningStats fromMoments(long long n, double mean, double sd, double min, double max);
    // The same from the sum of squared deviations (m2), as a database keeps it.
    static RunningStats fromM2(long long n, double mean, double m2, double min, double max);
    // As if every value of other had been added here (Chan's pairwise step).
    void merge(const RunningStats &other);

private:
    long long m_n = 0;
    double m_mean = 0;
    double m_m2 = 0;
    double m_min = std::numeric_limits<double>::infinity();
    double m_max = -std::numeric_limits<double>::infinity();
};

// Process performance against two limits, with the overall σ (Cp and Cpk
// take the within σ: stats/capability.h): Pp = (USL - LSL) / 6σ,
// Ppk = min(USL - μ, μ - LSL) / 3σ. NaN unless both limits exist, n >= 2
// and σ > 0.
double pp(const RunningStats &s, double low, double high);
double ppk(const RunningStats &s, double low, double high);

// The statistics of a lot: counts, yield, grades, and R and V.
struct LotStats
{
    long long pass = 0;
    long long ng = 0;
    long long none = 0; // captured without a verdict (limits not set)
    QMap<QString, long long> grades;
    RunningStats r; // mΩ
    RunningStats v; // V
    long long total() const { return pass + ng + none; }
    // PASS over all judged cells; NaN before the first.
    double yield() const { return pass + ng > 0 ? double(pass) / double(pass + ng) : std::nan(""); }
};

} // namespace stats

#endif // LOTSTATS_H
