// Aborting the socket FTP client at each step: the slot's operation ends with 0x80070043
// exactly once, waiting or through the worker's queue, and the control and data connections
// are given back (the peer sees them closed; ASan sees nothing leak, TSan nothing race).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/context.h"
#include "core/operation.h"
#include "ftp_peer.h"
#include "ftp_runner.h"
#include "kavrel.h"
#include "test_paths.h"

using ftptest::Peer;
using ftptest::PeerPlan;
using ftptest::Runner;

namespace {

struct Queue {
  std::mutex mu;
  std::condition_variable cv;
  std::vector<uint32_t> events;
  static Queue *current;
  static void Handler(KavrelContext *, EventNode *node) {
    std::lock_guard<std::mutex> lock(current->mu);
    current->events.push_back(node->event);
    current->cv.notify_all();
  }
  // The next event within a bound that only catches a hang; 0xDEAD when none came.
  uint32_t Next(int bound_ms = 60000) {
    std::unique_lock<std::mutex> lock(mu);
    if (!cv.wait_for(lock, std::chrono::milliseconds(bound_ms), [&] { return !events.empty(); })) {
      return 0xDEAD;
    }
    uint32_t event = events.front();
    events.erase(events.begin());
    return event;
  }
};
Queue *Queue::current = nullptr;

struct Step {
  const char *stall;  // where the peer falls silent
  uint32_t kind;      // the transfer after the login (0: the login is aborted)
  bool passive;
};

const Step kSteps[] = {
    {"GREETING", 0, true}, {"USER", 0, true},          {"PASS", 0, true},
    {"TYPE", FTPSOCK_RETR, true}, {"PASV", FTPSOCK_RETR, true}, {"RETR", FTPSOCK_RETR, true},
    {"DATA", FTPSOCK_RETR, true}, {"FINAL", FTPSOCK_RETR, true}, {"RETR", FTPSOCK_RETR, false},
    {"DATA", FTPSOCK_RETR, false}, {"STOR", FTPSOCK_STOR, true}, {"LIST", FTPSOCK_LIST, false},
};

class Abort : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    dir_ = kvtest::MakeTempDir("ftp-abort");
    ASSERT_FALSE(dir_.empty());
    ASSERT_TRUE(kvtest::WriteFile(dir_ + "/upload", std::string(100000, 'u')));
    ASSERT_EQ(0u, Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER));
    ASSERT_EQ(0u, Kavrel_CreateDevice(handle_, &device_));
    Device_CopyString(device_->address, sizeof(device_->address), "127.0.0.1");
    Device_CopyString(device_->user, sizeof(device_->user), "user");
    device_->timeout_ms = 60000;
    Queue::current = &queue_;
    Context_SetHandler(device_->context, Queue::Handler);
  }
  void TearDown() override {
    if (device_) Kavrel_DeleteDevice(device_);
    EXPECT_EQ(0u, Kavrel_Release(&handle_));
    Queue::current = nullptr;
  }

  // Runs the step's operation on `slot` and returns its outcome: waited for, or the one
  // node queued for it.
  uint32_t Run(OperationSlot *slot, const Step &step, int port, bool async) {
    FtpSockServer server;
    FtpSock_ServerOfDevice(device_, static_cast<uint32_t>(port), &server);
    uint32_t rc = FtpSock_SlotLogin(slot, &server);
    if (async && rc == 0) rc = queue_.Next();
    if (step.kind == 0 || rc != 0) return rc;
    FtpSockTransfer transfer = Runner::Describe(
        step.kind, step.passive, step.kind == FTPSOCK_STOR ? dir_ + "/upload" : dir_ + "/got",
        "file");
    char listing[256];
    transfer.listing = listing;
    transfer.listing_size = sizeof(listing);
    rc = FtpSock_SlotTransfer(slot, &transfer);
    if (async && rc == 0) rc = queue_.Next();
    return rc;
  }

  std::string dir_;
  KavrelHandle handle_ = nullptr;
  DeviceHandle device_ = nullptr;
  Queue queue_;
};

TEST_P(Abort, AtEachStepOnceAndEverythingReleased) {
  const bool async = GetParam();
  for (const Step &step : kSteps) {
    SCOPED_TRACE(std::string(step.stall) + (step.passive ? " passive" : " active"));
    PeerPlan plan;
    plan.stall = step.stall;
    plan.data = std::string(50000, 'd');
    Peer peer(plan);
    OperationSlot *slot = TakeOperationSlot(device_);
    ASSERT_NE(nullptr, slot);
    slot->async = async ? 1 : 0;
    uint32_t result = 0;
    std::thread runner([&] { result = Run(slot, step, peer.port(), async); });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return peer.Stalled(); }, 30000));
    EXPECT_EQ(0u, Kavrel_AbortNetworkOper(device_));
    runner.join();
    EXPECT_EQ(0x80070043u, result);
    if (async) {
      EXPECT_EQ(0xDEADu, queue_.Next(300));  // nothing more for this operation
    }
    ReleaseOperationSlot(slot);
    EXPECT_TRUE(kvtest::WaitUntil([&] { return peer.ClientClosed(); }, 30000));
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Abort, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "through_the_worker" : "waiting";
                         });

// Deleting the device in the middle of a transfer aborts it the same way.
TEST_F(Abort, DeleteDeviceInTheMiddleOfADownload) {
  PeerPlan plan;
  plan.stall = "DATA";
  plan.data = std::string(50000, 'd');
  Peer peer(plan);
  OperationSlot *slot = TakeOperationSlot(device_);
  ASSERT_NE(nullptr, slot);
  uint32_t result = 0;
  std::thread runner([&] {
    result = Run(slot, Step{"DATA", FTPSOCK_RETR, true}, peer.port(), false);
    ReleaseOperationSlot(slot);
  });
  ASSERT_TRUE(kvtest::WaitUntil([&] { return peer.Stalled(); }, 30000));
  EXPECT_EQ(0u, Kavrel_DeleteDevice(device_));
  device_ = nullptr;
  runner.join();
  EXPECT_EQ(0x80070043u, result);
  EXPECT_TRUE(kvtest::WaitUntil([&] { return peer.ClientClosed(); }, 30000));
}

}  // namespace
