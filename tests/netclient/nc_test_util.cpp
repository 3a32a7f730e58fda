#include "nc_test_util.h"

#include <string.h>

#include <algorithm>
#include <chrono>
#include <random>

namespace nctest {

void NETCLIENT_CALL Events::Callback(NetClientRequestHandle, uint32_t event, void *context) {
  auto *self = static_cast<Events *>(context);
  std::lock_guard<std::mutex> lock(self->mu_);
  self->codes_.push_back(event);
  self->cv_.notify_all();
}

uint32_t Events::WaitAny(const std::vector<uint32_t> &codes, int bound_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  uint32_t found = 0;
  cv_.wait_for(lock, std::chrono::milliseconds(bound_ms), [&] {
    for (uint32_t c : codes_) {
      if (std::find(codes.begin(), codes.end(), c) != codes.end()) {
        found = c;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::vector<uint32_t> Events::Codes() {
  std::lock_guard<std::mutex> lock(mu_);
  return codes_;
}

int Events::Count(uint32_t code) {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(std::count(codes_.begin(), codes_.end(), code));
}

void Events::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  codes_.clear();
}

void NETCLIENT_CALL ProgressLog::Callback(NetClientRequestHandle, void *context, uint32_t code,
                                          uint32_t value) {
  auto *self = static_cast<ProgressLog *>(context);
  std::lock_guard<std::mutex> lock(self->mu_);
  self->entries_.emplace_back(code, value);
}

std::vector<std::pair<uint32_t, uint32_t>> ProgressLog::Entries() {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_;
}

size_t ProgressLog::Size() {
  std::lock_guard<std::mutex> lock(mu_);
  return entries_.size();
}

NetClientRequestInfo FtpInfo(int port, const char *user, const char *password,
                             uint32_t timeout_ms) {
  NetClientRequestInfo info;
  memset(&info, 0, sizeof info);
  info.type = NETCLIENT_TYPE_FTP;
  info.port = static_cast<uint32_t>(port);
  info.timeout_ms = timeout_ms;
  strcpy(info.host, "127.0.0.1");
  strncpy(info.user, user, sizeof info.user - 1);
  strncpy(info.password, password, sizeof info.password - 1);
  return info;
}

std::string Bytes(size_t n) {
  std::mt19937 gen(static_cast<unsigned>(n * 2654435761u));
  std::string out(n, '\0');
  for (char &c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

}  // namespace nctest
