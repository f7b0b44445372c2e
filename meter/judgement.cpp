#include "judgement.h"

#include <QCoreApplication>

#include <QStringList>

#include <cmath>

namespace meter {

Limit parseLimit(const QString &text)
{
    Limit limit;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return limit;
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        limit.state = Limit::Invalid;
        return limit;
    }
    limit.state = Limit::Number;
    limit.value = value;
    return limit;
}

namespace {

bool pair(const Limit &low, const Limit &high)
{
    return low.state == Limit::Number && high.state == Limit::Number;
}

bool anyInvalid(const Limits &l)
{
    return l.rLow.state == Limit::Invalid || l.rHigh.state == Limit::Invalid || l.vLow.state == Limit::Invalid
           || l.vHigh.state == Limit::Invalid;
}

} // namespace

bool Limits::usable() const
{
    if (byWhatIsSet)
        return !anyInvalid(*this) && (pair(rLow, rHigh) || pair(vLow, vHigh));
    return pair(rLow, rHigh) && pair(vLow, vHigh);
}

Verdict judge(const Limits &limits, double r, double v)
{
    if (!limits.usable())
        return Verdict::None;
    const bool rNg = pair(limits.rLow, limits.rHigh) && (limits.rLow.value > r || r > limits.rHigh.value);
    const bool vNg = pair(limits.vLow, limits.vHigh) && (limits.vLow.value > v || v > limits.vHigh.value);
    return rNg || vNg ? Verdict::Ng : Verdict::Pass;
}

double rMilliOhms(const Reading &reading)
{
    return reading.milliOhm ? reading.r : reading.r * 1000.0;
}

Verdict judge(const Limits &limits, const Reading &reading)
{
    if (reading.rOverload || reading.vOverload)
        return Verdict::None;
    return judge(limits, rMilliOhms(reading), reading.v);
}

const char *alarmSoundResource(AlarmSound sound)
{
    switch (sound) {
    case AlarmSound::Dudu: return ":/wav/901040.wav";
    case AlarmSound::Zhengchang: return ":/wav/zhengchang.wav";
    case AlarmSound::Yichang: return ":/wav/yichang.wav";
    case AlarmSound::Pass: return ":/wav/pass.wav";
    case AlarmSound::Ng: return ":/wav/ng.wav";
    case AlarmSound::Jingbao: return ":/wav/jingbao.wav";
    case AlarmSound::None: break;
    }
    return "";
}

AlarmSound soundFor(int schemeIndex, Verdict verdict)
{
    if (verdict == Verdict::None)
        return AlarmSound::None;
    const bool ng = verdict == Verdict::Ng;
    switch (schemeIndex) {
    case 0: return ng ? AlarmSound::Yichang : AlarmSound::Zhengchang; // 正常/异常
    case 1: return ng ? AlarmSound::Ng : AlarmSound::Pass;            // PASS/NG
    case 2: return ng ? AlarmSound::Dudu : AlarmSound::None;          // 咚咚
    case 3: return ng ? AlarmSound::Jingbao : AlarmSound::None;       // 警报
    default: return AlarmSound::None;                                 // 无声音
    }
}

int soundSchemeForText(const QString &text)
{
    // The window's item texts, in Chinese or as its catalogue gives them.
    static const char *const names[] = {"正常/异常", "PASS/NG", "咚咚", "警报", "无声音"};
    for (int i = 0; i < 5; ++i)
        if (text == QString::fromUtf8(names[i]) || text == QCoreApplication::translate("MainWindow", names[i]))
            return i;
    return -1;
}

} // namespace meter
