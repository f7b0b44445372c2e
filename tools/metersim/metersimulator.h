#ifndef METERSIMULATOR_H
#define METERSIMULATOR_H

#include "pseudoterminal.h"

#include <QByteArray>

#include <atomic>
#include <random>

// Stands in for the battery internal-resistance meter: sends reading frames
// on its own and switches its reported ranges on the one-byte range commands.
struct SimulatorOptions
{
    double intervalMs = 500.0; // between writes; 0 sends back to back
    qint64 count = 0;          // frames to send; 0 sends until stopped
    bool milliOhm = true;
    bool rOverload = false;
    bool vOverload = false;
    bool negative = false;
    double r = 12.3456;        // shown value of R, in the frame's unit
    double v = 3.7012;         // magnitude of V
    bool wobble = true;        // small, repeating variation of the values
    int split = 1;             // pieces each write is cut into
    int splitGapMs = 20;       // pause between the pieces of a split write
    int pack = 1;              // frames per write
    int rRange = 6;            // AUTO
    int vRange = 3;            // AUTO
    bool sequence = false;     // R in counts is the frame's number (1, 2, ...): frames tell who they are
    qint64 leaveAfter = 0;     // after this many frames the meter is pulled (0: never) ...
    int awayMs = 0;            // ... for this long, then returns on a new line at the same link
    // Cell mode: probes lifted (overload) for liftMs, then a cell's values
    // for contactMs (a short settling ramp, small noise), cells times.
    int cells = 0;
    int contactMs = 2500;
    int liftMs = 1000;
    int outEvery = 5;          // every n-th cell has three times the R (out of limits); 0: none
    int unsteadyCell = 0;      // this cell (1-based) never settles; 0: none, -1: every one
    bool stableProcess = false; // cell R scattered as a stable process's (no control-chart pattern)
    int shiftFrom = 0;          // from this cell (1-based) on R is 10% higher: a process shift; 0: none
    // A second stage: the lot measured restDays after the first (0: the
    // first), each cell's V lower by its K (mV/day) × the rest; K is kMvDay
    // spread a little per cell, five times it for every fastEvery-th cell.
    double restDays = 0;
    double kMvDay = 0.3;
    int fastEvery = 0;
    // Once a program has the line open, wait this long before the first frame
    // and say "sending" on stdout then, so a measurement can leave out the
    // program's own start-up.
    int startAfterMs = 0;
    // A noisy line: before each frame 0 to strayMax random bytes; garbage
    // sends random bytes in place of every frame; frames badFrom to
    // badFrom + badCount - 1 (from 1) report an R range code no meter has.
    int strayMax = 0;
    bool garbage = false;
    qint64 badFrom = 0;
    qint64 badCount = 0;
    quint32 seed = 1;
};

class MeterSimulator
{
public:
    MeterSimulator(PseudoTerminal &line, const SimulatorOptions &options);

    QByteArray nextFrame();
    // What goes on the line for the next frame: the frame with the noise
    // asked for.
    QByteArray nextWrite();
    // Frames of one cell in cell mode (lifted, then in contact).
    static qint64 framesPerCell(const SimulatorOptions &options);
    // R (in the frame's unit) of a cell once settled, cell counted from 1.
    double cellValue(int cell) const;
    // A cell's K (mV/day) and its V at the stage played.
    static double cellK(const SimulatorOptions &options, int cell);
    static double cellVolts(const SimulatorOptions &options, int cell);
    void handleCommands(const QByteArray &bytes);
    // Runs until the count is reached, the line fails or stop becomes true.
    // Frames fall due at the interval from the moment a program first opens
    // the line; while nobody listens they are not sent, as with a real meter.
    bool run(const std::atomic<bool> &stop);

    int rRange() const { return m_rRange; }
    int vRange() const { return m_vRange; }
    qint64 framesSent() const { return m_sent; }
    // Frames that fell due while no program had the line open.
    qint64 framesUnheard() const { return m_unheard; }

private:
    bool sendWrite(const QByteArray &bytes);
    bool leaveAndReturn(const std::atomic<bool> &stop);

    PseudoTerminal &m_line;
    SimulatorOptions m_options;
    int m_rRange;
    int m_vRange;
    qint64 m_built = 0;
    qint64 m_sent = 0;
    qint64 m_unheard = 0;
    bool m_left = false;
    std::mt19937 m_noise;
};

#endif // METERSIMULATOR_H
