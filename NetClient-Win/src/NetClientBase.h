// CNetClientBase: what the connection objects share: the events through which completions
// reach a waiting caller, the operation state m_eDoing, the connect and close sequences and
// the dispatch of the service's status notifications. CNetFtpClient derives from it; an
// HTTP connection object (CNetHttpClient) takes its place beside it for the HTTP types.
#pragma once

#include <stdint.h>

#include <atomic>
#include <mutex>

#include "NetClientInternal.h"

enum NcDoing : uint32_t {
  NC_IDLE = 0,
  NC_CONNECT_ISSUED = 1,
  NC_CONNECTING = 2,
  NC_READING = 4,
  NC_OPENING_FILE = 5,
  NC_WRITING = 6,
  NC_CREATING_DIR = 7,
  NC_CHANGING_DIR = 8,
  NC_DELETING = 9,
  NC_FIND_FIRST = 10,
  NC_FIND_NEXT = 11,
};

// How a wait for a completion ended.
enum class NcWait { Done, TimedOut, Aborted };

class CNetClientBase {
 public:
  CNetClientBase() = default;
  CNetClientBase(const CNetClientBase &) = delete;
  CNetClientBase &operator=(const CNetClientBase &) = delete;
  virtual ~CNetClientBase() = default;

  // Closes the handles beside m_hRequest (nothing in the base).
  virtual void CloseAuxHandles() {}
  // The completion of the operation in progress, with the service's result.
  virtual void OnRequestComplete(const INTERNET_ASYNC_RESULT &result) = 0;
  // Every status notification for one of this object's handles.
  virtual void OnStatus(HINTERNET handle, DWORD status, LPVOID info, DWORD length);
  // Closes the connection (the derived class's farewell first).
  virtual void CloseConnect() = 0;

  void Attach(CNetClientRequest *request, HINTERNET internet, uint32_t timeout_ms);
  // Starts the connect. *at_once is set when the service finished it inside the call (a
  // handle returned, or a failure other than ERROR_IO_PENDING): no completion will follow,
  // and m_dwLastError holds the outcome.
  uint32_t CommonConnect(const char *host, const char *user, const char *password, DWORD service,
                         DWORD flags, uint32_t port, uint32_t synchronous, HINTERNET *out,
                         bool *at_once);
  void CloseConnectCommon();

  // Marks the object aborted (the slot was aborted, disconnected or closed): its waits end
  // with NcWait::Aborted and its completions report nothing more.
  void MarkAborted();
  bool IsAborted() const { return m_bAborted.load(); }

 protected:
  // Waits for the request-complete event (negative: no limit).
  NcWait WaitComplete(int64_t timeout_ms);
  // Waits for the handle-created event.
  NcWait WaitCreated(int64_t timeout_ms);
  // Closes a handle beside m_hRequest: close, wait for its closing notice when the close
  // reports failure (or always), clear the field. Returns the close's result.
  BOOL CloseAuxHandle(HINTERNET *handle, bool always_wait);
  // True when the handle is one of this object's (its notifications concern this object).
  virtual bool OwnsHandle(HINTERNET handle) const;
  // Calls the slot's callback with code (caller holds the request lock). Nothing once the
  // object is aborted: the abort has reported 240 already.
  void Report(uint32_t code);
  bool HasCallback() const;

  uint32_t m_eDoing = NC_IDLE;
  NcEvent m_evHandleCreated;
  NcEvent m_evRequestComplete;
  NcEvent m_evHandleClosing;
  NcEvent m_evReceivingResponse;
  uint32_t m_bWait = 1;
  uint32_t m_dwLastError = 0;
  uint32_t m_dwTimeout = 30000;
  uint32_t m_bTimedOut = 0;
  HINTERNET m_hInternet = nullptr;
  HINTERNET m_hRequest = nullptr;
  HINTERNET *m_phPending = nullptr;
  CNetClientRequest *m_pRequest = nullptr;
  std::atomic<bool> m_bAborted{false};
};

using NcLock = std::lock_guard<std::recursive_mutex>;
