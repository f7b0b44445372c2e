#ifndef INGEST_DATABASE_H
#define INGEST_DATABASE_H

#include "store.h"

#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;
typedef struct pg_cancel PGcancel;

namespace ingest {

// The plant database through libpq: its schema brought up to date, rows of
// the stations' streams written in one transaction per batch, each message
// once however often it comes.
class Database : public Store
{
public:
    // name: the ingest's, for its row of ingest_status (none: no row);
    // share: the shared subscription's group it takes its messages in.
    explicit Database(const QString &name = QString(), const QString &share = QString()) : m_name(name), m_share(share) {}
    ~Database() override;

    // Connects (5 s at most) and brings the schema up to date; false with
    // the reason, naming host and port.
    bool open(const QString &conninfo, QString *error) override;
    bool isOpen() const override;
    void close() override;

    // The columns of readings, cells and packs (received left out).
    const Tables &tables() const override { return m_tables; }

    bool write(const Batch &batch, qint64 *inserted, QString *error) override;
    qint64 lastConflicts() const override { return m_conflicts; }
    bool lastFailureIsTheRows() const override { return rowsAtFault(m_state, m_constraintNamed); }
    bool claimedElsewhere() const override { return m_claimedElsewhere; }
    int lastFailedLine(QString *table) const override
    {
        *table = m_failedTable;
        return m_failedLine;
    }
    void cancel() override;
    // The SQLSTATE of the last failure, and whether such a failure is the
    // rows' own: a data exception (22), an integrity constraint (23) that
    // rows bring or a value beyond what an index holds (54000); a check
    // violation only when a named constraint refused the row (without one
    // it is "no partition for the row").
    QString lastState() const { return m_state; }
    static bool rowsAtFault(const QString &state, bool constraintNamed);
    // Today's partitions and the next days' (done at open, and by the
    // ingest every hour), so no batch waits to make one at midnight.
    static constexpr int kDaysAhead = 2;
    static constexpr int kLockWaitMs = 2000;
    static constexpr int kSealBatch = 50; // quarters of a station: at 2 readings/s, 0.2 s of packing
    static constexpr int kStatementMs = 20000;
    static constexpr int kClaimsLock = 7264; // names are claimed one at a time (7263: the schema's)
    static constexpr int kClaimWaitMs = 5000; // for a holder that is going
    void makePartitionsAhead(const QDate &today) override;
    bool sealSeries(QString *error) override;

    // Runs a statement (tests, the report): false with the reason.
    // The stations' tallies, kept at their largest.
    bool writeTallies(const QVector<Tally> &tallies, QString *why);
    bool exec(const QString &sql, QString *error);
    // The first column of a query's rows as text.
    QStringList column(const QString &sql, QString *error);

private:
    bool migrate(QString *error);
    bool announce(QString *error); // its claim on its name, and its row of ingest_status afresh
    bool refuseClaim(QString *error);
    bool noteCommit(const Batch &batch, qint64 inserted, QString *why);
    // NOTIFY the stations this commit touched (delivered at the commit).
    bool tellWatchers(const Batch &batch, QString *why);
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
    QString m_name, m_share; // for ingest_status
    QString m_state; // SQLSTATE of the last failure
    bool m_constraintNamed = false;
    bool m_claimedElsewhere = false;
    QString m_failedTable; // where COPY named the line it failed on
    int m_failedLine = 0;
    QMutex m_cancelLock;
    PGcancel *m_cancel = nullptr;
    qint64 m_conflicts = 0;
    QHash<QString, QVector<Column>> m_tables;
    QSet<QString> m_partitions;
    QSet<QString> m_scratch; // temporary tables made on this connection
    QSet<QString> m_careful; // tables whose last batch held a duplicate
};

} // namespace ingest

#endif // INGEST_DATABASE_H
