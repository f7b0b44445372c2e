#ifndef STATS_CAPABILITY_H
#define STATS_CAPABILITY_H

#include <QString>
#include <QVector>

#include <cmath>

// Process capability as the statistics packages give it, with 95 %
// confidence intervals and a test of the normality the indices assume.
//   Cp  = (USL − LSL) / 6σ_w,  Cpk = min(USL − x̄, x̄ − LSL) / 3σ_w,
//   σ_w = MR̄ / d2 (d2 = 1.128): the within σ of the individuals chart;
//   Pp, Ppk the same with the overall sample σ.
//   Cp, Pp: χ² interval, Cp·√(χ²(α/2; ν)/ν) to Cp·√(χ²(1 − α/2; ν)/ν), ν = n − 1
//     (Montgomery, Introduction to Statistical Quality Control, 8.3.5).
//   Cpk, Ppk: Bissell's normal approximation, Ĉ ± z(1 − α/2)·√(1/(9n) + Ĉ²/(2(n − 1)))
//     (Bissell 1990, Applied Statistics 39: 71–76).
//   Anderson–Darling: A² = −n − (1/n)·Σ(2i − 1)[ln Φ(zᵢ) + ln(1 − Φ(z₍ₙ₊₁₋ᵢ₎))] over the
//     sorted standardised values, A*² = A²(1 + 0.75/n + 2.25/n²), p by D'Agostino and
//     Stephens (Goodness-of-Fit Techniques, 1986, table 4.9). Their fit turns back up
//     past A*² ≈ 153; p is stated down to kSmallestP and below that said to be below.
namespace stats {

struct Estimate
{
    double value = NAN, low = NAN, high = NAN; // NaN: not computable (a limit missing, σ 0, too few)
};

constexpr double kSmallestP = 1e-4;

struct Normality
{
    double ad = NAN;    // A*², adjusted for n; NaN: too few values or none apart
    double p = NAN;     // kSmallestP when below it
    bool below = false; // p < kSmallestP: "< 0.0001"
    qint64 n = 0;       // the values tested
    // "0.2315", "< 0.0001", "—"
    QString pText() const;
};

struct Capability
{
    qint64 n = 0;
    double mean = NAN, sigmaWithin = NAN, sigmaOverall = NAN;
    Estimate cp, cpk, pp, ppk;
    Normality normality;
    // The indices assume a normal process; a test that rejects it at 5 % says they may mislead.
    bool normalityRejected() const { return normality.p < 0.05; }
};

// From the group's n, mean and both σs; low/high the limits it is judged by
// (NaN: not set; Cpk and Ppk then from the one side there is).
Capability capability(qint64 n, double mean, double sigmaWithin, double sigmaOverall, double low, double high);

// A*² and its p-value; NaN below 8 values or with none apart.
Normality andersonDarling(QVector<double> values);

// The standard normal distribution function.
inline double normalCdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// The p-quantile of the standard normal distribution (0 < p < 1).
double normalQuantile(double p);

// The p-quantile of χ² with df degrees of freedom: by bisection of the
// incomplete gamma function below kWilsonHilfertyFrom, by Wilson–Hilferty's
// approximation from there on.
constexpr double kWilsonHilfertyFrom = 1000;
double chiSquareQuantile(double p, double df);

} // namespace stats

#endif
