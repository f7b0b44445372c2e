#include "frameassembler.h"

namespace meter {

FrameAssembler::FrameAssembler(int frameSize, qint64 staleAfterMs, Check plausible)
    : m_frameSize(frameSize), m_staleAfterMs(staleAfterMs), m_plausible(plausible)
{
    m_pending.reserve(2 * frameSize);
}

QByteArray FrameAssembler::push(const char *data, int size, qint64 nowMs)
{
    QByteArray frames;
    if (!m_pending.isEmpty() && nowMs - m_lastArrivalMs > m_staleAfterMs && !continues(data, size)) {
        // A held frame that no later bytes explained is passed on as it is.
        if (m_pending.size() >= m_frameSize) {
            frames.append(m_pending.constData(), m_frameSize);
            m_pending.remove(0, m_frameSize);
        }
        m_discarded += quint64(m_pending.size());
        m_pending.clear();
    }
    if (size <= 0)
        return frames;
    m_lastArrivalMs = nowMs;

    // Fast road: nothing pending, no check, whole frames only.
    if (m_pending.isEmpty() && !m_plausible) {
        const int whole = size / m_frameSize * m_frameSize;
        if (whole < size)
            m_pending.append(data + whole, size - whole);
        frames.append(data, whole);
        return frames;
    }

    // Work on the new bytes in place unless a partial frame waits before them.
    const bool inPlace = m_pending.isEmpty();
    if (!inPlace)
        m_pending.append(data, size);
    const char *bytes = inPlace ? data : m_pending.constData();
    const int n = inPlace ? size : m_pending.size();
    int pos = 0;
    int run = 0; // start of the frames taken since the last skip, copied at once
    while (n - pos >= m_frameSize) {
        const char *frame = bytes + pos;
        if (!m_plausible || m_plausible(frame)) {
            pos += m_frameSize;
            continue;
        }
        int shift = 0;
        for (int k = 1; k < m_frameSize && n - pos - k >= m_frameSize; ++k) {
            if (m_plausible(frame + k)) {
                shift = k;
                break;
            }
        }
        if (shift > 0) {
            frames.append(bytes + run, pos - run);
            m_discarded += quint64(shift);
            pos += shift;
            run = pos;
        } else if (n - pos >= 2 * m_frameSize - 1) {
            // Every shift was looked at and none fits: no evidence of
            // misalignment, so the frame goes on as it is.
            pos += m_frameSize;
        } else {
            break; // held until more bytes tell, or until the stale time
        }
    }
    frames.append(bytes + run, pos - run);
    if (inPlace)
        m_pending = QByteArray(data + pos, n - pos);
    else
        m_pending.remove(0, pos);
    return frames;
}

bool FrameAssembler::continues(const char *data, int size) const
{
    // The time between two reads is not the time between two bytes: a busy
    // event loop reads late what arrived in time. Where the new bytes complete
    // the pending ones into a plausible frame, the pause was not the line's.
    const int need = m_frameSize - m_pending.size();
    if (!m_plausible || need <= 0 || size < need)
        return false;
    QByteArray frame = m_pending;
    frame.append(data, need);
    return m_plausible(frame.constData());
}

QByteArray FrameAssembler::finish()
{
    const int whole = m_pending.size() / m_frameSize * m_frameSize;
    const QByteArray frames = m_pending.left(whole);
    m_discarded += quint64(m_pending.size() - whole);
    reset();
    return frames;
}

void FrameAssembler::reset()
{
    m_pending.clear();
    m_lastArrivalMs = 0;
}

} // namespace meter
