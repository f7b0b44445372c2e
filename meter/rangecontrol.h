#ifndef RANGECONTROL_H
#define RANGECONTROL_H

#include <QtGlobal>

// The sampling gate and the one-byte range commands sent to the meter.
namespace meter {

constexpr int MaxRCode = 6;
constexpr int MaxVCode = 3;
constexpr char RCommandBase = 0x30;
constexpr char VCommandBase = 0x3A;

// Divisor of the interval box's item at index (interval / 0.5 s); 0 when the
// index is not an item.
quint32 divisorForIntervalIndex(int index);

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
