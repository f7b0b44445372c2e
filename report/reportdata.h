#ifndef REPORTDATA_H
#define REPORTDATA_H

#include "meter/judgement.h"
#include "station/lotstats.h"

#include <QDateTime>
#include <QMap>
#include <QStringList>
#include <QVector>

#include <functional>
#include <tuple>

// The quality engineer's view of journal and cell-record files: statistics
// per station, overall and per lot, each per period of limits in force.
namespace report {

// The four limits as they stood on a line ("" when not set).
struct LimitKey
{
    QString rLow, rHigh, vLow, vHigh;
    bool cells = false; // of cell records, which carry a limit set's name
    QString set;
    bool operator<(const LimitKey &o) const
    {
        return std::tie(cells, set, rLow, rHigh, vLow, vHigh) < std::tie(o.cells, o.set, o.rLow, o.rHigh, o.vLow, o.vHigh);
    }
    bool operator==(const LimitKey &o) const
    {
        return cells == o.cells && set == o.set && rLow == o.rLow && rHigh == o.rHigh && vLow == o.vLow && vHigh == o.vHigh;
    }
    // In the language spoken, or as files name it (translated = false).
    QString text(bool translated = false) const;
    double value(const QString &s) const;
};

struct Group
{
    QString scope;  // "全部" / "工位 X" / "单体 批次 Y" in every language (scopeText shows it)
    LimitKey limits;
    station::LotStats stats;
    QDateTime first, last;
};

// Points kept for the charts, bounded in memory.
struct ChartData
{
    QVector<double> r, v;                       // every value (8 bytes each)
    QVector<QPair<qint64, double>> run;         // (ms since epoch, R), thinned
    QMap<QString, QVector<double>> rByStation;  // for box plots
};

struct Options
{
    QDate from, to; // invalid: open
};

class Collector
{
public:
    explicit Collector(const Options &options = Options()) : m_options(options) {}

    // Adds every file named readings-*.csv / cells-*.csv in the paths
    // (folders are searched). Returns the files found.
    QStringList findFiles(const QStringList &paths, QStringList *problems) const;
    // Reads one file; false with the reason when it cannot be read.
    bool read(const QString &path, QString *error, const std::function<void(qint64)> &progress = {});
    void finish(); // sorts the run chart

    QVector<Group> groups() const; // overall first, then stations, then lots
    const ChartData &charts() const { return m_charts; }
    qint64 lines() const { return m_lines; }
    qint64 skipped() const { return m_skipped; }
    bool limitsChanged() const; // more than one limit period overall

private:
    void add(const QString &scope, const LimitKey &limits, const QDateTime &time, meter::Verdict verdict,
             double r, double v, const QString &grade);

    Options m_options;
    QMap<QPair<QString, LimitKey>, Group> m_groups;
    ChartData m_charts;
    qint64 m_lines = 0;
    qint64 m_skipped = 0;
    qint64 m_runEvery = 1;
    qint64 m_runSeen = 0;
};

// A scope as the language spoken names it.
QString scopeText(const QString &scope);

// The table as text, CSV and JSON.
QString tableText(const QVector<Group> &groups);
QString tableCsv(const QVector<Group> &groups);
QByteArray tableJson(const QVector<Group> &groups, qint64 lines, qint64 skipped);

} // namespace report

#endif // REPORTDATA_H
