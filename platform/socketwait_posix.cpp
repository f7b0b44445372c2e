#include "platform/socketwait.h"

#include <poll.h>

namespace platform {

bool waitReadable(int socket, int timeoutMs)
{
    pollfd p {socket, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) != 0;
}

} // namespace platform
