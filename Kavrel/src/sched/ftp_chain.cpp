// The shared machinery of the socket FTP chains.
//
// Each chain runs one Tessum operation at a time with the caller's token. Its completion
// lands in FtpChain_Completion, which either keeps reading a reply that is not complete yet
// or hands the status to the chain's advance function. A reply that the buffer already holds
// (a final reply that came in the same read as a 1xx) is handed over without a read, by
// looping here rather than recursing, so a server cannot deepen the stack.
#include "sched/ftp_chain.h"

#include <string.h>

#include "kavrel_results.h"

namespace {

void Drive(FtpChain *chain, uint32_t status) {
  while (chain->advance(chain, status)) status = 0;
}

// Takes the reply that the held bytes complete, if any.
bool TakeHeldReply(FtpChain *chain) {
  uint32_t code = 0;
  size_t end = FtpSock_ReplyEnd(chain->reply, chain->fill, &code);
  if (end == 0) return false;
  chain->used = end;
  chain->code = code;
  return true;
}

// Drops the reply just handled, keeping what followed it.
void DropUsedReply(FtpChain *chain) {
  if (chain->used == 0) return;
  memmove(chain->reply, chain->reply + chain->used, chain->fill - chain->used);
  chain->fill -= chain->used;
  chain->used = 0;
  chain->code = 0;
}

uint32_t StartReplyRead(FtpChain *chain) {
  chain->reading_reply = 1;
  uint32_t room = static_cast<uint32_t>(FTPSOCK_REPLY_BOUND - chain->fill);
  uint32_t rc = FtpChain_Guarded(chain, [&] {
    if (!*chain->control) return TESSUM_E_WITHDRAWN;
    return COMMON_TI_ReadData(*chain->control, chain->token, FtpChain_Completion, chain, room,
                              chain->reply + chain->fill, 1);
  });
  if (rc != 0) chain->reading_reply = 0;
  return rc;
}

// A control connection read completed while a reply was awaited.
void ReplyReadDone(FtpChain *chain, uint32_t status) {
  chain->reading_reply = 0;
  if (status == TESSUM_S_CLOSED) {
    // The server hung up before its reply was complete: the step failed.
    FtpChain_End(chain, chain->reply_failure, 0);
    return;
  }
  if (status != 0) {
    Drive(chain, status);
    return;
  }
  chain->fill += static_cast<size_t>(chain->token->value);
  if (TakeHeldReply(chain)) {
    Drive(chain, 0);
    return;
  }
  if (chain->fill >= FTPSOCK_REPLY_BOUND) {
    FtpChain_End(chain, chain->reply_failure, 0);
    return;
  }
  uint32_t rc = StartReplyRead(chain);
  if (rc != 0) FtpChain_End(chain, rc, 0);
}

}  // namespace

void FtpChain_Init(FtpChain *chain, TessumAgent *agent, TessumToken *token,
                   TessumCallback callback, void *context, const FtpSockGuard *guard,
                   FtpChainAdvance advance, FtpChainFree free_chain) {
  chain->agent = agent;
  chain->token = token;
  chain->callback = callback;
  chain->context = context;
  chain->guard = guard ? *guard : FtpSockGuard{nullptr, nullptr};
  chain->advance = advance;
  chain->free_chain = free_chain;
  chain->control = nullptr;
  chain->fill = 0;
  chain->used = 0;
  chain->code = 0;
  chain->reading_reply = 0;
  chain->reply_failure = 0;
  chain->rounds = 0;
}

void TESSUM_CALL FtpChain_Completion(TessumToken *token) {
  FtpChain *chain = static_cast<FtpChain *>(token->context);
  if (chain->reading_reply) {
    ReplyReadDone(chain, token->status);
    return;
  }
  Drive(chain, token->status);
}

bool FtpChain_WriteControl(FtpChain *chain, const char *text) {
  uint32_t length = static_cast<uint32_t>(strlen(text));
  uint32_t rc = FtpChain_Guarded(chain, [&] {
    if (!*chain->control) return TESSUM_E_WITHDRAWN;
    return COMMON_TI_WriteData(*chain->control, chain->token, FtpChain_Completion, chain,
                               length, text);
  });
  if (rc == 0) return true;
  FtpChain_End(chain, rc, 0);
  return false;
}

bool FtpChain_ReadReply(FtpChain *chain, uint32_t failure) {
  DropUsedReply(chain);
  chain->reply_failure = failure;
  if (++chain->rounds > FTPSOCK_MAX_ROUNDS) {
    FtpChain_End(chain, failure, 0);
    return false;
  }
  if (TakeHeldReply(chain)) return true;
  if (chain->fill >= FTPSOCK_REPLY_BOUND) {
    FtpChain_End(chain, failure, 0);
    return false;
  }
  uint32_t rc = StartReplyRead(chain);
  if (rc != 0) FtpChain_End(chain, rc, 0);
  return false;
}

void FtpChain_ReplyText(const FtpChain *chain, char *text) {
  memcpy(text, chain->reply, chain->used);
  text[chain->used] = '\0';
}

void FtpChain_End(FtpChain *chain, uint32_t status, uint64_t value) {
  TessumToken *token = chain->token;
  TessumCallback callback = chain->callback;
  void *context = chain->context;
  chain->free_chain(chain, status);
  token->context = context;
  token->status = status;
  token->value = value;
  callback(token);
}

void FtpChain_ReleaseGuarded(FtpChain *chain, TessumHandle *handle) {
  if (chain->guard.lock) OsLockEnter(chain->guard.lock);
  if (*handle) COMMON_TI_Release(handle);
  if (chain->guard.lock) OsLockLeave(chain->guard.lock);
}

bool FtpSock_ParseIPv4(const char *text, uint32_t *address) {
  if (!text) return false;
  uint32_t value = 0;
  const char *p = text;
  for (int i = 0; i < 4; ++i) {
    uint32_t part = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
      part = part * 10 + static_cast<uint32_t>(*p - '0');
      ++p;
      ++digits;
    }
    if (digits == 0 || digits > 3 || part > 255) return false;
    if (*p != (i < 3 ? '.' : '\0')) return false;
    if (i < 3) ++p;
    value = (value << 8) | part;
  }
  *address = value;
  return true;
}

uint32_t FtpSock_ListenSearch(uint32_t random, FtpListenOpen open, uintptr_t *socket,
                              uint16_t *port) {
  uint32_t candidate = random % 1010 + 1024;
  // The first port, then each port of the upper range once.
  for (int tries = 0; tries <= 1010; ++tries) {
    int rc = open(static_cast<uint16_t>(candidate), socket);
    if (rc == 0) {
      *port = static_cast<uint16_t>(candidate);
      return 0;
    }
    if (rc == 2) return KAVREL_T_E_SOCKET;
    if (rc != 1) return KAVREL_T_E_LISTEN;
    candidate = (candidate + 1) % 1010 + 46570;
  }
  return KAVREL_T_E_LISTEN;
}
