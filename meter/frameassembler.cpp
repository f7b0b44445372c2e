#include "frameassembler.h"

namespace meter {

FrameAssembler::FrameAssembler(int frameSize, qint64 staleAfterMs)
    : m_frameSize(frameSize), m_staleAfterMs(staleAfterMs)
{
    m_pending.reserve(frameSize);
}

QByteArray FrameAssembler::push(const char *data, int size, qint64 nowMs)
{
    if (!m_pending.isEmpty() && nowMs - m_lastArrivalMs > m_staleAfterMs) {
        m_discarded += quint64(m_pending.size());
        m_pending.clear();
    }
    if (size <= 0)
        return QByteArray();
    m_lastArrivalMs = nowMs;

    QByteArray frames;
    int used = 0;
    if (!m_pending.isEmpty()) {
        const int need = m_frameSize - m_pending.size();
        const int take = qMin(need, size);
        m_pending.append(data, take);
        used = take;
        if (m_pending.size() < m_frameSize)
            return frames;
        frames = m_pending;
        m_pending.clear();
    }
    const int whole = (size - used) / m_frameSize * m_frameSize;
    if (whole > 0)
        frames.append(data + used, whole);
    used += whole;
    if (used < size)
        m_pending.append(data + used, size - used);
    return frames;
}

void FrameAssembler::reset()
{
    m_pending.clear();
    m_lastArrivalMs = 0;
}

} // namespace meter
