// The exported functions: argument checks, then the module that does the work.
#include <cstdlib>

#include "call.h"
#include "core.h"
#include "http.h"
#include "transport.h"

struct TessumAgent {
  std::shared_ptr<tessum::AgentCore> core;
};

namespace {

bool StartArgsOk(TessumAgent *agent, TessumToken *token, TessumCallback callback,
                 TessumHandle *handle) {
  return agent != nullptr && token != nullptr && callback != nullptr && handle != nullptr;
}

}  // namespace

extern "C" {

uint32_t TESSUM_CALL SCHEAGENT_Initialize(TessumAgent **agent, uint32_t mode) {
  if (agent == nullptr || mode != 1) return TESSUM_E_INVALIDARG;
  auto *created = new (std::nothrow) TessumAgent;
  if (created == nullptr) return TESSUM_E_NOMEM;
  created->core = std::make_shared<tessum::AgentCore>();
  tessum::pool::Acquire();
  *agent = created;
  return TESSUM_OK;
}

uint32_t TESSUM_CALL SCHEAGENT_Release(TessumAgent **agent) {
  if (agent == nullptr || *agent == nullptr) return TESSUM_E_INVALIDARG;
  TessumAgent *released = *agent;
  *agent = nullptr;
  released->core->Shutdown(!tessum::pool::OnPoolThread());
  delete released;
  tessum::pool::Release();
  return TESSUM_OK;
}

uint32_t TESSUM_CALL SCHEAGENT_RemoveToken(TessumAgent *agent, uint32_t kind, TessumToken *token) {
  if (agent == nullptr || token == nullptr || kind != 2) return TESSUM_E_INVALIDARG;
  return agent->core->Withdraw(token);
}

uint32_t TESSUM_CALL STATOKEN_TouchToken(TessumToken *token) {
  if (token == nullptr) return TESSUM_E_INVALIDARG;
  token->status = 0;
  token->reserved = 0;
  return TESSUM_OK;
}

uint32_t TESSUM_CALL SMO_SocketConn_Init(TessumAgent *agent, TessumToken *token,
                                         TessumCallback callback, void *context,
                                         uint32_t address, uint32_t port, TessumHandle *handle) {
  if (!StartArgsOk(agent, token, callback, handle)) return TESSUM_E_INVALIDARG;
  return tessum::StartConnect(agent->core, token, callback, context, address, port, handle);
}

uint32_t TESSUM_CALL SMO_SocketAccept_Init(TessumAgent *agent, TessumToken *token,
                                           TessumCallback callback, void *context,
                                           TessumHandle listening, TessumHandle *handle) {
  if (!StartArgsOk(agent, token, callback, handle)) return TESSUM_E_INVALIDARG;
  return tessum::StartAccept(agent->core, token, callback, context, listening, handle);
}

uint32_t TESSUM_CALL SOCK_TO_COMM_TI(TessumHandle *handle, TessumAgent *agent, uintptr_t socket,
                                     uintptr_t reserved1, uintptr_t reserved2,
                                     uintptr_t reserved3, uintptr_t reserved4) {
  if (handle == nullptr || agent == nullptr) return TESSUM_E_INVALIDARG;
  if (reserved1 != 0 || reserved2 != 0 || reserved3 != 0 || reserved4 != 0) {
    return TESSUM_E_INVALIDARG;
  }
  return tessum::Wrap(agent->core, socket, handle);
}

uint32_t TESSUM_CALL COMMON_TI_ReadData(TessumHandle handle, TessumToken *token,
                                        TessumCallback callback, void *context, uint32_t maximum,
                                        void *buffer, uint32_t mode) {
  if (handle == nullptr || token == nullptr || callback == nullptr || buffer == nullptr ||
      maximum == 0 || mode != 1) {
    return TESSUM_E_INVALIDARG;
  }
  return tessum::StartRead(handle, token, callback, context, maximum, buffer);
}

uint32_t TESSUM_CALL COMMON_TI_WriteData(TessumHandle handle, TessumToken *token,
                                         TessumCallback callback, void *context, uint32_t length,
                                         const void *buffer) {
  if (handle == nullptr || token == nullptr || callback == nullptr || buffer == nullptr ||
      length == 0) {
    return TESSUM_E_INVALIDARG;
  }
  return tessum::StartWrite(handle, token, callback, context, length, buffer);
}

uint32_t TESSUM_CALL COMMON_TI_Release(TessumHandle *handle) { return tessum::Release(handle); }

uint32_t TESSUM_CALL RawMemAlloc(size_t size, void **memory) {
  if (memory == nullptr) return TESSUM_E_INVALIDARG;
  *memory = std::calloc(size == 0 ? 1 : size, 1);
  return *memory == nullptr ? TESSUM_E_NOMEM : TESSUM_OK;
}

uint32_t TESSUM_CALL RawMemFree(void **memory) {
  if (memory == nullptr) return TESSUM_E_INVALIDARG;
  std::free(*memory);
  *memory = nullptr;
  return TESSUM_OK;
}

uint32_t TESSUM_CALL SMO_HttpRequest_SetConn(TessumHttpConn *conn, uint32_t use_proxy,
                                             const char *proxy_host, uint32_t proxy_port,
                                             const char *host, uint32_t port) {
  return tessum::SetConn(conn, use_proxy, proxy_host, proxy_port, host, port);
}

uint32_t TESSUM_CALL SMO_HttpRequest_InitEx(TessumAgent *agent, TessumToken *token,
                                            TessumCallback callback, void *context,
                                            const TessumHttpRequest *request,
                                            TessumHandle *handle, uint32_t flags) {
  if (!StartArgsOk(agent, token, callback, handle) || request == nullptr || flags != 0) {
    return TESSUM_E_INVALIDARG;
  }
  return tessum::StartHttp(agent->core, token, callback, context, request, handle);
}

uint32_t TESSUM_CALL SMO_HttpCall_Create(TessumCall **call) {
  if (call == nullptr) return TESSUM_E_INVALIDARG;
  auto *created = new (std::nothrow) tessum::Call;
  if (created == nullptr) return TESSUM_E_NOMEM;
  *call = reinterpret_cast<TessumCall *>(created);
  return TESSUM_OK;
}

uint32_t TESSUM_CALL SMO_HttpCall_Run(TessumCall *call, const TessumHttpRequest *request,
                                      uint64_t *code) {
  if (call == nullptr || request == nullptr) return TESSUM_E_INVALIDARG;
  uint64_t ignored = 0;
  return reinterpret_cast<tessum::Call *>(call)->Run(*request, code ? code : &ignored);
}

uint32_t TESSUM_CALL SMO_HttpCall_Read(TessumCall *call, void *buffer, uint32_t maximum,
                                       uint32_t timeout_ms, uint32_t *got) {
  if (call == nullptr || buffer == nullptr || maximum == 0 || got == nullptr) {
    return TESSUM_E_INVALIDARG;
  }
  return reinterpret_cast<tessum::Call *>(call)->Read(buffer, maximum, timeout_ms, got);
}

uint32_t TESSUM_CALL SMO_HttpCall_Abort(TessumCall *call) {
  if (call == nullptr) return TESSUM_E_INVALIDARG;
  reinterpret_cast<tessum::Call *>(call)->Abort();
  return TESSUM_OK;
}

uint32_t TESSUM_CALL SMO_HttpCall_Release(TessumCall **call) {
  if (call == nullptr) return TESSUM_E_INVALIDARG;
  delete reinterpret_cast<tessum::Call *>(*call);
  *call = nullptr;
  return TESSUM_OK;
}

}  // extern "C"
