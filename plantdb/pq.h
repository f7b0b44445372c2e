#ifndef PLANTDB_PQ_H
#define PLANTDB_PQ_H

// The one thin layer over libpq that every client of the plant database
// uses (the ingest, its repair, the report): a connection made the same way
// everywhere and a result that clears itself. Header-only.

#include <libpq-fe.h>

#include <QByteArray>
#include <QString>

#include <cmath>
#include <memory>
#include <utility>

namespace plantdb {

class Result
{
public:
    explicit Result(PGresult *r = nullptr) : m_r(r) {}
    ~Result() { PQclear(m_r); }
    Result(Result &&o) noexcept : m_r(std::exchange(o.m_r, nullptr)) {}
    Result &operator=(Result &&o) noexcept
    {
        std::swap(m_r, o.m_r);
        return *this;
    }
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;

    PGresult *get() const { return m_r; }
    ExecStatusType status() const { return PQresultStatus(m_r); }
    // Rows, or a command done.
    bool ok() const { return status() == PGRES_TUPLES_OK || status() == PGRES_COMMAND_OK; }
    // The error's SQLSTATE ("" when none).
    QByteArray state() const
    {
        const char *s = m_r ? PQresultErrorField(m_r, PG_DIAG_SQLSTATE) : nullptr;
        return s ? QByteArray(s) : QByteArray();
    }
    int rows() const { return PQntuples(m_r); }
    bool null(int row, int col) const { return PQgetisnull(m_r, row, col); }
    QByteArray bytes(int row, int col) const { return QByteArray(PQgetvalue(m_r, row, col), PQgetlength(m_r, row, col)); }
    QString text(int row, int col) const { return QString::fromUtf8(bytes(row, col)); }
    double number(int row, int col) const { return null(row, col) ? NAN : bytes(row, col).toDouble(); }
    qint64 integer(int row, int col) const { return null(row, col) ? 0 : bytes(row, col).toLongLong(); }

private:
    PGresult *m_r;
};

struct Finish
{
    void operator()(PGconn *c) const { PQfinish(c); }
};
using Connection = std::unique_ptr<PGconn, Finish>;

// A connection as every client makes one: CONNINFO as libpq takes it, 5 s to
// connect, the program named to the server (pg_stat_activity). Check
// PQstatus: a failed one is returned too, for its message.
inline Connection connect(const QString &conninfo, const char *application)
{
    const QByteArray info = conninfo.toUtf8();
    const char *keys[] = {"dbname", "connect_timeout", "application_name", nullptr};
    const char *values[] = {info.constData(), "5", application, nullptr};
    return Connection(PQconnectdbParams(keys, values, 1));
}

// host:port of a connection, for messages.
inline QString where(PGconn *c)
{
    return c ? QStringLiteral("%1:%2").arg(QString::fromUtf8(PQhost(c)), QString::fromUtf8(PQport(c))) : QString();
}

// Its last error, one line.
inline QString errorOf(PGconn *c)
{
    return c ? QString::fromUtf8(PQerrorMessage(c)).trimmed() : QStringLiteral("out of memory");
}

// "database host:port: its last error", as every client says a failure.
inline QString failure(PGconn *c)
{
    return QStringLiteral("database %1: %2").arg(where(c), errorOf(c));
}

} // namespace plantdb

#endif // PLANTDB_PQ_H
