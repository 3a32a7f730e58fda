// The socket FTP client's transfers: TYPE, PASV or PORT, RETR, STOR or LIST, the data, the
// final reply; one chain of Tessum completions on a logged-in control connection.
//
// The data connection is always read to its end, also when the final reply came with the
// 1xx reply: a server that answers quickly must not get its file cut after the first piece.
// A download goes to a new file beside the local path that replaces it only once the whole
// file arrived and the server confirmed it, so a failed download never leaves a partial file
// where a complete one is expected.
#include <stdio.h>
#include <string.h>

#include <new>
#include <string>

#include "kavrel_results.h"
#include "platform/log.h"
#include "platform/os.h"
#include "sched/ftp_chain.h"
#include "sched/ftp_net.h"

namespace {

enum TransferState : uint32_t {
  XFER_TYPE_SENT,
  XFER_TYPE_REPLY,
  XFER_MODE_SENT,  // PASV or PORT
  XFER_MODE_REPLY,
  XFER_DATA_CONNECT,
  XFER_COMMAND_SENT,
  XFER_COMMAND_REPLY,
  XFER_ACCEPT,
  XFER_DATA_READ,
  XFER_DATA_WRITE,
  XFER_FINAL_REPLY,
};

#define XFER_TEMP_PATH 1024

struct TransferChain : FtpChain {
  TransferState state;
  FtpSockTransfer args;
  uint32_t kind;  // FTPSOCK_LIST, FTPSOCK_RETR or FTPSOCK_STOR
  char command[FTPSOCK_TEXT + 16];
  char step[64];  // TYPE, PASV or PORT
  char piece[FTPSOCK_PIECE];
  uint32_t final_seen;  // a 2xx came before the data ended: no further reply to read
  uint32_t final_code;
  size_t listing_fill;
  TessumHandle listening;
  TessumHandle data;      // passive: the connection we made
  TessumHandle accepted;  // active: the connection the server made
  FILE *file;
  char temp_path[XFER_TEMP_PATH];
  char text[FTPSOCK_REPLY_BOUND + 1];
};

TessumHandle *DataHandle(TransferChain *chain) {
  return chain->args.passive ? &chain->data : &chain->accepted;
}

void FreeTransfer(FtpChain *base, uint32_t status) {
  TransferChain *chain = static_cast<TransferChain *>(base);
  if (chain->file) fclose(chain->file);
  chain->file = nullptr;
  if (chain->temp_path[0] && status != 0) OsRemoveFile(chain->temp_path);
  if (chain->data) COMMON_TI_Release(&chain->data);
  if (chain->accepted) COMMON_TI_Release(&chain->accepted);
  if (chain->listening) COMMON_TI_Release(&chain->listening);
  if (status != 0) {
    KV_LOG(KAVREL_LOG_SOCKET, "FTP transfer of %s failed: %X, reply %u\n", chain->args.path,
           status, chain->code);
  }
  void *memory = chain;
  RawMemFree(&memory);
}

bool Fail(TransferChain *chain, uint32_t status, uint64_t value) {
  FtpChain_End(chain, status, value);
  return false;
}

bool Send(TransferChain *chain, const char *text, TransferState state) {
  chain->state = state;
  FtpChain_WriteControl(chain, text);
  return false;
}

void Progress(TransferChain *chain, uint64_t value, uint32_t marker) {
  if (!chain->args.progress) return;
  FtpSockProgress progress{};
  progress.context = chain->args.progress_context;
  progress.value = value;
  progress.marker = marker;
  chain->args.progress(&progress);
}

// ---- Active mode --------------------------------------------------------------------------

uint32_t ControlSocket(TransferChain *chain, uintptr_t *socket) {
  uint32_t rc = 0;
  if (chain->guard.lock) OsLockEnter(chain->guard.lock);
  if (*chain->control) {
    *socket = (*chain->control)->socket;
  } else {
    rc = TESSUM_E_WITHDRAWN;
  }
  if (chain->guard.lock) OsLockLeave(chain->guard.lock);
  return rc;
}

bool SendPort(TransferChain *chain) {
  uintptr_t control = 0;
  uint32_t rc = ControlSocket(chain, &control);
  if (rc != 0) return Fail(chain, rc, 0);
  uint32_t local = 0;
  if (FtpNet_LocalAddress(control, &local) != 0) return Fail(chain, KAVREL_T_E_SOCKET, 0);
  uintptr_t socket = 0;
  uint16_t port = 0;
  rc = FtpSock_ListenSearch(FtpNet_Random(), FtpNet_Listen, &socket, &port);
  if (rc != 0) return Fail(chain, rc, 0);
  if (SOCK_TO_COMM_TI(&chain->listening, chain->agent, socket, 0, 0, 0, 0) != 0) {
    FtpNet_Close(socket);
    return Fail(chain, KAVREL_T_E_SOCKET, 0);
  }
  snprintf(chain->step, sizeof(chain->step), "PORT %u,%u,%u,%u,%u,%u\r\n", local >> 24,
           (local >> 16) & 0xFF, (local >> 8) & 0xFF, local & 0xFF, port >> 8, port & 0xFF);
  return Send(chain, chain->step, XFER_MODE_SENT);
}

// ---- Passive mode -------------------------------------------------------------------------

// Connects to the control connection's peer at the announced port. The announced address is
// only logged: a device behind address translation names one the host cannot reach, and a
// hostile reply could aim the data connection at a third host.
bool ConnectPassive(TransferChain *chain) {
  FtpChain_ReplyText(chain, chain->text);
  uint32_t announced = 0, port = 0;
  uint32_t rc = FtpSock_ParsePasv(chain->text, &announced, &port);
  if (rc != 0) return Fail(chain, rc, chain->code);
  uintptr_t control = 0;
  rc = ControlSocket(chain, &control);
  if (rc != 0) return Fail(chain, rc, 0);
  uint32_t peer = 0;
  if (FtpNet_PeerAddress(control, &peer) != 0) return Fail(chain, KAVREL_T_E_SOCKET, 0);
  if (peer != announced) {
    KV_LOG(KAVREL_LOG_SOCKET, "PASV announced %u.%u.%u.%u; connecting to the server's %u.%u.%u.%u\n",
           announced >> 24, (announced >> 16) & 0xFF, (announced >> 8) & 0xFF, announced & 0xFF,
           peer >> 24, (peer >> 16) & 0xFF, (peer >> 8) & 0xFF, peer & 0xFF);
  }
  chain->state = XFER_DATA_CONNECT;
  rc = FtpChain_Guarded(chain, [&] {
    return SMO_SocketConn_Init(chain->agent, chain->token, FtpChain_Completion, chain, peer,
                               port, &chain->data);
  });
  if (rc != 0) return Fail(chain, rc, 0);
  return false;
}

// ---- Data ---------------------------------------------------------------------------------

bool ReadFinalReply(TransferChain *chain) {
  if (chain->final_seen) {
    if (chain->temp_path[0]) {
      FILE *file = chain->file;
      chain->file = nullptr;
      bool written = fflush(file) == 0 && OsFlushFile(file) == 0;
      written = fclose(file) == 0 && written;
      if (!written || OsReplaceFile(chain->temp_path, chain->args.path) != 0) {
        return Fail(chain, KAVREL_T_E_LOCAL_FILE, chain->final_code);
      }
      chain->temp_path[0] = '\0';
    }
    return Fail(chain, 0, chain->final_code);
  }
  chain->state = XFER_FINAL_REPLY;
  return FtpChain_ReadReply(chain, KAVREL_T_E_TRANSFER);
}

bool ReadData(TransferChain *chain) {
  chain->state = XFER_DATA_READ;
  TessumHandle *handle = DataHandle(chain);
  uint32_t rc = FtpChain_Guarded(chain, [&] {
    return COMMON_TI_ReadData(*handle, chain->token, FtpChain_Completion, chain,
                              sizeof(chain->piece), chain->piece, 1);
  });
  if (rc != 0) return Fail(chain, rc, 0);
  return false;
}

// Sends the next piece of the local file, or ends the data when it is exhausted.
bool WriteNextPiece(TransferChain *chain) {
  size_t length = fread(chain->piece, 1, sizeof(chain->piece), chain->file);
  if (length == 0) {
    if (ferror(chain->file)) return Fail(chain, KAVREL_T_E_LOCAL_FILE, 0);
    // The server learns that the file ended when its data connection closes.
    COMMON_TI_Release(DataHandle(chain));
    return ReadFinalReply(chain);
  }
  chain->state = XFER_DATA_WRITE;
  TessumHandle *handle = DataHandle(chain);
  uint32_t rc = FtpChain_Guarded(chain, [&] {
    return COMMON_TI_WriteData(*handle, chain->token, FtpChain_Completion, chain,
                               static_cast<uint32_t>(length), chain->piece);
  });
  if (rc != 0) return Fail(chain, rc, 0);
  return false;
}

bool StartDataFlow(TransferChain *chain) {
  if (chain->listening) COMMON_TI_Release(&chain->listening);
  if (chain->kind == FTPSOCK_STOR) return WriteNextPiece(chain);
  if (chain->kind == FTPSOCK_RETR) {
    std::string temp = OsTempFileBeside(chain->args.path);
    if (temp.empty() || temp.size() >= sizeof(chain->temp_path)) {
      return Fail(chain, KAVREL_T_E_LOCAL_FILE, 0);
    }
    memcpy(chain->temp_path, temp.c_str(), temp.size() + 1);
    chain->file = fopen(chain->temp_path, "wb");
    if (!chain->file) return Fail(chain, KAVREL_T_E_LOCAL_FILE, 0);
  }
  return ReadData(chain);
}

bool StoreReadPiece(TransferChain *chain, size_t length) {
  if (chain->kind == FTPSOCK_RETR) {
    if (fwrite(chain->piece, 1, length, chain->file) != length) {
      return Fail(chain, KAVREL_T_E_LOCAL_FILE, 0);
    }
    return ReadData(chain);
  }
  // A listing that does not fit the caller's buffer fails whole rather than being cut.
  if (length > chain->args.listing_size - 1 - chain->listing_fill) {
    return Fail(chain, KAVREL_T_E_TRANSFER, 0);
  }
  memcpy(chain->args.listing + chain->listing_fill, chain->piece, length);
  chain->listing_fill += length;
  chain->args.listing[chain->listing_fill] = '\0';
  return ReadData(chain);
}

bool AfterDataRead(TransferChain *chain, uint32_t status) {
  if (status == TESSUM_S_CLOSED) {
    COMMON_TI_Release(DataHandle(chain));
    return ReadFinalReply(chain);
  }
  if (status != 0) return Fail(chain, status, 0);
  return StoreReadPiece(chain, static_cast<size_t>(chain->token->value));
}

// ---- Replies ------------------------------------------------------------------------------

bool AfterTypeReply(TransferChain *chain) {
  uint32_t code = chain->code;
  if (code / 100 == 1) return FtpChain_ReadReply(chain, KAVREL_T_E_COMMAND);
  if (code / 100 != 2) return Fail(chain, KAVREL_T_E_COMMAND, code);
  if (chain->args.passive) return Send(chain, "PASV\r\n", XFER_MODE_SENT);
  return SendPort(chain);
}

bool AfterModeReply(TransferChain *chain) {
  uint32_t code = chain->code;
  if (code / 100 == 1) return FtpChain_ReadReply(chain, KAVREL_T_E_COMMAND);
  if (code / 100 != 2) return Fail(chain, KAVREL_T_E_COMMAND, code);
  if (chain->args.passive) return ConnectPassive(chain);
  return Send(chain, chain->command, XFER_COMMAND_SENT);
}

bool AfterCommandReply(TransferChain *chain) {
  uint32_t code = chain->code;
  if (code / 100 == 2) {
    chain->final_seen = 1;
    chain->final_code = code;
  } else if (code / 100 != 1) {
    return Fail(chain, KAVREL_T_E_TRANSFER, code);
  }
  if (chain->args.passive) return StartDataFlow(chain);
  chain->state = XFER_ACCEPT;
  uint32_t rc = FtpChain_Guarded(chain, [&] {
    return SMO_SocketAccept_Init(chain->agent, chain->token, FtpChain_Completion, chain,
                                 chain->listening, &chain->accepted);
  });
  if (rc != 0) return Fail(chain, rc, 0);
  return false;
}

bool AfterFinalReply(TransferChain *chain) {
  uint32_t code = chain->code;
  FtpChain_ReplyText(chain, chain->text);
  Progress(chain, reinterpret_cast<uintptr_t>(chain->text), 0);
  if (code / 100 == 1) return FtpChain_ReadReply(chain, KAVREL_T_E_TRANSFER);
  if (code / 100 != 2) return Fail(chain, KAVREL_T_E_TRANSFER, code);
  chain->final_seen = 1;
  chain->final_code = code;
  return ReadFinalReply(chain);
}

bool TransferAdvance(FtpChain *base, uint32_t status) {
  TransferChain *chain = static_cast<TransferChain *>(base);
  if (chain->state == XFER_DATA_READ) return AfterDataRead(chain, status);
  if (status != 0) return Fail(chain, status, chain->code);
  switch (chain->state) {
    case XFER_TYPE_SENT:
      chain->state = XFER_TYPE_REPLY;
      return FtpChain_ReadReply(chain, KAVREL_T_E_COMMAND);
    case XFER_TYPE_REPLY:
      return AfterTypeReply(chain);
    case XFER_MODE_SENT:
      chain->state = XFER_MODE_REPLY;
      return FtpChain_ReadReply(chain, KAVREL_T_E_COMMAND);
    case XFER_MODE_REPLY:
      return AfterModeReply(chain);
    case XFER_DATA_CONNECT:
      return Send(chain, chain->command, XFER_COMMAND_SENT);
    case XFER_COMMAND_SENT:
      chain->state = XFER_COMMAND_REPLY;
      return FtpChain_ReadReply(chain, KAVREL_T_E_TRANSFER);
    case XFER_COMMAND_REPLY:
      return AfterCommandReply(chain);
    case XFER_ACCEPT:
      return StartDataFlow(chain);
    case XFER_DATA_WRITE:
      Progress(chain, chain->token->value, 0xFFFFFFFFu);
      return WriteNextPiece(chain);
    case XFER_FINAL_REPLY:
      return AfterFinalReply(chain);
    case XFER_DATA_READ:
      break;
  }
  return false;
}

// ---- Start --------------------------------------------------------------------------------

bool FieldIsSafe(const char *text, size_t size) {
  return memchr(text, 0, size) && !strpbrk(text, "\r\n");
}

// The transfer command, or false for arguments that cannot be sent.
bool FormatTransfer(const FtpSockTransfer *args, uint32_t kind, char *out, size_t size) {
  if (!FieldIsSafe(args->path, sizeof(args->path))) return false;
  if (!FieldIsSafe(args->remote, sizeof(args->remote))) return false;
  if (kind == FTPSOCK_LIST) {
    if (!args->listing || args->listing_size == 0) return false;
    if (args->path[0]) {
      snprintf(out, size, "LIST %s\r\n", args->path);
    } else {
      snprintf(out, size, "LIST\r\n");
    }
    return true;
  }
  if (!args->path[0]) return false;
  const char *remote = args->remote[0] ? args->remote : args->path;
  if (kind == FTPSOCK_STOR && !args->remote[0]) {
    const char *slash = strrchr(args->path, '/');
    if (slash) remote = slash + 1;
  }
  if (!remote[0]) return false;
  snprintf(out, size, kind == FTPSOCK_RETR ? "RETR %s\r\n" : "STOR %s\r\n", remote);
  return true;
}

uint32_t KindOf(uint32_t kind) {
  if (kind == FTPSOCK_LIST || kind == FTPSOCK_RETR) return kind;
  return FTPSOCK_STOR;
}

}  // namespace

uint32_t FtpSock_Transfer(TessumAgent *agent, TessumToken *token, TessumCallback callback,
                          void *context, const FtpSockTransfer *transfer,
                          const FtpSockGuard *guard) {
  if (!agent || !token || !callback || !transfer || !transfer->control) return KAVREL_T_E_ARG;
  uint32_t kind = KindOf(transfer->kind);
  char command[FTPSOCK_TEXT + 16];
  if (!FormatTransfer(transfer, kind, command, sizeof(command))) return KAVREL_T_E_ARG;
  // An upload whose local file is missing fails before the server is told anything, so the
  // remote file is not replaced by an empty one.
  FILE *file = nullptr;
  if (kind == FTPSOCK_STOR) {
    file = fopen(transfer->path, "rb");
    if (!file) return KAVREL_T_E_LOCAL_FILE;
  }
  void *memory = nullptr;
  uint32_t rc = RawMemAlloc(sizeof(TransferChain), &memory);
  if (rc != 0) {
    if (file) fclose(file);
    return rc;
  }
  TransferChain *chain = new (memory) TransferChain;
  FtpChain_Init(chain, agent, token, callback, context, guard, TransferAdvance, FreeTransfer);
  chain->args = *transfer;
  chain->control = transfer->control;
  chain->kind = kind;
  chain->file = file;
  memcpy(chain->command, command, sizeof(command));
  if (kind == FTPSOCK_LIST) chain->args.listing[0] = '\0';
  bool ascii = kind == FTPSOCK_LIST || transfer->ascii == 1;
  snprintf(chain->step, sizeof(chain->step), "TYPE %c\r\n", ascii ? 'A' : 'I');
  chain->state = XFER_TYPE_SENT;
  uint32_t length = static_cast<uint32_t>(strlen(chain->step));
  rc = FtpChain_Guarded(chain, [&]() -> uint32_t {
    if (!*chain->control) return KAVREL_T_E_ARG;
    return COMMON_TI_WriteData(*chain->control, token, FtpChain_Completion, chain, length,
                               chain->step);
  });
  if (rc != 0) {
    if (file) fclose(file);
    RawMemFree(&memory);
  }
  return rc;
}
