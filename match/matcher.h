#ifndef MATCHER_H
#define MATCHER_H

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cmath>
#include <limits>

// Pack matching: from measured cells to S groups of P cells wired in
// parallel, the groups wired in series. Cells in one group must agree in R
// and V; the groups must agree with each other. Widget-free.
namespace match {

struct Cell
{
    QString id;                 // the scanned cell ID
    double r = NAN;             // mΩ
    double v = NAN;             // V (its magnitude is matched)
    QString lot, verdict, grade;
    QDateTime time;
    QString record, station;    // the record it comes from
    double capacity = NAN;      // mAh, when a capacity file names it
    double k = NAN;             // self-discharge, mV/day, when its record carries one
};

struct Rules
{
    int series = 0, parallel = 0;
    double rSpreadPct = 5.0;    // ΔR within a group, % of its mean R
    double vSpreadMv = 20.0;    // ΔV within a group
    bool passOnly = true;
    QString lot;                // empty: any
    QStringList grades;         // empty: any
    bool useCapacity = false;   // equal group capacities too; cells without one are left out
    double kSpreadMvDay = std::numeric_limits<double>::infinity(); // ΔK within a group (mV/day)
    double kMax = std::numeric_limits<double>::infinity();         // cells above this K are left out
    // A K rule given: cells without a K are left out.
    bool usesK() const { return std::isfinite(kSpreadMvDay) || std::isfinite(kMax); }
    int cells() const { return series * parallel; }
};

// A cell that is not used, and why (in the operator's words).
struct Exclusion
{
    Cell cell;
    QString reason;
};

struct Choice
{
    QVector<Cell> usable;
    QVector<Exclusion> excluded;
    int superseded = 0;         // older records of cells measured again
};

// The cells a plan may use: per cell ID its newest record that is not
// voided, then the rules' filters; `placed` maps cell IDs already in a pack
// to that pack.
Choice chooseCells(const QVector<Cell> &records, const QSet<QString> &voidedRecords, const Rules &rules,
                   const QHash<QString, QString> &placed);

struct GroupFigures
{
    int n = 0;
    double meanR = NAN, spreadRPct = NAN, spreadVMv = NAN;
    double rg = NAN;            // 1 / Σ(1/R): the group's resistance
    double spreadKMvDay = 0;    // max − min of K (0 when a cell has none)
    double capacity = NAN;      // Σ C
};
GroupFigures figuresOf(const QVector<Cell> &cells, const QVector<int> &group);
// Whether a group keeps both rules (a hair of rounding allowed).
bool keepsRules(const GroupFigures &figures, const Rules &rules);
// (max − min) / mean; NaN for no values.
double spreadOf(const QVector<double> &values);

struct Plan
{
    bool ok = false;
    QString problem;            // why there is no plan
    int groupsPossible = 0;     // parallel groups the cells allow
    QVector<QVector<int>> groups; // S groups of P indices into the cells, each by R
    QVector<int> spares;
    double rgSpread = NAN, capacitySpread = NAN;
    int groupsBreakingRules = 0; // 0 for the matcher's plans; the snake may break them
};

// The matcher: every group keeps the rules, and the groups' resistances
// (and capacities) are as equal as it can make them. Deterministic for a seed.
Plan matchCells(const QVector<Cell> &cells, const Rules &rules, quint32 seed = 1);

// The usual hand method, for comparison: the S·P cells nearest the median R,
// sorted, dealt to the groups back and forth. Its groups may break the rules.
Plan snakePlan(const QVector<Cell> &cells, const Rules &rules);

} // namespace match

#endif // MATCHER_H
