// The fixture of the camera, parameter and motion tests: one simulator for a test suite,
// devices described through the public calls, the requests each call sent read back from the
// simulator's log, and the callbacks of asynchronous calls recorded.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/device.h"
#include "devsim_fixture.h"
#include "kavrel.h"
#include "platform/os.h"
#include "test_paths.h"

namespace kvtest {

struct Callback {
  uint32_t operation;
  uint32_t status;
  uintptr_t value;
  bool on_worker;
  std::vector<MotionWindow> windows;  // operation 113: the windows as they were in the call
};

// Records every callback; for 113 it copies the caller's windows, valid during the call.
class CallbackLog {
 public:
  static void Record(DeviceHandle, void *context, uint32_t operation, uint32_t status,
                     uintptr_t value) {
    auto *self = static_cast<CallbackLog *>(context);
    Callback c{operation, status, value, OsThreadSelf() != nullptr, {}};
    if (operation == KAVREL_EVENT_MOTION_GET && self->windows) {
      c.windows.assign(self->windows, self->windows + KAVREL_MOTION_WINDOWS);
    }
    std::lock_guard<std::mutex> hold(self->mutex_);
    self->calls_.push_back(c);
  }
  std::vector<Callback> Calls() {
    std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
  }
  // Waits for `n` callbacks, then a little longer so that a second callback would show.
  std::vector<Callback> WaitFor(size_t n) {
    WaitUntil([&] { return Calls().size() >= n; }, 20000);
    OsSleep(150);
    return Calls();
  }
  const MotionWindow *windows = nullptr;

 private:
  std::mutex mutex_;
  std::vector<Callback> calls_;
};

class ControlTest : public ::testing::Test {
 protected:
  // The simulator's devices, named by their model in lower case unless said.
  static std::vector<DevsimDeviceSpec> Devices() {
    return {{"KM2401", "km2401"}, {"QB3101", "qb3101"}, {"RZ3120", "rz3120"},
            {"RQ48x3", "rq48x3"}, {"KM6211", "km6211"}, {"RZ7161", "rz7161"},
            {"KM4130", "km4130"}, {"KM3111", "km3111"}, {"KM7150", "km7150"},
            // Devices whose password a test changes, one each.
            {"KM2101", "pw_old"}, {"KM3111", "pw_s3"}, {"KM7150", "pw_new"},
            {"KM2101", "pw_only"}, {"KM3111", "pw_async"}};
  }
  static void SetUpTestSuite() {
    sim_ = new Devsim;
    ASSERT_TRUE(sim_->Start(Devices())) << sim_->log_path();
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER), 0u); }
  void TearDown() override {
    for (DeviceHandle d : devices_) EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
    EXPECT_EQ(Kavrel_Release(&handle_), 0u);
  }

  // A device of the simulator described by its server type (level 1).
  DeviceHandle Open(const std::string &name, const char *type, CallbackLog *log = nullptr,
                    const char *password = "pass") {
    const DevsimDevice *dev = sim_->Device(name);
    EXPECT_NE(dev, nullptr) << name;
    DeviceHandle d = nullptr;
    EXPECT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
    if (!dev || !d) return d;
    devices_.push_back(d);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = password;
    p.server_type = type;
    p.http_port = dev->http_port;
    p.timeout_ms = 10000;
    p.callback = log ? CallbackLog::Record : nullptr;
    p.callback_context = log;
    EXPECT_EQ(Kavrel_SetDevicePropertyLite(d, &p), 0u);
    return d;
  }

  // A level-0 device (with its configuration), as describing it with its fetched
  // configuration leaves it: the model's record bound, the level set through the internal
  // library, and the device's configuration copied in as the fetch stores it (LF line ends).
  DeviceHandle OpenWithConfig(const std::string &name, const char *type,
                              CallbackLog *log = nullptr) {
    DeviceHandle d = Open(name, type, log);
    d->property_level = 0;
    EXPECT_EQ(Device_EnsureDirectory(d), 0u);
    CopyConfig(name, d);
    return d;
  }
  static void CopyConfig(const std::string &name, DeviceHandle d) {
    std::string text = ReadFile(sim_->Device(name)->config_path);
    std::string lf;
    for (char c : text) {
      if (c != '\r') lf += c;
    }
    EXPECT_TRUE(WriteFile(d->config_path, lf));
  }

  // The index of the next log entry.
  static int Mark() {
    auto all = sim_->Log();
    return all.empty() ? 0 : all.back().seq + 1;
  }
  // The requests since `mark` to one device (every device when empty), each as
  // "GET path?query" or "POST path body".
  static std::vector<std::string> Sent(int mark, const std::string &name = "") {
    std::vector<std::string> lines;
    for (const DevsimLogEntry &e : sim_->Log(mark, name)) {
      if (e.proto != "http") continue;
      std::string line = e.method + " " + e.path;
      if (!e.query.empty()) line += "?" + e.query;
      if (!e.body.empty()) line += " " + e.body;
      lines.push_back(line);
    }
    return lines;
  }
  static std::string OnlySent(int mark, const std::string &name) {
    auto lines = Sent(mark, name);
    if (lines.size() != 1) return "<" + std::to_string(lines.size()) + " requests>";
    return lines[0];
  }
  // The simulator's control answer for one device, e.g. "motion" or "ptz".
  static Json State(const std::string &name, const std::string &what) {
    Json j;
    HttpReply r = sim_->Control("GET", "/devices/" + name + "/" + what);
    Json::Parse(r.body, &j);
    return j;
  }
  static bool SetMotion(const std::string &name, const std::string &json) {
    return sim_->Control("POST", "/devices/" + name + "/motion", json).status == 200;
  }

  // One call, its result, and the one request it must send (NULL: nothing may be sent).
  struct Case {
    const char *device;
    std::function<uint32_t()> call;
    uint32_t rc;
    const char *sent;
  };
  static void RunCases(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
      int mark = Mark();
      EXPECT_EQ(c.call(), c.rc) << c.device << " " << (c.sent ? c.sent : "(nothing)");
      if (c.sent) {
        EXPECT_EQ(OnlySent(mark, c.device), c.sent);
      } else {
        EXPECT_TRUE(Sent(mark).empty()) << c.device << " sent something";
      }
    }
  }

  inline static Devsim *sim_ = nullptr;
  KavrelHandle handle_ = nullptr;
  std::vector<DeviceHandle> devices_;
};

}  // namespace kvtest
