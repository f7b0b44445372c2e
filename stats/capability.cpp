#include "capability.h"

#include <algorithm>
#include <limits>

namespace stats {

namespace {

constexpr double kZ975 = 1.959963984540054; // z(0.975)

// The regularised lower incomplete gamma P(a, x): its series below a + 1,
// Lentz's continued fraction of Q above (Numerical Recipes, 6.2).
double gammaP(double a, double x)
{
    if (x <= 0)
        return 0;
    const double lead = std::exp(-x + a * std::log(x) - std::lgamma(a));
    if (x < a + 1) {
        double term = 1 / a, sum = term;
        for (int k = 1; k < 10000 && std::fabs(term) > std::fabs(sum) * 1e-16; ++k)
            sum += term *= x / (a + k);
        return sum * lead;
    }
    const double tiny = 1e-300;
    double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
    for (int i = 1; i < 10000; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        d = std::fabs(d) < tiny ? tiny : d;
        c = b + an / c;
        c = std::fabs(c) < tiny ? tiny : c;
        d = 1 / d;
        const double step = d * c;
        h *= step;
        if (std::fabs(step - 1) < 1e-16)
            break;
    }
    return 1 - lead * h;
}

double chiSquareCdf(double x, double df) { return gammaP(df / 2, x / 2); }

Estimate ratioInterval(double value, qint64 n)
{
    // χ² interval of a ratio to σ: the same for Cp and Pp.
    if (!std::isfinite(value) || n < 2)
        return {value, NAN, NAN};
    const double df = double(n - 1);
    return {value, value * std::sqrt(chiSquareQuantile(0.025, df) / df), value * std::sqrt(chiSquareQuantile(0.975, df) / df)};
}

Estimate bissell(double value, qint64 n)
{
    if (!std::isfinite(value) || n < 2)
        return {value, NAN, NAN};
    const double half = kZ975 * std::sqrt(1.0 / (9.0 * double(n)) + value * value / (2.0 * double(n - 1)));
    return {value, value - half, value + half};
}

double spread(double low, double high, double sigma)
{
    return std::isfinite(low) && std::isfinite(high) && sigma > 0 ? (high - low) / (6 * sigma) : NAN;
}

double nearest(double mean, double low, double high, double sigma)
{
    if (!(sigma > 0))
        return NAN;
    const double upper = std::isfinite(high) ? (high - mean) / (3 * sigma) : NAN;
    const double lower = std::isfinite(low) ? (mean - low) / (3 * sigma) : NAN;
    return std::isnan(upper) ? lower : std::isnan(lower) ? upper : std::min(upper, lower);
}

} // namespace

double normalQuantile(double p)
{
    if (!(p > 0 && p < 1))
        return NAN;
    double lo = -40, hi = 40; // bisection: exact to the double, and fast enough for a page's points
    for (int i = 0; i < 200 && hi - lo > 1e-15 * std::max(1.0, std::fabs(lo)); ++i) {
        const double mid = (lo + hi) / 2;
        (normalCdf(mid) < p ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

double chiSquareQuantile(double p, double df)
{
    if (!(p > 0 && p < 1 && df > 0))
        return NAN;
    // From a thousand degrees of freedom on Wilson and Hilferty's cube of a
    // normal is within two millionths, and the series below would need more
    // terms than it takes (a group of millions of readings).
    if (df >= kWilsonHilfertyFrom) {
        const double k = 2.0 / (9.0 * df);
        return df * std::pow(1 - k + normalQuantile(p) * std::sqrt(k), 3);
    }
    double lo = 0, hi = std::max(1.0, df);
    while (chiSquareCdf(hi, df) < p)
        hi *= 2;
    for (int i = 0; i < 200 && hi - lo > 1e-13 * hi; ++i) {
        const double mid = (lo + hi) / 2;
        (chiSquareCdf(mid, df) < p ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

Capability capability(qint64 n, double mean, double sigmaWithin, double sigmaOverall, double low, double high)
{
    // Bounds the wrong way round describe no tolerance: no index.
    if (std::isfinite(low) && std::isfinite(high) && low > high)
        low = high = NAN;
    Capability c;
    c.n = n;
    c.mean = mean;
    c.sigmaWithin = sigmaWithin;
    c.sigmaOverall = sigmaOverall;
    c.cp = ratioInterval(spread(low, high, sigmaWithin), n);
    c.pp = ratioInterval(spread(low, high, sigmaOverall), n);
    c.cpk = bissell(nearest(mean, low, high, sigmaWithin), n);
    c.ppk = bissell(nearest(mean, low, high, sigmaOverall), n);
    return c;
}

namespace {

// ln Φ(z), by erfc in both tails alike: a value far above the mean weighs
// as much as one as far below (1 − Φ(z) would round to 0 from z ≈ 8.3).
double logPhi(double z)
{
    return std::log(std::max(0.5 * std::erfc(-z / std::sqrt(2.0)), 1e-300));
}

// D'Agostino and Stephens' p for A*², or kSmallestP and below.
Normality withP(Normality out)
{
    const double a = out.ad;
    double p;
    if (a >= 0.6)
        p = a < 10 ? std::exp(1.2937 - 5.709 * a + 0.0186 * a * a) : 0; // decreasing up to 10, far below kSmallestP there
    else if (a >= 0.34)
        p = std::exp(0.9177 - 4.279 * a - 1.38 * a * a);
    else if (a >= 0.2)
        p = 1 - std::exp(-8.318 + 42.796 * a - 59.938 * a * a);
    else
        p = 1 - std::exp(-13.436 + 101.14 * a - 223.73 * a * a);
    out.below = p < kSmallestP;
    out.p = out.below ? kSmallestP : std::min(p, 1.0);
    return out;
}

} // namespace

QString Normality::pText() const
{
    if (below)
        return QStringLiteral("< %1").arg(kSmallestP, 0, 'f', 4);
    return std::isfinite(p) ? QString::number(p, 'f', 4) : QStringLiteral("—");
}

Normality andersonDarling(QVector<double> values)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double x) { return !std::isfinite(x); }), values.end());
    Normality out;
    out.n = values.size();
    const int n = values.size();
    if (n < 8)
        return out;
    std::sort(values.begin(), values.end());
    if (values.front() == values.back())
        return out; // all equal: nothing to test
    double mean = 0;
    for (double x : values)
        mean += x;
    mean /= n;
    double ss = 0;
    for (double x : values)
        ss += (x - mean) * (x - mean);
    const double s = std::sqrt(ss / (n - 1));
    if (!(s > 0))
        return out;
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += (2.0 * i + 1) * (logPhi((values[i] - mean) / s) + logPhi(-(values[n - 1 - i] - mean) / s));
    const double a2 = -n - sum / n;
    out.ad = a2 * (1 + 0.75 / n + 2.25 / (double(n) * n));
    return withP(out);
}

} // namespace stats
