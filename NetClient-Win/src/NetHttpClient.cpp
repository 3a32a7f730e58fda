// The HTTP connection object. A waiting connect runs the status rules on the calling
// thread (answering 401 through the dialog, 407 with the slot's proxy credentials); an
// asynchronous one reports the first response through the slot's callback. Body reads are
// never waited for: a read that cannot be answered at once is pending (103), and its
// completion reports 111 to a callback.
#include "NetHttpClient.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <thread>

#include "icmp_echo.h"

namespace {

const DWORD kHttpFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                         INTERNET_FLAG_PRAGMA_NOCACHE;
const uint32_t kProbeRoundMs = 1000;   // one echo request a second
const uint32_t kProbeSliceMs = 100;    // how often a probe looks at the abort flag
const uint32_t kProbeFailed = 0xFFFFFFFFu;

int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

uint32_t Ticks() {
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// A dotted IPv4 address in network byte order; false for anything else (names included).
bool ParseDotted(const char *text, uint32_t *out) {
  uint8_t bytes[4];
  const char *p = text;
  for (int i = 0; i < 4; ++i) {
    if (*p < '0' || *p > '9') return false;
    unsigned value = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(*p++ - '0');
      ++digits;
    }
    if (value > 255 || digits > 3) return false;
    bytes[i] = static_cast<uint8_t>(value);
    if (i < 3 && *p++ != '.') return false;
  }
  if (*p != '\0') return false;
  memcpy(out, bytes, 4);
  return true;
}

void DebugOptionFail(bool password, DWORD error) {
  char text[64];
  if (password) {
    snprintf(text, sizeof text, "InternetSetOption password fail: %x\n", static_cast<unsigned>(error));
  } else {
    snprintf(text, sizeof text, "InternetSetOption user name fail: %x\n", static_cast<unsigned>(error));
  }
  OutputDebugStringA(text);
}

// Waits out the rest of a probe round in slices, so an abort is seen within one slice.
bool SleepUnlessAborted(CNetClientRequest *request, int64_t ms) {
  while (ms > 0) {
    if (request->m_bAbort) return false;
    int64_t slice = ms < kProbeSliceMs ? ms : kProbeSliceMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(slice));
    ms -= slice;
  }
  return !request->m_bAbort;
}

// One probe round: waits up to window_ms for the answer to any request of this probe.
IcmpEchoResult WaitRound(IcmpEchoSocket *socket, CNetClientRequest *request, uint32_t window_ms) {
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    int64_t left = static_cast<int64_t>(window_ms) - MsSince(start);
    if (left <= 0) return ICMP_ECHO_TIMEOUT;
    if (request->m_bAbort) return ICMP_ECHO_TIMEOUT;
    uint32_t slice = left < kProbeSliceMs ? static_cast<uint32_t>(left) : kProbeSliceMs;
    IcmpEchoResult r = IcmpEcho_WaitReply(socket, 0, slice);
    if (r != ICMP_ECHO_TIMEOUT) return r;
  }
}

}  // namespace

extern "C" NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_PingHost(uint32_t timeout_ms,
                                                                       NetClientRequestHandle request) {
  if (request == nullptr) return NETCLIENT_E_HANDLE;
  char host[sizeof request->m_szHost];
  {
    NcLock lock(request->m_Lock);
    NcCopy(host, sizeof host, request->m_szHost);
  }
  uint32_t target = 0;
  if (!ParseDotted(host, &target)) return kProbeFailed;
  IcmpEchoSocket *socket = nullptr;
  if (IcmpEcho_Open(target, kProbeRoundMs, &socket) != 0) return kProbeFailed;
  auto start = std::chrono::steady_clock::now();
  uint32_t result = NETCLIENT_E_TIMEOUT;
  for (uint16_t sequence = 0;; ++sequence) {
    if (request->m_bAbort) {
      result = NETCLIENT_ABORTED;
      break;
    }
    int64_t left = static_cast<int64_t>(timeout_ms) - MsSince(start);
    if (left <= 0) break;
    auto round = std::chrono::steady_clock::now();
    // A send refused as unreachable (no route or link for now) is one more unanswered
    // round, not a failure of the probe.
    IcmpEchoResult r = IcmpEcho_Send(socket, sequence, Ticks());
    uint32_t window = left < kProbeRoundMs ? static_cast<uint32_t>(left) : kProbeRoundMs;
    if (r == ICMP_ECHO_OK) r = WaitRound(socket, request, window);
    if (r == ICMP_ECHO_OK) {
      result = 0;
      break;
    }
    if (r == ICMP_ECHO_ERROR) {
      result = kProbeFailed;
      break;
    }
    SleepUnlessAborted(request, static_cast<int64_t>(window) - MsSince(round));
  }
  IcmpEcho_Close(&socket);
  return result;
}

// ---- CNetHttpClient -------------------------------------------------------------------

CNetHttpClient::~CNetHttpClient() { CloseConnect(); }

void CNetHttpClient::CloseConnect() {
  CloseConnectCommon();
  NcLock lock(m_pRequest->m_Lock);
  if (m_hConnection == nullptr) return;
  HINTERNET connection = m_hConnection;
  m_hConnection = nullptr;
  m_evHandleClosing.Reset();
  InternetSetStatusCallback(connection, nullptr);
  InternetCloseHandle(connection);
}

int CNetHttpClient::StatusCode() {
  char text[100] = {};
  DWORD length = sizeof text;
  if (m_hRequest == nullptr ||
      !HttpQueryInfoA(m_hRequest, HTTP_QUERY_STATUS_CODE, text, &length, nullptr)) {
    return -1;
  }
  return atoi(text);
}

uint32_t CNetHttpClient::QueryContentLength() {
  char text[20] = {};
  DWORD length = sizeof text;
  if (m_hRequest == nullptr ||
      !HttpQueryInfoA(m_hRequest, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr)) {
    return 0;
  }
  return static_cast<uint32_t>(strtoul(text, nullptr, 10));
}

uint32_t CNetHttpClient::OpenRequest(const char *path, bool post, bool secure) {
  NcLock lock(m_pRequest->m_Lock);
  if (IsAborted()) return NETCLIENT_ABORTED;
  if (m_hConnection == nullptr) return NETCLIENT_E_CONNECT;
  m_phPending = &m_hRequest;
  DWORD flags = kHttpFlags | (secure ? INTERNET_FLAG_SECURE : 0);
  HINTERNET request = HttpOpenRequestA(m_hConnection, post ? "POST" : "GET", path, nullptr,
                                       nullptr, nullptr, flags,
                                       reinterpret_cast<DWORD_PTR>(m_pRequest));
  if (request == nullptr) {
    m_phPending = nullptr;
    return NETCLIENT_E_OPEN_REQUEST;
  }
  m_hRequest = request;
  return 0;
}

uint32_t CNetHttpClient::Connect(const char *host, const char *user, const char *password,
                                 uint32_t port, const char *path, const char *extra,
                                 uint32_t synchronous, bool post, bool secure) {
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_E_ABORTING;
    m_dwLastError = 0;
    m_bTimedOut = 0;
  }
  // An HTTP connect makes only a handle, at once; the network is reached by the send, so a
  // connect finished inside the call needs nothing more here (no handle: OpenRequest fails).
  bool at_once = false;
  uint32_t r = CommonConnect(host, user, password, INTERNET_SERVICE_HTTP, kHttpFlags, port,
                             synchronous, &m_hConnection, &at_once);
  if (r != 0) return r;
  r = OpenRequest(path, post, secure);
  if (r != 0) return r;
  int proxy_refusals = 0;
  for (;;) {
    DWORD error = 0;
    r = SendAndWait(extra, &error);
    if (r != 0 || !m_bWait) return r;
    if (error == ERROR_INTERNET_CANNOT_CONNECT) {
      uint32_t probe = ProbeRest();
      if (probe == NETCLIENT_ABORTED || probe == NETCLIENT_E_TIMEOUT) return probe;
    }
    // The service's own time-out is the request's: report it as one.
    if (error == ERROR_INTERNET_TIMEOUT) return NETCLIENT_E_TIMEOUT;
    int status;
    {
      NcLock lock(m_pRequest->m_Lock);
      m_phPending = nullptr;
      status = StatusCode();
    }
    bool again = false;
    r = StatusStep(status, &proxy_refusals, &again);
    if (r != 0) return r;
    if (!again) break;
  }
  ReadBackCredentials();
  return 0;
}

// Issues the send; a waiting connect then waits for its completion and gives its error.
uint32_t CNetHttpClient::SendAndWait(const char *extra, DWORD *error) {
  bool done_now = false;
  {
    NcLock lock(m_pRequest->m_Lock);
    if (IsAborted()) return NETCLIENT_ABORTED;
    m_pRequest->SetConnectPhase(2);
    m_eDoing = NC_CONNECTING;
    m_dwLastError = 0;
    m_bHostLost = false;
    m_qwBodyRead = 0;
    m_evRequestComplete.Reset();
    if (!m_pRequest->m_bSkipCredentials) {
      InternetSetOptionA(m_hRequest, INTERNET_OPTION_USERNAME, m_pRequest->m_szUser,
                         static_cast<DWORD>(strlen(m_pRequest->m_szUser) + 1));
      InternetSetOptionA(m_hRequest, INTERNET_OPTION_PASSWORD, m_pRequest->m_szPassword,
                         static_cast<DWORD>(strlen(m_pRequest->m_szPassword) + 1));
    }
    m_SendStart = std::chrono::steady_clock::now();
    uint64_t wall = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count());
    m_pRequest->m_dwSendSeconds = static_cast<uint32_t>(wall / 1000);
    m_pRequest->m_dwSendMillis = static_cast<uint32_t>(wall % 1000);
    DWORD length = static_cast<DWORD>(strlen(extra));
    BOOL sent = HttpSendRequestA(m_hRequest, nullptr, 0,
                                 length > 0 ? const_cast<char *>(extra) : nullptr, length);
    DWORD last = sent ? 0 : GetLastError();
    if (last != ERROR_IO_PENDING) {
      // Answered at once: no completion follows.
      done_now = true;
      m_dwLastError = last;
      m_eDoing = NC_IDLE;
      if (!m_bWait) {
        if (last != 0) return NETCLIENT_E_CONNECT;
        ReportConnect(0);
        return 0;
      }
    }
    if (!m_bWait) return 0;
  }
  if (!done_now) {
    NcWait w = WaitComplete(m_dwTimeout);
    if (w == NcWait::Aborted) return NETCLIENT_ABORTED;
    if (w == NcWait::TimedOut) {
      NcLock lock(m_pRequest->m_Lock);
      m_bTimedOut = 1;
      return NETCLIENT_E_TIMEOUT;
    }
  }
  NcLock lock(m_pRequest->m_Lock);
  if (IsAborted()) return NETCLIENT_ABORTED;
  *error = m_dwLastError;
  return 0;
}

// The status rules of a waiting connect: 0 with *again set to send once more, 0 for 200,
// or the final code.
uint32_t CNetHttpClient::StatusStep(int status, int *proxy_refusals, bool *again) {
  *again = false;
  switch (status) {
    case 200:
      return 0;
    case 401: {
      void *parent = m_pRequest->m_hParentWnd;
      if (parent == nullptr) return NETCLIENT_E_AUTH;
      DWORD answer = InternetErrorDlg(static_cast<HWND>(parent), m_hRequest,
                                      ERROR_INTERNET_INCORRECT_PASSWORD,
                                      FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS, nullptr);
      if (answer != ERROR_INTERNET_FORCE_RETRY) return NETCLIENT_E_CONNECT;
      *again = true;
      return 0;
    }
    case 404:
      return NETCLIENT_E_NOT_FOUND;
    case 407: {
      // The proxy credentials are offered once: a proxy that refuses them again would
      // otherwise be asked for ever.
      if (++*proxy_refusals > 1) return NETCLIENT_E_AUTH;
      NcLock lock(m_pRequest->m_Lock);
      const char *user = m_pRequest->m_szProxyUser;
      const char *password = m_pRequest->m_szProxyPassword;
      if (user[0] == '\0') return NETCLIENT_E_AUTH;
      if (!InternetSetOptionA(m_hConnection, INTERNET_OPTION_PROXY_USERNAME,
                              const_cast<char *>(user), static_cast<DWORD>(strlen(user) + 1))) {
        DebugOptionFail(false, GetLastError());
        return NETCLIENT_E_PLATFORM;
      }
      if (password[0] == '\0') return NETCLIENT_E_AUTH;
      if (!InternetSetOptionA(m_hConnection, INTERNET_OPTION_PROXY_PASSWORD,
                              const_cast<char *>(password),
                              static_cast<DWORD>(strlen(password) + 1))) {
        DebugOptionFail(true, GetLastError());
        return NETCLIENT_E_PLATFORM;
      }
      *again = true;
      return 0;
    }
    default:
      return NETCLIENT_E_CONNECT;
  }
}

// After a failed connect: the probe for what is left of the request's time-out. A refused
// connect is answered at once, so the time the attempt took would leave the probe no time
// to hear the host.
uint32_t CNetHttpClient::ProbeRest() {
  int64_t rest = static_cast<int64_t>(m_dwTimeout) - MsSince(m_SendStart);
  if (rest <= 0) return NETCLIENT_E_TIMEOUT;
  return NetClient_PingHost(static_cast<uint32_t>(rest), m_pRequest);
}

void CNetHttpClient::ReadBackCredentials() {
  NcLock lock(m_pRequest->m_Lock);
  if (m_hRequest == nullptr) return;
  char text[256];
  DWORD length = sizeof text;
  if (InternetQueryOptionA(m_hRequest, INTERNET_OPTION_USERNAME, text, &length)) {
    NcCopy(m_pRequest->m_szUser, sizeof m_pRequest->m_szUser, text);
  }
  length = sizeof text;
  if (InternetQueryOptionA(m_hRequest, INTERNET_OPTION_PASSWORD, text, &length)) {
    NcCopy(m_pRequest->m_szPassword, sizeof m_pRequest->m_szPassword, text);
  }
}

// ---- Completions --------------------------------------------------------------------------

void CNetHttpClient::OnStatus(HINTERNET handle, DWORD status, LPVOID info, DWORD length) {
  auto *result = static_cast<INTERNET_ASYNC_RESULT *>(info);
  if (status == INTERNET_STATUS_REQUEST_COMPLETE && result != nullptr &&
      result->dwError == ERROR_INTERNET_CANNOT_CONNECT) {
    bool probe;
    {
      NcLock lock(m_pRequest->m_Lock);
      probe = !m_bWait && m_eDoing == NC_CONNECTING && OwnsHandle(handle) && !IsAborted();
    }
    // Outside the request lock: an abort must not wait for the probe's whole window.
    if (probe) {
      uint32_t r = ProbeRest();
      NcLock lock(m_pRequest->m_Lock);
      m_bHostLost = r != 0;
    }
  }
  CNetClientBase::OnStatus(handle, status, info, length);
}

void CNetHttpClient::ReportConnect(DWORD error) {
  if (error == ERROR_INTERNET_OPERATION_CANCELLED) return Report(NETCLIENT_EV_ABORTED);
  if (error == ERROR_INTERNET_TIMEOUT) return Report(NETCLIENT_E_TIMEOUT);
  int status = StatusCode();
  if (status == 200) {
    if (m_pRequest->m_pContentLength != nullptr) *m_pRequest->m_pContentLength = QueryContentLength();
    return Report(NETCLIENT_EV_HTTP_200);
  }
  if (status == 401) return Report(NETCLIENT_EV_HTTP_401);
  bool lost = error == ERROR_INTERNET_CANNOT_CONNECT && m_bHostLost;
  Report(lost ? NETCLIENT_E_TIMEOUT : NETCLIENT_EV_HTTP_OTHER);
}

void CNetHttpClient::OnRequestComplete(const INTERNET_ASYNC_RESULT &result) {
  uint32_t doing = m_eDoing;
  if (doing != NC_CONNECTING && doing != NC_READING) return;
  m_dwLastError = result.dwError;
  if (result.dwError == ERROR_INTERNET_CANNOT_CONNECT) m_bTimedOut = 1;
  m_evRequestComplete.Set();
  if (doing == NC_CONNECTING && !m_bWait) {
    ReportConnect(result.dwError);
  } else if (doing == NC_READING && HasCallback()) {
    Report(result.dwError == ERROR_INTERNET_OPERATION_CANCELLED ? NETCLIENT_EV_ABORTED
                                                                 : NETCLIENT_EV_HTTP_READ);
  }
  m_eDoing = NC_IDLE;
}

// ---- Body reads ----------------------------------------------------------------------------

uint32_t CNetHttpClient::Read(void *buffer, uint32_t size, uint32_t *bytes_read) {
  *bytes_read = 0;
  if (IsAborted() || m_hRequest == nullptr || m_evHandleClosing.IsSet()) {
    return NETCLIENT_READ_CLOSING;
  }
  if (m_bReadPending) {
    if (!m_evRequestComplete.IsSet()) return NETCLIENT_READ_PENDING;
    m_bReadPending = 0;
    // A read that failed (the body broke off) must not look like the end of the body.
    if (m_dwLastError != 0) return NETCLIENT_READ_FAILED;
    *bytes_read = m_Buffers.dwBufferLength;
    return Delivered(*bytes_read);
  }
  m_Buffers = INTERNET_BUFFERSA();
  m_Buffers.dwStructSize = sizeof m_Buffers;
  m_Buffers.lpvBuffer = buffer;
  m_Buffers.dwBufferLength = size - 1;
  m_eDoing = NC_READING;
  m_dwLastError = 0;
  // The connect's completion may have left the event set; only this read's may count.
  m_evRequestComplete.Reset();
  if (InternetReadFileExA(m_hRequest, &m_Buffers, 0, reinterpret_cast<DWORD_PTR>(m_pRequest))) {
    m_eDoing = NC_IDLE;
    *bytes_read = m_Buffers.dwBufferLength;
    if (*bytes_read == 0 && m_evReceivingResponse.IsSet()) return NETCLIENT_READ_RECEIVING;
    return Delivered(*bytes_read);
  }
  if (GetLastError() == ERROR_IO_PENDING) {
    m_bReadPending = 1;
    return NETCLIENT_READ_PENDING;
  }
  m_eDoing = NC_IDLE;
  return NETCLIENT_READ_FAILED;
}

// A piece of the body handed over, or its end. WinINet may end a body that broke off before
// its Content-Length as though it were whole (Wine's does: a read that succeeds with no
// bytes), so the end counts only once the declared length has arrived.
uint32_t CNetHttpClient::Delivered(uint32_t bytes) {
  m_qwBodyRead += bytes;
  if (bytes != 0) return NETCLIENT_READ_DATA;
  return m_qwBodyRead < QueryContentLength() ? NETCLIENT_READ_FAILED : NETCLIENT_READ_END;
}
