// The network client's probe (NetClient_PingHost) over an echo helper, the way it runs on
// Windows without administrator rights, driven through the helper seam on every platform:
// one request a second, each given the rest of its second to be answered.
#include <gtest/gtest.h>

#include <stdio.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "icmp_echo.h"
#include "netclient.h"

namespace {

using Clock = std::chrono::steady_clock;

// A helper whose requests end `round_trip_ms` after they start (never before their time-out
// when negative) as `ending` says, as the system's would: a request ends when it is answered,
// when an error comes back for it, or when its time-out runs out. `refused` refuses every
// request at its start instead.
class FakeHelper {
 public:
  explicit FakeHelper(int round_trip_ms, IcmpEchoHelperState ending = ICMP_HELPER_ANSWERED,
                      IcmpEchoHelperState refused = ICMP_HELPER_PENDING)
      : round_trip_ms_(round_trip_ms), ending_(ending), refused_(refused) {
    table_ = {this, Open, Start, Wait, Close};
    IcmpEcho_UseHelperForTests(&table_);
  }
  ~FakeHelper() { IcmpEcho_UseHelperForTests(nullptr); }

  struct Request {
    Clock::time_point started;
    uint32_t timeout_ms;
  };
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
  }
  int overlapping() {
    std::lock_guard<std::mutex> hold(mutex_);
    return overlapping_;
  }

 private:
  static int Open(void *context, uint32_t, void **handle) {
    *handle = context;
    return 0;
  }
  static IcmpEchoHelperState Start(void *handle, const uint8_t *, size_t, uint32_t timeout_ms,
                                   int *error) {
    FakeHelper *self = static_cast<FakeHelper *>(handle);
    std::lock_guard<std::mutex> hold(self->mutex_);
    if (self->pending_) ++self->overlapping_;
    self->requests_.push_back({Clock::now(), timeout_ms});
    if (self->refused_ != ICMP_HELPER_PENDING) {
      *error = 5;
      return self->refused_;
    }
    self->pending_ = true;
    return ICMP_HELPER_PENDING;
  }
  static IcmpEchoHelperState Wait(void *handle, uint32_t wait_ms, int *error) {
    FakeHelper *self = static_cast<FakeHelper *>(handle);
    Clock::time_point ends;
    IcmpEchoHelperState outcome;
    {
      std::lock_guard<std::mutex> hold(self->mutex_);
      const Request &last = self->requests_.back();
      bool ends_early = self->round_trip_ms_ >= 0 &&
                        static_cast<uint32_t>(self->round_trip_ms_) < last.timeout_ms;
      ends = last.started + std::chrono::milliseconds(ends_early ? self->round_trip_ms_
                                                                 : static_cast<int>(last.timeout_ms));
      outcome = ends_early ? self->ending_ : ICMP_HELPER_UNANSWERED;
    }
    Clock::time_point until = Clock::now() + std::chrono::milliseconds(wait_ms);
    std::this_thread::sleep_until(ends < until ? ends : until);
    if (Clock::now() < ends) return ICMP_HELPER_PENDING;
    std::lock_guard<std::mutex> hold(self->mutex_);
    self->pending_ = false;
    if (outcome == ICMP_HELPER_FAILED) *error = 5;
    return outcome;
  }
  static void Close(void *) {}

  const int round_trip_ms_;
  const IcmpEchoHelperState ending_;
  const IcmpEchoHelperState refused_;
  IcmpEchoHelper table_;
  std::mutex mutex_;
  std::vector<Request> requests_;
  bool pending_ = false;
  int overlapping_ = 0;
};

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0u, NetClient_Initialize(&context_, NETCLIENT_VERSION_WORD));
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
    NetClientRequestInfo info{};
    info.type = NETCLIENT_TYPE_HTTP_GET;
    info.port = 80;
    snprintf(info.host, sizeof info.host, "192.0.2.10");
    snprintf(info.path, sizeof info.path, "/");
    ASSERT_EQ(0u, NetClient_SetRequestInfo(request_, &info));
  }
  void TearDown() override { EXPECT_EQ(0u, NetClient_Release(&context_)); }

  NetClientHandle context_ = nullptr;
  NetClientRequestHandle request_ = nullptr;
};

// A round trip longer than a tenth of a second is an answer, from the first request.
TEST_F(ProbeTest, ARoundTripOf300MsCountsAsAnswering) {
  FakeHelper helper(300);
  EXPECT_EQ(0u, NetClient_PingHost(5000, request_));
  std::vector<FakeHelper::Request> requests = helper.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_GE(requests[0].timeout_ms, 1000u) << "the request has its whole second";
}

// A host that does not answer gets one request a second, never one on top of another, and
// an "unreachable" for a request, refused at its start or come back for it later, is one
// more unanswered second (the device may be restarting), not a failure of the probe. Any
// other failure of the helper ends the probe.
TEST_F(ProbeTest, OneRequestASecondUntilTheTimeOut) {
  const struct {
    const char *what;
    int round_trip_ms;
    IcmpEchoHelperState ending;
    IcmpEchoHelperState refused;
    uint32_t rc;
  } cases[] = {
      {"no answer", -1, ICMP_HELPER_ANSWERED, ICMP_HELPER_PENDING, NETCLIENT_E_TIMEOUT},
      {"unreachable on receive", 300, ICMP_HELPER_UNREACHABLE, ICMP_HELPER_PENDING,
       NETCLIENT_E_TIMEOUT},
      {"an error from a router", 300, ICMP_HELPER_UNANSWERED, ICMP_HELPER_PENDING,
       NETCLIENT_E_TIMEOUT},
      {"unreachable on send", -1, ICMP_HELPER_ANSWERED, ICMP_HELPER_UNREACHABLE,
       NETCLIENT_E_TIMEOUT},
      {"helper failed", 300, ICMP_HELPER_FAILED, ICMP_HELPER_PENDING, 0xFFFFFFFFu},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    FakeHelper helper(c.round_trip_ms, c.ending, c.refused);
    EXPECT_EQ(c.rc, NetClient_PingHost(2500, request_));
    std::vector<FakeHelper::Request> requests = helper.requests();
    EXPECT_EQ(helper.overlapping(), 0);
    if (c.rc != NETCLIENT_E_TIMEOUT) {
      EXPECT_EQ(requests.size(), 1u);
      continue;
    }
    EXPECT_GE(requests.size(), 2u);
    EXPECT_LE(requests.size(), 3u);
    for (size_t i = 1; i < requests.size(); ++i) {
      EXPECT_GE(requests[i].started - requests[i - 1].started, std::chrono::milliseconds(990))
          << "request " << i;
    }
  }
}

TEST_F(ProbeTest, AnAbortEndsItWhileARequestRuns) {
  FakeHelper helper(-1);
  std::future<uint32_t> probe =
      std::async(std::launch::async, [&] { return NetClient_PingHost(60000, request_); });
  while (helper.requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(0u, NetClient_Abort(request_));
  ASSERT_EQ(std::future_status::ready, probe.wait_for(std::chrono::seconds(15)));
  EXPECT_EQ(NETCLIENT_ABORTED, probe.get());
}

}  // namespace
