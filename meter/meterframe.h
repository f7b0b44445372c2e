#ifndef METERFRAME_H
#define METERFRAME_H

#include "protocol.h"

#include <QByteArray>
#include <QString>

#include <cmath>

// The meter's 10-byte reading frame and the texts shown for it. Knows nothing
// of widgets; the window only places these texts.
namespace meter {

constexpr int FrameSize = kMeterProtocol.frameSize;
constexpr double ValueScale = kMeterProtocol.valueScale;
constexpr int FramePeriodMs = kMeterProtocol.framePeriodMs;

// The largest magnitude a frame carries (1677.7215 of its unit) and its
// smallest step (0.0001).
constexpr double kMaxMagnitude = 0xFFFFFF / kMeterProtocol.valueScale;
constexpr double kMagnitudeStep = 1 / kMeterProtocol.valueScale;
// Whether |R| (in mΩ, a reading in Ω kept as mΩ) and |V| are values a meter
// can show; NaN, infinities and numbers past the range are not.
inline bool meterCanShow(double rMilliOhm, double volts)
{
    return std::fabs(rMilliOhm) <= kMaxMagnitude * 1000 && std::fabs(volts) <= kMaxMagnitude;
}

struct Reading
{
    bool milliOhm = false;   // unit of R: mΩ, otherwise Ω
    bool rOverload = false;
    bool vOverload = false;
    bool vNegative = true;   // polarity byte 0
    quint8 rRangeCode = 0;
    quint8 vRangeCode = 0;
    double r = 0.0;          // magnitude / 10000, whatever the unit
    double v = 0.0;          // magnitude / 10000, without sign
};

// Decodes the first FrameSize bytes; bytes past the end read as 0.
Reading decodeFrame(const char *data, int size);
inline Reading decodeFrame(const QByteArray &bytes) { return decodeFrame(bytes.constData(), bytes.size()); }

// Whether a frame is one a working meter can send: both range codes in
// their tables (every polarity byte and flag bit is defined). Used to find
// the frame boundaries again after a stray byte.
bool plausibleFrame(const char *frame);

// Button texts of the range codes; a null string for a code outside the table.
QString rRangeText(int code);
QString vRangeText(int code);

QString fixed4(double value);
QString rLabelText(const Reading &reading);
QString vLabelText(const Reading &reading);
// The R and V pieces of a receive-window line, leading blanks included.
QString rLinePart(const Reading &reading);
QString vLinePart(const Reading &reading);
QString readingLine(const QString &prefix, const Reading &reading);

// Builds a frame as the meter sends it (used by the simulator and tests).
struct FrameFields
{
    bool milliOhm = true;
    bool rOverload = false;
    bool vOverload = false;
    bool vNegative = false;
    quint8 rRangeCode = 6;
    quint8 vRangeCode = 3;
    quint32 rCounts = 0; // 24 bits
    quint32 vCounts = 0; // 24 bits
};
QByteArray encodeFrame(const FrameFields &fields);

} // namespace meter

#endif // METERFRAME_H
