// A synchronous request runs on its caller's thread; another thread's abort or delete must
// still end it at once in every phase, and a silent device must time it out no earlier
// than the descriptor's time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "kavrel.h"
#include "netns_fixture.h"
#include "script_server.h"
#include "test_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// A moment that one thread marks and another waits for, with a generous bound.
class Mark {
 public:
  void Set() {
    std::lock_guard<std::mutex> lock(mu_);
    at_ = Clock::now();
    set_ = true;
    cv_.notify_all();
  }
  bool Wait(int ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
  }
  Clock::time_point at() {
    std::lock_guard<std::mutex> lock(mu_);
    return at_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool set_ = false;
  Clock::time_point at_;
};

// What a peer does once it has read the request: nothing, or the head and then one byte of
// the body at a time, slowly. Either way it then reports when our side closed.
enum class Peer { Silent, Trickle };

struct PeerScript {
  Peer kind;
  Mark reached;  // the request arrived (and, trickling, the first bytes went out)
  Mark closed;   // our side closed the connection
  Mark checked;  // the test is done with the peer's socket
  std::atomic<int> seen_close{0};
  std::atomic<int> fd{-1};

  void Run(tstest::Conn &c) {
    if (c.ReadRequest().empty()) return;
    fd = c.fd();
    if (kind == Peer::Trickle) {
      c.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nab");
    }
    reached.Set();
    // Wait for the close, sending a byte now and then when trickling; a send to a closed
    // connection fails quietly and the read below sees the close.
    for (int i = 0; i < 300; ++i) {
      if (kind == Peer::Trickle) c.Send("x");
      std::string got = c.ReadFor(100);
      if (!got.empty()) continue;
      if (kvtest::WaitReadable(c.fd(), 0)) break;
    }
    seen_close.fetch_add(1);
    closed.Set();
    checked.Wait(10000);
  }
};

enum class Stop { Abort, Delete };

class SyncAbort : public ::testing::TestWithParam<Stop> {
 protected:
  void SetUp() override {
    ASSERT_EQ(Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER), 0u);
    ASSERT_EQ(Kavrel_CreateDevice(handle_, &device_), 0u);
  }
  void TearDown() override {
    if (device_ != nullptr) {
      EXPECT_EQ(Kavrel_DeleteDevice(device_), 0u);
    }
    EXPECT_EQ(Kavrel_Release(&handle_), 0u);
  }

  void Describe(const char *address, uint16_t port, uint32_t timeout_ms) {
    KavrelDeviceProperty p{};
    p.address = address;
    p.user = "admin";
    p.password = "pw";
    p.http_port = port;
    p.timeout_ms = timeout_ms;
    ASSERT_EQ(Kavrel_SetDevicePropertyHttp(device_, &p), 0u);
  }

  // One synchronous read of a page; its result, then the mark that it returned.
  void Read(std::atomic<uint32_t> *rc, Mark *returned) {
    char buffer[256];
    uint32_t size = sizeof buffer;
    *rc = Kavrel_HttpOperationRead(device_, "/cgi-bin/slow.cgi", buffer, &size, 0, 0);
    returned->Set();
  }

  // Stops the request from this thread as the test's parameter says, and checks that it
  // ended with the abort's status well before anything else could have ended it. A delete
  // returns only once the call has given its connection up: the peer (when there is one)
  // already sees it closed.
  void StopAndCheck(Mark *returned, const std::atomic<uint32_t> &rc, PeerScript *peer) {
    Clock::time_point stop = Clock::now();
    if (GetParam() == Stop::Abort) {
      EXPECT_EQ(Kavrel_AbortNetworkOper(device_), 0u);
    } else {
      EXPECT_EQ(Kavrel_DeleteDevice(device_), 0u);
      device_ = nullptr;
      if (peer != nullptr) {
        EXPECT_TRUE(kvtest::WaitReadable(peer->fd.load(), 0))
            << "the delete returned while the connection was open";
      }
    }
    ASSERT_TRUE(returned->Wait(5000)) << "the call did not end";
    EXPECT_LT(Seconds(stop, returned->at()), 4.0);
    EXPECT_EQ(rc.load(), 0x80070043u);
  }

  void AgainstPeer(Peer kind) {
    PeerScript script{kind};
    tstest::ScriptServer server([&](tstest::Conn &c) { script.Run(c); });
    Describe("127.0.0.1", server.port(), 30000);
    Mark returned;
    std::atomic<uint32_t> rc{0};
    std::thread caller([&] { Read(&rc, &returned); });
    EXPECT_TRUE(script.reached.Wait(10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    StopAndCheck(&returned, rc, &script);
    caller.join();
    EXPECT_TRUE(script.closed.Wait(5000)) << "the connection stayed open";
    script.checked.Set();
    EXPECT_EQ(script.seen_close.load(), 1);
    EXPECT_EQ(server.Connections(), 1);
  }

  // The request runs on a thread inside the host side of a namespace pair whose every
  // unknown address leads nowhere: a name lookup's server and `address` never answer.
  void InNamespace(const char *address) {
    kvtest::NetnsPair pair;
    std::string why;
    if (!pair.Create(&why)) GTEST_SKIP() << why;
    ASSERT_TRUE(pair.RouteAwayToTheOtherEnd(kvtest::NetnsPair::kHost));
    Describe(address, 80, 30000);
    Mark returned;
    std::atomic<uint32_t> rc{0};
    std::thread caller([&] {
      std::string reason;
      bool ran = pair.RunIn(kvtest::NetnsPair::kHost, [&] { Read(&rc, &returned); }, &reason);
      if (!ran) returned.Set();
    });
    // No sign of the phase from outside: time enough to be inside it.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_FALSE(returned.Wait(0)) << "the request ended on its own: " << std::hex << rc.load();
    StopAndCheck(&returned, rc, nullptr);
    caller.join();
  }

  KavrelHandle handle_ = nullptr;
  DeviceHandle device_ = nullptr;
};

TEST_P(SyncAbort, WhileLookingUpAName) { InNamespace("camera.kavrel-test.invalid"); }

TEST_P(SyncAbort, WhileConnectingToAnAddressThatDoesNotAnswer) { InNamespace("10.255.77.1"); }

TEST_P(SyncAbort, WhileASilentPeerHoldsTheReply) { AgainstPeer(Peer::Silent); }

TEST_P(SyncAbort, WhileABodyTrickles) { AgainstPeer(Peer::Trickle); }

INSTANTIATE_TEST_SUITE_P(Stops, SyncAbort, ::testing::Values(Stop::Abort, Stop::Delete),
                         [](const ::testing::TestParamInfo<Stop> &info) {
                           return info.param == Stop::Abort ? "abort" : "delete";
                         });

// A peer that goes silent before the reply head, or after it in the body: the call ends
// with the time-out's status, never before the descriptor's time-out (one bound up to the
// head, one per read of the body), and soon after it.
TEST(SyncTimeout, SilentPeerTimesOutNoEarlierThanTheTimeOut) {
  const uint32_t timeout_ms = 700;
  for (Peer kind : {Peer::Silent, Peer::Trickle}) {
    SCOPED_TRACE(kind == Peer::Silent ? "before the head" : "in the body");
    KavrelHandle handle = nullptr;
    DeviceHandle device = nullptr;
    ASSERT_EQ(Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER), 0u);
    ASSERT_EQ(Kavrel_CreateDevice(handle, &device), 0u);
    tstest::ScriptServer server([kind](tstest::Conn &c) {
      if (c.ReadRequest().empty()) return;
      if (kind == Peer::Trickle) c.Send("HTTP/1.0 200 OK\r\n\r\nab");
      c.ReadFor(20000);
    });
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.http_port = server.port();
    p.timeout_ms = timeout_ms;
    ASSERT_EQ(Kavrel_SetDevicePropertyHttp(device, &p), 0u);
    char buffer[64];
    uint32_t size = sizeof buffer;
    Clock::time_point start = Clock::now();
    uint32_t rc = Kavrel_HttpOperationRead(device, "/silent", buffer, &size, 0, 0);
    double took = Seconds(start, Clock::now());
    EXPECT_EQ(rc, 0x80070042u);
    EXPECT_GE(took, timeout_ms / 1000.0);
    EXPECT_LT(took, timeout_ms / 1000.0 + 5.0);
    EXPECT_EQ(Kavrel_DeleteDevice(device), 0u);
    EXPECT_EQ(Kavrel_Release(&handle), 0u);
  }
}

}  // namespace
