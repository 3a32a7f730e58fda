// Several host threads create, describe, command (synchronously and asynchronously), abort
// and delete devices against a simulator that delays, drops and never answers some
// requests. Every asynchronous command that was accepted is reported exactly once, before
// Kavrel_DeleteDevice returns, and never afterwards.
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

struct Tally {
  std::atomic<int> callbacks{0};
  std::atomic<int> off_worker{0};
};

void Count(DeviceHandle, void *context, uint32_t, uint32_t, uintptr_t) {
  auto *tally = static_cast<Tally *>(context);
  if (OsThreadSelf() == nullptr) tally->off_worker++;
  tally->callbacks++;
}

TEST(Stress, HostThreadsCommandAbortAndDelete) {
  kvtest::Devsim sim;
  ASSERT_TRUE(sim.Start({{"KM2401", "dev"}})) << sim.log_path();
  ASSERT_TRUE(sim.AddFault("dev", R"({"path": "/slow.cgi", "delay_ms": 150})"));
  ASSERT_TRUE(sim.AddFault("dev", R"({"path": "/drop.cgi", "close_after": 3})"));
  ASSERT_TRUE(sim.AddFault("dev", R"({"path": "/hang.cgi", "no_answer": true})"));
  int port = sim.Device("dev")->http_port;

  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&handle, 8, 0, KAVREL_VERSION_NUMBER), 0u);
  std::atomic<int> started{0}, reported{0}, late{0}, failures{0}, iterations{0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);

  auto host = [&](unsigned seed) {
    std::mt19937 rng(seed);
    const char *paths[] = {"/fast.cgi", "/slow.cgi", "/drop.cgi", "/hang.cgi"};
    while (std::chrono::steady_clock::now() < deadline) {
      DeviceHandle d = nullptr;
      if (Kavrel_CreateDevice(handle, &d) != 0) {
        OsSleep(5);
        continue;
      }
      Tally tally;
      KavrelDeviceProperty p{};
      p.address = "127.0.0.1";
      p.user = "root";
      p.password = "pass";
      p.server_type = "KM2401";
      p.http_port = port;
      p.timeout_ms = 400;
      p.callback = Count;
      p.callback_context = &tally;
      if (Kavrel_SetDevicePropertyLite(d, &p) != 0) failures++;
      int accepted = 0;
      // An asynchronous read fills its buffer until its callback: they live with the device.
      char buffers[12][64];
      for (int i = 0; i < 12; ++i) {
        const char *path = paths[rng() % 4];
        bool async = rng() % 3 != 0;
        uint32_t size = sizeof(buffers[i]);
        uint32_t rc = (rng() % 2) ? Kavrel_HttpOperation(d, path, 0, async)
                                  : Kavrel_HttpOperationRead(d, path, buffers[i], &size, 0, async);
        if (async && rc == 0) accepted++;
        if (rng() % 8 == 0) Kavrel_AbortNetworkOper(d);
      }
      if (rng() % 2) OsSleep(rng() % 200);
      if (Kavrel_DeleteDevice(d) != 0) failures++;
      int at_delete = tally.callbacks.load();
      started += accepted;
      reported += at_delete;
      if (at_delete != accepted) {
        ADD_FAILURE() << "accepted " << accepted << " asynchronous commands, " << at_delete
                      << " callbacks by the time the device was deleted";
      }
      OsSleep(20);
      late += tally.callbacks.load() - at_delete;
      EXPECT_EQ(tally.off_worker.load(), 0);
      iterations++;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < 4; ++i) threads.emplace_back(host, 1234 + i);
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(Kavrel_Release(&handle), 0u);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(late.load(), 0);
  EXPECT_EQ(started.load(), reported.load());
  EXPECT_GT(iterations.load(), 4);
  printf("stress: %d devices, %d asynchronous commands, each reported once\n", iterations.load(),
         started.load());
}

}  // namespace
