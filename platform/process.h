#ifndef PLATFORM_PROCESS_H
#define PLATFORM_PROCESS_H

#include <QtGlobal>

// Whether a process of this machine is running (a stale claim left by a
// crash names one that is not). Unknown answers true: never call a live
// process gone.
bool processIsRunning(qint64 pid);

#endif // PLATFORM_PROCESS_H
