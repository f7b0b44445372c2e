#include "rangecontrol.h"

namespace meter {

quint32 divisorForIntervalText(const QString &text)
{
    // Half-seconds in the interval: "N秒" is 2N, "N分" is 120N.
    const QString t = text.trimmed();
    int perUnit = 0;
    if (t.endsWith(QStringLiteral("秒")))
        perUnit = 2;
    else if (t.endsWith(QStringLiteral("分")))
        perUnit = 120;
    if (perUnit == 0)
        return 0;
    bool ok = false;
    const double amount = t.left(t.size() - 1).toDouble(&ok);
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
