#include "rangecontrol.h"

namespace meter {

quint32 divisorForIntervalIndex(int index)
{
    static const quint32 divisors[] = {1,  2,  4,  6,  8,   10,  12,   14,   16,
                                       18, 20, 30, 40, 60, 120, 1200, 3600, 7200};
    constexpr int count = int(sizeof(divisors) / sizeof(divisors[0]));
    return index >= 0 && index < count ? divisors[index] : 0;
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
