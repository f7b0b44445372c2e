#include "metersimulator.h"

#include "meter/meterframe.h"

#include <QElapsedTimer>
#include <QThread>

#include <cmath>

MeterSimulator::MeterSimulator(PseudoTerminal &line, const SimulatorOptions &options)
    : m_line(line), m_options(options), m_rRange(options.rRange), m_vRange(options.vRange)
{
}

QByteArray MeterSimulator::nextFrame()
{
    meter::FrameFields f;
    f.milliOhm = m_options.milliOhm;
    f.rOverload = m_options.rOverload;
    f.vOverload = m_options.vOverload;
    f.vNegative = m_options.negative;
    f.rRangeCode = quint8(m_rRange);
    f.vRangeCode = quint8(m_vRange);
    const int step = m_options.wobble ? int(m_built % 7) - 3 : 0;
    const auto counts = [](double value, int delta) {
        const qint64 c = qint64(std::llround(value * meter::ValueScale)) + delta;
        return quint32(qBound<qint64>(0, c, 0xFFFFFF));
    };
    f.rCounts = counts(m_options.r, step * 3);
    f.vCounts = counts(m_options.v, step);
    ++m_built;
    return meter::encodeFrame(f);
}

void MeterSimulator::handleCommands(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (c >= 0x30 && c <= 0x36)
            m_rRange = c - 0x30;
        else if (c >= 0x3A && c <= 0x3D)
            m_vRange = c - 0x3A;
    }
}

bool MeterSimulator::sendWrite(const QByteArray &bytes)
{
    const int pieces = qMax(1, qMin(m_options.split, bytes.size()));
    if (pieces == 1)
        return m_line.writeAll(bytes);
    const int size = (bytes.size() + pieces - 1) / pieces;
    for (int offset = 0; offset < bytes.size(); offset += size) {
        if (offset > 0)
            QThread::msleep(ulong(m_options.splitGapMs));
        if (!m_line.writeAll(bytes.mid(offset, size)))
            return false;
    }
    return true;
}

bool MeterSimulator::run(const std::atomic<bool> &stop)
{
    QElapsedTimer clock;
    clock.start();
    double dueMs = 0.0;
    const int pack = qMax(1, m_options.pack);
    while (!stop.load()) {
        if (m_options.count > 0 && m_sent >= m_options.count)
            return true;
        // Listen for range commands until the next write is due.
        const double waitMs = dueMs - double(clock.nsecsElapsed()) / 1e6;
        handleCommands(m_line.read(waitMs > 1.0 ? qMin(int(waitMs), 100) : 0));
        if (double(clock.nsecsElapsed()) / 1e6 < dueMs)
            continue;

        QByteArray bytes;
        int frames = pack;
        if (m_options.count > 0)
            frames = int(qMin<qint64>(frames, m_options.count - m_sent));
        for (int i = 0; i < frames; ++i)
            bytes += nextFrame();
        if (!sendWrite(bytes))
            return false;
        m_sent += frames;
        dueMs += m_options.intervalMs;
        // After a stall, do not rush to catch up with a burst.
        const double nowMs = double(clock.nsecsElapsed()) / 1e6;
        if (m_options.intervalMs > 0 && nowMs - dueMs > 1000.0)
            dueMs = nowMs;
    }
    return true;
}
