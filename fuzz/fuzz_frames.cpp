// The framer and the decoder on any byte stream cut into any chunks.
#include "meter/frameassembler.h"
#include "meter/meterframe.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks the plain framer or the one that realigns.
    if (size == 0)
        return 0;
    const bool checked = data[0] & 1;
    ++data;
    --size;
    meter::FrameAssembler framer(meter::FrameSize, 200, checked ? meter::plausibleFrame : nullptr);
    qint64 now = 0;
    quint64 in = 0, out = 0;
    size_t i = 0;
    while (i < size) {
        // Each chunk: one control byte (length and the pause before it), then the bytes.
        const uint8_t control = data[i++];
        const size_t length = qMin<size_t>(control & 0x1F, size - i);
        now += (control >> 5) * 40; // 0..280 ms
        const QByteArray frames = framer.push(reinterpret_cast<const char *>(data + i), int(length), now);
        i += length;
        in += length;
        out += quint64(frames.size());
        if (frames.size() % meter::FrameSize != 0)
            std::abort();
        for (int offset = 0; offset < frames.size(); offset += meter::FrameSize) {
            // The realigning framer passes on no frame that a meter cannot send.
            if (checked && !meter::plausibleFrame(frames.constData() + offset))
                std::abort();
            const meter::Reading r = meter::decodeFrame(frames.constData() + offset, meter::FrameSize);
            if (r.r < 0 || r.r > 1677.7215 || r.v < 0 || r.v > 1677.7215)
                std::abort();
            const QString line = meter::readingLine(QStringLiteral("1#"), r);
            if (!line.startsWith(QStringLiteral("1#  ")))
                std::abort();
        }
    }
    // Every byte is in a frame, still waiting, or dropped as a stale stub.
    if (in != out + quint64(framer.pendingBytes()) + framer.discardedBytes())
        std::abort();
    // Only the realigning framer holds whole frames, and no more than it
    // needs to choose where the stream goes on and to put it in step.
    using A = meter::FrameAssembler;
    const int most = (A::kReachFrames + A::kRunFrames + 1 + A::kHeldFrames) * meter::FrameSize;
    if (framer.pendingBytes() >= (checked ? most : meter::FrameSize))
        std::abort();
    // Short chunks decode too, with missing bytes as 0.
    meter::decodeFrame(reinterpret_cast<const char *>(data), int(qMin<size_t>(size, 12)));
    return 0;
}
