// The socket FTP client: login, single commands and file or listing transfers over the
// scheduler library's asynchronous TCP sockets (Tessum). There is no thread of its own: each
// step is a Tessum read, write, connect or accept whose completion starts the next, on one
// of Tessum's pool threads.
//
// Two layers:
// - The chains (ConnectToServerByFtp, FtpSock_Command, FtpSock_Transfer) take an agent, a
//   token and a completion callback like any Tessum operation. One chain runs one transport
//   operation at a time, always with the caller's token, so withdrawing that token
//   (SCHEAGENT_RemoveToken) stops the chain wherever it is.
// - The slot functions (FtpSock_SlotLogin, FtpSock_SlotTransfer, FtpSock_SlotClose) run a
//   chain for an operation slot of a device: with the slot's token, its abort flag, its
//   device lock and its control connection `OperationSlot::ftp_control`. A synchronous slot
//   waits on the slot's event; an asynchronous one receives each chain's outcome as the
//   slot's one embedded node on the worker's queue.
//
// Reply framing. Every reply (greeting, login, command, transfer, final) is read until it
// holds a complete final line (three digits, a space, then a CR or LF), however the server
// splits it, within FTPSOCK_REPLY_BOUND bytes; a reply that grows past the bound without a
// final line ends the chain with the step's failure status and value 0.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "platform/os.h"
#include "tessum.h"

struct OperationSlot;
struct KavrelDevice;

#define FTPSOCK_REPLY_BOUND 6000   // bytes of one reply, continuation lines included
#define FTPSOCK_PIECE 6000         // bytes moved per data read or write
#define FTPSOCK_TEXT 260           // command, argument and path fields
#define FTPSOCK_MAX_CODES 50       // reply codes FtpSock_ParseReplyCodes reports
#define FTPSOCK_CODES_SIZE (FTPSOCK_MAX_CODES * 3 + 1)

// Command kinds of FtpSock_Command.
enum FtpSockCommandKind : uint32_t {
  FTPSOCK_NOOP = 0,
  FTPSOCK_ABOR = 1,
  FTPSOCK_DELE = 2,
  FTPSOCK_CWD = 3,
  FTPSOCK_PASV = 4,
  FTPSOCK_QUIT = 5,
  FTPSOCK_PORT = 6,
  FTPSOCK_RMD = 7,
  FTPSOCK_MKD = 8,
  FTPSOCK_PWD = 9,
  FTPSOCK_TYPE = 10,
};

// Transfer kinds of FtpSock_Transfer (any other value is a STOR; the library passes 13).
#define FTPSOCK_LIST 11u
#define FTPSOCK_RETR 12u
#define FTPSOCK_STOR 13u

// ---- Parsers (no sockets) ---------------------------------------------------------------

// Splits `text` at CR and LF (writing into it) and appends the three digits of each final
// reply line (three decimal digits then a space; continuation lines are skipped) to
// `codes`, without separators, NUL-terminated: at most FTPSOCK_MAX_CODES codes, so `codes`
// holds FTPSOCK_CODES_SIZE bytes. Returns the number of codes, or 0x800700d1 when an
// argument is NULL.
uint32_t FtpSock_ParseReplyCodes(char *text, char *codes);

// The framing of one reply in `data` (`length` bytes, need not be NUL-terminated): the
// number of bytes up to and including the terminator of the first complete final line, and
// its code in `*code` (100-999 as read); 0 when no complete final line is there yet.
size_t FtpSock_ReplyEnd(const char *data, size_t length, uint32_t *code);

// Parses a PASV reply: the numbers after the last '(' up to ')', four address bytes and two
// port bytes separated by commas. 0 and the address (host byte order, 192.168.1.10 is
// 0xC0A8010A) and port; 0x800700d8 when there is no '(', a character other than digits,
// ',' and ')' comes first, a number is missing or above 255, or the port is 0.
uint32_t FtpSock_ParsePasv(const char *reply, uint32_t *address, uint32_t *port);

// ---- Records ----------------------------------------------------------------------------

// Where to log in. The caller fills host (dotted IPv4 text, at most 139 characters), port,
// user (empty: "USER anonymous"), password and account (sent when the server answers 332 or
// another 3xx but 331). The chain fills the target fields itself; the control connection
// always goes directly to the host.
struct FtpSockServer {
  char host[1028];
  uint32_t port;
  char user[65];
  char password[65];
  char account[66];
  uint32_t target_address;
  uint32_t target_port;
  char host_copy[140];
};

// The progress record given to a transfer's progress callback: after each piece written
// during STOR, `value` is that piece's byte count and `marker` 0xFFFFFFFF; when the final
// reply arrived, `value` is the address of the reply text and `marker` 0.
struct FtpSockProgress {
  uint64_t zero0;
  void *context;
  uint64_t value;
  uint64_t zero1;
  uint32_t marker;
  uint8_t zero2[12];
};
typedef void (*FtpSockProgressCallback)(const FtpSockProgress *progress);

// One transfer, filled by the caller.
struct FtpSockTransfer {
  uint32_t passive;          // non-zero PASV, zero PORT
  char path[FTPSOCK_TEXT];   // local file; for LIST the directory (may be empty)
  char remote[FTPSOCK_TEXT]; // the remote name; empty: RETR names `path`, STOR names the
                             // part of `path` after its last '/' (all of it when none)
  uint32_t kind;             // FTPSOCK_LIST, FTPSOCK_RETR, else STOR
  uint32_t ascii;            // 1 "TYPE A", else "TYPE I"; a LIST always uses A
  TessumHandle *control;     // the logged-in control connection (slot functions: ignored)
  FtpSockProgressCallback progress;  // may be NULL
  void *progress_context;
  char *listing;             // LIST: the caller's buffer, emptied first, always
  uint32_t listing_size;     // NUL-terminated; a listing that does not fit ends the
                             // transfer with 0x800700d5 and value 0
};

// How a chain learns of an abort between its steps. With a lock, every transport start and
// every release of a handle the caller can see (the control connection) happens under it,
// and a start is not made once `*abort` is non-zero: the chain then ends with 0x80070043
// as if its token had been withdrawn. Both may be NULL. The lock and flag must outlive the
// chain.
struct FtpSockGuard {
  OsLock lock;
  const std::atomic<uint32_t> *abort;
};

// One command for FtpSock_Command.
struct FtpSockRequest {
  TessumHandle *control;          // the logged-in control connection
  uint32_t kind;                  // FtpSockCommandKind
  char argument[FTPSOCK_TEXT];    // DELE, CWD, PORT, RMD, MKD; TYPE takes its first char
};

// ---- Chains -----------------------------------------------------------------------------
//
// Common to the three: the result is the start result. 0 when started: the completion
// callback then runs exactly once, on a Tessum pool thread, with `token` (its `context` set
// to `context`, `status` the outcome, `value` the number of the last reply read, so the
// refusing one on a refusal, or 0 when none was read). Anything else: nothing started, no
// callback, nothing left allocated. A chain never reports 0x80070071: a server that closes
// the control connection before its reply is complete fails the step with the step's own
// status (0x800700d2, d3, d4 or d5) and value 0. The caller
// leaves the token alone until the callback ran. `guard` may be NULL. A withdrawal
// (0x80070043) at any step ends the chain with 0x80070043 exactly once and releases every
// connection the chain made.

// Connects to `server->host`:`server->port` and logs in: greeting (continuation lines,
// 120 then a later 220), then USER, PASS on 331, ACCT on another 3xx. The new control
// connection is stored at `*control` (which must be NULL) under the guard's lock as soon as
// the connect starts; it stays there only when the login succeeds (status 0). On every other
// end it is released and `*control` cleared. Statuses: 0; 0x800700d2 greeting 4xx (value the
// code), or no final greeting line within the bound; 0x800700d3 login refused (4xx or 5xx,
// value the code) or reply without a final line within the bound; 0x800700d1 a host that is
// not dotted IPv4, credentials holding CR or LF, or NULL arguments (returned at once); Tessum
// statuses unchanged (0x80070042 time-out, 0x80070076 refused, 0x80070043).
uint32_t ConnectToServerByFtp(TessumAgent *agent, TessumToken *token, TessumCallback callback,
                              void *context, const FtpSockServer *server,
                              TessumHandle *control, const FtpSockGuard *guard);

// Sends one command and reads its reply. A 2xx reply succeeds: for PASV the reply text, for
// PWD the text between its first pair of double quotes, is copied to `result` (`result_size`
// bytes, truncated, NUL-terminated; may be NULL for other kinds). Statuses: 0; 0x800700d4
// reply not 2xx (value the code) or no final line within the bound; 0x800700d1 unknown kind
// or NULL arguments (returned at once); Tessum statuses unchanged.
uint32_t FtpSock_Command(TessumAgent *agent, TessumToken *token, TessumCallback callback,
                         void *context, const FtpSockRequest *request, char *result,
                         size_t result_size, const FtpSockGuard *guard);

// Moves one file or listing on a logged-in control connection: TYPE, PASV or PORT, the
// transfer command, the data (to the end of the data connection, also when the final
// reply came with the 1xx), the final reply. PASV connects to the control connection's peer
// at the announced port, whatever address the reply names. RETR writes a file beside
// `path` and renames it over `path` only when the whole file arrived and the server
// confirmed it; a failed RETR leaves `path` as it was. The control connection stays open
// and the caller's. Statuses: 0; 0x800700d1 empty path for RETR or STOR, a path or name
// holding CR or LF, NULL arguments (returned at once); 0x800700d6 returned at once for a
// STOR whose local file cannot be opened (nothing is sent, so the remote file stays as it
// was); 0x800700d4 TYPE, PASV or PORT refused; 0x800700d5 transfer command or
// final reply not 2xx (value the code), a listing that does not fit, no final line within
// the bound; 0x800700d6 local file cannot be opened or written; 0x800700d8 malformed PASV
// reply; 0x8007007a no port to listen on (active mode, after one pass over the range);
// 0x80070074 the listening socket could not be made or wrapped; Tessum statuses unchanged.
// The end of the data connection is the normal end of the data, never reported as such.
uint32_t FtpSock_Transfer(TessumAgent *agent, TessumToken *token, TessumCallback callback,
                          void *context, const FtpSockTransfer *transfer,
                          const FtpSockGuard *guard);

// ---- Operation slots --------------------------------------------------------------------
//
// The chains above run for a slot of a device: token `slot->token` (its time-out set to the
// device's), the slot's abort flag and the device lock as the guard, and the control
// connection in `slot->ftp_control`. One chain at a time per slot.
//
// Synchronous slot (`slot->async` 0): the call waits on the slot's event and returns the
// chain's status (a start failure as is); the server's reply number is left in
// `slot->token.value`. Asynchronous slot: the call returns the start result; on 0 the
// outcome arrives on the worker as the slot's embedded node (`node->event` the status,
// `node->transport` the slot's token with the value) and `slot->final_status` holds the
// status too. Completion_HandleNode gives it to the operation kind's handler.
//
// Abort: Kavrel_AbortNetworkOper ends the chain with 0x80070043 once (synchronous: returned;
// asynchronous: one node), and the chain's data connections are released; a login that was
// withdrawn releases its control connection too. `slot->ftp_control` is released by
// FtpSock_SlotClose, by ReleaseOperationSlot (every end of an operation), by
// Kavrel_DeleteDevice (through its slots) and when the record is freed.

// Fills `server` for a device: its address, `port` (21 when 0), its user name or "root"
// when it has none, and its password.
void FtpSock_ServerOfDevice(const KavrelDevice *device, uint32_t port, FtpSockServer *server);

// Logs in; on success the control connection is in `slot->ftp_control`. A control
// connection still open there is released first.
uint32_t FtpSock_SlotLogin(OperationSlot *slot, const FtpSockServer *server);

// Runs a transfer on `slot->ftp_control` (`transfer->control` is not read); 0x800700d1 when
// there is no control connection.
uint32_t FtpSock_SlotTransfer(OperationSlot *slot, const FtpSockTransfer *transfer);

// Releases `slot->ftp_control` under the device lock (no QUIT is sent). Safe when none.
void FtpSock_SlotClose(OperationSlot *slot);
