#ifndef ISOTIME_H
#define ISOTIME_H

#include <QDate>
#include <QDateTime>
#include <QString>

// The journal's time read back (header only, Qt Core only: the ingest reads
// the stations' times with it too). isoTime's own shape,
// 2026-11-05T03:25:12.500+08:00 or with Z, is read by hand; any other shape
// goes to Qt's reader. False when the text is no time.
namespace journal {

namespace isotime {

inline int digits(const char *p, int n, bool *ok)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        *ok = *ok && p[i] >= '0' && p[i] <= '9';
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
inline qint64 daysFromCivil(qint64 y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

} // namespace isotime

inline bool readIsoTime(const char *s, int n, qint64 *ms)
{
    using isotime::digits;
    bool ok = n >= 20 && s[4] == '-' && s[7] == '-' && s[10] == 'T' && s[13] == ':' && s[16] == ':';
    int at = 19, milli = 0, offset = 0;
    if (ok && s[at] == '.' && n >= at + 4) {
        milli = digits(s + at + 1, 3, &ok);
        at += 4;
    }
    if (ok && n == at + 1 && s[at] == 'Z') {
    } else if (ok && n == at + 6 && (s[at] == '+' || s[at] == '-') && s[at + 3] == ':') {
        const int h = digits(s + at + 1, 2, &ok), m = digits(s + at + 4, 2, &ok);
        ok = ok && h <= 23 && m <= 59;
        offset = (s[at] == '-' ? -1 : 1) * (h * 3600 + m * 60);
    } else {
        ok = false;
    }
    if (ok) {
        const int y = digits(s, 4, &ok), mo = digits(s + 5, 2, &ok), d = digits(s + 8, 2, &ok);
        const int h = digits(s + 11, 2, &ok), mi = digits(s + 14, 2, &ok), sec = digits(s + 17, 2, &ok);
        if (ok && QDate::isValid(y, mo, d) && h <= 23 && mi <= 59 && sec <= 59) {
            *ms = ((isotime::daysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + sec * 1000 + milli - qint64(offset) * 1000;
            return true;
        }
    }
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(s, n), Qt::ISODateWithMs);
    if (!t.isValid())
        return false;
    *ms = t.toMSecsSinceEpoch();
    return true;
}

inline bool readIsoTime(const QByteArray &text, qint64 *ms)
{
    return readIsoTime(text.constData(), text.size(), ms);
}

} // namespace journal

#endif // ISOTIME_H
