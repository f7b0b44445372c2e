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
// With a plausibility check, a frame no meter can send whose bytes at hand
// hold a plausible frame a few bytes on is taken as a sign of misalignment:
// the bytes before it are dropped (and counted). Without such evidence the
// frame is passed on as it is: at once when the bytes at hand rule out every
// shift, otherwise after the stale time (push nothing to collect it).
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
    // A whole frame waits for bytes that tell whether it is aligned.
    bool holdsFrame() const { return m_pending.size() >= m_frameSize; }
    qint64 staleAfterMs() const { return m_staleAfterMs; }
    quint64 discardedBytes() const { return m_discarded; }
    int frameSize() const { return m_frameSize; }
    // The link ends: whole frames still held for want of evidence are passed
    // on as they are (the stale time would have done the same), a partial
    // frame is counted as dropped.
    QByteArray finish();
    void reset();

private:
    bool continues(const char *data, int size) const;

    const int m_frameSize;
    const qint64 m_staleAfterMs;
    const Check m_plausible;
    QByteArray m_pending;
    qint64 m_lastArrivalMs = 0;
    quint64 m_discarded = 0;
};

} // namespace meter

#endif // FRAMEASSEMBLER_H
