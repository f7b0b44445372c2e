#ifndef PLATFORM_SOCKETWAIT_H
#define PLATFORM_SOCKETWAIT_H

namespace platform {

// Waits until a socket has something to read or timeoutMs passed; true when
// it may have (a caller reads without blocking either way). Where the
// platform has no wait of this kind it sleeps a little and says true.
bool waitReadable(int socket, int timeoutMs);

} // namespace platform

#endif // PLATFORM_SOCKETWAIT_H
