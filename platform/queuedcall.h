#ifndef PLATFORM_QUEUEDCALL_H
#define PLATFORM_QUEUEDCALL_H

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <mutex>
#include <utility>

// Work handed to another thread: a call queued to an object's thread, a task
// for a pool, and the wait for a pool's tasks.
//
// Qt is not built with ThreadSanitizer, so the locks its event queue and
// thread pool take are invisible to it, and every hand-over would read as a
// race. In a build with it (ZENTREL_TSAN) each hand-over also passes a lock
// of the program's own, which it sees: the sender holds it while it hands
// over, the receiver takes it before it looks at what it got. Elsewhere
// these are Qt's calls and nothing more.
namespace platform {

#ifdef ZENTREL_TSAN
inline std::mutex &handOverLock()
{
    static std::mutex lock;
    return lock;
}
inline void handedOver()
{
    std::lock_guard<std::mutex> seen(handOverLock());
}
#endif

// f() on the thread of `to`, through its event queue (dropped if `to` is
// gone by then).
template <typename F>
void queuedCall(QObject *to, F &&f)
{
#ifdef ZENTREL_TSAN
    std::lock_guard<std::mutex> sending(handOverLock());
    QMetaObject::invokeMethod(to, [f = std::forward<F>(f)]() mutable {
        handedOver();
        f();
        handedOver(); // what it did, seen by whoever waits for this thread
    }, Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(to, std::forward<F>(f), Qt::QueuedConnection);
#endif
}

// f() on a thread of the pool.
template <typename F>
void pooled(QThreadPool &pool, F &&f)
{
#ifdef ZENTREL_TSAN
    std::lock_guard<std::mutex> sending(handOverLock());
    pool.start([f = std::forward<F>(f)]() mutable {
        handedOver();
        f();
        handedOver(); // what it did, seen by whoever waits for it
    });
#else
    pool.start(std::forward<F>(f));
#endif
}

// After waiting for another thread (QThread::wait): what its queued calls
// did is seen.
inline void afterWaiting()
{
#ifdef ZENTREL_TSAN
    handedOver();
#endif
}

// Every task of the pool done, and what they did seen.
inline void waitForPool(QThreadPool &pool)
{
    pool.waitForDone();
    afterWaiting();
}

} // namespace platform

#endif // PLATFORM_QUEUEDCALL_H
