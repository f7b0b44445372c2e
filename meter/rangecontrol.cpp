#include "rangecontrol.h"

#include <utility>

namespace meter {

quint32 divisorForIntervalText(const QString &text)
{
    // Half-seconds in the interval: "N秒" is 2N, "N分" is 120N; the English
    // face's items say "N s" and "N min".
    const QString t = text.trimmed();
    int perUnit = 0, unitLength = 0;
    for (const auto &[unit, halves] : {std::pair<const char *, int>("秒", 2), {"分", 120}, {" s", 2}, {" min", 120}}) {
        if (t.endsWith(QString::fromUtf8(unit))) {
            perUnit = halves;
            unitLength = QString::fromUtf8(unit).size();
            break;
        }
    }
    if (perUnit == 0)
        return 0;
    bool ok = false;
    const double amount = t.left(t.size() - unitLength).toDouble(&ok);
    const double halves = amount * perUnit;
    if (!ok || halves < 1 || halves > 1e9 || halves != double(quint32(halves)))
        return 0;
    return quint32(halves);
}

qint8 steppedCode(qint8 code, int maxCode)
{
    qint8 next = qint8(quint8(code) + 1);
    if (next > maxCode)
        next = 0;
    return next;
}

int commandByte(qint8 code, int maxCode, char base)
{
    if (code < 0 || code > maxCode)
        return -1;
    return base + code;
}

} // namespace meter
