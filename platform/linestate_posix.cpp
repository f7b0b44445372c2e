#include "linestate.h"

#include <poll.h>

bool serialLineHungUp(qintptr handle)
{
    if (handle < 0)
        return true;
    pollfd p {int(handle), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
