#include "metersimulator.h"

#include "meter/meterframe.h"

#include <QElapsedTimer>
#include <QThread>

#include <cmath>
#include <cstdio>

MeterSimulator::MeterSimulator(PseudoTerminal &line, const SimulatorOptions &options)
    : m_line(line), m_options(options), m_rRange(options.rRange), m_vRange(options.vRange), m_noise(options.seed)
{
}

QByteArray MeterSimulator::nextWrite()
{
    auto randomBytes = [this](int n) {
        QByteArray bytes(n, Qt::Uninitialized);
        for (char &c : bytes)
            c = char(m_noise() & 0xFF);
        return bytes;
    };
    QByteArray bytes;
    if (m_options.strayMax > 0)
        bytes = randomBytes(int(m_noise() % quint32(m_options.strayMax + 1)));
    const qint64 number = m_built + 1;
    QByteArray frame = nextFrame();
    if (m_options.garbage)
        frame = randomBytes(frame.size());
    else if (number >= m_options.badFrom && number < m_options.badFrom + m_options.badCount)
        frame[meter::kMeterProtocol.rRangeAt] = char(9); // no such range
    return bytes + frame;
}

qint64 MeterSimulator::framesPerCell(const SimulatorOptions &options)
{
    const double interval = options.intervalMs > 0 ? options.intervalMs : 1.0;
    return qMax<qint64>(1, qint64(options.liftMs / interval)) + qMax<qint64>(1, qint64(options.contactMs / interval));
}

double MeterSimulator::cellValue(int cell) const
{
    // A spread of values around --r, so statistics and grades have something to show.
    // A stable process: a scatter that fires no control-chart rule however
    // often it repeats.
    static const double kStable[] = {0.3, 1.4, -0.6, -0.2, 0.9, -1.3, 0.1, 0.5, -0.8, 1.1};
    double r = m_options.stableProcess ? m_options.r * (1.0 + 0.01 * kStable[cell % 10])
                                       : m_options.r * (1.0 + 0.02 * double((cell * 7) % 5 - 2));
    if (m_options.shiftFrom > 0 && cell >= m_options.shiftFrom)
        r *= 1.1;
    if (m_options.outEvery > 0 && cell % m_options.outEvery == 0)
        r *= 3.0;
    return r;
}

double MeterSimulator::cellK(const SimulatorOptions &options, int cell)
{
    static const double kSpread[] = {0.3, 1.4, -0.6, -0.2, 0.9, -1.3, 0.1, 0.5, -0.8, 1.1};
    const double k = options.kMvDay * (1.0 + 0.1 * kSpread[cell % 10]);
    return options.fastEvery > 0 && cell % options.fastEvery == 0 ? 5.0 * k : k;
}

double MeterSimulator::cellVolts(const SimulatorOptions &options, int cell)
{
    return options.restDays > 0 ? options.v - cellK(options, cell) * options.restDays / 1000.0 : options.v;
}

QByteArray MeterSimulator::nextFrame()
{
    if (m_options.cells > 0) {
        meter::FrameFields f;
        f.milliOhm = m_options.milliOhm;
        f.rRangeCode = quint8(m_rRange);
        f.vRangeCode = quint8(m_vRange);
        const double interval = m_options.intervalMs > 0 ? m_options.intervalMs : 1.0;
        const qint64 lift = qMax<qint64>(1, qint64(m_options.liftMs / interval));
        const qint64 index = m_built++;
        const int cell = int(index / framesPerCell(m_options)) + 1;
        const qint64 pos = index % framesPerCell(m_options);
        if (cell > m_options.cells || pos < lift) {
            f.rOverload = f.vOverload = true; // probes in the air
            f.rCounts = f.vCounts = 0xFFFFFF;
            return meter::encodeFrame(f);
        }
        const qint64 k = pos - lift;
        double r = cellValue(cell);
        const double v = cellVolts(m_options, cell);
        const double ramp = k == 0 ? 1.5 : k == 1 ? 1.1 : 1.0;  // settling after contact
        const double noise = 1.0 + 0.0002 * double(int(index % 3) - 1);
        r *= ramp * noise;
        if (cell == m_options.unsteadyCell || m_options.unsteadyCell < 0)
            r *= 1.0 + 0.05 * double(int(index % 2) * 2 - 1); // never within the band
        f.rCounts = quint32(qBound<qint64>(0, std::llround(r * meter::ValueScale), 0xFFFFFF));
        f.vCounts = quint32(qBound<qint64>(0, std::llround(v * meter::ValueScale), 0xFFFFFF));
        return meter::encodeFrame(f);
    }

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
    f.rCounts = m_options.sequence ? quint32((m_built + 1) & 0xFFFFFF) : counts(m_options.r, step * 3);
    f.vCounts = counts(m_options.v, m_options.sequence ? 0 : step);
    ++m_built;
    return meter::encodeFrame(f);
}

void MeterSimulator::handleCommands(const QByteArray &bytes)
{
    constexpr const meter::Protocol &p = meter::kMeterProtocol;
    for (const char c : bytes) {
        if (c >= p.rCommandBase && c <= p.rCommandBase + p.maxRCode)
            m_rRange = c - p.rCommandBase;
        else if (c >= p.vCommandBase && c <= p.vCommandBase + p.maxVCode)
            m_vRange = c - p.vCommandBase;
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

bool MeterSimulator::leaveAndReturn(const std::atomic<bool> &stop)
{
    // Pulled: the line and its link go; back later on a new pseudo-terminal
    // at the same link path, as an adapter that comes back under its name.
    const QString link = m_line.linkPath();
    // Pulled between two frames, not in the middle of the last one's way:
    // a closed pseudo-terminal drops what its reader has not read yet.
    QThread::msleep(ulong(qBound(20.0, m_options.intervalMs, 200.0)));
    m_line.close();
    QElapsedTimer away;
    away.start();
    while (!stop.load() && away.elapsed() < m_options.awayMs)
        QThread::msleep(10);
    if (!m_line.open() || (!link.isEmpty() && !m_line.createLink(link)))
        return false;
    while (!stop.load() && !m_line.readerAttached())
        QThread::msleep(10);
    return true;
}

bool MeterSimulator::run(const std::atomic<bool> &stop)
{
    // Wait for a program to open the line.
    while (!stop.load() && !m_line.readerAttached())
        QThread::msleep(10);
    if (m_options.startAfterMs > 0) {
        QElapsedTimer settle;
        settle.start();
        while (!stop.load() && settle.elapsed() < m_options.startAfterMs)
            handleCommands(m_line.read(10));
        std::printf("sending\n");
        std::fflush(stdout);
    }
    QElapsedTimer clock;
    clock.start();
    const int pack = qMax(1, m_options.pack);
    qint64 due = 0;  // frames that have fallen due so far
    qint64 base = 0; // frames done when the clock last started
    while (!stop.load()) {
        const qint64 done = m_sent + m_unheard;
        if (m_options.count > 0 && done >= m_options.count)
            return true;
        if (m_options.leaveAfter > 0 && !m_left && m_sent >= m_options.leaveAfter) {
            m_left = true;
            if (!leaveAndReturn(stop))
                return false;
            base = m_sent + m_unheard;
            clock.restart();
            continue;
        }
        const double nowMs = double(clock.nsecsElapsed()) / 1e6;
        if (m_options.intervalMs <= 0)
            due = done + pack;
        else
            due = base + qint64(nowMs / m_options.intervalMs) + 1;
        if (m_options.count > 0)
            due = qMin(due, m_options.count);
        if (done >= due) {
            // Listen for range commands until the next frame is due.
            const double waitMs = ((done - base) * m_options.intervalMs) - nowMs;
            handleCommands(m_line.read(qBound(1, int(waitMs), 100)));
            continue;
        }
        handleCommands(m_line.read(0));
        qint64 frames = due - done;
        if (frames > 4 * pack + 1000) {
            // Far behind (a stall of this process): skip ahead, do not burst.
            m_unheard += frames - pack;
            frames = pack;
        }
        if (!m_line.readerAttached()) {
            m_unheard += frames;
            continue;
        }
        while (frames > 0) {
            const int n = int(qMin<qint64>(frames, pack));
            QByteArray bytes;
            bytes.reserve(n * (meter::FrameSize + m_options.strayMax));
            int take = n;
            if (m_options.leaveAfter > 0 && !m_left)
                take = int(qMin<qint64>(n, m_options.leaveAfter - m_sent)); // leave right after the Nth
            for (int i = 0; i < take; ++i)
                bytes += nextWrite();
            if (!sendWrite(bytes)) {
                if (!m_line.readerAttached()) {
                    m_unheard += frames;
                    break;
                }
                return false;
            }
            m_sent += take;
            frames -= take;
            if (take < n || (m_options.leaveAfter > 0 && !m_left && m_sent >= m_options.leaveAfter))
                break;
        }
    }
    return true;
}
