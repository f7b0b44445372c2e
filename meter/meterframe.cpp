#include "meterframe.h"

#include <charconv>

namespace meter {

namespace {

inline quint8 byteAt(const char *data, int size, int offset)
{
    return offset < size ? static_cast<quint8>(data[offset]) : 0;
}

inline quint32 magnitudeAt(const char *data, int size, int offset)
{
    return quint32(byteAt(data, size, offset)) | quint32(byteAt(data, size, offset + 1)) << 8
           | quint32(byteAt(data, size, offset + 2)) << 16;
}

const QString kMilliOhm = QStringLiteral("mΩ");
const QString kOhm = QStringLiteral("Ω");

} // namespace

Reading decodeFrame(const char *data, int size)
{
    Reading reading;
    const quint8 flags = byteAt(data, size, 0);
    reading.milliOhm = ((flags >> 6) & 0x3) == 0x1;
    reading.rOverload = ((flags >> 4) & 0x3) == 0x2;
    reading.vOverload = ((flags >> 2) & 0x3) == 0x2;
    reading.rRangeCode = byteAt(data, size, 1);
    reading.r = magnitudeAt(data, size, 2) / ValueScale;
    reading.vNegative = byteAt(data, size, 5) == 0;
    reading.vRangeCode = byteAt(data, size, 6);
    reading.v = magnitudeAt(data, size, 7) / ValueScale;
    return reading;
}

bool plausibleFrame(const char *frame)
{
    const quint8 flags = quint8(frame[0]);
    const quint8 rCode = quint8(frame[1]);
    const quint8 polarity = quint8(frame[5]);
    const quint8 vCode = quint8(frame[6]);
    return (flags & 0x03) == 0 && rCode <= 6 && polarity <= 1 && vCode <= 3;
}

QString rRangeText(int code)
{
    static const QString texts[] = {QStringLiteral("2mΩ"),  QStringLiteral("20mΩ"),
                                    QStringLiteral("200mΩ"), QStringLiteral("2Ω"),
                                    QStringLiteral("20Ω"),  QStringLiteral("200Ω"),
                                    QStringLiteral("AUTO")};
    return code >= 0 && code <= 6 ? texts[code] : QString();
}

QString vRangeText(int code)
{
    static const QString texts[] = {QStringLiteral("2V"), QStringLiteral("20V"),
                                    QStringLiteral("100V"), QStringLiteral("AUTO")};
    return code >= 0 && code <= 3 ? texts[code] : QString();
}

QString fixed4(double value)
{
    // Twice per reading: to_chars gives the same digits as QString::number
    // without the locale machinery.
    char buffer[64];
    if (value == 0)
        value = 0; // Qt writes -0 as "0.0000"
    const std::to_chars_result end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4);
    if (end.ec != std::errc())
        return QString::number(value, 'f', 4);
    return QString::fromLatin1(buffer, int(end.ptr - buffer));
}

QString rLabelText(const Reading &reading)
{
    const QString &unit = reading.milliOhm ? kMilliOhm : kOhm;
    if (reading.rOverload)
        return QStringLiteral("OL ") + unit;
    return fixed4(reading.r) + unit;
}

QString vLabelText(const Reading &reading)
{
    if (reading.vOverload)
        return reading.vNegative ? QStringLiteral("- OL V") : QStringLiteral(" OL V");
    return (reading.vNegative ? QStringLiteral("-") : QString()) + fixed4(reading.v)
           + QLatin1Char('V');
}

QString rLinePart(const Reading &reading)
{
    return QStringLiteral("  ") + rLabelText(reading);
}

QString vLinePart(const Reading &reading)
{
    if (reading.vOverload)
        return reading.vNegative ? QStringLiteral("- OL V") : QStringLiteral(" OL V");
    return (reading.vNegative ? QStringLiteral("  -") : QStringLiteral("  ")) + fixed4(reading.v)
           + QLatin1Char('V');
}

QString readingLine(const QString &prefix, const Reading &reading)
{
    return prefix + rLinePart(reading) + vLinePart(reading);
}

QByteArray encodeFrame(const FrameFields &f)
{
    QByteArray frame(FrameSize, '\0');
    quint8 flags = f.milliOhm ? 0x40 : 0x00;
    if (f.rOverload)
        flags |= 0x20;
    if (f.vOverload)
        flags |= 0x08;
    frame[0] = char(flags);
    frame[1] = char(f.rRangeCode);
    frame[2] = char(f.rCounts & 0xFF);
    frame[3] = char((f.rCounts >> 8) & 0xFF);
    frame[4] = char((f.rCounts >> 16) & 0xFF);
    frame[5] = char(f.vNegative ? 0 : 1);
    frame[6] = char(f.vRangeCode);
    frame[7] = char(f.vCounts & 0xFF);
    frame[8] = char((f.vCounts >> 8) & 0xFF);
    frame[9] = char((f.vCounts >> 16) & 0xFF);
    return frame;
}

} // namespace meter
