#ifndef INGEST_STORE_H
#define INGEST_STORE_H

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QString>
#include <QVector>

// What the intake keeps its messages in: the plant database (Database), or
// a fake in tests. Rows cross as COPY lines of the table's own columns.
namespace ingest {

// A column of a stream's table as the database describes it.
struct Column
{
    enum Kind { Text, Number, Integer, Time } kind = Text;
    QString name;
    QByteArray key;        // the name in UTF-8, as a message's JSON holds it
    bool required = false; // NOT NULL without a default
    qint64 largest = 0;    // an Integer's largest magnitude its type holds
};

// One row for a table: its values in the table's column order as a line of
// COPY's text format (tab between fields, \N for NULL, backslash escapes),
// with its line end.
struct Row
{
    QByteArray copyLine;
    QByteArray id;             // the message's id: stored once
    QDate day;                 // UTC day of its time: the partition
    qint64 ms = 0;             // its time (ms since the epoch)
    QByteArray topic, payload; // as it came, for the rejects should the database refuse it
};

// A station's word on how many of its lines a day's file holds
// (zentrel/<station>/tally): the gap audit reads to it.
struct Tally
{
    QString station, stream;
    QDate day;
    qint64 first = 0, last = 0, lines = 0;
};

struct Reject
{
    QByteArray topic, payload;
    QString reason;
};

struct Batch
{
    QHash<QString, QVector<Row>> rows; // table → rows
    QVector<Reject> rejects;
    QVector<Tally> tallies;
    quint64 number = 0; // the intake's, so an answer is matched to its own batch
    int size() const;
    void clear();
};

class Store
{
public:
    using Tables = QHash<QString, QVector<Column>>;
    virtual ~Store() = default;

    // Connects and brings the schema up to date; false with the reason.
    virtual bool open(const QString &conninfo, QString *error) = 0;
    virtual bool isOpen() const = 0;
    // The last open was refused for good: another intake holds the name
    // (no retry mends that; the intake leaves).
    virtual bool claimedElsewhere() const { return false; }
    virtual void close() = 0;
    // The columns of readings, cells and packs.
    virtual const Tables &tables() const = 0;
    // Everything in one transaction; inserted says how many rows were new.
    // A row whose id is stored already is dropped when its content is the
    // same, and kept as a reject ("conflict") when it is not.
    virtual bool write(const Batch &batch, qint64 *inserted, QString *error) = 0;
    // Rows of the last write that were conflicts (in rejects, not inserted).
    virtual qint64 lastConflicts() const = 0;
    // Whether the last failure was the rows' own fault (a data error a row
    // brings) rather than the plant's (read-only, full, privileges, locks,
    // timeouts, a missing partition: try again later).
    virtual bool lastFailureIsTheRows() const = 0;
    // The row the last failure named, when it did: its table and its
    // number (from 1) among that table's rows of the write; else 0.
    virtual int lastFailedLine(QString *table) const = 0;
    // Today's partitions and the next days', off the commit path.
    virtual void makePartitionsAhead(const QDate &today) = 0;
    // Packs the readings of quarters of an hour that have ended for the
    // control charts (reading_series), a little at a time, off the commit
    // path; false when the database said no (tried again later).
    virtual bool sealSeries(QString *error) { Q_UNUSED(error) return true; }
    // From any thread: ends the statement running now (leaving).
    virtual void cancel() = 0;
};

} // namespace ingest

#endif // INGEST_STORE_H
