#include "linestate.h"

#include <cerrno>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool serialLineHungUp(qintptr handle)
{
    if (handle < 0)
        return true;
    pollfd p {int(handle), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool setReadyThreshold(qintptr handle, int bytes)
{
    // With VTIME 0, a terminal line is ready for poll() only once VMIN
    // bytes wait; reads stay non-blocking and take what is there.
    termios t {};
    if (handle < 0 || ::tcgetattr(int(handle), &t) != 0)
        return false;
    t.c_cc[VMIN] = cc_t(qBound(1, bytes, 255));
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(int(handle), TCSANOW, &t) == 0;
}

bool readWaitingNow(qintptr handle, QByteArray *out)
{
    if (handle < 0)
        return false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(int(handle), buffer, sizeof buffer);
        if (n > 0) {
            out->append(buffer, int(n));
            continue;
        }
        return n == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
    }
}
