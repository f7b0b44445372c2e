#ifndef CELLCAPTURE_H
#define CELLCAPTURE_H

#include "meter/meterreading.h"

#include <QDateTime>
#include <QVector>

namespace station {

struct CaptureSettings
{
    int settleMs = 500;        // after contact, before a capture may happen
    int framePeriodMs = meter::FramePeriodMs; // the meter's pace: settling is counted in its frames
    int agree = 3;             // the last N readings ...
    double rBandPercent = 0.5; // ... agree within this share of R
    double vBandVolts = 0.005; // ... and this much of V
};

// When a cell's reading is to be taken: probes lifted (an overloaded
// reading), contact (a valid reading), the settling delay, then the last N
// readings agreeing within the band: one capture. Re-armed only when the
// probes are lifted again. A contact that never settled is said when the
// probes are lifted.
//
// The delay is counted in the meter's frames (each reading's receive count
// at the meter's pace), not in the program's clock: frames the program read
// late, all at once after a stall, still settle a contact.
class CellCapture
{
public:
    enum class Event { None, Captured, Unsettled };
    enum class State { Lifted, Settling, Held };

    explicit CellCapture(const CaptureSettings &settings = CaptureSettings()) : m_settings(settings) {}
    void setSettings(const CaptureSettings &settings) { m_settings = settings; }

    Event feed(const meter::MeterReading &reading);
    // The operator captured by hand: held until the probes are lifted.
    void capturedByHand() { m_state = State::Held; }
    State state() const { return m_state; }
    // The readings that settled the last capture (or are settling now).
    const QVector<meter::MeterReading> &window() const { return m_window; }
    // How long the last contact that did not settle lasted (its readings' times).
    qint64 unsettledMs() const { return m_unsettledMs; }
    const CaptureSettings &settings() const { return m_settings; }
    // The last valid reading of the present contact, if any.
    bool hasContact() const { return m_state != State::Lifted && !m_window.isEmpty(); }
    const meter::MeterReading &current() const { return m_window.last(); }

private:
    bool agrees() const;

    CaptureSettings m_settings;
    State m_state = State::Lifted;
    quint32 m_contactFrame = 0;
    QDateTime m_contactTime;
    qint64 m_unsettledMs = 0;
    QVector<meter::MeterReading> m_window;
};

} // namespace station

#endif // CELLCAPTURE_H
