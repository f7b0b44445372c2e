#ifndef PLATFORM_SOCKETS_H
#define PLATFORM_SOCKETS_H

#include <QtGlobal>

#include <string>

// The few socket calls a server of its own connections needs, the same on
// POSIX and Windows: sockets non-blocking, waited on with a time limit.
namespace platform {

// A listening socket's queue of connections not yet accepted made as long
// as the system allows (a wall of pages reconnecting at once).
void widenBacklog(qintptr listening);
// A connection accepted on a listening socket within timeoutMs, or -1.
qintptr acceptWithin(qintptr listening, int timeoutMs);
void makeNonBlocking(qintptr socket);
// Waits until the socket can be read (or written); false when timeoutMs
// passed first, or it failed.
bool waitReadableFor(qintptr socket, int timeoutMs);
bool waitWritableFor(qintptr socket, int timeoutMs);
// What it can without waiting: bytes moved (> 0); 0: the peer closed
// (read); -1: nothing now (wait and again); -2: failed.
long readSome(qintptr socket, char *data, std::size_t size);
long writeSome(qintptr socket, const char *data, std::size_t size);
// The peer closed its side, or the connection broke (a page gone).
bool peerClosed(qintptr socket);
// Both directions ended: a thread waiting on the socket wakes.
void shutdownSocket(qintptr socket);
void closeSocket(qintptr socket);
// The error a connect in progress ended with (an errno value: ECONNREFUSED,
// ...), 0 while none; reading it clears it.
int pendingError(qintptr socket);
// Reads and writes on a blocking socket give up after ms (a handshake a
// library runs blocking, to a peer that never answers).
void limitBlockingWaits(qintptr socket, int ms);
// The numeric address and port of either end.
void endpoint(qintptr socket, bool peer, std::string *ip, int *port);

} // namespace platform

#endif // PLATFORM_SOCKETS_H
