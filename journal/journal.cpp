#include "journal.h"

#include "platform/filesync.h"

#include <QDir>
#include <QFileInfo>

namespace journal {

const char *const kHeader =
    "time,station,port,seq,r_mohm,v,verdict,r_text,v_text,r_range,v_range,r_low,r_high,v_low,v_high";

namespace {

QString quoted(const QString &field)
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

QString csvLine(const meter::MeterReading &reading, const QString &station, const QString &port)
{
    const QLatin1Char comma(',');
    QString verdict;
    if (reading.verdict == meter::Verdict::Pass)
        verdict = QStringLiteral("PASS");
    else if (reading.verdict == meter::Verdict::Ng)
        verdict = QStringLiteral("NG");
    QString line;
    line.reserve(160);
    line += isoTime(reading.time) + comma + quoted(station) + comma + quoted(port) + comma
            + QString::number(reading.seq) + comma
            + (reading.decoded.rOverload ? QString() : plainNumber(reading.rMilliOhms())) + comma
            + (reading.decoded.vOverload ? QString() : plainNumber(reading.signedVolts())) + comma + verdict
            + comma + quoted(reading.rText) + comma + quoted(reading.vText) + comma
            + quoted(reading.rRangeText) + comma + quoted(reading.vRangeText) + comma
            + limitField(reading.limits.rLow) + comma + limitField(reading.limits.rHigh) + comma
            + limitField(reading.limits.vLow) + comma + limitField(reading.limits.vHigh);
    return line;
}

Journal::Journal(const QString &folder, const QString &station, QObject *parent)
    : QObject(parent), m_folder(folder), m_station(station)
{
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(1000);
    connect(&m_syncTimer, &QTimer::timeout, this, &Journal::sync);
    m_retry.setInterval(3000);
    connect(&m_retry, &QTimer::timeout, this, &Journal::retry);
}

Journal::~Journal()
{
    close();
}

QString Journal::fileFor(const QDate &day) const
{
    return QDir(m_folder).filePath(day.toString(QStringLiteral("'readings-'yyyy-MM-dd'.csv'")));
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
        for (; j < n && burst.readings[j].time.date() == day; ++j)
            bytes += csvLine(burst.readings[j], m_station, burst.port).toUtf8() + '\n';
        if (m_paused || !write(day, bytes)) {
            // Kept line by line, in order, until writing works again.
            const QList<QByteArray> lines = bytes.split('\n');
            for (const QByteArray &line : lines) {
                if (line.isEmpty())
                    continue;
                if (int(m_backlog.size()) >= m_backlogLimit)
                    ++m_lost; // said on the indicator: never silent
                else
                    m_backlog.push_back({day, line + '\n'});
            }
            if (!m_paused)
                pause(m_reason);
            else
                emit stateChanged();
        }
        i = j;
    }
}

bool Journal::openFor(const QDate &day)
{
    if (m_file.isOpen() && m_day == day)
        return true;
    close();
    if (!QDir().mkpath(m_folder)) {
        m_reason = QStringLiteral("无法建立文件夹 %1").arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    const QString path = fileFor(day);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        m_reason = QStringLiteral("%1 不是普通文件").arg(QDir::toNativeSeparators(path));
        return false;
    }
    // A last line torn by a power cut is left as it is (readers skip lines
    // with the wrong number of fields); writing goes on on a fresh line.
    bool torn = false;
    if (info.exists() && info.size() > 0) {
        QFile tail(path);
        if (tail.open(QIODevice::ReadOnly) && tail.seek(info.size() - 1))
            torn = tail.read(1) != "\n";
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_reason = QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(path), m_file.errorString());
        return false;
    }
    QByteArray start;
    if (m_file.size() == 0)
        start = QByteArray("\xEF\xBB\xBF") + kHeader + '\n'; // the BOM keeps "Ω" intact in spreadsheets
    else if (torn)
        start = "\n";
    if (!start.isEmpty() && (m_file.write(start) != start.size() || !m_file.flush())) {
        m_reason = QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(path), m_file.errorString());
        m_file.close();
        return false;
    }
    m_day = day;
    return true;
}

bool Journal::write(const QDate &day, const QByteArray &bytes)
{
    if (!openFor(day))
        return false;
    const qint64 before = m_file.size();
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        m_reason = QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(m_file.fileName()), m_file.errorString());
        // No half line stays behind: the lines wait and are written again.
        m_file.resize(before);
        m_file.close();
        return false;
    }
    m_written += quint64(bytes.count('\n'));
    if (!m_syncTimer.isActive())
        m_syncTimer.start();
    return true;
}

void Journal::pause(const QString &reason)
{
    m_paused = true;
    m_reason = reason;
    m_retry.start();
    emit stateChanged();
}

void Journal::retry()
{
    while (!m_backlog.empty()) {
        const QDate day = m_backlog.front().day;
        QByteArray bytes;
        size_t taken = 0;
        for (const Pending &p : m_backlog) {
            if (p.day != day || taken >= 10000)
                break;
            bytes += p.line;
            ++taken;
        }
        if (!write(day, bytes)) {
            emit stateChanged(); // the reason may have changed
            return;
        }
        m_backlog.erase(m_backlog.begin(), m_backlog.begin() + long(taken));
    }
    m_paused = false;
    m_reason.clear();
    m_retry.stop();
    emit stateChanged();
}

void Journal::sync()
{
    if (m_file.isOpen())
        syncToDisk(m_file);
}

void Journal::close()
{
    m_syncTimer.stop();
    if (m_file.isOpen()) {
        syncToDisk(m_file);
        m_file.close();
    }
}

} // namespace journal
