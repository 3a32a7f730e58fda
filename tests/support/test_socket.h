// TCP on loopback for tests, the same calls on Linux and Windows: a socket is an int on both
// (Winsock's handles fit one), never closed with close(), and sending never raises SIGPIPE.
// Winsock is started on first use and stays up for the life of the test program.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kvtest {

// A listening socket on 127.0.0.1:port (0: a free port), its port in *bound; -1 on failure.
int ListenLoopback(uint16_t port, int backlog, uint16_t *bound);
// A socket connected to 127.0.0.1:port; -1 when refused.
int ConnectLoopback(uint16_t port);
// A socket connected to an IPv4 address (host byte order) and port; -1 when refused.
int ConnectIPv4(uint32_t address, uint16_t port);
// The next connection on a listening socket; -1 on failure.
int AcceptSocket(int listener);
void CloseSocket(int fd);
// Ends both directions, so that a thread blocked on the socket wakes up.
void ShutdownSocket(int fd);
// Sends small writes at once (TCP_NODELAY).
void SetNoDelay(int fd);
// Makes the socket's close reset the connection (SO_LINGER 0) instead of ending it in order.
void SetResetOnClose(int fd);

// Like send() and recv(): bytes moved, 0 on an orderly close, -1 on an error.
long SendBytes(int fd, const void *data, size_t size);
long RecvBytes(int fd, void *buffer, size_t size);
// Receives exactly `size` bytes unless the peer closes first.
long RecvAll(int fd, void *buffer, size_t size);
// True when the socket can be read (data or a close) within timeout_ms.
bool WaitReadable(int fd, int timeout_ms);

// True when a process started from this one would get the socket too (not close-on-exec
// on Linux, an inheritable handle on Windows).
bool InheritedByChildren(int fd);

// The local port a socket is bound to; 0 when unknown.
uint16_t LocalPort(int fd);
// A loopback port that was free a moment ago.
uint16_t FreeLoopbackPort();
// True when something accepts connections on 127.0.0.1:port.
bool LoopbackAccepts(uint16_t port);

}  // namespace kvtest
