// The framer at the line's limit: what holding frames until the stream is
// in step costs, beside the plain framer (no check, no holding) in the
// same run.
#include "benchsupport.h"

#include "meter/frameassembler.h"
#include "meter/meterframe.h"

#include <QElapsedTimer>

namespace bench {

namespace {

// Nanoseconds per frame for frames pushed `perRead` at a time; every
// `openEvery` reads the link opens again, so the first frames are held.
double nsPerFrame(meter::FrameAssembler::Check check, const QByteArray &frames, int perRead, int openEvery)
{
    meter::FrameAssembler framer(meter::FrameSize, 200, check);
    const int chunk = perRead * meter::FrameSize;
    qint64 out = 0;
    QElapsedTimer clock;
    clock.start();
    int reads = 0;
    for (int pos = 0; pos + chunk <= frames.size(); pos += chunk) {
        if (openEvery > 0 && ++reads % openEvery == 0)
            framer.reset();
        out += framer.push(frames.constData() + pos, chunk, reads).size();
    }
    const double ns = double(clock.nsecsElapsed());
    if (out < frames.size() / 2)
        std::printf("  (only %lld of %lld bytes came out)\n", out, qint64(frames.size()));
    return ns / double(frames.size() / meter::FrameSize);
}

} // namespace

int framer(qint64 count)
{
    QByteArray frames;
    frames.reserve(int(count) * meter::FrameSize);
    for (qint64 i = 0; i < count; ++i) {
        meter::FrameFields f;
        f.rCounts = quint32(10000 + i % 5000);
        f.vCounts = 37000;
        frames += meter::encodeFrame(f);
    }
    std::printf("framer: %lld frames, ns per frame (reference: the plain framer, same run)\n", count);
    for (int perRead : {1, 20}) {
        const double plain = nsPerFrame(nullptr, frames, perRead, 0);
        const double inStep = nsPerFrame(meter::plausibleFrame, frames, perRead, 0);
        const double reopened = nsPerFrame(meter::plausibleFrame, frames, perRead, 50);
        std::printf("  %2d frame(s) a read: plain %.1f, checked in step %.1f, opened every 50 reads %.1f\n",
                    perRead, plain, inStep, reopened);
    }
    // The line's limit: 115,200 baud is 1,152 frames a second.
    std::printf("  at the line's limit (1,152 frames/s) the checked framer's share of a core: %.5f %%\n",
                nsPerFrame(meter::plausibleFrame, frames, 1, 0) * 1152.0 / 1e9 * 100.0);
    return 0;
}

} // namespace bench
