// The few socket calls the socket FTP client makes itself, beside Tessum: the listening
// socket of active mode and the addresses of a connected socket. One whole file per
// platform (ftp_net_posix.cpp, ftp_net_win32.cpp).
#pragma once

#include <stdint.h>

#define FTPNET_OK 0
#define FTPNET_IN_USE 1       // the port is taken
#define FTPNET_NO_SOCKET 2    // no socket could be created
#define FTPNET_FAILED 3       // bind or listen failed otherwise

// A non-blocking IPv4 TCP socket listening on `port` of every local address.
int FtpNet_Listen(uint16_t port, uintptr_t *socket);
void FtpNet_Close(uintptr_t socket);
// The local or the peer IPv4 address of a connected socket, host byte order. 0 or -1.
int FtpNet_LocalAddress(uintptr_t socket, uint32_t *address);
int FtpNet_PeerAddress(uintptr_t socket, uint32_t *address);
// A random number for the first port tried.
uint32_t FtpNet_Random(void);
