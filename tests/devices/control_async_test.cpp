// The asynchronous camera, parameter and motion commands: one callback each, on the worker,
// with the operation's own code; failures with their status; aborts and deletion with 206.
#include <string.h>

#include <algorithm>

#include <functional>
#include <string>
#include <vector>

#include "control_fixture.h"

namespace {

using kvtest::CallbackLog;
using kvtest::ControlTest;

class ControlAsync : public ControlTest {
 protected:
  void TearDown() override {
    ControlTest::TearDown();
    for (const auto &d : Devices()) sim_->ClearFaults(d.name);
  }
};

SetParamRequest HostAndPassword(const char *host, const char *password) {
  SetParamRequest r{};
  r.set_host_name = 1;
  snprintf(r.host_name, sizeof(r.host_name), "%s", host);
  if (password) {
    r.set_password = 1;
    snprintf(r.password, sizeof(r.password), "%s", password);
  }
  return r;
}

struct AsyncCase {
  const char *what;
  std::function<uint32_t()> start;
  uint32_t operation;
  uint32_t status;
  uintptr_t value;
};

void ExpectOneCallback(CallbackLog *log, const AsyncCase &c) {
  size_t before = log->Calls().size();
  ASSERT_EQ(c.start(), 0u) << c.what;
  auto calls = log->WaitFor(before + 1);
  ASSERT_EQ(calls.size(), before + 1) << c.what;
  EXPECT_TRUE(calls.back().on_worker) << c.what;
  EXPECT_EQ(calls.back().operation, c.operation) << c.what;
  EXPECT_EQ(calls.back().status, c.status) << c.what;
  EXPECT_EQ(calls.back().value, c.value) << c.what;
}

TEST_F(ControlAsync, OnceEachOnTheWorker) {
  CallbackLog log;
  MotionWindow windows[3];
  uint32_t count = 0;
  log.windows = windows;
  DeviceHandle km2401 = OpenWithConfig("km2401", "KM2401", &log);
  DeviceHandle rz3120 = Open("rz3120", "RZ3120", &log);
  DeviceHandle rq = Open("rq48x3", "RQ48x3", &log);
  DeviceHandle pw = Open("pw_async", "KM3111", &log);
  SetParamRequest both = HostAndPassword("async1", "s3cond");
  MotionWindow set[3] = {};
  snprintf(set[0].name, sizeof(set[0].name), "Gate");
  set[0].w = set[0].h = 10;
  set[0].percent = 41;
  set[0].sensitivity = 42;
  set[0].enabled = 1;
  const std::string setmd =
      "GET /setup/setmd.cgi?i1=0&n1=Gate&x1=0&y1=0&w1=10&h1=10&p1=41&t1=42&"
      "i2=1&n2=&x2=0&y2=0&w2=0&h2=0&p2=0&t2=0&i3=2&n3=&x3=0&y3=0&w3=0&h3=0&p3=0&t3=0";
  // Each case with what the device received, as the synchronous tests compare it; the
  // callback comes after the last request (the second one of the parameter setting).
  struct SentCase {
    AsyncCase c;
    const char *device;
    std::vector<std::string> sent;
  };
  const SentCase cases[] = {
      {{"ptz", [&] { return Kavrel_SendPTZCommand(km2401, 2, 201, nullptr, 1); }, 107, 0, 0},
       "km2401", {"GET /cgi-bin/camctrl.cgi?cam=2&move=up"}},
      {{"ptz ex numbered preset", [&] { return Kavrel_SendPTZCommandEx(rq, 1, 211, "a", 1, 1); },
        107, 0, 0},
       "rq48x3", {"POST /cgi-bin/admin/preset.cgi presetnumber=1&presetname=a"}},
      {{"move", [&] { return Kavrel_MoveCamera(rz3120, 1, 5, 6, 1); }, 108, 0, 0},
       "rz3120", {"GET /setup/camctrl.cgi?cam=0&x=5&y=6"}},
      {{"set param, two requests", [&] { return Kavrel_SetParam(pw, &both, 1); }, 110, 0, 0},
       "pw_async", {"POST /setup/system.cgi host=async1", "POST /setup/security.cgi rootpass=s3cond"}},
      {{"motion set, windows", [&] { return Kavrel_SetMotionDetectionInfo(rz3120, set, 0, 1); },
        114, 0, 0},
       "rz3120", {setmd}},
      {{"motion get, windows", [&] { return Kavrel_GetMotionDetectionInfo(rz3120, windows, &count, 0, 1); },
        113, 0, 3},
       "rz3120", {"GET /setup/getmd.cgi"}},
      {{"motion set, form", [&] { return Kavrel_SetMotionDetectionInfo(km2401, set, 1, 1); },
        114, 0, 0},
       "km2401", {"POST /cgi-bin/motion.cgi per=41&sen=42"}},
      {{"motion get, form", [&] { return Kavrel_GetMotionDetectionInfo(km2401, windows, &count, 1, 1); },
        113, 0, 1},
       "km2401", {"GET /setup/motion.html"}},
  };
  for (const SentCase &s : cases) {
    int mark = Mark();
    ExpectOneCallback(&log, s.c);
    EXPECT_EQ(Sent(mark, s.device), s.sent) << s.c.what;
  }
  auto calls = log.Calls();
  // The windows were there during the callback: the set window came back (window kind),
  // then the form page's area with the set values, copied into the configuration.
  ASSERT_EQ(calls[5].windows.size(), 3u);
  EXPECT_STREQ(calls[5].windows[0].name, "Gate");
  EXPECT_EQ(calls[5].windows[0].enabled, 1u);
  EXPECT_EQ(calls[7].windows[0].percent, 41u);
  EXPECT_EQ(calls[7].windows[0].form, 1u);
  EXPECT_EQ(count, 1u);
  EXPECT_NE(kvtest::ReadFile(km2401->config_path).find(kvtest::TextForm("over screen>\n41\n")), std::string::npos);
  DeviceHandle relogged = Open("pw_async", "KM3111", nullptr, "s3cond");
  EXPECT_EQ(Kavrel_HttpOperation(relogged, "/cgi-bin/sysinfo.cgi", 0, 0), 0u);
}

TEST_F(ControlAsync, FailuresReportTheirStatus) {
  CallbackLog log;
  MotionWindow windows[3];
  uint32_t count = 0;
  DeviceHandle km3111 = Open("km3111", "KM3111", &log);
  DeviceHandle km2401 = Open("km2401", "KM2401", &log);
  DeviceHandle rz3120 = Open("rz3120", "RZ3120", &log);
  DeviceHandle wrong = Open("km4130", "KM4130", &log, "wrong");
  SetParamRequest both = HostAndPassword("fails2", "never");
  SetParamRequest host = HostAndPassword("x", nullptr);
  MotionWindow set[3] = {};
  ASSERT_TRUE(sim_->AddFault("km3111", R"({"path": "/setup/security.cgi", "status": 500})"));
  ASSERT_TRUE(sim_->AddFault("km2401", R"({"path": "/setup/motion.html", "truncate": 20})"));
  ASSERT_TRUE(sim_->AddFault("rz3120", R"({"path": "/setup/getmd.cgi", "status": 500})"));
  ASSERT_TRUE(sim_->AddFault("rz3120", R"({"path": "/setup/setmd.cgi", "status": 500})"));
  const AsyncCase cases[] = {
      // The first request applies, the second fails: one callback, after the second.
      {"set param, second fails", [&] { return Kavrel_SetParam(km3111, &both, 1); }, 110, 200, 0},
      {"set param, credentials", [&] { return Kavrel_SetParam(wrong, &host, 1); }, 110, 201, 0},
      {"form page without values", [&] { return Kavrel_GetMotionDetectionInfo(km2401, windows, &count, 0, 1); },
       113, 0x80060316u, 0},
      {"getmd fails", [&] { return Kavrel_GetMotionDetectionInfo(rz3120, windows, &count, 0, 1); },
       113, 200, 0},
      {"setmd fails", [&] { return Kavrel_SetMotionDetectionInfo(rz3120, set, 0, 1); }, 114, 200, 0},
      {"motion credentials", [&] { return Kavrel_GetMotionDetectionInfo(wrong, windows, &count, 0, 1); },
       113, 201, 0},
      {"ptz credentials", [&] { return Kavrel_MoveCamera(wrong, 1, 0, 0, 1); }, 0x80060305u, 0, 0},
  };
  for (const AsyncCase &c : cases) {
    if (c.operation == 0x80060305u) {
      EXPECT_EQ(c.start(), 0x80060305u) << "refused at once, no callback";
      continue;
    }
    ExpectOneCallback(&log, c);
  }
  EXPECT_NE(sim_->SysinfoText("km3111").find("hostname=fails2\r\n"), std::string::npos);
}

// An abort or a deletion ends each operation once, with 206 and the operation's own code.
TEST_F(ControlAsync, AbortAndDeleteReportTheKindsCode) {
  CallbackLog log;
  MotionWindow windows[3];
  uint32_t count = 0;
  MotionWindow set[3] = {};
  DeviceHandle rz3120 = Open("rz3120", "RZ3120", &log);
  DeviceHandle km2401 = Open("km2401", "KM2401", &log);
  DeviceHandle km3111 = Open("km3111", "KM3111", &log);
  SetParamRequest both = HostAndPassword("aborted", "never");
  for (const char *fault :
       {R"({"path": "/setup/getmd.cgi", "delay_ms": 3000})",
        R"({"path": "/setup/setmd.cgi", "delay_ms": 3000})",
        R"({"path": "/setup/camctrl.cgi", "delay_ms": 3000})"}) {
    ASSERT_TRUE(sim_->AddFault("rz3120", fault));
  }
  ASSERT_TRUE(sim_->AddFault("km2401", R"({"path": "/cgi-bin/camctrl.cgi", "delay_ms": 3000})"));
  // The second request is the slow one: the abort finds the operation between or in it.
  ASSERT_TRUE(sim_->AddFault("km3111", R"({"path": "/setup/security.cgi", "delay_ms": 3000})"));
  int mark = Mark();
  ASSERT_EQ(Kavrel_GetMotionDetectionInfo(rz3120, windows, &count, 0, 1), 0u);
  ASSERT_EQ(Kavrel_SetMotionDetectionInfo(rz3120, set, 0, 1), 0u);
  ASSERT_EQ(Kavrel_SendPTZCommand(rz3120, 1, 202, nullptr, 1), 0u);
  ASSERT_EQ(Kavrel_SetParam(km3111, &both, 1), 0u);
  // A delayed request is logged when it is answered: wait for the first one, which is not.
  ASSERT_TRUE(kvtest::WaitUntil([&] { return Sent(mark, "km3111").size() == 1; }, 10000));
  OsSleep(200);
  ASSERT_EQ(Kavrel_AbortNetworkOper(rz3120), 0u);
  ASSERT_EQ(Kavrel_AbortNetworkOper(km3111), 0u);
  auto calls = log.WaitFor(4);
  ASSERT_EQ(calls.size(), 4u);
  std::vector<uint32_t> codes;
  for (const auto &c : calls) {
    EXPECT_EQ(c.status, 206u) << c.operation;
    codes.push_back(c.operation);
  }
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<uint32_t>{107, 110, 113, 114}));

  // Deleting a device with a motion read in flight: one 206 with 113, before it returns.
  ASSERT_EQ(Kavrel_GetMotionDetectionInfo(rz3120, windows, &count, 0, 1), 0u);
  ASSERT_EQ(Kavrel_SendPTZCommand(km2401, 1, 201, nullptr, 1), 0u);
  for (DeviceHandle d : {rz3120, km2401}) {
    ASSERT_EQ(Kavrel_DeleteDevice(d), 0u);
    devices_.erase(std::find(devices_.begin(), devices_.end(), d));
  }
  calls = log.Calls();
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[4].status, 206u);
  EXPECT_EQ(calls[5].status, 206u);
  EXPECT_EQ(calls[4].operation + calls[5].operation, 113u + 107u);
}

}  // namespace
