// The network client's context and request slots, and the event that carries completions
// from the service's threads to a waiting caller.
//
// Lock order: a request's lock (m_Lock) may be held while taking its context's lock
// (CNetClientHolder::m_Lock), never the reverse. No lock is held while waiting for an event.
#pragma once

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "nc_wininet.h"
#include "netclient.h"

class CNetClientBase;
struct CNetClientHolder;

// An auto-reset event: Wait consumes the signal.
class NcEvent {
 public:
  void Set();
  void Reset();
  // True when signalled within timeout_ms (a negative time-out waits without limit).
  bool Wait(int64_t timeout_ms);
  bool IsSet();  // tests and consumes the signal without waiting

 private:
  std::mutex m_Mutex;
  std::condition_variable m_Cond;
  bool m_bSignalled = false;
};

// Copies a string into a fixed array, truncated, always NUL-terminated; NULL gives "".
void NcCopy(char *dst, size_t size, const char *src);

struct CNetClientRequest {
  // Guards the abort flag, the connection object pointer and its state, the connect phase.
  std::recursive_mutex m_Lock;
  int m_nLockDepth = 0;

  uint32_t m_dwTimeout = 5000;
  uint32_t m_dwType = 0;
  char m_szHost[256] = {};
  char m_szUser[256] = {};
  uint32_t m_dwPort = 0;
  char m_szPassword[256] = {};
  char m_szPath[1024] = {};
  char m_szExtra[2048] = {};
  // Written under both the request lock and the context lock; read under either.
  std::atomic<uint8_t> m_bInUse{0};
  void *m_pContext = nullptr;
  uint32_t m_bSkipCredentials = 0;
  std::atomic<uint32_t> m_bAbort{0};
  CNetClientHolder *m_pOwner = nullptr;
  // Shared with an operation that runs on another thread, so that closing the slot never
  // frees an object that a waiting caller still uses.
  std::shared_ptr<CNetClientBase> m_pConnection;
  uint32_t *m_pContentLength = nullptr;
  NetClientCallback m_pCallback = nullptr;
  void *m_hParentWnd = nullptr;
  // 0 none, 1 object being set up, 2 connect issued; written through SetConnectPhase, so that
  // an abort can sleep until the set-up is over.
  std::atomic<uint32_t> m_dwConnectPhase{0};
  std::mutex m_PhaseMutex;
  std::condition_variable m_PhaseChanged;
  uint32_t m_dwSendSeconds = 0;
  uint32_t m_dwSendMillis = 0;
  char m_szProxyUser[256] = {};
  char m_szProxyPassword[256] = {};

  void Reset();  // back to the fresh state (caller holds m_Lock)
  void SetConnectPhase(uint32_t phase);
  void WaitWhileSettingUp();  // until the connect phase leaves 1
};

struct CNetClientHolder {
  explicit CNetClientHolder(int32_t slots);
  virtual ~CNetClientHolder();

  int32_t m_nSlots;
  int32_t m_nInUse = 0;
  CNetClientRequest *m_pSlots;
  HINTERNET m_hInternet = nullptr;
  std::mutex m_Lock;  // slot allocation and the in-use count
  char *m_pszProxy = nullptr;
  char m_szProxyUser[256] = {};
  char m_szProxyPassword[256] = {};
  uint32_t m_dwProxyLen = 0;
  int m_nNotifying = 0;  // status notifications running for this context (NetClient.cpp)
};

// The status callback installed on every context's root handle.
void CALLBACK NetClient_StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                       LPVOID info, DWORD length);
