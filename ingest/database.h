#ifndef INGEST_DATABASE_H
#define INGEST_DATABASE_H

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

typedef struct pg_conn PGconn;

// The plant database through libpq: its schema brought up to date, rows of
// the stations' streams written in one transaction per batch, each message
// once however often it comes.
typedef struct pg_result PGresult;

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
    QByteArray topic, payload; // as it came, for the rejects should the database refuse it
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
    int size() const;
    void clear();
};

class Database
{
public:
    ~Database();

    // Connects (5 s at most) and brings the schema up to date; false with
    // the reason, naming host and port.
    bool open(const QString &conninfo, QString *error);
    bool isOpen() const;
    void close();

    // The columns of readings, cells and packs (received left out).
    const QHash<QString, QVector<Column>> &tables() const { return m_tables; }

    // Everything in one transaction; inserted says how many rows were new.
    // A row whose id is stored already is dropped when its content is the
    // same, and kept as a reject ("conflict") when it is not.
    bool write(const Batch &batch, qint64 *inserted, QString *error);
    // Rows of the last write that were conflicts (in rejects, not inserted).
    qint64 lastConflicts() const { return m_conflicts; }
    // The SQLSTATE of the last failure, and whether it is the rows' own
    // fault (a data error a row brings) or the plant's (read-only, full,
    // privileges, locks, timeouts, a missing partition: try again later).
    QString lastState() const { return m_state; }
    static bool rowsAtFault(const QString &state);
    // Today's partitions and the next days' (done at open, and by the
    // ingest every hour), so no batch waits to make one at midnight.
    static constexpr int kDaysAhead = 2;
    static constexpr int kLockWaitMs = 2000;
    void makePartitionsAhead(const QDate &today);

    // Runs a statement (tests, the report): false with the reason.
    bool exec(const QString &sql, QString *error);
    // The first column of a query's rows as text.
    QStringList column(const QString &sql, QString *error);

private:
    bool migrate(QString *error);
    bool readColumns(QString *error);
    bool ensurePartition(const QString &table, const QDate &day, QString *error);
    bool copyRows(const QString &table, const QVector<Row> &rows, qint64 *inserted, QVector<Reject> *conflicts, QString *error);
    bool copyCarefully(const QString &table, const QStringList &names, const QVector<Row> &rows, qint64 *inserted,
                       QVector<Reject> *conflicts, QString *error);
    bool copyIn(const QString &target, const QString &list, const QVector<Row> &rows, bool *duplicate, QString *error);
    QString lastError() const;
    void noteState(const PGresult *result);

    PGconn *m_conn = nullptr;
    QString m_where;
    QString m_state; // SQLSTATE of the last failure
    qint64 m_conflicts = 0;
    QHash<QString, QVector<Column>> m_tables;
    QSet<QString> m_partitions;
    QSet<QString> m_scratch; // temporary tables made on this connection
    QSet<QString> m_careful; // tables whose last batch held a duplicate
};

} // namespace ingest

#endif // INGEST_DATABASE_H
