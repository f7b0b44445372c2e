#include "journal.h"

namespace journal {

const char *const kHeader =
    "time,station,port,seq,r_mohm,v,verdict,r_text,v_text,r_range,v_range,r_low,r_high,v_low,v_high";

namespace {

QString quotedField(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"'))
        && !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString q = field;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString limitField(const meter::Limit &limit)
{
    return limit.state == meter::Limit::Number ? plainNumber(limit.value) : QString();
}

} // namespace

QString plainNumber(double value)
{
    // Readings carry four decimals of the meter's unit; a Ω reading in mΩ
    // carries one. Nine cover limits typed with more.
    QString text = QString::number(value, 'f', 9);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

QString isoTime(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
           + QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

QString csvLine(const meter::MeterReading &reading, const QString &station, const QString &port, const QString &time)
{
    const QLatin1Char comma(',');
    QString verdict;
    if (reading.verdict == meter::Verdict::Pass)
        verdict = QStringLiteral("PASS");
    else if (reading.verdict == meter::Verdict::Ng)
        verdict = QStringLiteral("NG");
    QString line;
    line.reserve(160);
    line += time + comma + quotedField(station) + comma + quotedField(port) + comma
            + QString::number(reading.seq) + comma
            + (reading.decoded.rOverload ? QString() : plainNumber(reading.rMilliOhms())) + comma
            + (reading.decoded.vOverload ? QString() : plainNumber(reading.signedVolts())) + comma + verdict
            + comma + quotedField(reading.rText) + comma + quotedField(reading.vText) + comma
            + quotedField(reading.rRangeText) + comma + quotedField(reading.vRangeText) + comma
            + limitField(reading.limits.rLow) + comma + limitField(reading.limits.rHigh) + comma
            + limitField(reading.limits.vLow) + comma + limitField(reading.limits.vHigh);
    return line;
}

QList<QByteArray> csvFields(const QByteArray &line)
{
    if (!line.contains('"'))
        return line.split(','); // the usual line: no quoting
    QList<QByteArray> out;
    QByteArray cur;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cur += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cur += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    out << cur;
    return out;
}

QString csvField(const QString &field)
{
    return quotedField(field);
}

Journal::Journal(const QString &folder, const QString &station, QObject *parent)
    : DailyCsv(folder, QStringLiteral("readings"), kHeader, parent), m_station(station)
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
        // Writing the time is the dearest part of a line: once per distinct time.
        QDateTime timeOf;
        QString timeText;
        for (; j < n && burst.readings[j].time.date() == day; ++j) {
            if (burst.readings[j].time != timeOf) {
                timeOf = burst.readings[j].time;
                timeText = isoTime(timeOf);
            }
            bytes += csvLine(burst.readings[j], m_station, burst.port, timeText).toUtf8() + '\n';
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
