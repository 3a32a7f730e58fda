// The network client's C functions: contexts, request slots, the descriptor, connect,
// abort and close, HTTP body reads, the FTP operations, the proxy and the version check.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "NetClientInternal.h"
#include "NetFtpClient.h"
#include "NetHttpClient.h"

namespace {

const int32_t kSlotCount = 10;
const uint32_t kDefaultTimeoutMs = 30000;
// How long a release waits for status notifications still running before it keeps the
// context alive instead.
const int kReleaseBoundMs = 10000;

std::atomic<const void *> g_logger{nullptr};

// The client contexts whose requests a status notification may name, with the notifications
// running for each. A notification is passed on only while its request's context is listed,
// and a release takes the context off the list before it waits for the running ones: once
// none runs, none can start, and the context may be freed. On POSIX removing the root
// handle's callback already waits for the running ones; the list is what makes it known on
// Windows, where a child handle may still call back after that.
class LiveContexts {
 public:
  bool Add(CNetClientHolder *holder) {
    std::lock_guard<std::mutex> lock(mu_);
    try {
      for (int32_t i = 0; i < holder->m_nSlots; ++i) requests_[&holder->m_pSlots[i]] = holder;
    } catch (const std::bad_alloc &) {
      for (int32_t i = 0; i < holder->m_nSlots; ++i) requests_.erase(&holder->m_pSlots[i]);
      return false;
    }
    return true;
  }
  // The context of `request` with one more notification counted, or NULL when not listed.
  CNetClientHolder *Enter(const CNetClientRequest *request) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = requests_.find(request);
    if (it == requests_.end()) return nullptr;
    ++it->second->m_nNotifying;
    return it->second;
  }
  void Leave(CNetClientHolder *holder) {
    std::lock_guard<std::mutex> lock(mu_);
    if (--holder->m_nNotifying == 0) idle_.notify_all();
  }
  // Takes the context off the list and waits up to bound_ms for its running notifications;
  // false when one still runs.
  bool Remove(CNetClientHolder *holder, int bound_ms) {
    std::unique_lock<std::mutex> lock(mu_);
    for (int32_t i = 0; i < holder->m_nSlots; ++i) requests_.erase(&holder->m_pSlots[i]);
    return idle_.wait_for(lock, std::chrono::milliseconds(bound_ms),
                          [holder] { return holder->m_nNotifying == 0; });
  }

 private:
  std::mutex mu_;
  std::condition_variable idle_;
  std::unordered_map<const CNetClientRequest *, CNetClientHolder *> requests_;
};

LiveContexts &Live() {
  static LiveContexts *live = new LiveContexts;  // never destroyed: notifications may outlive exit
  return *live;
}

bool InUse(CNetClientRequest *request) {
  if (request == nullptr) return false;
  NcLock lock(request->m_Lock);
  return request->m_bInUse != 0;
}

// The slot's FTP connection object, or NULL when the slot cannot run an FTP operation
// (not in use, not FTP, never connected, or its connection closed by an abort).
std::shared_ptr<CNetFtpClient> FtpOf(CNetClientRequest *request) {
  if (request == nullptr) return nullptr;
  NcLock lock(request->m_Lock);
  if (!request->m_bInUse || request->m_dwType != NETCLIENT_TYPE_FTP || !request->m_pConnection) {
    return nullptr;
  }
  auto ftp = std::static_pointer_cast<CNetFtpClient>(request->m_pConnection);
  return ftp->IsConnected() ? ftp : nullptr;
}

bool IsHttpType(uint32_t type) {
  return type == NETCLIENT_TYPE_HTTP_GET || type == NETCLIENT_TYPE_HTTP_POST ||
         type == NETCLIENT_TYPE_HTTPS_GET || type == NETCLIENT_TYPE_HTTPS_POST;
}

// Takes the connection object off the slot (or leaves it, keep_object), marked aborted so
// that a caller waiting in it returns and nothing more is reported, and closes it.
void Internal_Disconnect(CNetClientRequest *request, uint32_t abort, bool keep_object) {
  {
    NcLock lock(request->m_Lock);
    request->m_bAbort = abort;
  }
  if (abort) request->WaitWhileSettingUp();
  std::shared_ptr<CNetClientBase> conn;
  {
    NcLock lock(request->m_Lock);
    conn = request->m_pConnection;
    if (!keep_object) request->m_pConnection.reset();
    if (conn) {
      conn->MarkAborted();
      conn->CloseConnect();
    }
  }
}

// Builds the slot's connection object of type T and runs its connect; a failed connect
// leaves the slot without one.
template <typename T, typename Run>
uint32_t ConnectWith(CNetClientRequest *request, Run run) {
  std::shared_ptr<T> conn;
  {
    NcLock lock(request->m_Lock);
    if (request->m_bAbort) return NETCLIENT_E_ABORTING;
    if (request->m_pConnection) {
      // A second connect replaces the first connection.
      request->m_pConnection->MarkAborted();
      request->m_pConnection->CloseConnect();
      request->m_pConnection.reset();
    }
    request->SetConnectPhase(1);
    conn = std::shared_ptr<T>(new (std::nothrow) T);
    if (!conn) {
      request->SetConnectPhase(0);
      return NETCLIENT_E_NOMEM;
    }
    conn->Attach(request, request->m_pOwner->m_hInternet, request->m_dwTimeout);
    request->m_pConnection = conn;
  }
  uint32_t r = run(conn.get());
  if (r == 0) return 0;
  NcLock lock(request->m_Lock);
  request->SetConnectPhase(0);
  if (request->m_pConnection == conn) request->m_pConnection.reset();
  conn->MarkAborted();
  conn->CloseConnect();
  return r;
}

uint32_t ConnectFtp(CNetClientRequest *request, uint32_t synchronous) {
  return ConnectWith<CNetFtpClient>(request, [&](CNetFtpClient *ftp) {
    return ftp->Connect(request->m_szHost, request->m_szUser, request->m_szPassword,
                        request->m_dwPort, synchronous);
  });
}

uint32_t ConnectHttp(CNetClientRequest *request, uint32_t type, uint32_t synchronous) {
  bool post = type == NETCLIENT_TYPE_HTTP_POST || type == NETCLIENT_TYPE_HTTPS_POST;
  bool secure = type == NETCLIENT_TYPE_HTTPS_GET || type == NETCLIENT_TYPE_HTTPS_POST;
  return ConnectWith<CNetHttpClient>(request, [&](CNetHttpClient *http) {
    uint32_t r = http->Connect(request->m_szHost, request->m_szUser, request->m_szPassword,
                               request->m_dwPort, request->m_szPath, request->m_szExtra,
                               synchronous, post, secure);
    if (r == 0 && http->Waited()) {
      NcLock lock(request->m_Lock);
      if (request->m_pContentLength != nullptr) {
        *request->m_pContentLength = http->QueryContentLength();
      }
    }
    return r;
  });
}

// Builds "http://host:port" from the caller's address; the ':' test looks past the scheme.
std::string ProxyAddress(const char *address, uint32_t port) {
  bool has_scheme = strncasecmp(address, "http://", 7) == 0;
  std::string built = has_scheme ? address : std::string("http://") + address;
  const char *authority = has_scheme ? address + 7 : address;
  if (strchr(authority, ':') == nullptr) built += ":" + std::to_string(port);
  return built;
}

void CopyProxyCredentials(char (&user)[256], char (&password)[256], const NetClientProxyInfo *p) {
  if (p->user != nullptr && p->user[0] != '\0') NcCopy(user, sizeof user, p->user);
  if (p->password != nullptr && p->password[0] != '\0') NcCopy(password, sizeof password, p->password);
}

// The port written in a URL's authority fits 16 bits (or none is written). Checked here, not
// left to the platform's parser: one seen in use cuts 99999 down to 34463 without a word.
bool UrlPortFits(const char *url) {
  const char *start = strstr(url, "://");
  if (start == nullptr) return true;
  start += 3;
  const char *end = start + strcspn(start, "/?#");
  const char *host = start;
  for (const char *p = start; p < end; ++p)
    if (*p == '@') host = p + 1;
  const char *colon = static_cast<const char *>(memchr(host, ':', static_cast<size_t>(end - host)));
  if (colon == nullptr) return true;
  unsigned long port = 0;
  for (const char *p = colon + 1; p < end; ++p) {
    if (*p < '0' || *p > '9') return true;  // not a number: the platform's parser refuses it
    port = port * 10 + static_cast<unsigned long>(*p - '0');
    if (port > 65535) return false;
  }
  return true;
}

// The decoded parts (user name, password, path: all before the query) hold no "%00": a NUL
// there would cut the descriptor's copy short, so that a password "p%00x" became "p".
bool UrlDecodesNoNul(const char *url) {
  size_t end = strcspn(url, "?#");
  for (size_t i = 0; i + 3 <= end; ++i)
    if (url[i] == '%' && url[i + 1] == '0' && url[i + 2] == '0') return false;
  return true;
}

}  // namespace

// ---- Shared helpers ----------------------------------------------------------------------

void NcCopy(char *dst, size_t size, const char *src) {
  if (size == 0) return;
  if (src == nullptr) src = "";
  size_t n = strnlen(src, size - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
}

void CNetClientRequest::Reset() {
  m_dwTimeout = 5000;
  m_dwType = 0;
  m_szHost[0] = m_szUser[0] = m_szPassword[0] = m_szPath[0] = m_szExtra[0] = '\0';
  m_dwPort = 0;
  m_bInUse = 0;
  m_pContext = nullptr;
  m_bSkipCredentials = 0;
  m_bAbort = 0;
  m_pConnection.reset();
  m_pContentLength = nullptr;
  m_pCallback = nullptr;
  m_hParentWnd = nullptr;
  SetConnectPhase(0);
  m_dwSendSeconds = m_dwSendMillis = 0;
  m_szProxyUser[0] = m_szProxyPassword[0] = '\0';
}

void CNetClientRequest::SetConnectPhase(uint32_t phase) {
  std::lock_guard<std::mutex> lock(m_PhaseMutex);
  m_dwConnectPhase = phase;
  m_PhaseChanged.notify_all();
}

void CNetClientRequest::WaitWhileSettingUp() {
  std::unique_lock<std::mutex> lock(m_PhaseMutex);
  m_PhaseChanged.wait(lock, [this] { return m_dwConnectPhase != 1; });
}

CNetClientHolder::CNetClientHolder(int32_t slots)
    : m_nSlots(slots), m_pSlots(new CNetClientRequest[slots]) {}

CNetClientHolder::~CNetClientHolder() {
  delete[] m_pSlots;
  free(m_pszProxy);
}

void CALLBACK NetClient_StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                       LPVOID info, DWORD length) {
  auto *request = reinterpret_cast<CNetClientRequest *>(context);
  if (request == nullptr) return;
  CNetClientHolder *owner = Live().Enter(request);
  if (owner == nullptr) return;  // its context is being released: the request is not touched
  std::shared_ptr<CNetClientBase> conn;
  {
    NcLock lock(request->m_Lock);
    conn = request->m_pConnection;
  }
  try {
    if (conn) conn->OnStatus(handle, status, info, length);
  } catch (...) {
    // Nothing may unwind into the service's thread.
  }
  Live().Leave(owner);
}

// ---- Contexts ------------------------------------------------------------------------------

extern "C" {

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_CheckVersion(uint32_t version) {
  return (version & 0xFFFFFFu) == 5u ? 0 : NETCLIENT_E_VERSION;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_GetVersion(uint8_t *v1, uint8_t *v2,
                                                              uint8_t *v3, uint8_t *v4) {
  if (v1 != nullptr) *v1 = 5;
  if (v2 != nullptr) *v2 = 0;
  if (v3 != nullptr) *v3 = 0;
  if (v4 != nullptr) *v4 = 2;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetLogger(const void *logger) {
  g_logger = logger;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_InitializeWithProxy(NetClientHandle *out,
                                                                       const char *proxy,
                                                                       const char *bypass,
                                                                       uint32_t version) {
  if (out == nullptr) return NETCLIENT_E_INVALIDARG;
  *out = nullptr;
  DWORD connections = 100;
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections,
                     sizeof connections);
  InternetSetOptionA(nullptr, INTERNET_OPTION_MAX_CONNS_PER_SERVER, &connections,
                     sizeof connections);
  uint32_t r = NetClient_CheckVersion(version);
  if (r != 0) return r;
  CNetClientHolder *holder = new (std::nothrow) CNetClientHolder(kSlotCount);
  if (holder == nullptr) return NETCLIENT_E_NOMEM;
  bool with_proxy = proxy != nullptr && proxy[0] != '\0';
  holder->m_hInternet =
      with_proxy ? InternetOpenA("asynchttp", INTERNET_OPEN_TYPE_PROXY, proxy,
                                 bypass != nullptr ? bypass : "", INTERNET_FLAG_ASYNC)
                 : InternetOpenA("asynchttp", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr,
                                 INTERNET_FLAG_ASYNC);
  if (holder->m_hInternet == nullptr) {
    delete holder;
    return NETCLIENT_E_OPEN;
  }
  if (with_proxy) {
    holder->m_pszProxy = strdup(proxy);
    holder->m_dwProxyLen = static_cast<uint32_t>(strlen(proxy) + 1);
  }
  if (!Live().Add(holder)) {
    InternetCloseHandle(holder->m_hInternet);
    delete holder;
    return NETCLIENT_E_NOMEM;
  }
  InternetSetStatusCallback(holder->m_hInternet, NetClient_StatusCallback);
  *out = holder;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Initialize(NetClientHandle *out,
                                                              uint32_t version) {
  return NetClient_InitializeWithProxy(out, nullptr, nullptr, version);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Release(NetClientHandle *handle) {
  if (handle == nullptr || *handle == nullptr) return NETCLIENT_E_HANDLE;
  CNetClientHolder *holder = *handle;
  *handle = nullptr;
  for (int32_t i = 0; i < holder->m_nSlots; ++i) NetClient_CloseRequest(&holder->m_pSlots[i]);
  // Once the callback is removed no notification of the root starts (POSIX waits here for
  // those still running); a child handle's, which may still come on Windows, finds the
  // context no longer listed and touches nothing.
  InternetSetStatusCallback(holder->m_hInternet, nullptr);
  if (!Live().Remove(holder, kReleaseBoundMs)) {
    // Freeing the context under a notification that still runs would crash later; keeping
    // it alive costs only its memory.
    OutputDebugStringA("NetClient_Release: a status notification still runs; context kept\n");
    return 0;
  }
  InternetCloseHandle(holder->m_hInternet);
  delete holder;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetProxy(NetClientHandle context,
                                                            uint32_t reserved,
                                                            const NetClientProxyInfo *proxy) {
  if (context == nullptr) return NETCLIENT_E_HANDLE;
  if (reserved != 0 || proxy == nullptr || proxy->address == nullptr) return NETCLIENT_E_INVALIDARG;
  std::string address = ProxyAddress(proxy->address, proxy->port);
  std::lock_guard<std::mutex> lock(context->m_Lock);
  if (context->m_pszProxy == nullptr || address != context->m_pszProxy) {
    INTERNET_PROXY_INFO info = {INTERNET_OPEN_TYPE_PROXY, address.c_str(),
                                proxy->bypass != nullptr ? proxy->bypass : ""};
    if (!InternetSetOptionA(context->m_hInternet, INTERNET_OPTION_PROXY, &info, sizeof info)) {
      char text[64];
      snprintf(text, sizeof text, "InternetSetOption proxy info fail: %x\n",
               static_cast<unsigned>(GetLastError()));
      OutputDebugStringA(text);
      return NETCLIENT_E_PLATFORM;
    }
    char *copy = strdup(address.c_str());
    if (copy == nullptr) return NETCLIENT_E_NOMEM;
    free(context->m_pszProxy);
    context->m_pszProxy = copy;
    context->m_dwProxyLen = static_cast<uint32_t>(address.size() + 1);
  }
  CopyProxyCredentials(context->m_szProxyUser, context->m_szProxyPassword, proxy);
  return 0;
}

// ---- Request slots ---------------------------------------------------------------------

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_OpenRequest(NetClientHandle context,
                                                               NetClientRequestHandle *out) {
  if (context == nullptr) return NETCLIENT_E_HANDLE;
  if (out == nullptr) return NETCLIENT_E_INVALIDARG;
  std::lock_guard<std::mutex> lock(context->m_Lock);
  if (context->m_nInUse >= context->m_nSlots) return NETCLIENT_E_NO_SLOT;
  for (int32_t i = context->m_nSlots - 1; i >= 0; --i) {
    // The slot's own lock is not taken here: the lock order is request, then context.
    CNetClientRequest *slot = &context->m_pSlots[i];
    if (slot->m_bInUse) continue;
    slot->m_bInUse = 1;
    slot->m_pOwner = context;
    if (context->m_pszProxy != nullptr && context->m_szProxyUser[0] != '\0') {
      NcCopy(slot->m_szProxyUser, sizeof slot->m_szProxyUser, context->m_szProxyUser);
      NcCopy(slot->m_szProxyPassword, sizeof slot->m_szProxyPassword, context->m_szProxyPassword);
    }
    ++context->m_nInUse;
    *out = slot;
    return 0;
  }
  return NETCLIENT_E_NO_SLOT;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_CloseRequest(NetClientRequestHandle request) {
  if (request == nullptr) return NETCLIENT_E_HANDLE;
  if (!InUse(request)) return 0;
  Internal_Disconnect(request, 1, false);
  NcLock lock(request->m_Lock);
  if (!request->m_bInUse) return 0;  // closed meanwhile by another thread
  CNetClientHolder *owner = request->m_pOwner;
  std::lock_guard<std::mutex> owner_lock(owner->m_Lock);
  request->Reset();
  request->m_pOwner = owner;
  --owner->m_nInUse;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetRequestInfo(NetClientRequestHandle request,
                                                                  const NetClientRequestInfo *info) {
  if (!InUse(request)) return NETCLIENT_E_HANDLE;
  if (info == nullptr) return NETCLIENT_E_INVALIDARG;
  NcLock lock(request->m_Lock);
  request->m_dwType = info->type;
  request->m_pContext = info->context;
  request->m_dwPort = info->port;
  request->m_dwTimeout = info->timeout_ms != 0 ? info->timeout_ms : kDefaultTimeoutMs;
  NcCopy(request->m_szHost, sizeof request->m_szHost, info->host);
  NcCopy(request->m_szUser, sizeof request->m_szUser, info->user);
  NcCopy(request->m_szPassword, sizeof request->m_szPassword, info->password);
  NcCopy(request->m_szPath, sizeof request->m_szPath, info->path);
  NcCopy(request->m_szExtra, sizeof request->m_szExtra, info->extra);
  request->m_pCallback = info->callback;
  request->m_pContentLength = info->content_length;
  request->m_hParentWnd = info->parent_window;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetCallback(NetClientRequestHandle request,
                                                               NetClientCallback callback,
                                                               void *context) {
  if (request == nullptr) return NETCLIENT_E_HANDLE;
  NcLock lock(request->m_Lock);
  request->m_pCallback = callback;
  request->m_pContext = context;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetSkipCredentials(NetClientRequestHandle request,
                                                                      uint32_t skip) {
  if (!InUse(request)) return NETCLIENT_E_HANDLE;
  NcLock lock(request->m_Lock);
  request->m_bSkipCredentials = skip;
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_GetCredentials(NetClientRequestHandle request,
                                                                  char *user, char *password) {
  if (!InUse(request)) return NETCLIENT_E_HANDLE;
  NcLock lock(request->m_Lock);
  if (user != nullptr) NcCopy(user, 256, request->m_szUser);
  if (password != nullptr) NcCopy(password, 256, request->m_szPassword);
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Connect(NetClientRequestHandle request,
                                                           uint32_t synchronous) {
  if (!InUse(request)) return NETCLIENT_E_HANDLE;
  uint32_t type;
  {
    NcLock lock(request->m_Lock);
    type = request->m_dwType;
  }
  if (type == NETCLIENT_TYPE_FTP) return ConnectFtp(request, synchronous);
  if (IsHttpType(type)) return ConnectHttp(request, type, synchronous);
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Disconnect(NetClientRequestHandle request) {
  if (request == nullptr) return NETCLIENT_E_HANDLE;
  Internal_Disconnect(request, 0, false);
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Abort(NetClientRequestHandle request) {
  if (request == nullptr) return NETCLIENT_E_HANDLE;
  Internal_Disconnect(request, 1, true);
  // The abort is the one report of the cancelled operation: its own completion reports
  // nothing, and a caller waiting in it returns 240.
  NcLock lock(request->m_Lock);
  if (request->m_pCallback != nullptr) {
    request->m_pCallback(request, NETCLIENT_EV_ABORTED, request->m_pContext);
  }
  return 0;
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_ReadData(NetClientRequestHandle request,
                                                            void *buffer, uint32_t size,
                                                            uint32_t *bytes_read,
                                                            uint32_t *read_status) {
  if (!InUse(request)) return NETCLIENT_E_HANDLE;
  NcLock lock(request->m_Lock);
  if (!IsHttpType(request->m_dwType) || !request->m_pConnection) return NETCLIENT_E_HANDLE;
  // A read asks for size - 1 bytes: a buffer of 0 or 1 bytes could never receive any, and
  // the read would look like the end of the body.
  if (buffer == nullptr || size < 2) return NETCLIENT_E_INVALIDARG;
  auto http = std::static_pointer_cast<CNetHttpClient>(request->m_pConnection);
  uint32_t got = 0;
  uint32_t status = http->Read(buffer, size, &got);
  if (bytes_read != nullptr) *bytes_read = got;
  if (read_status != nullptr) *read_status = status;
  return 0;
}

// ---- FTP operations ------------------------------------------------------------------------

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_PutFileWithProgress(
    NetClientRequestHandle request, const char *local_path, const char *remote_path,
    uint32_t mode, uint32_t synchronous, NetClientProgressCallback progress,
    void *progress_context) {
  auto ftp = FtpOf(request);
  if (!ftp) return NETCLIENT_E_HANDLE;
  return ftp->PutFile(local_path, remote_path, mode, synchronous, progress, progress_context);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_PutFile(NetClientRequestHandle request,
                                                               const char *local_path,
                                                               const char *remote_path,
                                                               uint32_t mode, uint32_t synchronous) {
  return NetClient_FTP_PutFileWithProgress(request, local_path, remote_path, mode, synchronous,
                                           nullptr, nullptr);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_GetFile(NetClientRequestHandle request,
                                                               const char *local_path,
                                                               const char *remote_path,
                                                               uint32_t mode, uint32_t synchronous) {
  auto ftp = FtpOf(request);
  if (!ftp) return NETCLIENT_E_HANDLE;
  return ftp->GetFile(local_path, remote_path, mode, synchronous);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_DeleteFile(NetClientRequestHandle request,
                                                                  const char *name,
                                                                  uint32_t is_directory,
                                                                  uint32_t synchronous) {
  auto ftp = FtpOf(request);
  if (!ftp) return NETCLIENT_E_HANDLE;
  return ftp->Delete(name, is_directory, synchronous);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_FindFirstFile(NetClientRequestHandle request,
                                                                     const char *pattern,
                                                                     NetClientFindEntry *entry,
                                                                     uint32_t synchronous) {
  auto ftp = FtpOf(request);
  if (!ftp) return NETCLIENT_E_HANDLE;
  return ftp->FindFirstFile(pattern, entry, synchronous);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_FindNextFile(NetClientRequestHandle request,
                                                                    NetClientFindEntry *entry,
                                                                    uint32_t synchronous) {
  auto ftp = FtpOf(request);
  if (!ftp) return NETCLIENT_E_HANDLE;
  return ftp->FindNextFile(entry, synchronous);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_CreateDir(NetClientRequestHandle request,
                                                                 const char *path,
                                                                 uint32_t create_parents,
                                                                 uint32_t synchronous) {
  auto ftp = FtpOf(request);
  if (!ftp) return NETCLIENT_E_HANDLE;
  return ftp->CreateDir(path, create_parents, synchronous);
}

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_ChangeDir(NetClientRequestHandle request,
                                                                 const char *path,
                                                                 uint32_t synchronous) {
  auto ftp = FtpOf(request);
  if (!ftp) return NETCLIENT_E_HANDLE;
  return ftp->ChangeDir(path, synchronous);
}

// ---- URLs ------------------------------------------------------------------------------------

NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_CrackUrl(const char *url,
                                                            NetClientRequestInfo *info) {
  if (url == nullptr || info == nullptr) return 0;
  char host[256], user[256], password[256], path[1024], extra[2048];
  URL_COMPONENTSA parts;
  memset(&parts, 0, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUserName = user;
  parts.dwUserNameLength = sizeof user;
  parts.lpszPassword = password;
  parts.dwPasswordLength = sizeof password;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof extra;
  if (!UrlPortFits(url) || !UrlDecodesNoNul(url) || !InternetCrackUrlA(url, 0, ICU_DECODE, &parts)) {
    return 0;
  }
  // A URL without a host names no server: the descriptor keeps its own.
  if (host[0] == '\0') return 0;
  NcCopy(info->host, sizeof info->host, host);
  NcCopy(info->user, sizeof info->user, user);
  NcCopy(info->password, sizeof info->password, password);
  NcCopy(info->path, sizeof info->path, path);
  NcCopy(info->extra, sizeof info->extra, extra);
  info->port = parts.nPort;
  return 0;
}

}  // extern "C"
