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
    constexpr const Protocol &p = kMeterProtocol;
    Reading reading;
    const quint8 flags = byteAt(data, size, p.flagsAt);
    reading.milliOhm = ((flags >> 6) & 0x3) == 0x1;
    reading.rOverload = ((flags >> 4) & 0x3) == 0x2;
    reading.vOverload = ((flags >> 2) & 0x3) == 0x2;
    reading.rRangeCode = byteAt(data, size, p.rRangeAt);
    reading.r = magnitudeAt(data, size, p.rValueAt) / p.valueScale;
    reading.vNegative = byteAt(data, size, p.polarityAt) == 0;
    reading.vRangeCode = byteAt(data, size, p.vRangeAt);
    reading.v = magnitudeAt(data, size, p.vValueAt) / p.valueScale;
    return reading;
}

bool plausibleFrame(const char *frame)
{
    constexpr const Protocol &p = kMeterProtocol;
    // Any polarity byte and any flags are defined (polarity: 0 negative,
    // anything else positive; flag bits 1-0 unused); the range codes are not.
    const quint8 rCode = quint8(frame[p.rRangeAt]);
    const quint8 vCode = quint8(frame[p.vRangeAt]);
    return rCode <= p.maxRCode && vCode <= p.maxVCode;
}

QString rRangeText(int code)
{
    static const QString texts[] = {QStringLiteral("2mΩ"),  QStringLiteral("20mΩ"),
                                    QStringLiteral("200mΩ"), QStringLiteral("2Ω"),
                                    QStringLiteral("20Ω"),  QStringLiteral("200Ω"),
                                    QStringLiteral("AUTO")};
    static_assert(sizeof texts / sizeof texts[0] == kMeterProtocol.maxRCode + 1, "one text per R range code");
    return code >= 0 && code <= kMeterProtocol.maxRCode ? texts[code] : QString();
}

QString vRangeText(int code)
{
    static const QString texts[] = {QStringLiteral("2V"), QStringLiteral("20V"),
                                    QStringLiteral("100V"), QStringLiteral("AUTO")};
    static_assert(sizeof texts / sizeof texts[0] == kMeterProtocol.maxVCode + 1, "one text per V range code");
    return code >= 0 && code <= kMeterProtocol.maxVCode ? texts[code] : QString();
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
    constexpr const Protocol &p = kMeterProtocol;
    QByteArray frame(p.frameSize, '\0');
    quint8 flags = f.milliOhm ? 0x40 : 0x00;
    if (f.rOverload)
        flags |= 0x20;
    if (f.vOverload)
        flags |= 0x08;
    auto magnitude = [&frame](int at, quint32 counts) {
        frame[at] = char(counts & 0xFF);
        frame[at + 1] = char((counts >> 8) & 0xFF);
        frame[at + 2] = char((counts >> 16) & 0xFF);
    };
    frame[p.flagsAt] = char(flags);
    frame[p.rRangeAt] = char(f.rRangeCode);
    magnitude(p.rValueAt, f.rCounts);
    frame[p.polarityAt] = char(f.vNegative ? 0 : 1);
    frame[p.vRangeAt] = char(f.vRangeCode);
    magnitude(p.vValueAt, f.vCounts);
    return frame;
}

} // namespace meter
