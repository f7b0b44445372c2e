#ifndef STATION_CELLRECORDER_H
#define STATION_CELLRECORDER_H

#include "cellcapture.h"
#include "stats/controlchart.h"
#include "limitset.h"
#include "stagehistory.h"
#include "stats/lotstats.h"

#include "journal/dailycsv.h"
#include "meter/limitsinforce.h"
#include "meter/meterreading.h"

#include <QDateTime>
#include <QObject>

#include <cmath>
#include <functional>
#include <deque>

namespace station {

// One captured cell.
struct CellRecord
{
    QString id;          // "STATION-YYYYMMDD-N", unique across stations and days
    QDateTime time;
    QString station, operatorName, lot, cellId;
    double rMilliOhm = 0, v = 0;
    meter::Verdict verdict = meter::Verdict::None;
    QString grade, setName, rRange, vRange;
    // The bounds it was judged by (mΩ, V); NaN for one not set.
    double rLow = NAN, rHigh = NAN, vLow = NAN, vHigh = NAN;
    int settledBy = 0;   // readings that agreed (1 for a capture by hand)
    QString voids;       // for a void line: the id of the voided record
    bool voided = false; // a record that a later void line voids
    QString spc;         // the lot's control-chart rules it fired: "R1 V5"; empty when none
    // Self-discharge: the stage it was measured at, its K (mV/day) and the
    // rest it was worked out over (days; NaN: none), why it has none when
    // its set asks for one (kNote*), and what failed ("R V K"; empty: nothing).
    QString stage;
    double kMvDay = NAN, restDays = NAN;
    QString kNote;
    QString reason;
};

// Why a record has no K though its set asks for one, as the file says it.
constexpr char kNoEarlier[] = "no-earlier";  // no record of the cell at the earlier stage
constexpr char kShortRest[] = "short-rest";  // rested less than the set's minRestDays

// A verdict as the cells file writes it: "PASS", "NG", or empty for none.
QString verdictText(meter::Verdict verdict);

// A record's fired rules as the cells file writes them ("R1 R5 V2").
QString spcText(const stats::LotControl::Fired &fired);

// What an operator types or scans (cell IDs, lot names) is refused when it
// is longer than this or holds a control character or line break; the
// reason, or empty when it is fine.
constexpr int kMaxEnteredLength = 128;
QString enteredTextProblem(const QString &text);

// The cell records' columns, in order; also the header line.
extern const char *const kCellsHeader;
QString cellsCsvLine(const CellRecord &record);

// Station mode's logic without widgets: a record sink of the meter session
// that captures one record per cell, names it by the scanned cell ID, grades
// it by the active limit set, keeps the lot's statistics and writes
// cells-YYYY-MM-DD.csv beside the journal.
class CellRecorder : public QObject, public meter::ReadingSink
{
    Q_OBJECT

public:
    CellRecorder(const QString &folder, const QString &stationName, QObject *parent = nullptr);

    void takeBurst(const meter::ReadingBurst &burst) override;
    // Before the sinks take a reading: where the probes were (the session's
    // annotator in station mode). takeBurst then goes by what it found.
    void annotate(meter::MeterReading &reading);

    // A scanned or typed code: a limit set's name selects it, anything else
    // names the next cell.
    void enterCode(const QString &code);
    // Takes the current reading at once; false (with a note) without contact.
    bool captureNow();
    // Writes a void line for the newest record not yet voided.
    bool voidLast();
    bool voidRecord(const QString &id);
    // The newest record of the lot not yet voided, or null.
    const CellRecord *lastRecord() const;
    // A lot by name: one that has records in today's cells file continues
    // with them (its statistics, control limits and duplicate IDs).
    void startLot(const QString &name);
    // An ID scanned again after duplicateId(): recorded anew, and the
    // earlier record voided just before the new one is written.
    void remeasure(const QString &cellId);

    void setCaptureSettings(const CaptureSettings &settings) { m_capture.setSettings(settings); }
    void setRequireId(bool require) { m_requireId = require; }
    void setRequireLot(bool require) { m_requireLot = require; }
    // What a record still waits for; a contact meanwhile gives no record.
    enum class Need { Nothing, Lot, Id };
    Need need() const;
    void setOperator(const QString &name) { m_operator = name; }
    // [Station] Stage: the stage of records whose set names none.
    void setStage(const QString &stage) { m_stage = stage; }
    // The stage in force: the active set's, else the station's.
    QString stage() const { return !m_active.stage.isEmpty() ? m_active.stage : m_stage; }
    // Where the earlier stage's records are looked up (the journal folder's
    // cells files by default).
    StageHistory &history() { return m_history; }
    // Where else a cell's earlier stage may be (the plant database, read-only:
    // cells measured at other stations); the later of the two counts.
    using EarlierLookup = std::function<std::optional<StageHistory::Earlier>(const QString &cellId, const QString &stage, const QDateTime &at)>;
    void setEarlierLookup(EarlierLookup lookup) { m_earlierLookup = std::move(lookup); }
    LimitSetStore &sets() { return m_sets; }
    // The limits in force beside the meter's session: a chosen set's bounds
    // are put there, as numbers, for the window's fields and the readings' verdicts.
    void setLimitsInForce(meter::LimitsInForce *limits) { m_limitsInForce = limits; }
    bool selectSet(const QString &name);
    // The set chosen last time (config.ini): selected again, or the note
    // that it no longer exists, and then no set is active.
    void selectRemembered(const QString &name);
    const LimitSet *activeSet() const { return m_active.name.isEmpty() ? nullptr : &m_active; }

    QString pendingId() const { return m_pendingId; }
    QString lot() const { return m_lot; }
    const stats::LotStats &stats() const { return m_stats; }
    // The lot's control charts: limits from its first records, then each checked.
    const stats::LotControl &control() const { return m_control; }
    // The lot's R values (mΩ) for the histogram.
    const QVector<double> &lotR() const { return m_lotR; }
    // The lot's records (today's from the file, then this run's), newest first.
    const std::deque<CellRecord> &records() const { return m_lotRecords; }
    journal::DailyCsv *file() { return &m_file; }

signals:
    void recorded(const station::CellRecord &record);
    void voidedRecord(const QString &id);
    // A contact ended before it settled: how long it lasted, and the rule.
    void unsettled(qint64 contactMs, const station::CaptureSettings &rule);
    void statsChanged(const QString &why);
    // A record fired control-chart rules (bit rule - 1 of each side).
    void outOfControl(const station::CellRecord &record, unsigned rRules, unsigned vRules);
    void setSelected(const QString &name);
    void pendingIdChanged(const QString &id);
    // A lot was started or continued (its name; for config.ini).
    void lotStarted(const QString &name);
    // An ID that the lot already has a record of (not voided).
    void duplicateId(const QString &cellId, const QString &earlierRecord);
    void note(const QString &text);

private:
    void record(const meter::MeterReading &reading, int settledBy);
    // The record's number in its day's file: on after what the file holds.
    int nextNumber(const QDate &day);
    // Verdict, grade and the bounds it was judged by: the set's, or the window's.
    void judge(CellRecord &r, const meter::MeterReading &reading);
    // The record's K from the cell's record at the set's earlier stage.
    void selfDischarge(CellRecord &r);
    // Written: kept for voids and the lot's figures, and told.
    void kept(const CellRecord &r, const stats::LotControl::Fired &fired);
    void restartStats(const QString &why);
    // The lot's records of today from the cells file.
    void loadLot();
    void replayControl();
    void recount();
    // Whether the record may be taken now; says why not.
    bool mayRecord();
    QString recordId(const QDate &day, int number) const;

    journal::DailyCsv m_file;
    QString m_stationName;
    QString m_operator;
    QString m_stage;
    StageHistory m_history;
    EarlierLookup m_earlierLookup;
    QString m_port;
    CellCapture m_capture;
    // What annotate() found, by frame, for takeBurst.
    QVector<QPair<quint32, CellCapture::Event>> m_annotated;
    LimitSetStore m_sets;
    LimitSet m_active;
    QString m_pendingId;
    bool m_retested = false; // the pending cell's NG was measured once already
    QString m_lot;
    bool m_requireId = false;
    bool m_requireLot = false;
    QString m_remeasures; // the earlier record of the pending ID, when re-measured
    stats::LotStats m_stats;
    stats::LotControl m_control;
    QVector<double> m_lotR;
    std::deque<CellRecord> m_lotRecords; // of the lot, newest first; the statistics take the set in force
    QDate m_day;
    int m_nextNumber = 1;
    meter::LimitsInForce *m_limitsInForce = nullptr;
};

} // namespace station

#endif // STATION_CELLRECORDER_H
