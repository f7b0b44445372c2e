#ifndef JOURNAL_H
#define JOURNAL_H

#include "csvrecords.h"
#include "dailycsv.h"
#include "isotime.h"
#include "meter/meterreading.h"

namespace journal {

// The CSV columns, in order; also the header line.
extern const char *const kHeader;

// ISO 8601 local time with milliseconds and the UTC offset.
QString isoTime(const QDateTime &time);
// Read back by readIsoTime (isotime.h).
// A plain decimal with "." and no exponent; trailing zeros dropped.
QString plainNumber(double value);

// Every accepted reading as a line of readings-YYYY-MM-DD.csv. A record sink:
// the lines of a burst reach the operating system before the burst is shown.
class Journal : public DailyCsv, public meter::ReadingSink
{
    Q_OBJECT

public:
    Journal(const QString &folder, const QString &station, QObject *parent = nullptr);
    ~Journal() override;

    void takeBurst(const meter::ReadingBurst &burst) override;
    // Hands the lines taken so far to the operating system (before the
    // screen shows them, and at the latest 100 ms after they came).
    void flush() override;
    void close() override;

private:
    QString m_station;
    QByteArray m_stationField;
    meter::Limits m_lastLimits;
    QByteArray m_lastLimitFields;
    QDate m_pendingDay;
    QByteArray m_pending;
    QTimer m_flushTimer;
};

} // namespace journal

#endif // JOURNAL_H
