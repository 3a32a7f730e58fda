// The system information fetch: one HTTP GET through Tessum, whose completions arrive on
// Tessum's pool threads; this thread waits for each on an event and starts the next read.
#include "sched/sysinfo_fetch.h"

#include <stdio.h>
#include <string.h>

#include "kavrel_results.h"
#include "platform/os.h"
#include "tessum.h"

namespace {

struct FetchState {
  char body[SYSINFO_BODY_SIZE];
  uint32_t fill = 0;
  bool reading = false;  // the request completed; completions are reads now
  bool done = false;     // a final status was recorded
  uint32_t status = 0;
  TessumToken token{};
  TessumHandle http = nullptr;
  TessumAgent *agent = nullptr;
  OsEvent event = nullptr;

  // The agent goes first: its release waits until a callback still running (one that has
  // just set the event) has returned, so the event and the buffer outlive every callback.
  ~FetchState() {
    if (agent != nullptr) SCHEAGENT_Release(&agent);
    COMMON_TI_Release(&http);
    OsEventClose(&event);
  }
};

// On a pool thread. The waiting thread reads the state only after the event, which orders
// these writes before its reads.
void TESSUM_CALL Fetch_Completed(TessumToken *token) {
  FetchState *state = static_cast<FetchState *>(token->context);
  if (token->status != 0) {
    state->status = token->status;
    state->done = true;
  } else if (state->reading) {
    state->fill += (uint32_t)token->value;
    if (state->fill >= SYSINFO_BODY_SIZE - 1) {
      state->status = KAVREL_S_BUFFER_FULL;
      state->done = true;
    }
  }
  state->reading = true;
  OsEventSet(state->event);
}

bool Fetch_CopyCredential(char *field, size_t size, const char *value) {
  if (value == nullptr) value = "";
  if (strlen(value) >= size) return false;
  snprintf(field, size, "%s", value);
  return true;
}

uint32_t Fetch_FillRequest(const SysInfoFetchTarget *target, TessumHttpRequest *request) {
  memset(request, 0, sizeof(*request));
  const char *proxy = target->proxy_host != nullptr ? target->proxy_host : "";
  uint32_t r = SMO_HttpRequest_SetConn(&request->conn, proxy[0] != '\0' ? 1 : 0, proxy,
                                       target->port, target->host, target->port);
  if (r != 0) return r;
  snprintf(request->path, sizeof(request->path), "%s", SYSINFO_PATH);
  request->method = TESSUM_HTTP_GET;
  request->timeout_ms = target->timeout_ms;
  if (!Fetch_CopyCredential(request->user, sizeof(request->user), target->user) ||
      !Fetch_CopyCredential(request->password, sizeof(request->password), target->password) ||
      !Fetch_CopyCredential(request->proxy_user, sizeof(request->proxy_user), target->user) ||
      !Fetch_CopyCredential(request->proxy_password, sizeof(request->proxy_password),
                            target->password)) {
    return KAVREL_E_INVALIDARG;
  }
  return 0;
}

}  // namespace

uint32_t SysInfo_Fetch(const SysInfoFetchTarget *target, SysInfoData *out) {
  if (target == nullptr || target->host == nullptr || out == nullptr) return KAVREL_E_INVALIDARG;
  FetchState state;
  uint32_t r = SCHEAGENT_Initialize(&state.agent, 1);
  if (r != 0) return r;
  if (OsEventCreate(&state.event, 0) != 0) return KAVREL_E_PLATFORM;

  TessumHttpRequest request;
  r = Fetch_FillRequest(target, &request);
  if (r != 0) return r;
  state.token.timeout_ms = target->timeout_ms;
  STATOKEN_TouchToken(&state.token);
  r = SMO_HttpRequest_InitEx(state.agent, &state.token, Fetch_Completed, &state, &request,
                             &state.http, 0);
  if (r != 0) return r;
  OsWait(state.event, OS_WAIT_FOREVER);
  while (!state.done) {
    STATOKEN_TouchToken(&state.token);
    r = COMMON_TI_ReadData(state.http, &state.token, Fetch_Completed, &state,
                           SYSINFO_BODY_SIZE - state.fill - 1, state.body + state.fill, 1);
    if (r != 0) return r;
    OsWait(state.event, OS_WAIT_FOREVER);
  }
  if (state.status != 0 && state.status != KAVREL_T_CLOSED) return state.status;
  state.body[state.fill] = '\0';
  return (uint32_t)Morvane_ParseSysInfo(state.body, out);
}
