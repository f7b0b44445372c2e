#include "platform/sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

bool waitFor(qintptr socket, short events, int timeoutMs)
{
    WSAPOLLFD p {SOCKET(socket), events, 0};
    return WSAPoll(&p, 1, timeoutMs) > 0 && (p.revents & (events | POLLHUP | POLLERR));
}

long moved(int n)
{
    if (n >= 0)
        return n;
    return WSAGetLastError() == WSAEWOULDBLOCK || WSAGetLastError() == WSAEINTR ? -1 : -2;
}

} // namespace

void widenBacklog(qintptr listening)
{
    ::listen(SOCKET(listening), SOMAXCONN);
}

qintptr acceptWithin(qintptr listening, int timeoutMs)
{
    if (!waitFor(listening, POLLRDNORM, timeoutMs))
        return -1;
    const SOCKET s = ::accept(SOCKET(listening), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : qintptr(s);
}

void makeNonBlocking(qintptr socket)
{
    u_long on = 1;
    ::ioctlsocket(SOCKET(socket), FIONBIO, &on);
}

bool waitReadableFor(qintptr socket, int timeoutMs)
{
    return waitFor(socket, POLLRDNORM, timeoutMs);
}

bool waitWritableFor(qintptr socket, int timeoutMs)
{
    return waitFor(socket, POLLWRNORM, timeoutMs);
}

long readSome(qintptr socket, char *data, std::size_t size)
{
    return moved(::recv(SOCKET(socket), data, int(size), 0));
}

long writeSome(qintptr socket, const char *data, std::size_t size)
{
    return moved(::send(SOCKET(socket), data, int(size), 0));
}

bool peerClosed(qintptr socket)
{
    WSAPOLLFD p {SOCKET(socket), POLLRDNORM, 0};
    if (WSAPoll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & (POLLHUP | POLLERR))
        return true;
    char byte;
    return ::recv(SOCKET(socket), &byte, 1, MSG_PEEK) == 0;
}

int pendingError(qintptr socket)
{
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(SOCKET(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) != 0)
        error = WSAGetLastError();
    // Told in errno's words, as the callers classify them.
    switch (error) {
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAEHOSTUNREACH:
        return EHOSTUNREACH;
    case WSAENETUNREACH:
        return ENETUNREACH;
    default:
        return error;
    }
}

void limitBlockingWaits(qintptr socket, int ms)
{
    const DWORD limit = DWORD(ms);
    ::setsockopt(SOCKET(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&limit), sizeof limit);
    ::setsockopt(SOCKET(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char *>(&limit), sizeof limit);
}

void shutdownSocket(qintptr socket)
{
    ::shutdown(SOCKET(socket), SD_BOTH);
}

void closeSocket(qintptr socket)
{
    ::closesocket(SOCKET(socket));
}

void endpoint(qintptr socket, bool peer, std::string *ip, int *port)
{
    sockaddr_storage address {};
    int length = sizeof address;
    const int got = peer ? ::getpeername(SOCKET(socket), reinterpret_cast<sockaddr *>(&address), &length)
                         : ::getsockname(SOCKET(socket), reinterpret_cast<sockaddr *>(&address), &length);
    char host[NI_MAXHOST] = "", service[NI_MAXSERV] = "";
    if (got == 0 && ::getnameinfo(reinterpret_cast<sockaddr *>(&address), length, host, sizeof host, service, sizeof service,
                                  NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        *ip = host;
        *port = std::atoi(service);
    }
}

} // namespace platform
