#include "board/events.h"

#include <chrono>

namespace board {

quint64 Events::publish(const QByteArray &event)
{
    quint64 number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        number = ++m_number;
        m_events.emplace_back(number, event);
        while (m_events.size() > m_kept)
            m_events.pop_front();
    }
    m_changed.notify_all();
    return number;
}

quint64 Events::newest() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_number;
}

bool Events::next(quint64 after, int timeoutMs, const Whole &whole, quint64 *number, QByteArray *event) const
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool came = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_stop || m_number > after; });
        if (!came || m_stop)
            return false;
        if (!m_events.empty() && m_events.front().first <= after + 1) {
            for (const auto &e : m_events)
                if (e.first == after + 1) {
                    *number = e.first;
                    *event = e.second;
                    return true;
                }
            return false;
        }
    }
    // Made outside this lock (its maker takes its own, then newest()).
    *event = whole(number);
    return true;
}

void Events::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
}

bool Events::stopping() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

} // namespace board
