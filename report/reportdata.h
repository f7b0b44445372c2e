#ifndef REPORTDATA_H
#define REPORTDATA_H

#include "journal/csvrecords.h"
#include "meter/judgement.h"
#include "reportspc.h"
#include "selfdischarge.h"
#include "stats/lotstats.h"
#include "storage/sheet.h"

#include <QDateTime>
#include <QTimeZone>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <functional>
#include <tuple>

// The quality engineer's view of journal and cell-record files: statistics
// per station, overall and per lot, each per period of limits in force.
namespace report {

struct Columns; // where a file's columns are (reportdata.cpp)

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

// Whose lines a group sums: every station's readings, one station's, every
// cell record, or one lot's. Typed: translated only when shown.
struct Scope
{
    enum Kind { All, Station, Cells, Lot }; // the report's order
    Kind kind = All;
    QString name; // the station (Station) or the lot (Lot)

    bool operator<(const Scope &o) const { return std::tie(kind, name) < std::tie(o.kind, o.name); }
    bool operator==(const Scope &o) const { return kind == o.kind && name == o.name; }
    // Every station's readings or cells together, not one station's or lot's.
    bool overall() const { return kind == All || kind == Cells; }
    // As the CSV names it, in every language: 全部, 工位 X, 单体 全部, 单体 批次 Y.
    QString key() const;
    // As the language spoken names it.
    QString text() const;
    // {"kind": "lot", "lot": "L1", "set": …, "r_low": …}: with the group's limit set and limits as numbers.
    QJsonObject json(const LimitKey &limits) const;
};

// Readings that say where the probes were (station mode's contact column):
// the yield over those taken in settled contact, not over transients and
// lifted probes.
struct Settled
{
    qint64 known = 0;          // readings with a contact at all
    qint64 pass = 0, ng = 0, none = 0; // of the settled ones
    qint64 n() const { return pass + ng + none; }
    double yield() const { return pass + ng > 0 ? double(pass) / double(pass + ng) : std::nan(""); }
};

struct Group
{
    Scope scope;
    LimitKey limits;
    stats::LotStats stats;
    Settled settled;
    QDateTime first, last;
    Spc spc;     // control charts of R and V over the group's readings in time order
    int id = -1; // its reader's own number for it
};

// What the pages draw, already summed up: made from the values above for
// files, by the server's aggregates for the database.
constexpr int kHistogramBins = 40;

struct Histogram
{
    double lo = 0, width = 1;  // bin i holds [lo + i·width, lo + (i + 1)·width); the last one hi too
    QVector<double> counts;    // kHistogramBins, or empty when there were no values
    double below = 0, above = 0; // values beyond the bins (far outliers), marked at the edges
    bool estimated = false;      // counts scaled from a sample: said "≈" 
    stats::RunningStats stats;
    // lo and width for values from min to max, widened to the limits.
    static Histogram frame(double min, double max, double low, double high);
    // The same for the bulk of values from min to max with quartiles q1
    // and q3: within Tukey's far-out fences (3 IQR beyond the quartiles),
    // widened to a limit near the bulk. An outlier squeezes no histogram
    // into one bar.
    static Histogram frameBulk(double min, double q1, double q3, double max, double low, double high);
    int bin(double x) const;
    // Counted in its bin, or below or above them.
    void count(double x, double weight = 1);
};

struct Box
{
    double min = 0, q1 = 0, median = 0, q3 = 0, max = 0;
};

struct Charts
{
    Histogram r, v;
    QVector<QPair<qint64, double>> run; // (ms since epoch, R) in time order
    stats::RunningStats runStats;     // of every R: mean ± 3σ on the run chart
    QMap<QString, Box> boxes;           // R per station
    bool sampled = false;               // drawn from a sample of the readings
};

// The readings' values kept for the charts, the run chart thinned evenly
// to at most 40,000 points.
class ChartData
{
public:
    void add(const QString &station, qint64 msSinceEpoch, double r, bool hasR, double v, bool hasV); // ms < 0: no time
    // Summed up for the pages; the limits in force are the groups'.
    Charts summarise(const QVector<Group> &groups) const;
    qint64 rCount() const { return m_r.seen; }
    qint64 vCount() const { return m_v.seen; }
    // Another's points after these (read on another thread): the run chart
    // in time order, evenly thinned again.
    void absorb(ChartData &&other);

    // Values kept for a chart: all up to twice a bound, then every 2nd,
    // 4th, … (evenly through the data), so a hundred million readings
    // take no more than a few million. seen counts them all.
    struct Thinned
    {
        QVector<double> kept;
        qint64 every = 1, seen = 0;
        qint64 skip = 1; // values until the next one kept, counting this one
        int bound = 0;
        double min = INFINITY, max = -INFINITY; // of all seen
        void add(double x);
        void halve();
        void absorb(Thinned &&other);
        double scale() const { return kept.isEmpty() ? 1 : double(seen) / double(kept.size()); }
    };
    static constexpr int kValuesKept = 4000000, kStationValuesKept = 250000;

private:
    Thinned m_r {{}, 1, 0, 1, kValuesKept}, m_v {{}, 1, 0, 1, kValuesKept};
    QVector<QPair<qint64, double>> m_run;           // (ms since epoch, R), thinned
    QMap<QString, Thinned> m_rByStation;            // for box plots
    Thinned *m_lastStation = nullptr;               // the last line's (most lines repeat it)
    QString m_lastName;
    qint64 m_runEvery = 1, m_runSeen = 0;
};

// The overall group of the latest limit period: the limits in force.
const Group *inForce(const QVector<Group> &groups);
void limitsOf(const Group *g, double *rLow, double *rHigh, double *vLow, double *vHigh);

struct Options
{
    QDate from, to;       // invalid: open; days in zone, as instants
    QTimeZone zone = QTimeZone::systemTimeZone(); // --tz: the report machine's unless told
    QStringList stations; // empty: all
    QStringList lots;     // empty: all; set: only cell records of these lots
    bool controlCharts = true; // false: no control charts (nor the time order they need)
    bool wanted(const QString &station, const QString *lot) const;
    // The first instant asked for and the one after the last (ms since the
    // epoch; open ends at the limits of qint64).
    qint64 startMs() const;
    qint64 endMs() const;
    bool within(qint64 ms) const { return ms >= startMs() && ms < endMs(); }
    // A file's day (a line without a time goes by it) among the days asked for.
    bool dayWithin(const QDate &day) const;
};

class Collector
{
public:
    explicit Collector(const Options &options = Options()) : m_options(options) {}
    Collector(const Collector &) = delete; // it keeps an iterator into its own hash
    Collector &operator=(const Collector &) = delete;

    // Adds every file named readings-*.csv / cells-*.csv in the paths
    // (folders are searched). Returns the files found.
    QStringList findFiles(const QStringList &paths, QStringList *problems) const;
    // The void lines of a cells file, before any file is read: a void
    // written after midnight lies in the next day's file (maybe one past
    // --to), and the record it names counts in none. voidFiles: the files
    // to note.
    QStringList voidFiles(const QStringList &paths) const;
    void noteVoids(const QString &path);
    // Reads one file, after noteVoids() of every voidFiles() file; false
    // with the reason when it cannot be read.
    bool read(const QString &path, QString *error, const std::function<void(qint64)> &progress = {});
    // The files on up to `jobs` threads (0: as many as there are cores), each
    // a collector of its own over whole files, the largest first, taken in
    // here in a fixed order; the reasons of files that cannot be read in
    // `errors`, in the files' order. progress is called on this thread.
    bool readAll(const QStringList &files, int jobs, QStringList *errors, const std::function<void(qint64)> &progress = {});

    // Overall first, then stations, then lots; the control charts are
    // worked out here, once, and the charts' summary beside them (charts()
    // gives it after, whatever groups it is given).
    QVector<Group> groups();
    Charts charts(const QVector<Group> &groups) const;
    qint64 lines() const { return m_lines; }
    // The files read that hold lines of the days asked for.
    QStringList used() const { return m_used; }
    qint64 skipped() const { return m_skipped; }
    // K per lot and stage, from the cell records read.
    QVector<KGroup> kGroups() const { return m_k.groups(); }
    // What another collector of the same options read (its files, on
    // another thread), taken in after these: its groups' sums, readings,
    // points and records. The voids noted here are the other's to know
    // before it reads (takeVoidsOf).
    void absorb(Collector &&other);
    void takeVoidsOf(const Collector &noted) { m_voided = noted.m_voided; }

private:
    // A line's groups, found once per station, lot, set and limits as they
    // stand in the file: most lines repeat the line before.
    struct Slot
    {
        int all = -1, part = -1; // the overall group and the station's or lot's, once a line counts in them
        Scope allScope, partScope;
        LimitKey limits;
        QString station;
        bool wanted = false;
    };
    int groupOf(const Scope &scope, const LimitKey &limits);
    QHash<QByteArray, Slot>::const_iterator slotOf(const journal::FieldViews &fields, const Columns &c, bool cells);
    // One record line: counted in its groups, skipped, or not asked for.
    void take(const journal::FieldViews &fields, const Columns &c, bool cells, bool dayAsked);
    void collectVoids(journal::RecordReader &reader, const QList<QByteArray> &header);
    // A file's R and V sums per group, set aside when it is read and summed
    // in the files' order at the end, whichever thread read which file.
    struct Part
    {
        QString path;
        int group;
        stats::RunningStats r, v;
    };
    void setPartsAside(const QString &path);
    void foldParts();
    QVector<Part> m_parts;
    void add(int group, qint64 ms, bool timed, meter::Verdict verdict, double r, double v, const QString &grade);
    void addContact(int group, const QByteArray &contact, meter::Verdict verdict);

    Options m_options;
    QVector<Group> m_list;
    QVector<QPair<qint64, qint64>> m_spans; // first and last time (ms) of each group
    QMap<QPair<Scope, LimitKey>, int> m_index;
    QHash<QByteArray, Slot> m_slots;
    QHash<QByteArray, Slot>::const_iterator m_lastSlot = m_slots.constEnd();
    QByteArray m_key; // the last line's slot key (a buffer reused line after line)
    journal::FieldViews m_fields; // the line's, reused line after line
    ChartData m_charts;
    Charts m_summary;
    SpcData m_spc;
    KCollector m_k;
    bool m_spcDone = false;
    qint64 m_lines = 0;
    qint64 m_skipped = 0;
    QSet<QByteArray> m_voided; // "station,record" of every record a void names
    QStringList m_used;
};

// The charts a group gets from those worked out for it: a group of readings
// taken contact by contact (a station's cell mode) gets none, its cells are
// charted by their records.
Spc chartsOf(const Group &g, const Spc &worked);

// Scope::overall() of each group, by its id: for SpcData::compute.
QVector<bool> overallById(const QVector<Group> &groups);

// The groups in the report's order: overall first, then stations, then
// cells overall, then lots; limit periods in time order.
void sortGroups(QVector<Group> &groups);
// More than one limit period overall.
bool limitsChanged(const QVector<Group> &groups);

// A quantity's capability in a group, against the group's limits: σ within
// from its control chart (none without control charts), σ overall from
// every reading, normality from the chart's series.
stats::Capability capabilityOf(const stats::RunningStats &values, const SpcSeries &chart, double low, double high);

// The yields a line leader asks for, in this order: of cells (their
// records), of readings taken in settled contact, of every reading (with
// contact transients and lifted probes). n = 0 for one the data have not.
struct Yields
{
    struct One
    {
        qint64 n = 0, pass = 0, ng = 0;
        double yield() const { return pass + ng > 0 ? double(pass) / double(pass + ng) : std::nan(""); }
    };
    One cells, settled, readings;
};
Yields yields(const QVector<Group> &groups);
// The yields, labelled, cells first: the lines above the table.
QString yieldsText(const Yields &y);

// The table as text, CSV and JSON, and as typed cells for a workbook: the
// CSV's columns and rows (scopes and limits named as the CSV names them).
QString tableText(const QVector<Group> &groups);
QStringList tableColumns();
QVector<SheetRow> tableRows(const QVector<Group> &groups);
QString tableCsv(const QVector<Group> &groups);
// until: how far a database's data reach (data_until), when known.
QByteArray tableJson(const QVector<Group> &groups, qint64 lines, qint64 skipped, bool controlCharts = true,
                     const QVector<KGroup> &k = {}, const QDateTime &until = QDateTime());
// The control charts' signals, one row each: scope, limits, quantity, rule,
// index, time, value and the rule in words.
QString signalsCsv(const QVector<Group> &groups);
// Why the trial limits stand (s.unrevised > 0), as a line of the table.
QString unrevisedText(const SpcSeries &s);
// A group's signals per rule, as the table says them ("" when none).
QString ruleCounts(const SpcSeries &s);

} // namespace report

#endif // REPORTDATA_H
