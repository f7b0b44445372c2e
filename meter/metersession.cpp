#include "metersession.h"

#include "rangecontrol.h"

#include <limits>

namespace meter {

namespace {

// Local time for every read, without asking the C library for the zone each
// time (it looks at /etc/localtime on every call): the offset from UTC is
// looked up once a second. A read in the second after the offset changes
// keeps the old one, which still names the same instant.
MeterSession::Clock localClock()
{
    struct Cache
    {
        qint64 second = std::numeric_limits<qint64>::min();
        int offset = 0;
    };
    return [cache = Cache()]() mutable {
        const qint64 ms = QDateTime::currentMSecsSinceEpoch();
        const qint64 second = ms / 1000;
        if (second != cache.second) {
            cache.second = second;
            cache.offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
        }
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, cache.offset);
    };
}

} // namespace

MeterSession::MeterSession(QObject *parent)
    : QObject(parent),
      m_framer(FrameSize, 200, plausibleFrame),
      m_clock(localClock())
{
    qRegisterMetaType<meter::ReadingBurst>();
    m_holdTimer.setSingleShot(true);
    connect(&m_holdTimer, &QTimer::timeout, this, &MeterSession::collectHeld);
}

MeterSession::~MeterSession() = default;

void MeterSession::addSink(ReadingSink *sink, Phase phase)
{
    auto &sinks = phase == Phase::Record ? m_recordSinks : m_displaySinks;
    if (sink && !sinks.contains(sink))
        sinks.append(sink);
}

void MeterSession::removeSink(ReadingSink *sink)
{
    m_recordSinks.removeAll(sink);
    m_displaySinks.removeAll(sink);
}

void MeterSession::linkOpened(const QString &portName)
{
    m_portName = portName;
    m_framer.reset();
    m_holdTimer.stop();
    m_linkClock.start();
}

void MeterSession::linkClosed()
{
    // The last frame before a hang-up is often the one held for evidence.
    const QByteArray held = m_framer.finish();
    if (!held.isEmpty())
        handle(held);
    m_holdTimer.stop();
    tellDropped();
}

void MeterSession::tellDropped()
{
    if (m_framer.discardedBytes() == m_toldDropped)
        return;
    m_toldDropped = m_framer.discardedBytes();
    emit bytesDropped(m_toldDropped);
}

void MeterSession::setDivisor(quint32 divisor)
{
    if (divisor != 0)
        m_divisor = divisor;
}

void MeterSession::feed(const QByteArray &bytes)
{
    if (!m_linkClock.isValid())
        m_linkClock.start();
    const QByteArray frames = m_framer.push(bytes, m_linkClock.elapsed());
    if (m_framer.holdsFrame())
        m_holdTimer.start(int(m_framer.staleAfterMs()) + 10);
    if (!frames.isEmpty())
        handle(frames);
    tellDropped();
}

void MeterSession::flushRecords()
{
    const QVector<ReadingSink *> record = m_recordSinks;
    for (ReadingSink *sink : record)
        if (m_recordSinks.contains(sink))
            sink->flush();
}

void MeterSession::collectHeld()
{
    feed(QByteArray());
}

void MeterSession::handle(const QByteArray &frames)
{
    ReadingBurst burst;
    // The clock is read once a burst: its frames arrived together.
    burst.time = m_clock();
    burst.port = m_portName;
    burst.station = m_station;
    burst.frames = frames.size() / FrameSize;
    burst.readings.reserve(burst.frames / int(m_divisor) + 1);
    for (int offset = 0; offset + FrameSize <= frames.size(); offset += FrameSize) {
        const char *frame = frames.constData() + offset;
        ++m_receiveCount;
        m_rRange = qint8(frame[kMeterProtocol.rRangeAt]);
        m_vRange = qint8(frame[kMeterProtocol.vRangeAt]);
        // A code outside its table leaves the text as it was.
        const QString rText = rRangeText(m_rRange);
        if (!rText.isNull())
            m_rRangeText = rText;
        const QString vText = vRangeText(m_vRange);
        if (!vText.isNull())
            m_vRangeText = vText;
        if (!gateAccepts(m_receiveCount, m_divisor))
            continue;

        MeterReading reading;
        reading.time = burst.time;
        reading.seq = ++m_seq;
        reading.frameCount = m_receiveCount;
        reading.decoded = decodeFrame(frame, FrameSize);
        reading.verdict = judge(m_limits.limits(), reading.decoded);
        reading.limits = m_limits.limits();
        reading.rText = rLabelText(reading.decoded);
        reading.vText = vLabelText(reading.decoded);
        reading.rRangeText = m_rRangeText;
        reading.vRangeText = m_vRangeText;
        if (m_annotate)
            m_annotate(reading);
        burst.readings.append(reading);
    }
    burst.receiveCount = m_receiveCount;
    burst.rRangeCode = m_rRange;
    burst.vRangeCode = m_vRange;
    burst.rRangeText = m_rRangeText;
    burst.vRangeText = m_vRangeText;

    // A sink may remove itself while taking a burst: walk copies.
    const QVector<ReadingSink *> record = m_recordSinks;
    for (ReadingSink *sink : record)
        if (m_recordSinks.contains(sink))
            sink->takeBurst(burst);
    const QVector<ReadingSink *> display = m_displaySinks;
    for (ReadingSink *sink : display)
        if (m_displaySinks.contains(sink))
            sink->takeBurst(burst);
    emit burstHandled(burst);
}

} // namespace meter
