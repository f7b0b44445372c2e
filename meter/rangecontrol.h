#ifndef RANGECONTROL_H
#define RANGECONTROL_H

#include "protocol.h"

#include <QString>

// The sampling gate and the one-byte range commands sent to the meter.
namespace meter {

constexpr int MaxRCode = kMeterProtocol.maxRCode;
constexpr int MaxVCode = kMeterProtocol.maxVCode;
constexpr char RCommandBase = kMeterProtocol.rCommandBase;
constexpr char VCommandBase = kMeterProtocol.vCommandBase;

// Divisor of an interval item's text ("0.5秒", "10秒", "30分"): the interval
// over the meter's 0.5 s; 0 when the text names no interval.
quint32 divisorForIntervalText(const QString &text);

// With divisor n only every n-th received frame is taken.
inline bool gateAccepts(quint32 receiveCount, quint32 divisor)
{
    return divisor != 0 && receiveCount % divisor == 0;
}

// One press of a range button: the code after the press (8-bit signed
// arithmetic, past the largest code back to 0).
qint8 steppedCode(qint8 code, int maxCode);
// The command for a code, or -1 when the code names no range (nothing is sent).
int commandByte(qint8 code, int maxCode, char base);

} // namespace meter

#endif // RANGECONTROL_H
