#include "process.h"

#include <cerrno>
#include <csignal>

bool processIsRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
    // Signal 0 only asks: EPERM means it runs as another user.
    return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}
