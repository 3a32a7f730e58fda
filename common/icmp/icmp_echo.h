// ICMP echo over IPv4: one socket that sends echo requests to one target and picks that
// target's echo replies out of whatever else arrives. Shared by the library's reachability
// probe and the network client's ping; each keeps its own loop and timing.
//
// The platform half is a whole file chosen by the build (icmp_posix.cpp, icmp_win32.cpp):
// - Linux: a raw socket where permitted, else the unprivileged ICMP datagram socket (the
//   kernel then picks the identifier and hands us only our own replies).
// - Windows: a raw socket, else the system's echo helper (IcmpSendEcho2) when the raw socket
//   is refused for want of rights.
//
// None of these functions logs or keeps global state; one socket belongs to one thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef struct IcmpEchoSocket IcmpEchoSocket;

// How the socket reaches the network.
enum IcmpEchoKind {
  ICMP_ECHO_RAW = 1,     // raw IPv4 ICMP socket; our identifier is the process's
  ICMP_ECHO_DGRAM = 2,   // Linux ICMP datagram socket; the kernel's identifier
  ICMP_ECHO_HELPER = 3,  // Windows echo helper; the system matches replies
};

// Outcomes of IcmpEcho_Send and IcmpEcho_WaitReply.
enum IcmpEchoResult {
  ICMP_ECHO_OK = 0,           // sent; or the answer arrived
  ICMP_ECHO_TIMEOUT = 1,      // the send timed out; or the window ended without the answer
  ICMP_ECHO_UNREACHABLE = 2,  // refused because the target cannot be reached for now
  ICMP_ECHO_ERROR = 3,        // any other failure; IcmpEcho_LastError tells which
};

// Size of the echo request: 8 header bytes, a 32-bit tick count, 32 bytes of 'E'.
#define ICMP_ECHO_REQUEST_SIZE 44
#define ICMP_ECHO_PAYLOAD_BYTE 0x45

// Opens a socket for echo requests to `target` (IPv4 address in network byte order) with
// send and receive time-outs of `io_timeout_ms` (0: set none, for a caller that wants to
// tell a refused option apart with IcmpEcho_SetTimeouts). 0 and *out set, or the platform's
// error number (errno, or the Windows Sockets / system error) with *out NULL.
int IcmpEcho_Open(uint32_t target, uint32_t io_timeout_ms, IcmpEchoSocket **out);
// Sets the send and receive time-outs. 0, or the platform's error number.
int IcmpEcho_SetTimeouts(IcmpEchoSocket *socket, uint32_t io_timeout_ms);
// Closes the socket and sets *socket to NULL; NULL and *socket NULL accepted.
void IcmpEcho_Close(IcmpEchoSocket **socket);
enum IcmpEchoKind IcmpEcho_Kind(const IcmpEchoSocket *socket);
// The platform error number of the last ICMP_ECHO_ERROR (0 when none).
int IcmpEcho_LastError(const IcmpEchoSocket *socket);

// Sends one echo request with sequence number `sequence` and the tick count `ticks`.
// ICMP_ECHO_UNREACHABLE when the platform refuses the send because no route or link leads
// to the target for now. With the echo helper the request is sent by IcmpEcho_WaitReply,
// so this always succeeds.
enum IcmpEchoResult IcmpEcho_Send(IcmpEchoSocket *socket, uint16_t sequence, uint32_t ticks);

// Reads datagrams until the answer arrives or `window_ms` has passed on a monotonic clock.
// The answer is an echo reply (type 0) from the target address, with our identifier and a
// sequence number at or after `first_sequence` (modulo 2^16, within half the range). All
// else is skipped: our own requests (a raw socket on loopback reads them first), ICMP
// errors, other hosts' traffic, replies to requests older than `first_sequence`.
// ICMP_ECHO_OK, ICMP_ECHO_TIMEOUT, ICMP_ECHO_UNREACHABLE (the echo helper's send was
// refused) or ICMP_ECHO_ERROR.
enum IcmpEchoResult IcmpEcho_WaitReply(IcmpEchoSocket *socket, uint16_t first_sequence,
                                       uint32_t window_ms);

// ---- Pieces shared by the platform halves (icmp_common.cpp), public for tests --------------

// Internet checksum (RFC 1071) of `length` bytes.
uint16_t IcmpEcho_Checksum(const uint8_t *data, size_t length);
// Fills the 44-byte echo request: type 8, code 0, identifier and sequence stored in the
// host's byte order (as the probe always has), tick count, 32 bytes 'E', checksum last.
void IcmpEcho_BuildRequest(uint8_t *request, uint16_t identifier, uint16_t sequence,
                           uint32_t ticks);

// What a received datagram is, after the IP header (raw sockets) has been stripped.
typedef struct IcmpEchoReplyFilter {
  uint32_t target;          // network byte order
  uint16_t identifier;      // ignored when check_identifier is 0
  int check_identifier;     // 0 on the datagram socket, where the kernel matched it already
  uint16_t first_sequence;
} IcmpEchoReplyFilter;

// 1 when `icmp` (the ICMP message, `length` bytes) from `source` (network byte order) is the
// answer the filter asks for, else 0.
int IcmpEcho_IsAnswer(const IcmpEchoReplyFilter *filter, uint32_t source, const uint8_t *icmp,
                      size_t length);
// The ICMP message inside a raw IPv4 datagram: *icmp and *icmp_length set and 1, or 0 when
// the datagram is too short, not IPv4 or not ICMP.
int IcmpEcho_StripIpHeader(const uint8_t *datagram, size_t length, const uint8_t **icmp,
                           size_t *icmp_length);
