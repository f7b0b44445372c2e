#ifndef PLANTDB_BOARDDB_H
#define PLANTDB_BOARDDB_H

#include "plantdb/pq.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cmath>

// The line board's questions to the plant database, on one connection of
// the caller's (read-only role enough). Times cross as ms since 1970; every
// question takes the asker's now, so a test knows the answer.
namespace plantdb {

struct BoardReading
{
    qint64 ms = 0, receivedMs = 0; // 0: none in the last day
    double r = NAN, v = NAN;
    QString verdict;
};

// A station's live part: its newest reading and its pace.
struct StationPulse
{
    QString station;
    BoardReading last;
    int lastMinute = 0; // readings of the minute up to now
};

struct BoardSignal
{
    qint64 ms = 0;
    QString cellId, spc; // spc: the rules fired, "R1 V5"
};

struct BoardNg
{
    qint64 ms = 0; // 0: none
    QString cellId; // empty for a reading
    double r = NAN, v = NAN;
};

// A station's day: its cell records since the day's start, as the plant
// counts them (no void line, nothing voided).
struct StationDay
{
    QString station;
    qint64 cells = 0, pass = 0, ng = 0, ngHour = 0, withK = 0;
    QString lot, set;             // of its newest record today
    BoardNg lastNg;               // its newest NG record today
    QVector<BoardSignal> signalsHour; // records of the last hour that fired a rule, newest first (20 at most)
};

struct StationRecord
{
    qint64 ms = 0;
    QString record, cellId, verdict, grade, spc, stage, reason;
    double r = NAN, v = NAN, k = NAN;
};

// A station's own page: its last hour, its current lot's records.
struct StationDetail
{
    QString station, lot, set;
    QVector<BoardReading> lastHour;   // in time order
    QVector<StationRecord> records;   // the lot's (today's when no lot), in time order, the newest 5,000
};

class BoardDb
{
public:
    // Its questions are small and many: no JIT, which would cost them more than they take.
    explicit BoardDb(Connection connection) : m_c(std::move(connection))
    {
        if (ok())
            Result(PQexec(m_c.get(), "SET jit = off"));
    }
    bool ok() const { return m_c && PQstatus(m_c.get()) == CONNECTION_OK; }
    PGconn *connection() const { return m_c.get(); }

    // Stations heard of in the week before now.
    bool stations(qint64 nowMs, QStringList *out, QString *error);
    bool pulses(const QStringList &stations, qint64 nowMs, QVector<StationPulse> *out, QString *error);
    bool days(const QStringList &stations, qint64 dayStartMs, qint64 nowMs, QVector<StationDay> *out, QString *error);
    // For stations that record no cells: their NG readings of the last hour
    // (count into ngHour, the newest into lastNg).
    bool ngReadings(const QStringList &stations, qint64 nowMs, QVector<StationDay> *out, QString *error);
    bool detail(const QString &station, qint64 dayStartMs, qint64 nowMs, StationDetail *out, QString *error);

private:
    Result ask(const char *sql, const QVector<QByteArray> &params, QString *error);
    Connection m_c;
};

} // namespace plantdb

#endif // PLANTDB_BOARDDB_H
