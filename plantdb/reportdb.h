#ifndef REPORTDB_H
#define REPORTDB_H

#include "report/reportdata.h"

#include <QtEndian>

#include <cmath>
#include <cstring>
#include <functional>

// The report over the plant database (the tables zentrel-ingest fills): the
// same groups and charts as from the files, summed up by the server.
namespace report {

struct DatabaseReport
{
    QVector<Group> groups; // in the report's order
    Charts charts;
    qint64 lines = 0;   // rows in the range asked for
    qint64 skipped = 0; // rows beyond the meter's range
    QString where;      // host:port/database, no password
    // The last commit any ingest made there (ingest_status): on a standby
    // that lags, how far its data reach. Invalid: no ingest said.
    QDateTime until;
    QVector<KGroup> k;  // self-discharge per lot and stage, from cell_stages
};

// COPY's binary form, a row at a time whatever the chunks: the header
// (signature, flags, extension) once, then per row a field count and each
// field's length (-1: NULL) and bytes, all big-endian; a count of -1 ends it.
class BinaryRows
{
public:
    struct Field
    {
        const char *data;
        int size; // -1: NULL
        bool null() const { return size < 0; }
        QByteArray bytes() const { return null() ? QByteArray() : QByteArray(data, size); }
        qint64 integer() const { return qFromBigEndian<qint64>(data); }
        double number() const
        {
            if (null() || size != 8)
                return NAN;
            const quint64 bits = qFromBigEndian<quint64>(data);
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
    };
    // Hands on each whole row (its fields, their count); false when the
    // stream is not COPY's binary form.
    bool feed(const char *chunk, int size, const std::function<void(const Field *, int)> &row);

private:
    QByteArray m_pending;
    bool m_started = false;
};

// Days are the report machine's local days, as the files' names are.
// False with the reason (naming the server) when the database cannot be
// read.
bool readDatabase(const QString &conninfo, const Options &options, DatabaseReport *out, QString *error);

// Lines of the stations' files the database lacks (the view line_gaps), of
// the stations and days asked for: a station's lines first..last of a
// stream's file of a day.
struct LineGap
{
    QString station, stream, day;
    qint64 first = 0, last = 0;
};
bool readGaps(const QString &conninfo, const Options &options, QVector<LineGap> *out, QString *where, QString *error);

} // namespace report

#endif // REPORTDB_H
