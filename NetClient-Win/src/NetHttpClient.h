// CNetHttpClient: the HTTP or HTTPS connection of a request slot of types 11, 12, 14 and 15:
// connect (GET or POST with the slot's extra data as body), the status rules, the
// completion reports, body reads in pieces, and the ICMP probe that tells a host that does
// not answer from one that refused the connection.
#pragma once

#include <chrono>

#include "NetClientBase.h"

class CNetHttpClient : public CNetClientBase {
 public:
  CNetHttpClient() = default;
  ~CNetHttpClient() override;

  void OnRequestComplete(const INTERNET_ASYNC_RESULT &result) override;
  void OnStatus(HINTERNET handle, DWORD status, LPVOID info, DWORD length) override;
  void CloseConnect() override;

  uint32_t Connect(const char *host, const char *user, const char *password, uint32_t port,
                   const char *path, const char *extra, uint32_t synchronous, bool post,
                   bool secure);
  // One piece of the body: a read status 101 to 106 (NETCLIENT_READ_*). The caller holds
  // the request lock and keeps buffer alive until a pending read (103) has completed.
  uint32_t Read(void *buffer, uint32_t size, uint32_t *bytes_read);
  // The response's Content-Length (0 when it has none).
  uint32_t QueryContentLength();
  // The response's status (-1 when there is none).
  int StatusCode();
  // The connect waited for its outcome (synchronous, or the slot has no callback).
  bool Waited() const { return m_bWait != 0; }

 private:
  uint32_t OpenRequest(const char *path, bool post, bool secure);
  uint32_t SendAndWait(const char *extra, DWORD *error);
  uint32_t StatusStep(int status, int *proxy_refusals, bool *again);
  uint32_t ProbeRest();
  void ReadBackCredentials();
  void ReportConnect(DWORD error);
  uint32_t Delivered(uint32_t bytes);

  INTERNET_BUFFERSA m_Buffers = {};
  uint32_t m_bReadPending = 0;
  HINTERNET m_hConnection = nullptr;
  std::chrono::steady_clock::time_point m_SendStart;
  bool m_bHostLost = false;  // the probe after a failed asynchronous connect found no answer
  uint64_t m_qwBodyRead = 0;  // bytes of the current response's body handed to the caller
};
