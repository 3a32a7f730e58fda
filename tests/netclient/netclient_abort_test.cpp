// Aborting and closing slots from other threads while operations run on them: the waiting
// caller returns 240 at once, 240 is reported once, the slot refuses to connect until it is
// disconnected or closed, and nothing leaks or races (run under ASan and TSan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "ftp_server.h"
#include "nc_test_util.h"
#include "netclient.h"
#include "test_paths.h"

using nctest::Events;
using nctest::ProgressLog;
using nctest::PyFtpServer;

namespace {

// A paced waiting upload of this size runs for seconds (8 KB per 16 ms).
const size_t kLongUpload = 4u << 20;
const int kBoundMs = 10000;

class AbortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start("netclient-abort"));
    local_ = server_.work() + "/big.bin";
    ASSERT_TRUE(kvtest::WriteFile(local_, nctest::Bytes(kLongUpload)));
    ASSERT_EQ(0u, NetClient_Initialize(&context_, NETCLIENT_VERSION_WORD));
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  }
  void TearDown() override {
    if (context_ != nullptr) {
      EXPECT_EQ(0u, NetClient_Release(&context_));
    }
  }
  void Connect(Events *events) {
    NetClientRequestInfo info =
        nctest::FtpInfo(server_.port(), PyFtpServer::user(), PyFtpServer::password());
    info.callback = Events::Callback;
    info.context = events;
    ASSERT_EQ(0u, NetClient_SetRequestInfo(request_, &info));
    ASSERT_EQ(0u, NetClient_Connect(request_, 1));
  }
  // Starts a waiting upload on another thread and returns once a few chunks went out.
  std::future<uint32_t> StartUpload(ProgressLog *progress) {
    auto upload = std::async(std::launch::async, [this, progress] {
      return NetClient_FTP_PutFileWithProgress(request_, local_.c_str(), "big.bin",
                                               NETCLIENT_FTP_MODE_BINARY, 1,
                                               ProgressLog::Callback, progress);
    });
    EXPECT_TRUE(kvtest::WaitUntil([&] { return progress->Size() > 4; }, kBoundMs));
    return upload;
  }

  PyFtpServer server_;
  std::string local_;
  NetClientHandle context_ = nullptr;
  NetClientRequestHandle request_ = nullptr;
};

TEST_F(AbortTest, AbortEndsAWaitingUploadAndIsReportedOnce) {
  Events events;
  Connect(&events);
  ProgressLog progress;
  std::future<uint32_t> upload = StartUpload(&progress);
  ASSERT_EQ(0u, NetClient_Abort(request_));
  ASSERT_EQ(std::future_status::ready, upload.wait_for(std::chrono::milliseconds(kBoundMs)));
  EXPECT_EQ(NETCLIENT_ABORTED, upload.get());
  // Give a late completion of the cancelled write the time to show up, if it were reported.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(std::vector<uint32_t>{NETCLIENT_EV_ABORTED}, events.Codes());

  EXPECT_EQ(NETCLIENT_E_ABORTING, NetClient_Connect(request_, 1));
  EXPECT_EQ(NETCLIENT_E_ABORTING, NetClient_Connect(request_, 1));
  ASSERT_EQ(0u, NetClient_Disconnect(request_));
  EXPECT_EQ(0u, NetClient_Connect(request_, 1));
  // Aborting again, then closing the slot, also lifts the refusal.
  ASSERT_EQ(0u, NetClient_Abort(request_));
  EXPECT_EQ(NETCLIENT_E_ABORTING, NetClient_Connect(request_, 1));
  ASSERT_EQ(0u, NetClient_CloseRequest(request_));
  ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  events.Clear();
  Connect(&events);
  EXPECT_TRUE(events.Codes().empty());  // a waiting connect reports through its result only
}

TEST_F(AbortTest, ClosingTheSlotDuringAWaitingUpload) {
  Events events;
  Connect(&events);
  ProgressLog progress;
  std::future<uint32_t> upload = StartUpload(&progress);
  ASSERT_EQ(0u, NetClient_CloseRequest(request_));
  ASSERT_EQ(std::future_status::ready, upload.wait_for(std::chrono::milliseconds(kBoundMs)));
  EXPECT_EQ(NETCLIENT_ABORTED, upload.get());
  EXPECT_TRUE(events.Codes().empty());  // closing reports nothing
}

TEST_F(AbortTest, ClosingTheSlotDuringAnAsynchronousUpload) {
  Events events;
  Connect(&events);
  ProgressLog progress;
  ASSERT_EQ(0u, NetClient_FTP_PutFileWithProgress(request_, local_.c_str(), "big.bin",
                                                  NETCLIENT_FTP_MODE_BINARY, 0,
                                                  ProgressLog::Callback, &progress));
  ASSERT_TRUE(kvtest::WaitUntil([&] { return progress.Size() > 2; }, kBoundMs));
  ASSERT_EQ(0u, NetClient_CloseRequest(request_));
  // The upload may have finished before the close (loopback is fast); either way nothing is
  // reported once the close has returned.
  size_t progress_at_close = progress.Size();
  std::vector<uint32_t> events_at_close = events.Codes();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(progress_at_close, progress.Size());
  EXPECT_EQ(events_at_close, events.Codes());
}

TEST_F(AbortTest, ReleasingAContextWithBusySlots) {
  Events events;
  Connect(&events);
  ProgressLog progress;
  std::future<uint32_t> upload = StartUpload(&progress);
  NetClientRequestHandle second = nullptr;
  ASSERT_EQ(0u, NetClient_OpenRequest(context_, &second));
  ASSERT_EQ(0u, NetClient_Abort(request_));
  ASSERT_EQ(std::future_status::ready, upload.wait_for(std::chrono::milliseconds(kBoundMs)));
  ASSERT_EQ(0u, NetClient_Release(&context_));
  EXPECT_EQ(nullptr, context_);
}

TEST_F(AbortTest, AbortRacesWithConnect) {
  for (int round = 0; round < 5; ++round) {
    Events events;
    NetClientRequestInfo info =
        nctest::FtpInfo(server_.port(), PyFtpServer::user(), PyFtpServer::password());
    info.callback = Events::Callback;
    info.context = &events;
    ASSERT_EQ(0u, NetClient_SetRequestInfo(request_, &info));
    auto connect = std::async(std::launch::async, [this] { return NetClient_Connect(request_, 1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
    ASSERT_EQ(0u, NetClient_Abort(request_));
    ASSERT_EQ(std::future_status::ready, connect.wait_for(std::chrono::milliseconds(kBoundMs)));
    uint32_t r = connect.get();
    EXPECT_TRUE(r == 0 || r == NETCLIENT_ABORTED || r == NETCLIENT_E_ABORTING) << std::hex << r;
    EXPECT_EQ(1, events.Count(NETCLIENT_EV_ABORTED));
    ASSERT_EQ(0u, NetClient_CloseRequest(request_));
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  }
}

// One client context of the test below: its callbacks keep an FTP session busy, changing
// to the root directory again and again, until the context is released.
struct BusyClient {
  NetClientHandle context = nullptr;
  NetClientRequestHandle request = nullptr;
  std::atomic<int> callbacks{0};
  std::atomic<bool> released{false};
  std::atomic<int> late{0};

  static void NETCLIENT_CALL Callback(NetClientRequestHandle request, uint32_t event,
                                      void *context) {
    auto *self = static_cast<BusyClient *>(context);
    self->callbacks++;
    if (event == NETCLIENT_EV_FTP_CONNECTED || event == NETCLIENT_EV_FTP_CHDIR_DONE) {
      NetClient_FTP_ChangeDir(request, "/", 0);
    }
    // A callback still running, or starting, once the release has returned is the fault.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (self->released) self->late++;
  }
};

// Many client contexts, each with a session whose callbacks keep arriving, released from
// several threads at once: no callback runs after the release of its context has returned,
// nothing is used after it is freed (ASan), and no release hangs.
TEST_F(AbortTest, ReleasingManyContextsWhileCallbacksArrive) {
  constexpr int kClients = 24;
  constexpr int kThreads = 4;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::unique_ptr<BusyClient>> clients;
    for (int i = 0; i < kClients; ++i) {
      auto c = std::make_unique<BusyClient>();
      ASSERT_EQ(0u, NetClient_Initialize(&c->context, NETCLIENT_VERSION_WORD));
      ASSERT_EQ(0u, NetClient_OpenRequest(c->context, &c->request));
      NetClientRequestInfo info =
          nctest::FtpInfo(server_.port(), PyFtpServer::user(), PyFtpServer::password());
      info.callback = BusyClient::Callback;
      info.context = c.get();
      ASSERT_EQ(0u, NetClient_SetRequestInfo(c->request, &info));
      ASSERT_EQ(0u, NetClient_Connect(c->request, 0));
      clients.push_back(std::move(c));
    }
    for (auto &c : clients) {
      BusyClient *client = c.get();
      ASSERT_TRUE(kvtest::WaitUntil([client] { return client->callbacks > 2; }, kBoundMs));
    }
    std::vector<std::thread> releasers;
    for (int t = 0; t < kThreads; ++t) {
      releasers.emplace_back([&, t] {
        for (int i = t; i < kClients; i += kThreads) {
          EXPECT_EQ(0u, NetClient_Release(&clients[i]->context));
          clients[i]->released = true;
        }
      });
    }
    auto releasing = std::async(std::launch::async, [&] {
      for (std::thread &r : releasers) r.join();
    });
    ASSERT_EQ(std::future_status::ready, releasing.wait_for(std::chrono::milliseconds(kBoundMs)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a late callback shows here
    for (auto &c : clients) {
      EXPECT_EQ(nullptr, c->context);
      EXPECT_EQ(0, c->late.load());
    }
  }
}

}  // namespace
