#include "platform/sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

bool waitFor(qintptr socket, short events, int timeoutMs)
{
    pollfd p {int(socket), events, 0};
    int n;
    do
        n = ::poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (events | POLLHUP | POLLERR));
}

long moved(long n)
{
    if (n >= 0)
        return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
}

} // namespace

void widenBacklog(qintptr listening)
{
    ::listen(int(listening), SOMAXCONN);
}

qintptr acceptWithin(qintptr listening, int timeoutMs)
{
    if (!waitFor(listening, POLLIN, timeoutMs))
        return -1;
    const int fd = ::accept4(int(listening), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? -1 : fd;
}

void makeNonBlocking(qintptr socket)
{
    const int flags = ::fcntl(int(socket), F_GETFL, 0);
    ::fcntl(int(socket), F_SETFL, flags | O_NONBLOCK);
}

bool waitReadableFor(qintptr socket, int timeoutMs)
{
    return waitFor(socket, POLLIN, timeoutMs);
}

bool waitWritableFor(qintptr socket, int timeoutMs)
{
    return waitFor(socket, POLLOUT, timeoutMs);
}

long readSome(qintptr socket, char *data, std::size_t size)
{
    return moved(::recv(int(socket), data, size, 0));
}

long writeSome(qintptr socket, const char *data, std::size_t size)
{
    return moved(::send(int(socket), data, size, MSG_NOSIGNAL));
}

bool peerClosed(qintptr socket)
{
    pollfd p {int(socket), POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR))
        return true;
    char byte;
    return ::recv(int(socket), &byte, 1, MSG_PEEK) == 0;
}

int pendingError(qintptr socket)
{
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(int(socket), SOL_SOCKET, SO_ERROR, &error, &size) == 0 ? error : errno;
}

void limitBlockingWaits(qintptr socket, int ms)
{
    const timeval limit {ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(int(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(int(socket), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void shutdownSocket(qintptr socket)
{
    ::shutdown(int(socket), SHUT_RDWR);
}

void closeSocket(qintptr socket)
{
    ::close(int(socket));
}

void endpoint(qintptr socket, bool peer, std::string *ip, int *port)
{
    sockaddr_storage address {};
    socklen_t length = sizeof address;
    const int got = peer ? ::getpeername(int(socket), reinterpret_cast<sockaddr *>(&address), &length)
                         : ::getsockname(int(socket), reinterpret_cast<sockaddr *>(&address), &length);
    char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
    if (got == 0 && ::getnameinfo(reinterpret_cast<sockaddr *>(&address), length, host, sizeof host, service, sizeof service,
                                  NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        *ip = host;
        *port = std::atoi(service);
    }
}

} // namespace platform
