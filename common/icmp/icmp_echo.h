// ICMP echo over IPv4: one socket that sends echo requests to one target and picks that
// target's echo replies out of whatever else arrives. Shared by the library's reachability
// probe and the network client's ping; each keeps its own loop and timing.
//
// The platform half is a whole file chosen by the build (icmp_posix.cpp, icmp_win32.cpp):
// - Linux: a raw socket where permitted, else the unprivileged ICMP datagram socket (the
//   kernel then picks the identifier and hands us only our own replies).
// - Windows: a raw socket, else the system's echo helper (IcmpSendEcho2) when the raw socket
//   is refused for want of rights.
// The helper kind (icmp_helper.cpp) is the same code on every platform, over a table of the
// helper's operations: the system's on Windows, a test's own anywhere (the seam at the end).
//
// None of these functions logs or keeps global state (but for the test's helper); one socket
// belongs to one thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef struct IcmpEchoSocket IcmpEchoSocket;

// How the socket reaches the network.
enum IcmpEchoKind {
  ICMP_ECHO_RAW = 1,     // raw IPv4 ICMP socket; our identifier is the process's
  ICMP_ECHO_DGRAM = 2,   // Linux ICMP datagram socket; the kernel's identifier
  ICMP_ECHO_HELPER = 3,  // an echo helper (Windows's, or a test's); it matches replies
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
// to the target for now. With the echo helper the request is started here and waited for,
// up to the socket's I/O time-out, by the helper; a request still running from the last send
// is waited out first (it ends by its own time-out).
enum IcmpEchoResult IcmpEcho_Send(IcmpEchoSocket *socket, uint16_t sequence, uint32_t ticks);

// Reads datagrams until the answer arrives or `window_ms` has passed on a monotonic clock.
// The answer is an echo reply (type 0) from the target address, with our identifier and a
// sequence number at or after `first_sequence` (modulo 2^16, within half the range). All
// else is skipped: our own requests (a raw socket on loopback reads them first), ICMP
// errors, other hosts' traffic, replies to requests older than `first_sequence`.
// ICMP_ECHO_OK, ICMP_ECHO_TIMEOUT, ICMP_ECHO_UNREACHABLE (the echo helper's request was
// refused) or ICMP_ECHO_ERROR. The echo helper answers for the last request sent alone, and
// may be waited for in several windows (slices) without a new request going out.
enum IcmpEchoResult IcmpEcho_WaitReply(IcmpEchoSocket *socket, uint16_t first_sequence,
                                       uint32_t window_ms);

// ---- The echo helper's operations: the seam ------------------------------------------------

// How a helper's echo request stands.
enum IcmpEchoHelperState {
  ICMP_HELPER_PENDING = 0,      // started and not ended yet
  ICMP_HELPER_ANSWERED = 1,     // the target answered it
  ICMP_HELPER_UNANSWERED = 2,   // it ended without the target's answer (its time-out, or an
                                // error message from a router on the way)
  ICMP_HELPER_UNREACHABLE = 3,  // refused: no route or link leads to the target for now
  ICMP_HELPER_FAILED = 4,       // any other failure; *error holds the platform's number
};

// An echo helper: the system sends each echo request, picks out its reply and times it.
// One request at a time per handle.
typedef struct IcmpEchoHelper {
  void *context;
  // Opens a handle for requests to `target` (network byte order): 0 and *handle, or the
  // platform's error number.
  int (*open)(void *context, uint32_t target, void **handle);
  // Starts one request carrying `data` (the echo request after its 8-byte header), to be
  // waited for at most `timeout_ms`. Never called while the handle's last request is
  // pending. Any state; ICMP_HELPER_PENDING once it runs.
  enum IcmpEchoHelperState (*start)(void *handle, const uint8_t *data, size_t length,
                                    uint32_t timeout_ms, int *error);
  // Waits up to `wait_ms` for the started request to end; PENDING when it has not.
  enum IcmpEchoHelperState (*wait)(void *handle, uint32_t wait_ms, int *error);
  // Ends a pending request, if any, and closes the handle.
  void (*close)(void *handle);
} IcmpEchoHelper;

// Tests: from now on IcmpEcho_Open opens every socket over `helper`, on every platform; NULL
// gives the platform's own choice back. The helper outlives the sockets opened over it.
void IcmpEcho_UseHelperForTests(const IcmpEchoHelper *helper);

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
