// Windows Sockets for the socket FTP client's active mode.
#include "sched/ftp_net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <random>

int FtpNet_Listen(uint16_t port, uintptr_t *out) {
  // Overlapped, for Tessum's completion port. Not inheritable: a process that the host starts
  // while a transfer waits would otherwise keep the port listening after we close it.
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return FTPNET_NO_SOCKET;
  // Without exclusive use another socket could bind the same port over ours.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&exclusive),
             sizeof(exclusive));
  u_long nonblocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) {
    closesocket(s);
    return FTPNET_FAILED;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
      listen(s, 4) != 0) {
    int error = WSAGetLastError();
    closesocket(s);
    return error == WSAEADDRINUSE || error == WSAEACCES ? FTPNET_IN_USE : FTPNET_FAILED;
  }
  *out = static_cast<uintptr_t>(s);
  return FTPNET_OK;
}

void FtpNet_Close(uintptr_t socket) { closesocket(static_cast<SOCKET>(socket)); }

static int AddressOf(uintptr_t socket, uint32_t *out, bool peer) {
  sockaddr_in address{};
  int length = sizeof(address);
  SOCKET s = static_cast<SOCKET>(socket);
  int rc = peer ? getpeername(s, reinterpret_cast<sockaddr *>(&address), &length)
                : getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
  if (rc != 0 || address.sin_family != AF_INET) return -1;
  *out = ntohl(address.sin_addr.s_addr);
  return 0;
}

int FtpNet_LocalAddress(uintptr_t socket, uint32_t *address) {
  return AddressOf(socket, address, false);
}

int FtpNet_PeerAddress(uintptr_t socket, uint32_t *address) {
  return AddressOf(socket, address, true);
}

uint32_t FtpNet_Random(void) {
  std::random_device device;
  return device();
}
