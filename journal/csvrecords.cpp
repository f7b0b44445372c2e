#include "csvrecords.h"

#include <cctype>
#include <charconv>
#include <limits>

#include <QCoreApplication>

#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QSet>

#include <algorithm>

#include <cstring>

namespace journal {

namespace {

bool formulaStart(char c)
{
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// ^'*[=+\-@\t\r]: a spreadsheet's formula, or something that read back
// would look like a guarded one.
bool guarded(const QString &s)
{
    int i = 0;
    while (i < s.size() && s[i] == QLatin1Char('\''))
        ++i;
    return i < s.size() && formulaStart(s[i].toLatin1());
}

bool guarded(const QByteArray &s, int from)
{
    int i = from;
    while (i < s.size() && s[i] == '\'')
        ++i;
    return i < s.size() && formulaStart(s[i]);
}

bool digit(char c)
{
    return c >= '0' && c <= '9';
}

enum class Start { No, Yes, Maybe };

// Whether data[i] starts a record ("YYYY-MM-DDT…") or a header ("time,"),
// or cannot tell yet: what is there so far fits one of them.
Start recordStartsAt(const QByteArray &data, int i)
{
    static const char *const patterns[] = {"dddd-dd-ddT", "time,"};
    bool maybe = false;
    for (const char *pattern : patterns) {
        const int need = int(std::strlen(pattern));
        int k = 0;
        for (; k < need && i + k < data.size(); ++k) {
            const char c = data[i + k];
            if (pattern[k] == 'd' ? !digit(c) : c != pattern[k])
                break;
        }
        if (k == need)
            return Start::Yes;
        if (i + k == data.size())
            maybe = true;
    }
    return maybe ? Start::Maybe : Start::No;
}

} // namespace

const char *const kReadingsPrefix = "readings";
const char *const kCellsPrefix = "cells";
const char *const kPacksPrefix = "packs";

QString dailyFileName(const QString &prefix, const QDate &day)
{
    return prefix + day.toString(QStringLiteral("'-'yyyy-MM-dd'.csv'"));
}

QDate dailyFileDay(const QString &fileName, const QString &prefix)
{
    if (fileName.size() != prefix.size() + 15 || !fileName.startsWith(prefix + QLatin1Char('-'))
        || !fileName.endsWith(QLatin1String(".csv")))
        return QDate();
    return QDate::fromString(fileName.mid(prefix.size() + 1, 10), QStringLiteral("yyyy-MM-dd"));
}

QString dailyFilePattern(const QString &prefix)
{
    return prefix + QStringLiteral("-[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9].csv");
}

QStringList findDailyFiles(const QStringList &paths, const QStringList &prefixes,
                           const std::function<bool(const QDate &)> &wantDay, QStringList *problems)
{
    auto dayOf = [&](const QString &name) {
        for (const QString &prefix : prefixes) {
            const QDate day = dailyFileDay(name, prefix);
            if (day.isValid())
                return day;
        }
        return QDate();
    };
    auto wanted = [&](const QString &name) {
        const QDate day = dayOf(name);
        return day.isValid() && (!wantDay || wantDay(day));
    };
    QStringList files;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            QStringList folders {path};
            for (const QString &sub : QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                folders << QDir(path).filePath(sub);
            for (const QString &folder : qAsConst(folders)) {
                const QDir dir(folder);
                for (const QString &name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files | QDir::System, QDir::Name))
                    if (wanted(name))
                        files << dir.filePath(name);
            }
        } else if (info.exists() || info.isSymLink()) {
            if (wanted(info.fileName()))
                files << path;
            else if (problems && !dayOf(info.fileName()).isValid()) {
                QStringList names;
                for (const QString &prefix : prefixes)
                    names << prefix + QStringLiteral("-YYYY-MM-DD.csv");
                *problems << QCoreApplication::translate("Journal", "%1：不是 %2，未读").arg(path, names.join(QCoreApplication::translate("Journal", " 或 ")));
            }
        } else if (problems) {
            *problems << QCoreApplication::translate("Journal", "%1：不存在").arg(path);
        }
    }
    // A folder reached twice (a link to it, or named twice) is read once.
    QSet<QString> seen;
    QStringList unique;
    for (const QString &f : qAsConst(files)) {
        const QString canonical = QFileInfo(f).canonicalFilePath();
        if (!seen.contains(canonical.isEmpty() ? f : canonical)) {
            seen.insert(canonical.isEmpty() ? f : canonical);
            unique << f;
        }
    }
    // Day by day, the prefixes' files of a day together: time order across files.
    std::sort(unique.begin(), unique.end(), [](const QString &a, const QString &b) {
        const QString da = QFileInfo(a).fileName().section('-', 1), db = QFileInfo(b).fileName().section('-', 1);
        return da != db ? da < db : a < b;
    });
    return unique;
}

QString csvField(const QString &field)
{
    QString f = field;
    if (guarded(f))
        f.prepend(QLatin1Char('\''));
    if (!f.contains(QLatin1Char(',')) && !f.contains(QLatin1Char('"')) && !f.contains(QLatin1Char('\n'))
        && !f.contains(QLatin1Char('\r')))
        return f;
    f.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + f + QLatin1Char('"');
}

QList<QByteArray> csvFields(const QByteArray &record)
{
    QList<QByteArray> out;
    if (!record.contains('"') && !record.contains('\'')) {
        out = record.split(','); // the usual line: nothing quoted or guarded
        return out;
    }
    QByteArray cur;
    bool quoted = false;
    auto take = [&out, &cur] {
        if (cur.startsWith('\'') && guarded(cur, 1))
            cur.remove(0, 1);
        out << cur;
        cur.clear();
    };
    for (int i = 0; i < record.size(); ++i) {
        const char c = record[i];
        if (quoted) {
            if (c == '"' && i + 1 < record.size() && record[i + 1] == '"') {
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
            take();
        } else {
            cur += c;
        }
    }
    take();
    return out;
}

void FieldViews::split(const QByteArray &record)
{
    const char *p = record.constData(), *const end = p + record.size();
    const size_t n = size_t(record.size());
    if (std::memchr(p, '"', n) || std::memchr(p, '\'', n)) { // quoted or guarded: undone in copies, rarely
        const QList<QByteArray> fields = csvFields(record);
        m_size = fields.size();
        if (m_fields.size() < m_size)
            m_fields.resize(m_size);
        std::copy(fields.begin(), fields.end(), m_fields.begin());
        return;
    }
    m_size = 0;
    for (;;) {
        const char *comma = static_cast<const char *>(std::memchr(p, ',', size_t(end - p)));
        const char *stop = comma ? comma : end;
        if (m_size == m_fields.size())
            m_fields.append(QByteArray());
        m_fields[m_size++].setRawData(p, uint(stop - p)); // reuses the view's header once it is one
        if (!comma)
            return;
        p = comma + 1;
    }
}

double fieldNumber(const QByteArray &field, bool *ok)
{
    // Qt reads these words exactly as they are, and no other.
    if (field == "nan" || field == "inf" || field == "+inf" || field == "-inf") {
        *ok = true;
        return field == "nan" ? std::numeric_limits<double>::quiet_NaN()
                              : field[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    const char *p = field.constData(), *end = p + field.size();
    while (p < end && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    while (end > p && std::isspace(static_cast<unsigned char>(end[-1])))
        --end;
    if (p < end && *p == '+' && end - p > 1 && p[1] != '-' && p[1] != '+')
        ++p;
    const char *digits = p < end && (*p == '-' || *p == '+') ? p + 1 : p;
    if (digits < end && std::isalpha(static_cast<unsigned char>(*digits))) {
        *ok = false; // a word other than those above
        return 0.0;
    }
    double value = 0;
    const auto [stop, error] = std::from_chars(p, end, value);
    *ok = p < end && error == std::errc() && stop == end;
    return *ok ? value : 0.0;
}

bool isHeaderRecord(const QByteArray &record)
{
    return record.startsWith("time,") || record.startsWith("\xEF\xBB\xBFtime,");
}

int recordEnd(const QByteArray &data, int from, bool final)
{
    const char *d = data.constData();
    const int n = data.size();
    const void *nl = from < n ? std::memchr(d + from, '\n', size_t(n - from)) : nullptr;
    if (!nl)
        return -1;
    const int first = int(static_cast<const char *>(nl) - d);
    if (!std::memchr(d + from, '"', size_t(first - from)))
        return first; // the usual record: nothing quoted
    bool quoted = false;
    for (int i = from; i < n; ++i) {
        const char c = d[i];
        if (c == '"') {
            quoted = !quoted; // a doubled quote toggles twice
        } else if (c == '\n' && !quoted) {
            return i;
        } else if (c == '\n') {
            switch (recordStartsAt(data, i + 1)) {
            case Start::Yes: return i; // a torn quote: the next line is a record of its own
            case Start::Maybe:
                if (!final)
                    return -1; // too little after it to tell yet
                break;
            case Start::No: break;
            }
        }
    }
    return -1;
}

bool RecordReader::seek(qint64 offset)
{
    m_buffer.clear();
    m_start = offset;
    m_at = 0;
    m_eof = false;
    m_torn = false;
    return m_device.seek(offset);
}

bool RecordReader::next(QByteArray *record)
{
    for (;;) {
        const int end = recordEnd(m_buffer, m_at, m_eof);
        if (end >= 0) {
            int stop = end;
            if (stop > m_at && m_buffer[stop - 1] == '\r')
                --stop;
            *record = m_buffer.mid(m_at, stop - m_at);
            m_at = end + 1;
            return true;
        }
        if (m_eof) {
            m_torn = m_at < m_buffer.size();
            return false;
        }
        if (m_at > 0) {
            m_buffer.remove(0, m_at);
            m_start += m_at;
            m_at = 0;
        }
        const QByteArray more = m_device.read(1 << 20);
        if (more.isEmpty())
            m_eof = true;
        m_buffer += more;
    }
}

QList<QByteArray> headerFields(QByteArray record)
{
    if (record.startsWith("\xEF\xBB\xBF"))
        record.remove(0, 3);
    return csvFields(record.trimmed());
}

} // namespace journal
