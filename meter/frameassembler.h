#ifndef FRAMEASSEMBLER_H
#define FRAMEASSEMBLER_H

#include <QByteArray>

namespace meter {

// Cuts the received byte stream into whole frames. The serial port delivers
// bytes in chunks of any size: a frame may be split over two chunks and one
// chunk may carry several frames. A partial frame that gets no more bytes for
// longer than the stale time is dropped, so the next frame starts aligned.
//
// Frames carry no header, so one stray byte would shift every later frame.
// With a plausibility check, a frame no meter can send is never passed on:
// its bytes are dropped (and counted) up to where the stream is best
// explained again: of every way to read the bytes ahead as plausible frames
// and dropped bytes, the one that drops fewest bytes in fewest places and
// has the meter change its unit, ranges or polarity least often (a meter
// seldom does) gives the next frame. The choice waits until enough bytes are
// at hand to compare, or until the line pauses (push nothing after the stale
// time to collect).
class FrameAssembler
{
public:
    using Check = bool (*)(const char *frame);
    explicit FrameAssembler(int frameSize = 10, qint64 staleAfterMs = 200, Check plausible = nullptr);

    // Takes the bytes received at nowMs (a monotonic clock) and returns the
    // whole frames they complete, back to back.
    QByteArray push(const char *data, int size, qint64 nowMs);
    QByteArray push(const QByteArray &bytes, qint64 nowMs) { return push(bytes.constData(), bytes.size(), nowMs); }

    int pendingBytes() const { return m_pending.size(); }
    // A whole frame waits for bytes that tell where the next frame starts.
    bool holdsFrame() const { return m_pending.size() >= m_frameSize; }
    qint64 staleAfterMs() const { return m_staleAfterMs; }
    quint64 discardedBytes() const { return m_discarded; }
    int frameSize() const { return m_frameSize; }
    // The link ends: plausible frames still held are passed on as the stale
    // time would have done; everything else is counted as dropped.
    QByteArray finish();
    void reset();

    // How far ahead a new start is looked for, and how many frames after it
    // are checked, in frames.
    static constexpr int kReachFrames = 8;
    static constexpr int kRunFrames = 3;

private:
    bool continues(const char *data, int size) const;
    // Frames out of bytes[0, n); returns where it stopped. final: no more
    // bytes come before a pause, so nothing waits for them.
    int cut(const char *bytes, int n, bool final, QByteArray *frames);
    // Where the stream goes on after the implausible frame at pos, or -1.
    int bestStart(const char *bytes, int pos, int n) const;
    // Fields of frame that differ from before's (none without before).
    int changes(const char *before, const char *frame) const;
    void passed(const char *frame);

    const int m_frameSize;
    const qint64 m_staleAfterMs;
    const Check m_plausible;
    QByteArray m_pending;
    QByteArray m_last; // the last frame passed on
    qint64 m_lastArrivalMs = 0;
    quint64 m_discarded = 0;
};

} // namespace meter

#endif // FRAMEASSEMBLER_H
