// Shared helpers of the network client tests: callback and progress recorders, request
// descriptors, local files.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "netclient.h"

namespace nctest {

// Records the slot callback's event codes.
class Events {
 public:
  static void NETCLIENT_CALL Callback(NetClientRequestHandle, uint32_t event, void *context);
  // Waits until one of codes has been recorded; returns it, or 0 after bound_ms.
  uint32_t WaitAny(const std::vector<uint32_t> &codes, int bound_ms);
  std::vector<uint32_t> Codes();
  int Count(uint32_t code);
  void Clear();

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<uint32_t> codes_;
};

// Records the progress callback's (code, value) pairs.
class ProgressLog {
 public:
  static void NETCLIENT_CALL Callback(NetClientRequestHandle, void *context, uint32_t code,
                                      uint32_t value);
  std::vector<std::pair<uint32_t, uint32_t>> Entries();
  size_t Size();

 private:
  std::mutex mu_;
  std::vector<std::pair<uint32_t, uint32_t>> entries_;
};

NetClientRequestInfo FtpInfo(int port, const char *user, const char *password,
                             uint32_t timeout_ms = 10000);

// n pseudo-random bytes (fixed seed per n).
std::string Bytes(size_t n);

}  // namespace nctest
