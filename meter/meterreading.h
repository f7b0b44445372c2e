#ifndef METERREADING_H
#define METERREADING_H

#include "judgement.h"
#include "meterframe.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <functional>

namespace meter {

// One reading the sampling gate accepted, with everything a consumer needs:
// the screen, a journal, a per-cell recorder, statistics or a publisher.
struct MeterReading
{
    QDateTime time;          // when its burst was read (local time)
    quint32 seq = 0;         // number in group mode and x on the plot; restarts when the plot is cleared
    quint32 frameCount = 0;  // the receive counter ("R:") once this frame was counted
    Reading decoded;         // R and V as the meter sent them: unit, overloads, sign, range codes
    Verdict verdict = Verdict::None;
    Limits limits;           // the limits it was judged against
    QString rText, vText;    // the readout texts ("12.3456mΩ", "-3.7012V", "OL mΩ")
    QString rRangeText, vRangeText; // the range button texts in force
    // Where the probes were, as station mode sees it: lifted (open), in
    // contact before the reading settled, or settled; unknown elsewhere.
    enum class Contact : quint8 { Unknown, Open, Settling, Settled };
    Contact contact = Contact::Unknown;

    bool overloaded() const { return decoded.rOverload || decoded.vOverload; }
    double rMilliOhms() const { return meter::rMilliOhms(decoded); }
    // V with its sign.
    double signedVolts() const { return decoded.vNegative ? -decoded.v : decoded.v; }
};

// What one read of the port brought: every frame counted, the accepted ones
// as readings, in order.
struct ReadingBurst
{
    QDateTime time;
    QString port;                // the port the link reads
    QString station;             // the station the meter serves (empty: the program's one)
    QVector<MeterReading> readings;
    int frames = 0;              // whole frames in this burst, accepted or not
    quint32 receiveCount = 0;    // the receive counter after the burst
    qint8 rRangeCode = 0;        // the codes the last frame reported
    qint8 vRangeCode = 0;
    QString rRangeText, vRangeText; // the button texts in force after the burst
};

// A consumer of readings. Sinks are handed each burst in the order they were
// added, record sinks (journal, recorder, publisher) before display sinks,
// so a reading is written before it is shown.
class ReadingSink
{
public:
    virtual ~ReadingSink() = default;
    virtual void takeBurst(const ReadingBurst &burst) = 0;
    // What was taken must now be out of the process: the screen is about to
    // show it. Sinks that write at once need not do anything.
    virtual void flush() {}
};

// A sink made of a function, for consumers that need no class of their own.
class FunctionSink : public ReadingSink
{
public:
    explicit FunctionSink(std::function<void(const ReadingBurst &)> take) : m_take(std::move(take)) {}
    void takeBurst(const ReadingBurst &burst) override { m_take(burst); }

private:
    std::function<void(const ReadingBurst &)> m_take;
};

} // namespace meter

Q_DECLARE_METATYPE(meter::ReadingBurst)

#endif // METERREADING_H
