// The socket FTP client's login and single commands, as chains of Tessum completions.
#include "sched/ftp_sock.h"

#include <stdio.h>
#include <string.h>

#include <new>

#include "kavrel_results.h"
#include "platform/log.h"
#include "sched/ftp_chain.h"

namespace {

// Text that goes into a command line: a CR or LF would end the line early and let the rest
// run as a command of its own.
bool IsLineSafe(const char *text) { return text && !strpbrk(text, "\r\n"); }

// ---- Login --------------------------------------------------------------------------------

enum LoginState : uint32_t { LOGIN_CONNECT, LOGIN_GREETING, LOGIN_SENT, LOGIN_REPLY };

struct LoginChain : FtpChain {
  FtpSockServer server;
  LoginState state;
  char command[FTPSOCK_TEXT];
};

// Every failed login gives its control connection back, a withdrawn one included: nothing
// else would ever release it.
void FreeLogin(FtpChain *base, uint32_t status) {
  LoginChain *chain = static_cast<LoginChain *>(base);
  if (status != 0) {
    KV_LOG(KAVREL_LOG_FTP, "FTP login to %s:%u failed: %X, reply %u\n", chain->server.host_copy,
           chain->server.target_port, status, chain->code);
    FtpChain_ReleaseGuarded(chain, chain->control);
  }
  void *memory = chain;
  RawMemFree(&memory);
}

bool LoginFail(LoginChain *chain, uint32_t status, uint64_t value) {
  FtpChain_End(chain, status, value);
  return false;
}

bool LoginSend(LoginChain *chain, const char *verb, const char *argument) {
  snprintf(chain->command, sizeof(chain->command), "%s %s\r\n", verb, argument);
  chain->state = LOGIN_SENT;
  FtpChain_WriteControl(chain, chain->command);
  return false;
}

bool LoginOnGreeting(LoginChain *chain) {
  uint32_t kind = chain->code / 100;
  if (kind == 4) return LoginFail(chain, KAVREL_T_E_GREETING, chain->code);
  if (kind == 1) return FtpChain_ReadReply(chain, KAVREL_T_E_GREETING);
  const char *user = chain->server.user;
  return LoginSend(chain, "USER", user[0] ? user : "anonymous");
}

bool LoginOnReply(LoginChain *chain) {
  uint32_t code = chain->code;
  switch (code / 100) {
    case 2:
      FtpChain_End(chain, 0, code);
      return false;
    case 1:
      return FtpChain_ReadReply(chain, KAVREL_T_E_LOGIN);
    case 3:
      if (code == 331) return LoginSend(chain, "PASS", chain->server.password);
      return LoginSend(chain, "ACCT", chain->server.account);
    default:
      return LoginFail(chain, KAVREL_T_E_LOGIN, code);
  }
}

bool LoginAdvance(FtpChain *base, uint32_t status) {
  LoginChain *chain = static_cast<LoginChain *>(base);
  if (status != 0) return LoginFail(chain, status, chain->code);
  switch (chain->state) {
    case LOGIN_CONNECT:
      chain->state = LOGIN_GREETING;
      return FtpChain_ReadReply(chain, KAVREL_T_E_GREETING);
    case LOGIN_GREETING:
      return LoginOnGreeting(chain);
    case LOGIN_SENT:
      chain->state = LOGIN_REPLY;
      return FtpChain_ReadReply(chain, KAVREL_T_E_LOGIN);
    case LOGIN_REPLY:
      return LoginOnReply(chain);
  }
  return false;
}

bool ServerIsUsable(const FtpSockServer *server, uint32_t *address) {
  if (strnlen(server->host, sizeof(server->host)) >= sizeof(server->host_copy)) return false;
  if (!FtpSock_ParseIPv4(server->host, address)) return false;
  if (server->port == 0 || server->port > 65535) return false;
  return IsLineSafe(server->user) && IsLineSafe(server->password) &&
         IsLineSafe(server->account) && memchr(server->user, 0, sizeof(server->user)) &&
         memchr(server->password, 0, sizeof(server->password)) &&
         memchr(server->account, 0, sizeof(server->account));
}

// ---- Commands -----------------------------------------------------------------------------

enum CommandState : uint32_t { COMMAND_SENT, COMMAND_REPLY };

struct CommandChain : FtpChain {
  CommandState state;
  uint32_t kind;
  char *result;
  size_t result_size;
  char command[FTPSOCK_TEXT + 16];
  char text[FTPSOCK_REPLY_BOUND + 1];
};

void FreeCommand(FtpChain *chain, uint32_t) {
  void *memory = static_cast<CommandChain *>(chain);
  RawMemFree(&memory);
}

void CopyResult(CommandChain *chain) {
  if (!chain->result || chain->result_size == 0) return;
  FtpChain_ReplyText(chain, chain->text);
  const char *from = chain->text;
  size_t length = strlen(from);
  if (chain->kind == FTPSOCK_PWD) {
    const char *open = strchr(from, '"');
    const char *close = open ? strchr(open + 1, '"') : nullptr;
    from = close ? open + 1 : "";
    length = close ? static_cast<size_t>(close - from) : 0;
  }
  if (length >= chain->result_size) length = chain->result_size - 1;
  memcpy(chain->result, from, length);
  chain->result[length] = '\0';
}

bool CommandAdvance(FtpChain *base, uint32_t status) {
  CommandChain *chain = static_cast<CommandChain *>(base);
  if (status != 0) {
    FtpChain_End(chain, status, chain->code);
    return false;
  }
  if (chain->state == COMMAND_SENT) {
    chain->state = COMMAND_REPLY;
    return FtpChain_ReadReply(chain, KAVREL_T_E_COMMAND);
  }
  uint32_t code = chain->code;
  if (code / 100 == 1) return FtpChain_ReadReply(chain, KAVREL_T_E_COMMAND);
  if (code / 100 != 2) {
    FtpChain_End(chain, KAVREL_T_E_COMMAND, code);
    return false;
  }
  CopyResult(chain);
  FtpChain_End(chain, 0, code);
  return false;
}

// Formats a command; false for an unknown kind or an argument that would break the line.
bool FormatCommand(const FtpSockRequest *request, char *out, size_t size) {
  struct Verb {
    const char *name;
    bool argument;
  };
  static const Verb kVerbs[] = {{"NOOP", false}, {"ABOR", false}, {"DELE", true},
                                {"CWD", true},   {"PASV", false}, {"QUIT", false},
                                {"PORT", true},  {"RMD", true},   {"MKD", true},
                                {"PWD", false},  {"TYPE", true}};
  if (request->kind > FTPSOCK_TYPE) return false;
  if (!memchr(request->argument, 0, sizeof(request->argument))) return false;
  if (!IsLineSafe(request->argument)) return false;
  const Verb &verb = kVerbs[request->kind];
  if (!verb.argument) {
    snprintf(out, size, "%s\r\n", verb.name);
  } else if (request->kind == FTPSOCK_TYPE) {
    if (!request->argument[0]) return false;
    snprintf(out, size, "TYPE %c\r\n", request->argument[0]);
  } else {
    snprintf(out, size, "%s %s\r\n", verb.name, request->argument);
  }
  return true;
}

}  // namespace

uint32_t ConnectToServerByFtp(TessumAgent *agent, TessumToken *token, TessumCallback callback,
                              void *context, const FtpSockServer *server,
                              TessumHandle *control, const FtpSockGuard *guard) {
  uint32_t address = 0;
  if (!agent || !token || !callback || !server || !control || *control) return KAVREL_T_E_ARG;
  if (!ServerIsUsable(server, &address)) return KAVREL_T_E_ARG;
  void *memory = nullptr;
  uint32_t rc = RawMemAlloc(sizeof(LoginChain), &memory);
  if (rc != 0) return rc;
  LoginChain *chain = new (memory) LoginChain;
  FtpChain_Init(chain, agent, token, callback, context, guard, LoginAdvance, FreeLogin);
  chain->control = control;
  chain->server = *server;
  chain->server.target_address = address;
  chain->server.target_port = server->port;
  // ServerIsUsable checked that the host fits the copy.
  memcpy(chain->server.host_copy, server->host, strlen(server->host) + 1);
  chain->state = LOGIN_CONNECT;
  rc = FtpChain_Guarded(chain, [&] {
    return SMO_SocketConn_Init(agent, token, FtpChain_Completion, chain, address, server->port,
                               control);
  });
  if (rc != 0) RawMemFree(&memory);
  return rc;
}

uint32_t FtpSock_Command(TessumAgent *agent, TessumToken *token, TessumCallback callback,
                         void *context, const FtpSockRequest *request, char *result,
                         size_t result_size, const FtpSockGuard *guard) {
  if (!agent || !token || !callback || !request || !request->control) return KAVREL_T_E_ARG;
  char command[FTPSOCK_TEXT + 16];
  if (!FormatCommand(request, command, sizeof(command))) return KAVREL_T_E_ARG;
  void *memory = nullptr;
  uint32_t rc = RawMemAlloc(sizeof(CommandChain), &memory);
  if (rc != 0) return rc;
  CommandChain *chain = new (memory) CommandChain;
  FtpChain_Init(chain, agent, token, callback, context, guard, CommandAdvance, FreeCommand);
  chain->control = request->control;
  chain->kind = request->kind;
  chain->result = result;
  chain->result_size = result_size;
  chain->state = COMMAND_SENT;
  memcpy(chain->command, command, sizeof(command));
  uint32_t length = static_cast<uint32_t>(strlen(command));
  rc = FtpChain_Guarded(chain, [&]() -> uint32_t {
    if (!*chain->control) return KAVREL_T_E_ARG;
    return COMMON_TI_WriteData(*chain->control, token, FtpChain_Completion, chain, length,
                               chain->command);
  });
  if (rc != 0) RawMemFree(&memory);
  return rc;
}
