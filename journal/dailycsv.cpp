#include "dailycsv.h"
#include "platform/punctuation.h"

#include <QCoreApplication>

#include "platform/filesync.h"
#include "csvrecords.h"
#include "platform/regularfile.h"

#include <QDir>

#include <cerrno>
#include <QFileInfo>

namespace journal {

DailyCsv::DailyCsv(const QString &folder, const QString &prefix, const QByteArray &header, QObject *parent)
    : QObject(parent), m_folder(folder), m_prefix(prefix), m_header(header)
{
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(1000);
    connect(&m_syncTimer, &QTimer::timeout, this, &DailyCsv::sync);
    m_retry.setInterval(3000);
    connect(&m_retry, &QTimer::timeout, this, &DailyCsv::retry);
}

DailyCsv::~DailyCsv()
{
    close();
}

QString DailyCsv::fileFor(const QDate &day) const
{
    return QDir(m_folder).filePath(dailyFileName(m_prefix, day));
}

void DailyCsv::append(const QDate &day, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (!m_paused && write(day, bytes))
        return;
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

bool DailyCsv::openFor(const QDate &day)
{
    if (m_file.isOpen() && m_day == day) {
        // The folder deleted, the file renamed away or replaced: lines written
        // now would go into a file nobody can find again.
        if (pathStillNamesFile(m_file, m_path))
            return true;
        m_file.close();
        m_day = QDate();
    }
    close();
    if (!QDir().mkpath(m_folder)) {
        m_reason = QCoreApplication::translate("Journal", "无法建立文件夹 %1").arg(QDir::toNativeSeparators(m_folder));
        return false;
    }
    if (m_guard && !m_guard(&m_reason))
        return false;
    const QString path = fileFor(day);
    // Unbuffered: a write the file system takes only in part (a size limit)
    // is undone by a truncation that no buffered rest can get in the way of.
    if (!openRegularFile(m_file, path, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered, &m_reason))
        return false;
    m_path = path;
    // A last line torn by a power cut is left as it is (readers skip lines
    // with the wrong number of fields); writing goes on on a fresh line.
    const qint64 size = m_file.size();
    bool torn = false;
    if (size > 0 && m_file.seek(size - 1))
        torn = m_file.read(1) != "\n";
    QByteArray start;
    if (size == 0)
        start = QByteArray("\xEF\xBB\xBF") + m_header + '\n'; // the BOM keeps "Ω" intact in spreadsheets
    else if (torn)
        start = "\n";
    if (size > 0 && m_file.seek(0)) {
        // A file begun by an older version has other columns: the header
        // goes in again, and readers take the columns from it on.
        QByteArray first = m_file.readLine(4096).trimmed();
        if (first.startsWith("\xEF\xBB\xBF"))
            first.remove(0, 3);
        if (first != m_header && isHeaderRecord(first))
            start += m_header + '\n';
    }
    if (!start.isEmpty() && (m_file.write(start) != start.size() || !m_file.flush())) {
        m_reason = punctuation::reason(QDir::toNativeSeparators(path), m_file.errorString());
        m_file.close();
        return false;
    }
    m_day = day;
    return true;
}

bool DailyCsv::write(const QDate &day, const QByteArray &bytes)
{
    if (!openFor(day))
        return false;
    const qint64 before = m_file.size();
    errno = 0;
    const qint64 wrote = m_file.write(bytes);
    if (wrote != bytes.size() || !m_file.flush()) {
        // A write taken in part (a size limit) leaves Qt without words for it.
        const QString why = wrote != bytes.size() && errno != 0 ? qt_error_string(errno) : m_file.errorString();
        m_reason = punctuation::reason(QDir::toNativeSeparators(m_path), why);
        // No half line stays behind: the lines wait and are written again.
        m_file.resize(before);
        m_file.close();
        return false;
    }
    m_written += quint64(bytes.count('\n'));
    if (!m_syncTimer.isActive())
        m_syncTimer.start();
    emit appended(day);
    return true;
}

void DailyCsv::pause(const QString &reason)
{
    m_paused = true;
    m_reason = reason;
    m_retry.start();
    emit stateChanged();
}

void DailyCsv::retry()
{
    if (m_backlog.empty() && m_day.isValid() && !openFor(m_day)) {
        emit stateChanged(); // the reason may have changed
        return;
    }
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

bool DailyCsv::writeWaitingNow()
{
    if (!m_backlog.empty())
        retry();
    return m_backlog.empty();
}

bool DailyCsv::writeWaitingTo(const QString &folder, QString *reason)
{
    if (m_backlog.empty())
        return true;
    DailyCsv other(folder, m_prefix, m_header);
    for (const Pending &p : m_backlog)
        other.append(p.day, p.line);
    other.close();
    if (other.paused() || other.waiting() > 0) {
        if (reason)
            *reason = other.reason();
        return false;
    }
    m_backlog.clear();
    m_paused = false;
    m_reason.clear();
    m_retry.stop();
    emit stateChanged();
    return true;
}

void DailyCsv::sync()
{
    if (!m_file.isOpen())
        return;
    syncToDisk(m_file);
    // A file that vanished is made anew with the next lines; one that
    // cannot be made pauses now rather than at the next reading.
    if (!pathStillNamesFile(m_file, m_path) && !openFor(m_day) && !m_paused)
        pause(m_reason);
}

void DailyCsv::close()
{
    m_syncTimer.stop();
    if (m_file.isOpen()) {
        syncToDisk(m_file);
        m_file.close();
    }
}

} // namespace journal
