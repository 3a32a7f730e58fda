// The connection base: connect and close sequences, waits, and status dispatch.
#include "NetClientBase.h"

#include <chrono>

// ---- NcEvent ---------------------------------------------------------------------------

void NcEvent::Set() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_bSignalled = true;
  m_Cond.notify_all();
}

void NcEvent::Reset() {
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_bSignalled = false;
}

bool NcEvent::Wait(int64_t timeout_ms) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  auto signalled = [this] { return m_bSignalled; };
  if (timeout_ms < 0) {
    m_Cond.wait(lock, signalled);
  } else if (!m_Cond.wait_for(lock, std::chrono::milliseconds(timeout_ms), signalled)) {
    return false;
  }
  m_bSignalled = false;
  return true;
}

bool NcEvent::IsSet() {
  // Tested without a timed wait: a zero-length wait still costs a timed sleep in the kernel,
  // and body reads test events once per piece.
  std::lock_guard<std::mutex> lock(m_Mutex);
  bool signalled = m_bSignalled;
  m_bSignalled = false;
  return signalled;
}

// ---- CNetClientBase ---------------------------------------------------------------------

void CNetClientBase::Attach(CNetClientRequest *request, HINTERNET internet, uint32_t timeout_ms) {
  m_pRequest = request;
  m_hInternet = internet;
  m_dwTimeout = timeout_ms;
}

bool CNetClientBase::HasCallback() const { return m_pRequest->m_pCallback != nullptr; }

void CNetClientBase::MarkAborted() {
  m_bAborted = true;
  // Wake a caller waiting in an operation; it sees the mark and returns 240.
  m_evRequestComplete.Set();
  m_evHandleCreated.Set();
}

void CNetClientBase::Report(uint32_t code) {
  if (m_bAborted) return;
  NetClientCallback callback = m_pRequest->m_pCallback;
  if (callback != nullptr) callback(m_pRequest, code, m_pRequest->m_pContext);
}

NcWait CNetClientBase::WaitComplete(int64_t timeout_ms) {
  if (m_bAborted) return NcWait::Aborted;
  bool signalled = m_evRequestComplete.Wait(timeout_ms);
  if (m_bAborted) return NcWait::Aborted;
  return signalled ? NcWait::Done : NcWait::TimedOut;
}

NcWait CNetClientBase::WaitCreated(int64_t timeout_ms) {
  if (m_bAborted) return NcWait::Aborted;
  bool signalled = m_evHandleCreated.Wait(timeout_ms);
  if (m_bAborted) return NcWait::Aborted;
  return signalled ? NcWait::Done : NcWait::TimedOut;
}

uint32_t CNetClientBase::CommonConnect(const char *host, const char *user, const char *password,
                                       DWORD service, DWORD flags, uint32_t port,
                                       uint32_t synchronous, HINTERNET *out,
                                       bool *at_once) {
  NcLock lock(m_pRequest->m_Lock);
  m_bWait = (synchronous != 0 || !HasCallback()) ? 1 : 0;
  m_eDoing = NC_CONNECT_ISSUED;
  if (m_pRequest->m_bAbort) return NETCLIENT_E_ABORTING;
  HINTERNET handle =
      InternetConnectA(m_hInternet, host, static_cast<INTERNET_PORT>(port), user, password,
                       service, flags, reinterpret_cast<DWORD_PTR>(m_pRequest));
  // The service may announce the handle (HANDLE_CREATED) before the call returns NULL for
  // an asynchronous connect: keep the announced one.
  DWORD error = handle == nullptr ? GetLastError() : 0;
  if (handle != nullptr) *out = handle;
  // A service may also finish the connect inside the call, as an asynchronous service may
  // for any call: then it sends no completion, and waiting for one would only time out.
  // A failure inside the call may still have announced a handle, which the service closes
  // again: it is no connection.
  *at_once = handle != nullptr || error != ERROR_IO_PENDING;
  if (*at_once) {
    m_dwLastError = error;
    m_eDoing = NC_IDLE;
    if (handle == nullptr) *out = nullptr;
  }
  return 0;
}

BOOL CNetClientBase::CloseAuxHandle(HINTERNET *handle, bool always_wait) {
  if (*handle == nullptr) return TRUE;
  m_evHandleClosing.Reset();
  BOOL closed = InternetCloseHandle(*handle);
  if (always_wait || !closed) m_evHandleClosing.Wait(1000);
  *handle = nullptr;
  return closed;
}

void CNetClientBase::CloseConnectCommon() {
  std::unique_lock<std::recursive_mutex> lock(m_pRequest->m_Lock);
  if (m_hRequest == nullptr) {
    bool on_its_way = m_eDoing == NC_CONNECT_ISSUED || m_eDoing == NC_OPENING_FILE;
    if (!on_its_way) return;
    lock.unlock();
    m_evHandleCreated.Wait(10000);
    lock.lock();
    if (m_hRequest == nullptr) return;
  }
  CloseAuxHandles();
  m_evHandleClosing.Reset();
  HINTERNET handle = m_hRequest;
  m_hRequest = nullptr;
  InternetSetStatusCallback(handle, nullptr);
  InternetCloseHandle(handle);
  m_eDoing = NC_IDLE;
  lock.unlock();
  m_evHandleClosing.Set();
}

bool CNetClientBase::OwnsHandle(HINTERNET handle) const { return handle == m_hRequest; }

void CNetClientBase::OnStatus(HINTERNET handle, DWORD status, LPVOID info, DWORD) {
  switch (status) {
    case INTERNET_STATUS_RECEIVING_RESPONSE:
      m_evReceivingResponse.Set();
      return;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      m_evReceivingResponse.Reset();
      return;
    case INTERNET_STATUS_HANDLE_CREATED: {
      NcLock lock(m_pRequest->m_Lock);
      if (m_eDoing == NC_CONNECT_ISSUED) m_eDoing = NC_CONNECTING;
      auto *result = static_cast<INTERNET_ASYNC_RESULT *>(info);
      HINTERNET created = result != nullptr ? reinterpret_cast<HINTERNET>(result->dwResult) : nullptr;
      if (created != nullptr && m_phPending != nullptr && !m_bAborted) {
        *m_phPending = created;
        DWORD timeout = m_dwTimeout;
        InternetSetOptionA(created, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
        m_phPending = nullptr;
      }
      m_evHandleCreated.Set();
      return;
    }
    case INTERNET_STATUS_HANDLE_CLOSING:
      m_evHandleClosing.Set();
      return;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      NcLock lock(m_pRequest->m_Lock);
      // A completion for a handle this object no longer holds belongs to an operation that
      // was cancelled; it has been reported (or needs no report).
      if (!OwnsHandle(handle) || info == nullptr) return;
      OnRequestComplete(*static_cast<INTERNET_ASYNC_RESULT *>(info));
      return;
    }
    default:
      return;
  }
}
