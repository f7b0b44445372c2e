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
    if (m_bytesSincePause && nowMs - m_lastArrivalMs > m_staleAfterMs) {
        // A frame's rest after a busy reader's delay is no pause; a pause
        // that cuts frames in two again and again is one all the same.
        if (!m_pending.isEmpty() && m_excusedPauses < 2 && continues(data, size))
            m_excusedPauses = m_burstFrames > kStepFrames ? 1 : m_excusedPauses + 1;
        else
            settle(&frames);
        m_burstFrames = 0;
    }
    if (size <= 0)
        return frames;
    m_lastArrivalMs = nowMs;
    m_bytesSincePause = true;

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

void FrameAssembler::settle(QByteArray *frames)
{
    if (!m_pending.isEmpty()) {
        // The meter ends a frame where its line pauses: bytes before a frame
        // that makes no sense are stray, and the frames end at the pause.
        const int n = m_pending.size();
        int skip = 0;
        if (m_plausible && n > m_frameSize && !m_plausible(m_pending.constData()))
            skip = n % m_frameSize;
        if (skip > 0) {
            m_discarded += quint64(skip);
            m_dropped = m_burstDropped = true;
        }
        const int used = skip + cut(m_pending.constData() + skip, n - skip, true, frames);
        if (used < n) {
            m_discarded += quint64(n - used);
            m_dropped = m_burstDropped = true;
        }
        m_pending.clear();
    }
    // A frame that ends where the line pauses ends where the meter ended
    // one; two such in a row, alike, put the stream in step.
    const bool endsAtPause = m_burstFrames > 0 && !m_dropped;
    // Whole frames from pause to pause keep a stream in step, and put it in
    // step when they came first after the line opened (a port opened
    // between two frames; one opened inside a frame gets its tail first).
    if (!m_inStep && !m_held.isEmpty() && endsAtPause && !m_burstDropped && (m_burstInStep || m_burstFromOpen)) {
        m_inStep = true;
        frames->append(m_held);
        m_held.clear();
    }
    if (!m_inStep && !m_held.isEmpty()) {
        if (endsAtPause)
            keepAlikeTail();
        if (endsAtPause && m_heldAnchored) {
            m_inStep = true;
            frames->append(m_held);
            m_held.clear();
        }
        m_heldAnchored = endsAtPause && !m_held.isEmpty();
    }
    // The next frame follows a pause as if bytes were dropped before it.
    m_dropped = true;
    m_burstDropped = m_burstFromOpen = false;
    m_burstInStep = m_inStep;
    m_bytesSincePause = false;
    m_excusedPauses = 0;
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
        take(bytes + run, pos - run, frames);
        const int next = bestStart(bytes, pos, n);
        // Nothing within reach: every start looked at is dropped.
        const int to = next >= 0 ? next : std::min(n, pos + reach + 1);
        m_discarded += quint64(to - pos);
        m_dropped = m_burstDropped = true;
        pos = run = to;
    }
    take(bytes + run, pos - run, frames);
    return pos;
}

void FrameAssembler::take(const char *run, int size, QByteArray *frames)
{
    if (size <= 0)
        return;
    if (!m_plausible) {
        frames->append(run, size);
        return;
    }
    m_burstFrames += size / m_frameSize;
    // After a drop the stream stays in step only with a frame like the last
    // one; out of step, frames count only back to back (any shift of a
    // steady meter's frames is alike too). What was held goes; these wait.
    const bool alike = m_last.size() == m_frameSize && changes(m_last.constData(), run) == 0;
    if (m_dropped && !alike)
        m_inStep = false;
    if (m_dropped && !m_inStep && !(m_heldAnchored && alike))
        dropHeld();
    m_row = m_dropped ? 0 : m_row;
    m_dropped = false;
    if (m_inStep) {
        frames->append(run, size);
    } else {
        m_held.append(run, size);
        m_row += size / m_frameSize;
        if (m_row >= kStepFrames) {
            m_inStep = true;
            frames->append(m_held);
            m_held.clear();
        }
        dropOldestHeld();
    }
    passed(run + size - m_frameSize);
}

void FrameAssembler::keepAlikeTail()
{
    // Frames held before the one at the pause count only if they are alike.
    const char *last = m_held.constData() + m_held.size() - m_frameSize;
    int from = m_held.size() - m_frameSize;
    while (from >= m_frameSize && changes(last, m_held.constData() + from - m_frameSize) == 0)
        from -= m_frameSize;
    m_discarded += quint64(from);
    m_held.remove(0, from);
}

void FrameAssembler::dropOldestHeld()
{
    const int over = m_held.size() - kHeldFrames * m_frameSize;
    if (over <= 0)
        return;
    m_discarded += quint64(over);
    m_held.remove(0, over);
}

void FrameAssembler::dropHeld()
{
    m_discarded += quint64(m_held.size());
    m_held.clear();
    m_heldAnchored = false;
}

namespace {
// The fields a meter keeps from one frame to the next: flags, both range
// codes, the polarity.
constexpr const Protocol &p = kMeterProtocol;
constexpr int kFields[] = {p.flagsAt, p.rRangeAt, p.polarityAt, p.vRangeAt};
// What an explanation of the bytes ahead costs: each byte dropped, each place
// where bytes are dropped (a slip of the line), each field that changes
// from one frame to the next (a meter seldom changes them).
// Whole frames dropped keep the alignment: they cost a byte each.
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
            const int gap = j - i;
            const int dropped = gap % m_frameSize == 0 ? gap / m_frameSize : gap;
            const int c = cost[i] + (gap > 0 ? dropped * kByteCost + kSlipCost : 0)
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
    settle(&frames);
    dropHeld(); // never in step: nothing says they are the meter's
    reset();
    return frames;
}

void FrameAssembler::reset()
{
    m_pending.clear();
    m_held.clear();
    m_last.clear();
    m_lastArrivalMs = 0;
    m_bytesSincePause = false;
    m_inStep = m_dropped = m_heldAnchored = m_burstDropped = m_burstInStep = false;
    m_burstFromOpen = true;
    m_excusedPauses = m_burstFrames = m_row = 0;
}

} // namespace meter
