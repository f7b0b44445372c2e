#ifndef BOARD_EVENTS_H
#define BOARD_EVENTS_H

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// The board's changes as numbered events, the newest few kept, for the
// pages to wait on. A page too far behind gets the whole board instead,
// under the number that whole board was made at: never a newer one, so no
// event published while it was made counts as seen.
namespace board {

class Events
{
public:
    // The whole board, made with the number of the newest event it holds.
    using Whole = std::function<QByteArray(quint64 *number)>;

    explicit Events(std::size_t kept = 64) : m_kept(kept) {}

    // Adds an event; its number (from 1).
    quint64 publish(const QByteArray &event);
    // The newest event's number (0: none yet).
    quint64 newest() const;
    // The next change after event `after`, waiting at most timeoutMs: false
    // when none came (or stopping). Further behind than the events kept,
    // the whole board from `whole`.
    bool next(quint64 after, int timeoutMs, const Whole &whole, quint64 *number, QByteArray *event) const;
    // Wakes every waiter; next() says false from now on.
    void stop();
    bool stopping() const;

private:
    const std::size_t m_kept;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<std::pair<quint64, QByteArray>> m_events;
    quint64 m_number = 0;
    bool m_stop = false;
};

} // namespace board

#endif // BOARD_EVENTS_H
