#include "platform/socketwait.h"

#include <QThread>

#include <algorithm>

namespace platform {

bool waitReadable(int, int timeoutMs)
{
    QThread::msleep(unsigned(std::min(timeoutMs, 50)));
    return true;
}

} // namespace platform
