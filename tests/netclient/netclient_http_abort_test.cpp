// What happens when an HTTP connection cannot be made or is cut short: the ICMP probe tells
// a refusing host from one that does not answer, an abort during a pending send is reported
// once, and closing a slot during a read leaks and races nothing (ASan, TSan).
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "devsim_fixture.h"
#include "http_peer.h"
#include "nc_test_util.h"
#include "netclient.h"
#include "netns_fixture.h"
#include "test_paths.h"

using nctest::Events;

namespace {

const int kBoundMs = 15000;
const uint32_t kShortTimeoutMs = 3000;

class HttpFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0u, NetClient_Initialize(&context_, NETCLIENT_VERSION_WORD));
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  }
  void TearDown() override { EXPECT_EQ(0u, NetClient_Release(&context_)); }

  void Describe(NetClientRequestInfo info, Events *events) {
    if (events != nullptr) {
      info.callback = Events::Callback;
      info.context = events;
    }
    ASSERT_EQ(0u, NetClient_SetRequestInfo(request_, &info));
  }
  // The first completion code of an asynchronous connect.
  uint32_t RunAsync(const NetClientRequestInfo &info, Events *events) {
    Describe(info, events);
    uint32_t r = NetClient_Connect(request_, 0);
    if (r != 0) return r;
    return events->WaitAny({NETCLIENT_EV_HTTP_200, NETCLIENT_EV_HTTP_OTHER, NETCLIENT_EV_HTTP_401,
                            NETCLIENT_E_TIMEOUT},
                           kBoundMs);
  }
  // Whether this process may send ICMP echo requests (root, or the ping group range).
  bool CanPing() {
    NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, 80, "/");
    Describe(info, nullptr);
    return NetClient_PingHost(2000, request_) == 0;
  }

  NetClientHandle context_ = nullptr;
  NetClientRequestHandle request_ = nullptr;
};

TEST_F(HttpFailureTest, RefusedConnectOnAnAnsweringHost) {
  if (!CanPing()) GTEST_SKIP() << "no ICMP socket for this user (root or net.ipv4.ping_group_range)";
  NetClientRequestInfo info =
      nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, nctest::ClosedPort(), "/", "", "", kShortTimeoutMs);
  Describe(info, nullptr);
  EXPECT_EQ(NETCLIENT_E_CONNECT, NetClient_Connect(request_, 1));
  Events events;
  EXPECT_EQ(NETCLIENT_EV_HTTP_OTHER, RunAsync(info, &events));
}

TEST_F(HttpFailureTest, AddressThatDoesNotAnswer) {
  kvtest::NetnsPair pair;
  std::string why;
  if (!pair.Create(&why)) GTEST_SKIP() << "no network namespaces here: " << why;
  ASSERT_TRUE(pair.SetLink(kvtest::NetnsPair::kDevice, false));
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, 80, "/", "", "", kShortTimeoutMs);
  snprintf(info.host, sizeof info.host, "%s", kvtest::NetnsPair::DeviceAddress());
  uint32_t waiting = 0, event = 0;
  Events events;
  // The slot's sockets, its request thread and the probe's socket are made on this thread
  // (or threads it starts), inside the host's namespace.
  ASSERT_TRUE(pair.RunIn(kvtest::NetnsPair::kHost, [&] {
    Describe(info, nullptr);
    waiting = NetClient_Connect(request_, 1);
    event = RunAsync(info, &events);
  }, &why)) << why;
  EXPECT_EQ(NETCLIENT_E_TIMEOUT, waiting);
  EXPECT_EQ(NETCLIENT_E_TIMEOUT, event);
}

TEST_F(HttpFailureTest, AbortDuringAPendingSendIsReportedOnce) {
  kvtest::Devsim sim;
  ASSERT_TRUE(sim.Start({{"KM3111", "dev1", "none"}})) << sim.log_path();
  for (bool async : {false, true}) {
    SCOPED_TRACE(async ? "async" : "waiting");
    std::string path = async ? "/hold-async.cgi" : "/hold.cgi";
    ASSERT_TRUE(sim.AddFault("dev1", R"({"path": ")" + path + R"(", "no_answer": true})"));
    NetClientRequestInfo info =
        nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, sim.Device("dev1")->http_port, path);
    Events events;
    Describe(info, &events);
    std::future<uint32_t> connect =
        std::async(std::launch::async, [&] { return NetClient_Connect(request_, async ? 0 : 1); });
    auto held = [&] {
      for (const auto &e : sim.Log(0, "dev1")) {
        if (e.path == path) return true;
      }
      return false;
    };
    ASSERT_TRUE(kvtest::WaitUntil(held, kBoundMs));
    if (async) {
      ASSERT_EQ(0u, connect.get());
    }
    ASSERT_EQ(0u, NetClient_Abort(request_));
    if (!async) {
      ASSERT_EQ(std::future_status::ready, connect.wait_for(std::chrono::milliseconds(kBoundMs)));
      EXPECT_EQ(NETCLIENT_ABORTED, connect.get());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(std::vector<uint32_t>{NETCLIENT_EV_ABORTED}, events.Codes());
    // The aborted slot refuses to connect until it is closed.
    EXPECT_EQ(NETCLIENT_E_ABORTING, NetClient_Connect(request_, 1));
    ASSERT_EQ(0u, NetClient_CloseRequest(request_));
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  }
}

// A read pending on a body that stalls, and the slot closed from another thread meanwhile.
TEST_F(HttpFailureTest, ClosingTheSlotDuringARead) {
  nctest::HttpPeer peer;
  ASSERT_TRUE(peer.Start("slow-peer"));
  for (int round = 0; round < 3; ++round) {
    NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, peer.port(), "/slow");
    Events events;
    Describe(info, round == 1 ? &events : nullptr);
    ASSERT_EQ(0u, NetClient_Connect(request_, 1));
    std::atomic<bool> pending{false};
    std::thread reader([&] {
      std::vector<char> buffer(256);
      for (;;) {
        uint32_t got = 0, status = 0;
        if (NetClient_ReadData(request_, buffer.data(), 256, &got, &status) != 0) return;
        if (status == NETCLIENT_READ_PENDING) pending = true;
        if (status == NETCLIENT_READ_CLOSING || status == NETCLIENT_READ_FAILED) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return pending.load(); }, kBoundMs));
    if (round == 2) {
      ASSERT_EQ(0u, NetClient_Abort(request_));
    }
    ASSERT_EQ(0u, NetClient_CloseRequest(request_));
    reader.join();
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  }
}

}  // namespace
