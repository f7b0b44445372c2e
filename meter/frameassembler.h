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
//
// Ten random bytes make a plausible frame one time in 2,300, so with the
// check a frame counts only once the stream is in step: after the start, or
// where the frames after a drop differ from the last one in unit, ranges or
// polarity, frames are held until three stand in a row at one alignment,
// two alike end where the line pauses (the meter's own pause ends a
// frame), or the first bytes after the line opened are whole frames up to
// a pause; then the held frames are passed on, so none is lost, and
// otherwise dropped. In step, whole frames from pause to pause keep it so.
// A frame dropped whole keeps the alignment cheaply, and a pause that keeps
// cutting frames in two ends the excuse of a busy reader: the stream never
// stays out of step.
class FrameAssembler
{
public:
    using Check = bool (*)(const char *frame);
    explicit FrameAssembler(int frameSize = 10, qint64 staleAfterMs = 200, Check plausible = nullptr);

    // Takes the bytes received at nowMs (a monotonic clock) and returns the
    // whole frames they complete, back to back.
    QByteArray push(const char *data, int size, qint64 nowMs);
    QByteArray push(const QByteArray &bytes, qint64 nowMs) { return push(bytes.constData(), bytes.size(), nowMs); }

    // Bytes not yet passed on or dropped: those held for evidence included.
    int pendingBytes() const { return m_pending.size() + m_held.size(); }
    // A whole frame waits for bytes that tell where the next frame starts,
    // or for the pause or the frames that put the stream in step.
    bool holdsFrame() const { return m_pending.size() >= m_frameSize || !m_held.isEmpty(); }
    bool inStep() const { return m_inStep || !m_plausible; }
    qint64 staleAfterMs() const { return m_staleAfterMs; }
    quint64 discardedBytes() const { return m_discarded; }
    int frameSize() const { return m_frameSize; }
    // The link ends: plausible frames still held are passed on as a pause
    // would have done; everything else is counted as dropped.
    QByteArray finish();
    void reset();

    // How far ahead a new start is looked for, and how many frames after it
    // are checked, in frames.
    static constexpr int kReachFrames = 8;
    static constexpr int kRunFrames = 3;
    // Frames in a row that put the stream in step.
    static constexpr int kStepFrames = 3;
    // Frames held at most: those at a pause and those after it. Alike
    // frames between drops on a line that never pauses would pile up.
    static constexpr int kHeldFrames = 2 * (kStepFrames - 1);

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
    // A run of plausible frames, back to back, passed on or held.
    void take(const char *run, int size, QByteArray *frames);
    void dropHeld();
    void dropOldestHeld();
    void keepAlikeTail();
    // The line paused: what is held is decided with what is at hand.
    void settle(QByteArray *frames);

    const int m_frameSize;
    const qint64 m_staleAfterMs;
    const Check m_plausible;
    QByteArray m_pending;
    QByteArray m_last; // the last frame passed on or held
    QByteArray m_held; // frames waiting for the stream to be in step
    qint64 m_lastArrivalMs = 0;
    bool m_bytesSincePause = false;
    quint64 m_discarded = 0;
    bool m_inStep = false;
    bool m_dropped = false;        // bytes dropped, or a pause, since the last frame taken
    bool m_heldAnchored = false;   // the last frame held ended at a pause
    bool m_burstFromOpen = true;   // the bytes since the last pause are the first since the open
    bool m_burstInStep = false;    // ... began in step
    bool m_burstDropped = false;   // ... and some of them were dropped
    int m_excusedPauses = 0;       // pauses in a row that a frame's rest made no pause
    int m_burstFrames = 0;         // frames taken since the last pause
    int m_row = 0;                 // frames held back to back
};

} // namespace meter

#endif // FRAMEASSEMBLER_H
