#include "cellcapture.h"

#include <cmath>

namespace station {

CellCapture::Event CellCapture::feed(const meter::MeterReading &reading)
{
    if (reading.overloaded()) {
        const bool unsettled = m_state == State::Settling && !m_window.isEmpty();
        if (unsettled)
            m_unsettledMs = m_contactTime.msecsTo(m_window.last().time);
        m_state = State::Lifted;
        m_window.clear();
        return unsettled ? Event::Unsettled : Event::None;
    }
    switch (m_state) {
    case State::Lifted:
        m_state = State::Settling;
        m_contactFrame = reading.frameCount;
        m_contactTime = reading.time;
        m_window.clear();
        m_window.append(reading);
        return Event::None;
    case State::Held:
        m_window.append(reading);
        if (m_window.size() > qMax(1, m_settings.agree))
            m_window.remove(0);
        return Event::None;
    case State::Settling:
        break;
    }
    if (reading.frameCount < m_contactFrame)
        m_contactFrame = reading.frameCount; // the counter was cleared: count from here
    m_window.append(reading);
    if (m_window.size() > qMax(1, m_settings.agree))
        m_window.remove(0);
    const qint64 settledMs = qint64(reading.frameCount - m_contactFrame) * qMax(1, m_settings.framePeriodMs);
    if (settledMs >= m_settings.settleMs && m_window.size() >= qMax(1, m_settings.agree) && agrees()) {
        m_state = State::Held;
        return Event::Captured;
    }
    return Event::None;
}

bool CellCapture::agrees() const
{
    double rMin = INFINITY, rMax = -INFINITY, vMin = INFINITY, vMax = -INFINITY, rSum = 0;
    for (const meter::MeterReading &r : m_window) {
        const double rm = r.rMilliOhms();
        const double v = r.signedVolts();
        rMin = std::fmin(rMin, rm);
        rMax = std::fmax(rMax, rm);
        vMin = std::fmin(vMin, v);
        vMax = std::fmax(vMax, v);
        rSum += rm;
    }
    const double rMean = rSum / m_window.size();
    return rMax - rMin <= std::fabs(rMean) * m_settings.rBandPercent / 100.0 + 1e-12
           && vMax - vMin <= m_settings.vBandVolts + 1e-12;
}

} // namespace station
