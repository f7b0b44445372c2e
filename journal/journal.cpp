#include "journal.h"

#include "meter/limitsinforce.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace journal {

const char *const kHeader =
    "time,station,port,seq,r_mohm,v,verdict,r_text,v_text,r_range,v_range,r_low,r_high,v_low,v_high,contact";

namespace {

// Readings carry four decimals of the meter's unit; a Ω reading in mΩ
// carries one. Nine cover limits typed with more. Trailing zeros (and a bare
// ".") dropped, "-0" as "0". to_chars: no locale machinery, as this runs for
// every reading; 400 bytes hold any finite double with nine decimals.
QByteArray plainNumberBytes(double value)
{
    char buffer[400];
    const char *first = buffer;
    const char *last = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 9).ptr;
    if (std::find(first, last, '.') != last) {
        while (last[-1] == '0')
            --last;
        if (last[-1] == '.')
            --last;
    }
    if (last - first == 2 && first[0] == '-' && first[1] == '0')
        return QByteArrayLiteral("0");
    return QByteArray(first, int(last - first));
}

QByteArray limitField(const meter::Limit &limit)
{
    return limit.state == meter::Limit::Number ? plainNumberBytes(limit.value) : QByteArray();
}

QByteArray limitFields(const meter::Limits &limits)
{
    return limitField(limits.rLow) + ',' + limitField(limits.rHigh) + ',' + limitField(limits.vLow) + ','
           + limitField(limits.vHigh);
}

const char *contactText(meter::MeterReading::Contact contact)
{
    switch (contact) {
    case meter::MeterReading::Contact::Open: return "open";
    case meter::MeterReading::Contact::Settling: return "settling";
    case meter::MeterReading::Contact::Settled: return "settled";
    case meter::MeterReading::Contact::Unknown: break;
    }
    return "";
}

// One reading as a journal line in UTF-8, with its line end. What stays the
// same for a burst comes ready: time (isoTime), station and port (quoted)
// and the four limit fields with their commas (limitFields).
void appendCsvLine(QByteArray &out, const meter::MeterReading &reading, const QByteArray &station,
                   const QByteArray &port, const QByteArray &time, const QByteArray &limits)
{
    // Runs for every reading: bytes straight into the line, no QString on the way.
    const auto text = [&out](const QString &field) { out += csvField(field).toUtf8(); };
    out.reserve(out.size() + 160);
    out += time;
    out += ',';
    out += station;
    out += ',';
    out += port;
    out += ',';
    out += QByteArray::number(qulonglong(reading.seq));
    out += ',';
    if (!reading.decoded.rOverload)
        out += plainNumberBytes(reading.rMilliOhms());
    out += ',';
    if (!reading.decoded.vOverload)
        out += plainNumberBytes(reading.signedVolts());
    out += ',';
    if (reading.verdict == meter::Verdict::Pass)
        out += "PASS";
    else if (reading.verdict == meter::Verdict::Ng)
        out += "NG";
    out += ',';
    text(reading.rText);
    out += ',';
    text(reading.vText);
    out += ',';
    text(reading.rRangeText);
    out += ',';
    text(reading.vRangeText);
    out += ',';
    out += limits;
    out += ',';
    out += contactText(reading.contact);
    out += '\n';
}

} // namespace

QString plainNumber(double value)
{
    return QString::fromLatin1(plainNumberBytes(value));
}

QString isoTime(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    const QDate d = time.date();
    const QTime t = time.time();
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", d.year(),
                                d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return QString::fromLatin1(buffer, qBound(0, n, int(sizeof buffer) - 1));
}

Journal::Journal(const QString &folder, const QString &station, QObject *parent)
    : DailyCsv(folder, QLatin1String(kReadingsPrefix), kHeader, parent), m_station(station),
      m_stationField(csvField(station).toUtf8())
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(100);
    connect(&m_flushTimer, &QTimer::timeout, this, &Journal::flush);
}

Journal::~Journal()
{
    flush(); // what was taken goes out before the file closes
}

void Journal::flush()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return;
    QByteArray bytes;
    bytes.swap(m_pending);
    append(m_pendingDay, bytes);
}

void Journal::close()
{
    flush();
    DailyCsv::close();
}

void Journal::takeBurst(const meter::ReadingBurst &burst)
{
    const int n = burst.readings.size();
    int i = 0;
    while (i < n) {
        // The lines of one day go out in one write.
        const QDate day = burst.readings[i].time.date();
        QByteArray bytes;
        int j = i;
        // What a burst's readings share is written once: time, port, limits.
        QDateTime timeOf;
        QByteArray timeText;
        const QByteArray port = csvField(burst.port).toUtf8();
        // Several meters' sessions may share one journal, each naming its station.
        const QByteArray stationField = burst.station.isEmpty() ? m_stationField : csvField(burst.station).toUtf8();
        for (; j < n && burst.readings[j].time.date() == day; ++j) {
            const meter::MeterReading &reading = burst.readings[j];
            if (reading.time != timeOf) {
                timeOf = reading.time;
                timeText = isoTime(timeOf).toLatin1();
            }
            if (m_lastLimitFields.isNull() || reading.limits != m_lastLimits) {
                m_lastLimits = reading.limits;
                m_lastLimitFields = limitFields(reading.limits);
            }
            appendCsvLine(bytes, reading, stationField, port, timeText, m_lastLimitFields);
        }
        // Lines gather until the screen is about to show them (flush()), so a
        // fast stream costs one write per screen update, not one per read.
        if (day != m_pendingDay)
            flush();
        m_pendingDay = day;
        m_pending += bytes;
        if (m_pending.size() > (1 << 16))
            flush();
        else if (!m_flushTimer.isActive())
            m_flushTimer.start();
        i = j;
    }
}

} // namespace journal
