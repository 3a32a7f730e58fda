// Asynchronous commands: one callback per command, on the worker thread, with the operation
// code and status that tell the truth; aborts and deletion report each operation once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsim_fixture.h"
#include "kavrel.h"
#include "platform/os.h"
#include "test_paths.h"

namespace {

struct Call {
  DeviceHandle device;
  uint32_t operation;
  uint32_t status;
  uintptr_t value;
  bool on_worker;
  std::vector<uint32_t> inputs;
};

// Records every callback. The worker is the library's own thread object; a scheduler or test
// thread is not.
class Recorder {
 public:
  static void Callback(DeviceHandle device, void *context, uint32_t operation, uint32_t status,
                       uintptr_t value) {
    auto *self = static_cast<Recorder *>(context);
    Call call{device, operation, status, value, OsThreadSelf() != nullptr, {}};
    if (operation == 103 && value) {
      const uint32_t *levels = reinterpret_cast<const uint32_t *>(value);
      call.inputs.assign(levels, levels + 4);
    }
    if (self->slow_ms) OsSleep(self->slow_ms);
    std::lock_guard<std::mutex> hold(self->mutex);
    self->calls.push_back(call);
  }
  size_t Count() {
    std::lock_guard<std::mutex> hold(mutex);
    return calls.size();
  }
  bool WaitFor(size_t n, int bound_ms = 20000) {
    return kvtest::WaitUntil([&] { return Count() >= n; }, bound_ms);
  }
  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> hold(mutex);
    return calls;
  }
  std::mutex mutex;
  std::vector<Call> calls;
  uint32_t slow_ms = 0;
};

class Async : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new kvtest::Devsim;
    ASSERT_TRUE(sim_->Start({{"KM2401", "io"}, {"KM4130", "slow"}, {"KM8111", "other"}}))
        << sim_->log_path();
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER), 0u); }
  void TearDown() override {
    for (DeviceHandle d : devices_) Kavrel_DeleteDevice(d);
    EXPECT_EQ(Kavrel_Release(&handle_), 0u);
    for (const char *name : {"io", "slow", "other"}) sim_->ClearFaults(name);
  }

  DeviceHandle Open(const std::string &name, const char *type, Recorder *recorder,
                    const char *password = nullptr, int port = 0, uint32_t timeout_ms = 10000) {
    const kvtest::DevsimDevice *dev = sim_->Device(name);
    DeviceHandle d = nullptr;
    EXPECT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
    devices_.push_back(d);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = password ? password : "pass";
    p.server_type = type;
    p.http_port = port ? port : dev->http_port;
    p.timeout_ms = timeout_ms;
    p.callback = recorder ? Recorder::Callback : nullptr;
    p.callback_context = recorder;
    EXPECT_EQ(Kavrel_SetDevicePropertyLite(d, &p), 0u);
    return d;
  }

  static kvtest::Devsim *sim_;
  KavrelHandle handle_ = nullptr;
  std::vector<DeviceHandle> devices_;
};

kvtest::Devsim *Async::sim_ = nullptr;

long long MsBetween(std::chrono::steady_clock::time_point from,
                    std::chrono::steady_clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

TEST_F(Async, EachCommandCallsBackOnceOnTheWorker) {
  Recorder rec;
  DeviceHandle d = Open("io", "KM2401", &rec);
  ASSERT_TRUE(sim_->SetDi("io", {0, 1, 0, 1}));
  ASSERT_TRUE(sim_->UartReceive("io", 1, "0123456789"));
  char uart_buffer[64];
  char http_buffer[1024];
  uint32_t http_size = sizeof(http_buffer);
  uint32_t unused[4];

  const struct {
    const char *name;
    std::function<uint32_t()> start;
    uint32_t operation;
    uint32_t status;
    uintptr_t value;  // checked when not ~0
  } cases[] = {
      {"di", [&] { return Kavrel_GetDIStatus(d, &unused[0], &unused[1], &unused[2], &unused[3], 1); }, 103, 0, ~uintptr_t(0)},
      {"do", [&] { return Kavrel_SetDOLevel(d, 300, 301, 1); }, 104, 0, 0},
      {"uart write", [&] { return Kavrel_UartWrite(d, 2, "abc", 1); }, 106, 0, 0},
      {"uart read", [&] { return Kavrel_UartRead(d, 1, uart_buffer, sizeof(uart_buffer), 0, 0, 1); }, 105, 0x80070071u, 10},
      {"uart read+write", [&] { return Kavrel_UartReadAFWrite(d, 2, "x", uart_buffer, sizeof(uart_buffer), 1, 0, 1); }, 112, 0x80070071u, 0},
      {"http", [&] { return Kavrel_HttpOperation(d, "/cgi-bin/any.cgi", 0, 1); }, 109, 0, 0},
      {"http read", [&] { return Kavrel_HttpOperationRead(d, "/cgi-bin/sysinfo.cgi", http_buffer, &http_size, 0, 1); }, 109, 0x80070071u, ~uintptr_t(0)},
  };
  for (const auto &c : cases) {
    size_t before = rec.Count();
    ASSERT_EQ(c.start(), 0u) << c.name;
    ASSERT_TRUE(rec.WaitFor(before + 1)) << c.name;
    OsSleep(100);  // a second callback would show here
    auto calls = rec.Calls();
    ASSERT_EQ(calls.size(), before + 1) << c.name;
    const Call &call = calls.back();
    EXPECT_EQ(call.device, d);
    EXPECT_TRUE(call.on_worker) << c.name;
    EXPECT_EQ(call.operation, c.operation) << c.name;
    EXPECT_EQ(call.status, c.status) << c.name;
    if (c.value != ~uintptr_t(0)) {
      EXPECT_EQ(call.value, c.value) << c.name;
    }
  }
  auto calls = rec.Calls();
  EXPECT_EQ(calls[0].inputs, (std::vector<uint32_t>{301, 300, 301, 300}));
  EXPECT_EQ(calls.back().value, sim_->SysinfoText("io").size());
  EXPECT_EQ(std::string(http_buffer), sim_->SysinfoText("io"));
}

TEST_F(Async, FailuresAreReportedOnceWithTheirStatus) {
  Recorder rec;
  DeviceHandle good = Open("io", "KM2401", &rec);
  DeviceHandle wrong = Open("io", "KM2401", &rec, "wrong");
  DeviceHandle refused = Open("io", "KM2401", &rec, nullptr, 1);
  DeviceHandle late = Open("slow", "KM4130", &rec, nullptr, 0, 500);
  ASSERT_TRUE(sim_->AddFault("io", R"({"path": "/gone.cgi", "status": 404})"));
  ASSERT_TRUE(sim_->AddFault("slow", R"({"path": "/late.cgi", "no_answer": true})"));
  const struct {
    const char *name;
    DeviceHandle device;
    const char *path;
    uint32_t status;
  } cases[] = {
      {"401", wrong, "/cgi-bin/any.cgi", 201},
      {"404", good, "/gone.cgi", 200},
      {"refused", refused, "/cgi-bin/any.cgi", 200},
      {"time-out", late, "/late.cgi", 200},
  };
  for (const auto &c : cases) {
    size_t before = rec.Count();
    ASSERT_EQ(Kavrel_HttpOperation(c.device, c.path, 0, 1), 0u) << c.name;
    ASSERT_TRUE(rec.WaitFor(before + 1)) << c.name;
    OsSleep(100);
    auto calls = rec.Calls();
    ASSERT_EQ(calls.size(), before + 1) << c.name;
    EXPECT_EQ(calls.back().operation, 109u) << c.name;
    EXPECT_EQ(calls.back().status, c.status) << c.name;
  }
  // Without a callback the same request runs synchronously and says what happened.
  DeviceHandle plain = Open("io", "KM2401", nullptr);
  EXPECT_EQ(Kavrel_HttpOperation(plain, "/gone.cgi", 0, 1), 0x80070083u);
}

TEST_F(Async, AbortReportsEverySlotOnce) {
  Recorder rec;
  DeviceHandle d = Open("slow", "KM4130", &rec);
  ASSERT_TRUE(sim_->AddFault("slow", R"({"path": "/slow.cgi", "delay_ms": 1500})"));
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Kavrel_HttpOperation(d, "/slow.cgi", 0, 1), 0u) << i;
  EXPECT_EQ(Kavrel_HttpOperation(d, "/slow.cgi", 0, 1), 0x80060303u);
  ASSERT_EQ(Kavrel_AbortNetworkOper(d), 0u);
  ASSERT_TRUE(rec.WaitFor(10));
  OsSleep(2500);  // past the time the slow replies would have arrived
  auto calls = rec.Calls();
  ASSERT_EQ(calls.size(), 10u);
  for (const Call &c : calls) {
    EXPECT_EQ(c.operation, 109u);
    EXPECT_EQ(c.status, 206u);
  }
  // Every slot is free again.
  sim_->ClearFaults("slow");
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Kavrel_HttpOperation(d, "/fast.cgi", 0, 1), 0u) << i;
  ASSERT_TRUE(rec.WaitFor(20));
}

TEST_F(Async, DeleteWaitsForTheCallbacksAndNothingFollows) {
  Recorder rec;
  rec.slow_ms = 50;  // the host takes its time in the callback
  DeviceHandle d = Open("slow", "KM4130", &rec);
  ASSERT_TRUE(sim_->AddFault("slow", R"({"path": "/slow.cgi", "delay_ms": 1500})"));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Kavrel_HttpOperation(d, "/slow.cgi", 0, 1), 0u);
  ASSERT_EQ(Kavrel_DeleteDevice(d), 0u);
  devices_.clear();
  size_t at_return = rec.Count();
  EXPECT_EQ(at_return, 3u);
  OsSleep(2000);
  EXPECT_EQ(rec.Count(), at_return) << "a callback after Kavrel_DeleteDevice returned";
  for (const Call &c : rec.Calls()) EXPECT_EQ(c.status, 206u);

  // The same record, created again, works.
  sim_->ClearFaults("slow");
  Recorder again;
  DeviceHandle d2 = Open("slow", "KM4130", &again);
  EXPECT_EQ(d2, d);
  ASSERT_EQ(Kavrel_SetDOLevel(d2, 300, 0, 1), 0u);
  ASSERT_TRUE(again.WaitFor(1));
  EXPECT_EQ(again.Calls()[0].operation, 104u);
  EXPECT_EQ(again.Calls()[0].status, 0u);
}

// A few hundred devices, one in ten silent, one command each: deleted one by one, then the
// context released with the rest. Both end within seconds (a wait per device of a tenth of a
// second would take longer), every accepted command of a deleted device is reported before
// its delete returns, and nothing is reported after a delete or the release.
TEST_F(Async, AFleetDeletedOneByOneAndReleasedWithTheRest) {
  constexpr int kDevices = 400;
  constexpr int kBoundMs = 10000;
  ASSERT_TRUE(sim_->AddFault("other", R"({"path": "/hang.cgi", "no_answer": true})"));
  KavrelHandle fleet = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&fleet, kDevices, 0, KAVREL_VERSION_NUMBER), 0u);
  std::vector<std::unique_ptr<Recorder>> recorders;
  std::vector<DeviceHandle> devices;
  for (int i = 0; i < kDevices; ++i) {
    bool silent = i % 10 == 9;
    recorders.push_back(std::make_unique<Recorder>());
    DeviceHandle d = nullptr;
    ASSERT_EQ(Kavrel_CreateDevice(fleet, &d), 0u);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = "pass";
    p.http_port = sim_->Device(silent ? "other" : "io")->http_port;
    p.timeout_ms = 60000;
    p.callback = Recorder::Callback;
    p.callback_context = recorders.back().get();
    ASSERT_EQ(Kavrel_SetDevicePropertyHttp(d, &p), 0u);
    ASSERT_EQ(Kavrel_HttpOperation(d, silent ? "/hang.cgi" : "/cgi-bin/any.cgi", 0, 1), 0u) << i;
    devices.push_back(d);
  }
  for (int i = 0; i < kDevices; ++i) {
    if (i % 10 != 9) {
      ASSERT_TRUE(recorders[i]->WaitFor(1)) << i;
    }
  }

  auto start = std::chrono::steady_clock::now();
  std::vector<size_t> at_delete(kDevices);
  for (int i = 0; i < kDevices; i += 2) {
    ASSERT_EQ(Kavrel_DeleteDevice(devices[i]), 0u);
    at_delete[i] = recorders[i]->Count();
    EXPECT_EQ(at_delete[i], 1u) << "device " << i << ": its command is reported once, before";
  }
  auto deleted = std::chrono::steady_clock::now();
  ASSERT_EQ(Kavrel_Release(&fleet), 0u);
  auto released = std::chrono::steady_clock::now();
  EXPECT_LT(MsBetween(start, deleted), kBoundMs) << "deleting " << kDevices / 2 << " devices";
  EXPECT_LT(MsBetween(deleted, released), kBoundMs) << "releasing " << kDevices / 2 << " devices";
  for (int i = 1; i < kDevices; i += 2) at_delete[i] = recorders[i]->Count();
  OsSleep(300);  // a late callback would show here
  for (int i = 0; i < kDevices; ++i) {
    EXPECT_EQ(recorders[i]->Count(), at_delete[i]) << "device " << i << ": a callback afterwards";
    if (i % 2 == 0) {
      EXPECT_EQ(recorders[i]->Calls()[0].status, i % 10 == 9 ? 206u : 0u) << i;
    }
  }
}

// A host that starts the next command from the callback of the last one, `budget` times.
struct Chain {
  std::function<uint32_t(DeviceHandle)> next;
  std::atomic<int> budget{0};
  std::atomic<int> callbacks{0};
  std::mutex mutex;
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // operation, status
  std::vector<uint32_t> started;                     // what each start from a callback returned

  static void Callback(DeviceHandle device, void *context, uint32_t operation, uint32_t status,
                       uintptr_t) {
    auto *self = static_cast<Chain *>(context);
    {
      std::lock_guard<std::mutex> hold(self->mutex);
      self->calls.emplace_back(operation, status);
    }
    if (self->budget.fetch_sub(1) > 0) {
      uint32_t rc = self->next(device);
      std::lock_guard<std::mutex> hold(self->mutex);
      self->started.push_back(rc);
    }
    self->callbacks++;  // last: a callback that has returned is counted
  }
  std::vector<uint32_t> Started() {
    std::lock_guard<std::mutex> hold(mutex);
    return started;
  }
  std::vector<std::pair<uint32_t, uint32_t>> Calls() {
    std::lock_guard<std::mutex> hold(mutex);
    return calls;
  }
};

// The slot is given back before the callback: a callback may start the next command at once,
// on the long-operation slot as on an ordinary one, even when every other slot is taken.
TEST_F(Async, ACallbackStartsTheNextCommand) {
  {
    SCOPED_TRACE("the configuration upload from the callback of its fetch");
    Chain chain;
    chain.next = [](DeviceHandle d) { return Kavrel_UpdateRemoteConfig(d, 1); };
    DeviceHandle d = Open("slow", "KM4130", nullptr);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = "pass";
    p.http_port = sim_->Device("slow")->http_port;
    p.ftp_port = static_cast<uint32_t>(sim_->Device("slow")->ftp_port);
    p.timeout_ms = 10000;
    p.callback = Chain::Callback;
    p.callback_context = &chain;
    ASSERT_EQ(Kavrel_SetDeviceProperty(d, &p, 0), 0u);
    chain.budget = 1;
    ASSERT_EQ(Kavrel_UpdateLocalConfig(d, 1), 0u);
    ASSERT_TRUE(kvtest::WaitUntil([&] { return chain.callbacks.load() == 2; }, 20000));
    EXPECT_EQ(chain.Started(), std::vector<uint32_t>{0u});
    EXPECT_EQ(chain.Calls(), (std::vector<std::pair<uint32_t, uint32_t>>{{101, 0}, {102, 0}}));
  }
  {
    SCOPED_TRACE("ten commands in flight, each callback starting one more");
    Chain chain;
    chain.next = [](DeviceHandle d) { return Kavrel_HttpOperation(d, "/cgi-bin/any.cgi", 0, 1); };
    DeviceHandle d = Open("io", "KM2401", nullptr);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = "pass";
    p.http_port = sim_->Device("io")->http_port;
    p.timeout_ms = 10000;
    p.callback = Chain::Callback;
    p.callback_context = &chain;
    ASSERT_EQ(Kavrel_SetDevicePropertyHttp(d, &p), 0u);
    ASSERT_TRUE(sim_->AddFault("io", R"({"path": "/slow.cgi", "delay_ms": 300})"));
    chain.budget = 10;
    for (int i = 0; i < 10; ++i) ASSERT_EQ(Kavrel_HttpOperation(d, "/slow.cgi", 0, 1), 0u) << i;
    ASSERT_TRUE(kvtest::WaitUntil([&] { return chain.callbacks.load() == 20; }, 20000));
    EXPECT_EQ(chain.Started(), std::vector<uint32_t>(10, 0u));
    for (const auto &call : chain.Calls()) EXPECT_EQ(call, std::make_pair(109u, 0u));
  }
}

// Callbacks that keep starting commands while the device is deleted: the delete returns
// promptly, every command a callback started is either refused or reported before the delete
// returns, and nothing follows it.
TEST_F(Async, DeleteRacingWithCommandsStartedFromCallbacks) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Chain chain;
    chain.next = [](DeviceHandle d) { return Kavrel_HttpOperation(d, "/cgi-bin/any.cgi", 0, 1); };
    chain.budget = 1 << 30;
    DeviceHandle d = Open("io", "KM2401", nullptr);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = "pass";
    p.http_port = sim_->Device("io")->http_port;
    p.timeout_ms = 10000;
    p.callback = Chain::Callback;
    p.callback_context = &chain;
    ASSERT_EQ(Kavrel_SetDevicePropertyHttp(d, &p), 0u);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(chain.next(d), 0u);
    ASSERT_TRUE(kvtest::WaitUntil([&] { return chain.callbacks.load() > 30 * (round + 1); }, 20000));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Kavrel_DeleteDevice(d), 0u);
    EXPECT_LT(MsBetween(start, std::chrono::steady_clock::now()), 10000);
    devices_.pop_back();
    int at_return = chain.callbacks.load();
    OsSleep(300);
    EXPECT_EQ(chain.callbacks.load(), at_return) << "a callback after Kavrel_DeleteDevice returned";
    // Ten commands first, then one per callback that started one: every accepted command
    // was reported, and the starts that came too late were refused as for a deleted device.
    std::vector<uint32_t> started = chain.Started();
    int accepted = 10;
    for (uint32_t rc : started) {
      if (rc == 0) {
        ++accepted;
      } else {
        EXPECT_EQ(rc, KAVREL_E_INVALIDARG);
      }
    }
    EXPECT_EQ(at_return, accepted);
  }
}

TEST_F(Async, ReleaseWithOperationsInFlightCallsNobodyAfterwards) {
  Recorder rec;
  DeviceHandle d = Open("slow", "KM4130", &rec);
  ASSERT_TRUE(sim_->AddFault("slow", R"({"path": "/slow.cgi", "delay_ms": 1000})"));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Kavrel_HttpOperation(d, "/slow.cgi", 0, 1), 0u);
  devices_.clear();
  ASSERT_EQ(Kavrel_Release(&handle_), 0u);
  size_t at_return = rec.Count();
  OsSleep(1500);
  EXPECT_EQ(rec.Count(), at_return);
  ASSERT_EQ(Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER), 0u);  // for TearDown
}

}  // namespace
