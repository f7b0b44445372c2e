#ifndef LIMITSET_H
#define LIMITSET_H

#include "meter/judgement.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cmath>

namespace station {

// One quantity's limits: absolute low/high, or a reference value ± percent.
struct Bound
{
    bool set = false;
    bool relative = false;
    double low = 0, high = 0;            // absolute
    double reference = 0, percent = 0;   // relative
    double lowValue() const { return relative ? reference * (1 - percent / 100.0) : low; }
    double highValue() const { return relative ? reference * (1 + percent / 100.0) : high; }
};

// A grade bin: a band of R (mΩ) inside the V window.
struct Grade
{
    QString name;
    double rLow = 0, rHigh = 0;
    QString bin;    // where its cells go ("1号料框"); optional
    QString colour; // how the dock shows it ("#2e7d32" or a colour name); optional
    // A band of K (mV/day; NaN: none): a grade with one takes only cells
    // whose K is known and inside it.
    double kLow = NAN, kHigh = NAN;
    bool bandsK() const { return std::isfinite(kLow) || std::isfinite(kHigh); }
};

// A named limit set: R in mΩ, V in volts, and grade bins.
struct LimitSet
{
    QString name;
    Bound r, v;
    QVector<Grade> grades;
    // Self-discharge: the stage its records are of (empty: the station's
    // [Station] Stage), the earlier stage a cell's K is worked out from
    // (empty: no K), the shortest rest between them that gives a K (days),
    // and K's bounds (mV/day; NaN: not bounded).
    QString stage, kFrom;
    QString ngBin; // where NG cells go ("不良品框"); optional
    // A cell whose K cannot be worked out (no record at kFrom, too short a
    // rest) is NG by "K" where the set bounds K; "kMissing": "pass" lets it pass.
    bool kMissingPasses = false;
    // "retestNg": true: an NG is recorded only when a second contact says NG too.
    bool retestNg = false;
    bool needsK() const { return !kFrom.isEmpty() && boundsK() && !kMissingPasses; }
    double minRestDays = 0;
    double kLow = NAN, kHigh = NAN;
    bool boundsK() const { return std::isfinite(kLow) || std::isfinite(kHigh); }
    // A reading judged by the bounds the set has: R only, V only or both
    // (V by its magnitude, as the window judges it); no verdict when it has
    // none.
    meter::Verdict judge(double rMilliOhm, double volts) const;
    // The same with K (NaN: unknown, then not judged): the quantities that
    // failed ("R", "V", "K"), and the verdict (none when nothing was judged).
    meter::Verdict judge(double rMilliOhm, double volts, double k, QStringList *failed) const;
    // The grade of a PASS reading: the first bin holding R (and K, for a
    // bin with a K band); "NG" when it failed; empty without a verdict, when
    // no bin holds it or there are no bins.
    QString gradeFor(double rMilliOhm, meter::Verdict verdict, double k = NAN) const;
    // The grade of that name, or null.
    const Grade *grade(const QString &name) const;
};

// The limit sets of a station, kept in one JSON file beside config.ini:
//   { "editLock": { "pbkdf2Sha256": "<hex>", "salt": "<hex>", "iterations": N },   (optional;
//                   an older file's "editPasswordSha256" is still read)
//     "sets": [ { "name": "18650-A",
//                 "r": {"low": 10, "high": 20}   or {"reference": 15, "percent": 10},
//                 "v": {"low": 3.6, "high": 4.2},
//                 "grades": [ {"name": "A", "rLow": 10, "rHigh": 14,
//                              "bin": "1号料框", "colour": "#2e7d32", "kLow": 0, "kHigh": 0.5}, ... ],
//                 "stage": "OCV2", "kFrom": "OCV1", "minRestDays": 3, "k": {"high": 1.0},
//                 "ngBin": "不良品框", "kMissing": "ng", "retestNg": true } ] }
//   (bin, colour, the K band, stage, kFrom, minRestDays, k, ngBin, kMissing and retestNg optional; k has low,
//   high or both; kMissing "ng", the default, or "pass")
// The set's bounds as the limits in force (a quantity it does not bound: not set).
meter::Limits limitsOf(const LimitSet &set);

class LimitSetStore
{
public:
    // False with the reason when the file exists but cannot be read as sets,
    // or when some sets were refused (a field of the wrong type, a bound
    // missing or not finite, a percentage outside 0–100, low above high, a
    // name used twice): the reason names each; the good sets are loaded.
    bool load(const QString &path, QString *error);
    bool save(const QString &path, QString *error) const;

    const QVector<LimitSet> &sets() const { return m_sets; }
    const LimitSet *find(const QString &name) const;
    void put(const LimitSet &set); // adds or replaces by name

    // Editing can be locked; only a SHA-256 of the password is kept.
    // The lock prevents slips at the station; what protects the file is its
    // permissions (owned by an administrator, read-only for operators).
    bool locked() const { return !m_passwordHash.isEmpty(); }
    bool unlocks(const QString &password) const;
    void setPassword(const QString &password); // empty: no lock

private:
    QVector<LimitSet> m_sets;
    // PBKDF2-HMAC-SHA256 of the password with its own salt and count (a hash
    // of an older file, bare SHA-256, is still accepted until the next change).
    QString m_passwordHash;
    QByteArray m_salt;
    int m_iterations = 0;
};

} // namespace station

#endif // LIMITSET_H
