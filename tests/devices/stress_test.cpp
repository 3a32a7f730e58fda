// Several host threads create, describe, command (synchronously and asynchronously), abort
// and delete devices against a simulator that delays, drops and never answers some
// requests. Every asynchronous command that was accepted is reported exactly once, before
// Kavrel_DeleteDevice returns, and never afterwards; the callbacks of one context never run
// two at a time; and a release with commands in flight reports nothing after it returns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "devsim_fixture.h"
#include "kavrel.h"
#include "platform/os.h"

namespace {

// Shared by every device of a context: catches two callbacks of the context at once.
struct ContextWatch {
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> off_worker{0};
};

struct Tally {
  ContextWatch *watch = nullptr;
  std::atomic<int> callbacks{0};
};

void Count(DeviceHandle, void *context, uint32_t, uint32_t, uintptr_t) {
  auto *tally = static_cast<Tally *>(context);
  ContextWatch *watch = tally->watch;
  if (watch->inside.fetch_add(1) != 0) watch->overlaps++;
  if (OsThreadSelf() == nullptr) watch->off_worker++;
  std::this_thread::yield();  // widen the window in which a second callback would overlap
  tally->callbacks++;
  watch->inside--;
}

const char *const kPaths[] = {"/fast.cgi", "/slow.cgi", "/drop.cgi", "/hang.cgi"};

KavrelDeviceProperty Property(int port, Tally *tally) {
  KavrelDeviceProperty p{};
  p.address = "127.0.0.1";
  p.user = "root";
  p.password = "pass";
  p.server_type = "KM2401";
  p.http_port = port;
  p.timeout_ms = 400;
  p.callback = Count;
  p.callback_context = tally;
  return p;
}

// One device of a host thread: its tally and the read buffers, which an asynchronous read
// fills until its callback, so they live as long as the device.
struct HostDevice {
  DeviceHandle handle = nullptr;
  Tally tally;
  char buffers[12][64];
  int accepted = 0;
};

// Sends a dozen random commands, aborting now and then. Counts accepted asynchronous ones.
void Command(HostDevice *d, std::mt19937 &rng, bool async_only = false) {
  for (int i = 0; i < 12; ++i) {
    const char *path = kPaths[rng() % 4];
    bool async = async_only || rng() % 3 != 0;
    uint32_t size = sizeof(d->buffers[i]);
    uint32_t rc = (rng() % 2)
                      ? Kavrel_HttpOperation(d->handle, path, 0, async)
                      : Kavrel_HttpOperationRead(d->handle, path, d->buffers[i], &size, 0, async);
    if (async && rc == 0) d->accepted++;
    if (rng() % 8 == 0) Kavrel_AbortNetworkOper(d->handle);
  }
}

class Stress : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start({{"KM2401", "dev"}})) << sim_.log_path();
    ASSERT_TRUE(sim_.AddFault("dev", R"({"path": "/slow.cgi", "delay_ms": 150})"));
    ASSERT_TRUE(sim_.AddFault("dev", R"({"path": "/drop.cgi", "close_after": 3})"));
    ASSERT_TRUE(sim_.AddFault("dev", R"({"path": "/hang.cgi", "no_answer": true})"));
    port_ = sim_.Device("dev")->http_port;
  }
  kvtest::Devsim sim_;
  int port_ = 0;
};

TEST_F(Stress, HostThreadsCommandAbortAndDelete) {
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&handle, 24, 0, KAVREL_VERSION_NUMBER), 0u);
  ContextWatch watch;
  std::atomic<int> started{0}, reported{0}, late{0}, failures{0}, iterations{0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);

  auto host = [&](unsigned seed) {
    std::mt19937 rng(seed);
    while (std::chrono::steady_clock::now() < deadline) {
      // A few devices at once, commanded in turns, deleted in a random order.
      std::vector<std::unique_ptr<HostDevice>> devices;
      for (int n = 1 + static_cast<int>(rng() % 3); n > 0; --n) {
        auto d = std::make_unique<HostDevice>();
        d->tally.watch = &watch;
        if (Kavrel_CreateDevice(handle, &d->handle) != 0) break;
        KavrelDeviceProperty p = Property(port_, &d->tally);
        if (Kavrel_SetDevicePropertyLite(d->handle, &p) != 0) failures++;
        devices.push_back(std::move(d));
      }
      if (devices.empty()) {
        OsSleep(5);
        continue;
      }
      for (auto &d : devices) Command(d.get(), rng);
      if (rng() % 2) OsSleep(rng() % 200);
      std::shuffle(devices.begin(), devices.end(), rng);
      for (auto &d : devices) {
        if (Kavrel_DeleteDevice(d->handle) != 0) failures++;
        int at_delete = d->tally.callbacks.load();
        started += d->accepted;
        reported += at_delete;
        if (at_delete != d->accepted) {
          ADD_FAILURE() << "accepted " << d->accepted << " asynchronous commands, " << at_delete
                        << " callbacks by the time the device was deleted";
        }
      }
      OsSleep(20);
      for (auto &d : devices) late += d->tally.callbacks.load() - d->accepted;
      iterations++;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < 6; ++i) threads.emplace_back(host, 1234 + i);
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(Kavrel_Release(&handle), 0u);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(late.load(), 0);
  EXPECT_EQ(started.load(), reported.load());
  EXPECT_EQ(watch.overlaps.load(), 0) << "two callbacks of one context ran at once";
  EXPECT_EQ(watch.off_worker.load(), 0);
  EXPECT_GT(iterations.load(), 4);
  printf("stress: %d rounds, %d asynchronous commands, each reported once\n", iterations.load(),
         started.load());
}

// Devices with commands in flight (and completions arriving) when the context is released:
// nothing is reported once Kavrel_Release has returned, and none twice before.
TEST_F(Stress, ReleaseWithCommandsInFlight) {
  for (unsigned round = 0; round < 5; ++round) {
    KavrelHandle handle = nullptr;
    ASSERT_EQ(Kavrel_InitialEx(&handle, 8, 0, KAVREL_VERSION_NUMBER), 0u);
    ContextWatch watch;
    std::vector<std::unique_ptr<HostDevice>> devices;
    std::mt19937 rng(round);
    for (int i = 0; i < 8; ++i) {
      auto d = std::make_unique<HostDevice>();
      d->tally.watch = &watch;
      ASSERT_EQ(Kavrel_CreateDevice(handle, &d->handle), 0u);
      KavrelDeviceProperty p = Property(port_, &d->tally);
      ASSERT_EQ(Kavrel_SetDevicePropertyLite(d->handle, &p), 0u);
      devices.push_back(std::move(d));
    }
    std::vector<std::thread> hosts;
    for (int t = 0; t < 4; ++t) {
      hosts.emplace_back([&, t] {
        std::mt19937 r(round * 10 + t);
        Command(devices[t * 2].get(), r, true);
        Command(devices[t * 2 + 1].get(), r, true);
      });
    }
    for (std::thread &t : hosts) t.join();
    OsSleep(rng() % 60);
    EXPECT_EQ(Kavrel_Release(&handle), 0u);
    std::vector<int> at_release;
    for (auto &d : devices) at_release.push_back(d->tally.callbacks.load());
    OsSleep(200);  // a callback still to come would arrive in this time
    for (size_t i = 0; i < devices.size(); ++i) {
      EXPECT_EQ(devices[i]->tally.callbacks.load(), at_release[i]) << "callback after release";
      EXPECT_LE(at_release[i], devices[i]->accepted) << "more callbacks than commands";
    }
    EXPECT_EQ(watch.overlaps.load(), 0);
    EXPECT_EQ(watch.off_worker.load(), 0);
  }
}

}  // namespace
