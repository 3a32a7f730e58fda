// The simulator fixture of the configuration transfer tests: one simulator with a device of
// each way of serving the configuration, the host's callbacks, and the request log read as
// the list of attempts.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/device.h"
#include "devsim_fixture.h"
#include "kavrel.h"
#include "test_logger.h"
#include "test_paths.h"
#include "test_socket.h"

namespace transfer_test {

constexpr int kBoundMs = 20000;

// The host's callbacks, in order.
struct Callbacks {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // operation, status

  static void KAVREL_CALL Record(DeviceHandle, void *context, uint32_t operation,
                                 uint32_t status, uintptr_t) {
    Callbacks *self = static_cast<Callbacks *>(context);
    std::lock_guard<std::mutex> hold(self->mutex);
    self->calls.emplace_back(operation, status);
    self->cv.notify_all();
  }
  // Waits for the next call; {0, 0} when none came within the bound.
  std::pair<uint32_t, uint32_t> Next(size_t index) {
    std::unique_lock<std::mutex> hold(mutex);
    if (!cv.wait_for(hold, std::chrono::milliseconds(kBoundMs),
                     [&] { return calls.size() > index; })) {
      return {0, 0};
    }
    return calls[index];
  }
  size_t Count() {
    std::lock_guard<std::mutex> hold(mutex);
    return calls.size();
  }
};

inline std::string WithoutCr(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

inline bool AllLineEndsCrLf(const std::string &text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return text.find('\n') != std::string::npos;
}

// True when something accepts connections on 127.0.0.1:port.
inline bool PortOpen(int port) { return kvtest::LoopbackAccepts(static_cast<uint16_t>(port)); }

// A loopback port that nothing listens on (bound, then closed).
inline int ClosedPort() { return kvtest::FreeLoopbackPort(); }

inline size_t FilesIn(const std::string &directory) {
  std::error_code error;
  size_t count = 0;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

inline const char kCgi[] = "/cgi-bin/admin/configfile.cgi";
inline const char kParafile[] = "/setup/parafile.html";
inline const char kNetwork[] = "/setup/network.html";
inline const char kMailFtp[] = "/setup/mailftp.html";

class ConfigTransfer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    data_dir_ = new std::string(kvtest::MakeTempDir("config-transfer-data"));
    kvtest::SetEnv("KAVREL_DATA_DIR", *data_dir_ + "/");
    sim_ = new kvtest::Devsim;
    ASSERT_TRUE(sim_->Start({{"KM4130", "cgi"},
                             {"KM3111", "area"},
                             {"KM2101", "net"},
                             {"QB3101", "mail"},
                             {"KM5120", "learn"},
                             {"RZ7161", "seven"}}))
        << sim_->log_path();
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
    kvtest::UnsetEnv("KAVREL_DATA_DIR");
    delete data_dir_;
  }

  void SetUp() override {
    Kavrel_LogInit(logger_.table());
    ASSERT_EQ(Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER), 0u);
    for (const kvtest::DevsimDevice &d : sim_->devices()) sim_->ClearFaults(d.name);
  }
  void TearDown() override {
    for (DeviceHandle d : devices_) EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
    EXPECT_EQ(Kavrel_Release(&handle_), 0u);
    Kavrel_LogInit(nullptr);
    for (const kvtest::DevsimDevice &d : sim_->devices()) sim_->ClearFaults(d.name);
  }

  DeviceHandle Create() {
    DeviceHandle d = nullptr;
    EXPECT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
    if (d) devices_.push_back(d);
    return d;
  }

  // The property block of a simulated device; `ftp_port` as the host would give it.
  KavrelDeviceProperty Property(const std::string &name, uint32_t ftp_port) {
    const kvtest::DevsimDevice *dev = sim_->Device(name);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = dev->user.c_str();
    p.password = dev->password.c_str();
    p.http_port = dev->http_port;
    p.ftp_port = ftp_port;
    p.timeout_ms = 10000;
    p.callback = &Callbacks::Record;
    p.callback_context = &callbacks_;
    return p;
  }

  // A device described with Kavrel_SetDeviceProperty, synchronously; its fetch must succeed.
  DeviceHandle Described(const std::string &name, uint32_t ftp_port) {
    DeviceHandle d = Create();
    KavrelDeviceProperty p = Property(name, ftp_port);
    EXPECT_EQ(Kavrel_SetDeviceProperty(d, &p, 0), 0u) << name;
    return d;
  }

  uint32_t DevicePort(const std::string &name) {
    return static_cast<uint32_t>(sim_->Device(name)->ftp_port);
  }
  std::string DeviceConfig(const std::string &name) {
    return kvtest::ReadFile(sim_->Device(name)->config_path);
  }
  static std::string Local(DeviceHandle d) { return kvtest::ReadFile(d->config_path); }

  int Mark() {
    auto all = sim_->Log();
    return all.empty() ? 0 : all.back().seq + 1;
  }
  // The configuration requests since `mark`: pages with their status, FTP logins and
  // transfers with their argument.
  std::vector<std::string> Attempts(const std::string &name, int mark) {
    std::vector<std::string> out;
    for (const kvtest::DevsimLogEntry &e : sim_->Log(mark, name)) {
      if (e.proto == "http") {
        out.push_back(e.path + " " + std::to_string(e.status));
      } else if (e.proto == "ftp" && (e.method == "USER" || e.method == "RETR" ||
                                      e.method == "STOR")) {
        out.push_back(e.method + " " + e.path);
      }
    }
    return out;
  }

  static inline kvtest::Devsim *sim_ = nullptr;
  static inline std::string *data_dir_ = nullptr;
  kvtest::TestLogger logger_;
  KavrelHandle handle_ = nullptr;
  std::vector<DeviceHandle> devices_;
  Callbacks callbacks_;
};

}  // namespace transfer_test
