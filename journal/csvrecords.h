#ifndef CSVRECORDS_H
#define CSVRECORDS_H

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QVector>
#include <QString>
#include <QStringList>

#include <functional>

class QIODevice;

// The daily files' CSV, written and read in one place: the journal, the cell
// records, the MQTT outbox and the report all go through these.
namespace journal {

// The daily files: PREFIX-YYYY-MM-DD.csv, one per stream and local day, in
// the journal folder. The streams' prefixes:
extern const char *const kReadingsPrefix; // readings-YYYY-MM-DD.csv
extern const char *const kCellsPrefix;    // cells-YYYY-MM-DD.csv
extern const char *const kPacksPrefix;    // packs-YYYY-MM-DD.csv (the pack ledger)
QString dailyFileName(const QString &prefix, const QDate &day);
// The day a file of that prefix holds, or an invalid date for another name.
QDate dailyFileDay(const QString &fileName, const QString &prefix);
// A name filter (QDir) that lists the day files of a prefix.
QString dailyFilePattern(const QString &prefix);

// The day files of the given prefixes in paths named on a command line: a
// folder is searched with one level of sub-folders (a folder of stations'
// journal folders), a file is taken by its name; a file reached twice is
// given once. In day order, the prefixes' files of one day together.
// wantDay filters by day; problems gets a line per path not used.
QStringList findDailyFiles(const QStringList &paths, const QStringList &prefixes,
                           const std::function<bool(const QDate &)> &wantDay, QStringList *problems);

// A text field as it goes into a file meant for spreadsheets: quoted per
// RFC 4180 where it needs to be, and, when a spreadsheet would run it as a
// formula (first character = + - @ tab or CR), guarded by a leading "'".
// A field that already starts with quotes before such a character gets one
// more, so reading gives back exactly what was written.
QString csvField(const QString &field);
// The fields of one record, quoting undone and the guard taken off.
QList<QByteArray> csvFields(const QByteArray &record);

// The same fields as views into the record, in a list reused record after
// record, for readers of millions of lines: an unquoted record costs no
// allocation. A view lives until the next split() and only as long as the
// record's bytes; it is not NUL-terminated (read numbers by fieldNumber).
class FieldViews
{
public:
    void split(const QByteArray &record);
    int size() const { return m_size; }
    const QByteArray &operator[](int i) const { return m_fields[i]; }

private:
    QVector<QByteArray> m_fields;
    int m_size = 0;
};

// A field's number as QByteArray::toDouble reads it (white space around it,
// a sign, an exponent, inf and nan), without copying the field; a blank
// field is no number (Qt would read 0).
double fieldNumber(const QByteArray &field, bool *ok);

// The column names of a header line: the byte-order mark, surrounding white
// space and a line end taken off.
QList<QByteArray> headerFields(QByteArray record);

// True for a header line (every record starts with its time; a header
// with the word "time"), with or without the byte-order mark.
bool isHeaderRecord(const QByteArray &record);

// Where the record that starts at `from` ends: the index of the '\n' that
// ends it, or -1 when `data` holds no complete record yet. A line break
// inside quotes belongs to the field, unless the next line starts a record
// or a header of its own: then the quote was torn (a power cut) and the
// record ends there, to be skipped by its count of fields. With final, no
// more data will come (the end of a file that is no longer written).
int recordEnd(const QByteArray &data, int from, bool final = false);

// Complete records of a file, in order, each without its line end.
class RecordReader
{
public:
    explicit RecordReader(QIODevice &device) : m_device(device) {}
    // The next record; false at the end. A last record without its line end
    // (torn, or still being written) is not given; torn() says there was one.
    bool next(QByteArray *record);
    bool torn() const { return m_torn; }
    // Goes back to a byte offset of the device.
    bool seek(qint64 offset);
    qint64 offset() const { return m_start + m_at; } // just after the last record given

private:
    QIODevice &m_device;
    QByteArray m_buffer;
    qint64 m_start = 0; // device offset of m_buffer[0]
    int m_at = 0;
    bool m_eof = false;
    bool m_torn = false;
};

} // namespace journal

#endif // CSVRECORDS_H
