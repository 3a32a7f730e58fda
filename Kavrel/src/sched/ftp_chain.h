// The machinery the socket FTP chains share: guarded transport starts, reply reading with
// framing, and the one way a chain ends. Internal to the socket FTP client.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sched/ftp_sock.h"

// A reply step ends in failure after this many preliminary (1xx) or unanswered rounds, so a
// server that keeps sending them cannot hold a chain for ever.
#define FTPSOCK_MAX_ROUNDS 32

struct FtpChain;

// Advances a chain after a transport completion with `status`. Returns true when the chain
// is to be advanced again at once (a reply that was already buffered); the chain may have
// ended (and been freed) when it returns false.
typedef bool (*FtpChainAdvance)(FtpChain *chain, uint32_t status);
// Releases what the chain holds beyond the base and frees it.
typedef void (*FtpChainFree)(FtpChain *chain, uint32_t status);

struct FtpChain {
  TessumAgent *agent;
  TessumToken *token;
  TessumCallback callback;
  void *context;
  FtpSockGuard guard;
  FtpChainAdvance advance;
  FtpChainFree free_chain;
  TessumHandle *control;  // where the control connection is
  // The control connection's reply buffer: `fill` bytes held, the first `used` of them the
  // reply being handled (its code in `code`); what follows is the start of the next reply.
  char reply[FTPSOCK_REPLY_BOUND + 1];
  size_t fill;
  size_t used;
  uint32_t code;
  uint32_t reading_reply;   // the pending read is a control connection read
  uint32_t reply_failure;   // the status for a reply that outgrows the buffer or is cut
  uint32_t rounds;
};

// Fills the base: every field empty.
void FtpChain_Init(FtpChain *chain, TessumAgent *agent, TessumToken *token,
                   TessumCallback callback, void *context, const FtpSockGuard *guard,
                   FtpChainAdvance advance, FtpChainFree free_chain);

// The Tessum callback of every transport operation a chain starts.
void TESSUM_CALL FtpChain_Completion(TessumToken *token);

// Runs `start` with the token touched, under the guard's lock, unless the abort flag is set
// (0x80070043 then). Returns the start result.
template <typename Start>
uint32_t FtpChain_Guarded(FtpChain *chain, Start start) {
  if (chain->guard.lock) OsLockEnter(chain->guard.lock);
  uint32_t rc;
  if (chain->guard.abort && chain->guard.abort->load()) {
    rc = TESSUM_E_WITHDRAWN;
  } else {
    STATOKEN_TouchToken(chain->token);
    rc = start();
  }
  if (chain->guard.lock) OsLockLeave(chain->guard.lock);
  return rc;
}

// Writes `text` on the control connection. False when the write could not start (the chain
// has then ended with that result).
bool FtpChain_WriteControl(FtpChain *chain, const char *text);

// Makes the next reply on the control connection the current one: from the bytes already
// held when they complete one, else by reading. `failure` is the status when the reply
// outgrows the buffer or the server closes first. Returns what the advance function returns:
// true when the reply is already there (advance again with status 0).
bool FtpChain_ReadReply(FtpChain *chain, uint32_t failure);

// The current reply's text, NUL-terminated, into `text` (FTPSOCK_REPLY_BOUND + 1 bytes).
void FtpChain_ReplyText(const FtpChain *chain, char *text);

// Ends the chain: frees it and calls the completion callback with `status` and `value`.
// Nothing of the chain may be touched afterwards.
void FtpChain_End(FtpChain *chain, uint32_t status, uint64_t value);

// Releases the handle at `handle` under the guard's lock.
void FtpChain_ReleaseGuarded(FtpChain *chain, TessumHandle *handle);

// Parses a dotted IPv4 address text strictly (four numbers 0-255). True and the address in
// host byte order.
bool FtpSock_ParseIPv4(const char *text, uint32_t *address);

// The active-mode listening port search. `open` tries one port: 0 listening (socket
// stored), 1 port in use, anything else a failure. The first port is `random` % 1010 + 1024,
// then (previous + 1) % 1010 + 46570, one pass over that range. 0 and the socket and port;
// 0x8007007a when every port was in use or another failure occurred; 0x80070074 when
// `open` could not create a socket (result 2).
typedef int (*FtpListenOpen)(uint16_t port, uintptr_t *socket);
uint32_t FtpSock_ListenSearch(uint32_t random, FtpListenOpen open, uintptr_t *socket,
                              uint16_t *port);
