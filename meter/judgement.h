#ifndef JUDGEMENT_H
#define JUDGEMENT_H

#include <QString>

#include "meterframe.h"

// Judging a reading against the operator's four limits, and which alarm sound
// each sound scheme plays for the verdict.
namespace meter {

struct Limit
{
    enum State { Empty, Invalid, Number };
    State state = Empty;
    double value = 0.0;
};

// Reads a limit as typed: an empty (or blank) field is Empty, text that is not
// a finite number is Invalid.
Limit parseLimit(const QString &text);

struct Limits
{
    Limit rLow, rHigh, vLow, vHigh;
    // The window's four fields give a verdict only with all four as
    // numbers; a limit set (R only, V only, or both) judges by the pairs it
    // has.
    bool byWhatIsSet = false;
    bool usable() const;
};

enum class Verdict { None, Pass, Ng };

// r in the unit of the R limits (mΩ); v is the magnitude: the sign of the
// voltage is not judged.
Verdict judge(const Limits &limits, double r, double v);

// R of a reading in milliohms, whatever unit the meter reported it in.
double rMilliOhms(const Reading &reading);
// A reading as the window judges it: R in mΩ, and no verdict at all when the
// meter reports an overload (its magnitude is then not a measurement).
Verdict judge(const Limits &limits, const Reading &reading);

// The six alarm sounds, in the order the window creates them.
enum class AlarmSound { None = -1, Dudu = 0, Zhengchang, Yichang, Pass, Ng, Jingbao };
constexpr int AlarmSoundCount = 6;
const char *alarmSoundResource(AlarmSound sound);

// Sound schemes: 0 正常/异常, 1 PASS/NG, 2 咚咚, 3 警报, 4 无声音.
AlarmSound soundFor(int schemeIndex, Verdict verdict);
// The scheme an item text of the sound box names; -1 for none.
int soundSchemeForText(const QString &text);

} // namespace meter

#endif // JUDGEMENT_H
