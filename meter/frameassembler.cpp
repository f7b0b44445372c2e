#include "frameassembler.h"

#include "protocol.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <limits>

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
        // The line paused: what is held is decided now, with what is at hand.
        const int used = cut(m_pending.constData(), m_pending.size(), true, &frames);
        m_discarded += quint64(m_pending.size() - used);
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
    const int pos = cut(bytes, n, false, &frames);
    if (inPlace)
        m_pending = QByteArray(data + pos, n - pos);
    else
        m_pending.remove(0, pos);
    return frames;
}

int FrameAssembler::cut(const char *bytes, int n, bool final, QByteArray *frames)
{
    const int reach = kReachFrames * m_frameSize;
    // Enough bytes to compare every start within reach by its run.
    const int window = reach + (kRunFrames + 1) * m_frameSize;
    int pos = 0;
    int run = 0; // start of the frames taken since the last drop, copied at once
    while (n - pos >= m_frameSize) {
        const char *frame = bytes + pos;
        if (!m_plausible || m_plausible(frame)) {
            pos += m_frameSize;
            continue;
        }
        if (!final && n - pos < window)
            break; // more bytes, or the pause, tell where the stream goes on
        frames->append(bytes + run, pos - run);
        if (pos > run)
            passed(bytes + pos - m_frameSize);
        const int next = bestStart(bytes, pos, n);
        // Nothing within reach: every start looked at is dropped.
        const int to = next >= 0 ? next : std::min(n, pos + reach + 1);
        m_discarded += quint64(to - pos);
        pos = run = to;
    }
    frames->append(bytes + run, pos - run);
    if (pos > run)
        passed(bytes + pos - m_frameSize);
    return pos;
}

namespace {
// The fields a meter keeps from one frame to the next: flags, both range
// codes, the polarity.
constexpr const Protocol &p = kMeterProtocol;
constexpr int kFields[] = {p.flagsAt, p.rRangeAt, p.polarityAt, p.vRangeAt};
// What an explanation of the bytes ahead costs: each byte dropped, each place
// where bytes are dropped (a slip of the line), each field that changes
// from one frame to the next (a meter seldom changes them).
constexpr int kByteCost = 1, kSlipCost = 5, kChangeCost = 10;
} // namespace

int FrameAssembler::bestStart(const char *bytes, int pos, int n) const
{
    // The cheapest way to explain bytes[pos, end) as frames and dropped
    // bytes; its first frame is where the stream goes on. cost[i]: the
    // cheapest explanation of [pos, i) whose last frame ends at i.
    const int end = std::min(n, pos + kReachFrames * m_frameSize + (kRunFrames + 1) * m_frameSize);
    const int span = end - pos;
    constexpr int kNone = std::numeric_limits<int>::max();
    QVarLengthArray<int, 256> cost(span + 1), first(span + 1);
    std::fill(cost.begin(), cost.end(), kNone);
    cost[0] = 0;
    first[0] = -1;
    int best = -1, bestCost = kNone;
    for (int i = 0; i <= span; ++i) {
        if (cost[i] == kNone)
            continue;
        // Bytes left at the end are dropped, all but a frame's start.
        const int total = cost[i] + std::max(0, span - i - (m_frameSize - 1)) * kByteCost;
        if (i > 0 && total < bestCost) {
            bestCost = total;
            best = first[i];
        }
        const char *previous = i == 0 ? (m_last.size() == m_frameSize ? m_last.constData() : nullptr)
                                      : bytes + pos + i - m_frameSize;
        const int last = std::min(span - m_frameSize, i + kReachFrames * m_frameSize);
        for (int j = std::max(i, 1); j <= last; ++j) {
            if (!m_plausible(bytes + pos + j))
                continue;
            const int c = cost[i] + (j > i ? (j - i) * kByteCost + kSlipCost : 0)
                          + kChangeCost * changes(previous, bytes + pos + j);
            int &to = cost[j + m_frameSize];
            if (c < to) {
                to = c;
                first[j + m_frameSize] = i == 0 ? pos + j : first[i];
            }
        }
    }
    return best;
}

int FrameAssembler::changes(const char *before, const char *frame) const
{
    if (!before)
        return 0;
    int changed = 0;
    for (int at : kFields)
        changed += at < m_frameSize && frame[at] != before[at];
    return changed;
}

void FrameAssembler::passed(const char *frame)
{
    if (!m_plausible)
        return;
    if (m_last.size() != m_frameSize)
        m_last.resize(m_frameSize);
    std::memcpy(m_last.data(), frame, size_t(m_frameSize));
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
    QByteArray frames;
    const int used = cut(m_pending.constData(), m_pending.size(), true, &frames);
    m_discarded += quint64(m_pending.size() - used);
    reset();
    return frames;
}

void FrameAssembler::reset()
{
    m_pending.clear();
    m_last.clear();
    m_lastArrivalMs = 0;
}

} // namespace meter
