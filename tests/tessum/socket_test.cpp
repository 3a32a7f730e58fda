// Tessum's sockets against peers the test opens itself: connect, read, write, accept,
// wrapping a socket, time-outs, withdrawal and release while an operation is pending.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "recorder.h"
#include "script_server.h"
#include "test_paths.h"
#include "test_socket.h"
#include "tessum.h"

namespace {

using tstest::Conn;
using tstest::Recorder;
using tstest::ScriptServer;

constexpr uint32_t kLoopback = 0x7F000001;

class TessumSocket : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SCHEAGENT_Initialize(&agent_, 1), TESSUM_OK); }
  void TearDown() override {
    if (agent_ != nullptr) {
      EXPECT_EQ(SCHEAGENT_Release(&agent_), TESSUM_OK);
    }
  }

  // Connects to the port and waits for the outcome.
  TessumHandle Connect(uint16_t port, uint32_t expect = TESSUM_OK) {
    Recorder r;
    TessumHandle h = nullptr;
    EXPECT_EQ(SMO_SocketConn_Init(agent_, &r.token, Recorder::Callback, &r, kLoopback, port, &h),
              TESSUM_OK);
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(r.Wait());
    EXPECT_EQ(r.status(), expect);
    return h;
  }

  TessumAgent *agent_ = nullptr;
};

uint16_t LocalPort(uintptr_t socket) { return kvtest::LocalPort(static_cast<int>(socket)); }

TEST_F(TessumSocket, ConnectWriteReadUntilThePeerCloses) {
  ScriptServer server([](Conn &c) {
    std::string got = c.ReadFor(300);
    c.Send("echo:" + got);
  });
  TessumHandle h = Connect(server.port());
  EXPECT_NE(LocalPort(h->socket), 0);  // the second word is the OS socket

  Recorder w;
  ASSERT_EQ(COMMON_TI_WriteData(h, &w.token, Recorder::Callback, &w, 5, "hello"), TESSUM_OK);
  ASSERT_TRUE(w.Wait());
  EXPECT_EQ(w.status(), TESSUM_OK);
  EXPECT_EQ(w.value(), 5u);

  std::string got;
  char buf[64];
  for (int i = 1;; ++i) {
    Recorder r;
    ASSERT_EQ(COMMON_TI_ReadData(h, &r.token, Recorder::Callback, &r, sizeof buf, buf, 1), TESSUM_OK);
    ASSERT_TRUE(r.Wait());
    if (r.status() != TESSUM_OK) {
      EXPECT_EQ(r.status(), TESSUM_S_CLOSED);
      EXPECT_EQ(r.value(), 0u);
      break;
    }
    got.append(buf, r.value());
    ASSERT_LT(i, 100);
  }
  EXPECT_EQ(got, "echo:hello");
  EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
  EXPECT_EQ(h, nullptr);
}

TEST_F(TessumSocket, ConnectRefused) {
  TessumHandle h = Connect(tstest::FreePort(), TESSUM_E_CONNECT);
  EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
}

TEST_F(TessumSocket, ReadTimesOutOnceWhenThePeerIsSilent) {
  ScriptServer server([](Conn &c) { c.WaitForStop(); });
  TessumHandle h = Connect(server.port());
  Recorder r(300);
  char buf[16];
  ASSERT_EQ(COMMON_TI_ReadData(h, &r.token, Recorder::Callback, &r, sizeof buf, buf, 1), TESSUM_OK);
  ASSERT_TRUE(r.Wait());
  EXPECT_EQ(r.status(), TESSUM_E_TIMEOUT);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(r.count(), 1);
  COMMON_TI_Release(&h);
}

// A withdrawn read completes once with 0x80070043 on a pool thread; its token and buffer
// are never touched afterwards (freed here, so the sanitizer would see a late write), and
// the bytes that arrive later go to the next read.
TEST_F(TessumSocket, WithdrawnReadCompletesOnceAndTouchesNothingAfter) {
  std::atomic<bool> send_now{false};
  ScriptServer server([&](Conn &c) {
    while (!send_now) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    c.Send("late");
    c.WaitForStop();
  });
  TessumHandle h = Connect(server.port());
  auto r = std::make_unique<Recorder>();
  auto buf = std::make_unique<char[]>(16);
  ASSERT_EQ(COMMON_TI_ReadData(h, &r->token, Recorder::Callback, r.get(), 16, buf.get(), 1),
            TESSUM_OK);
  EXPECT_EQ(SCHEAGENT_RemoveToken(agent_, 2, &r->token), TESSUM_OK);
  ASSERT_TRUE(r->Wait());
  EXPECT_EQ(r->status(), TESSUM_E_WITHDRAWN);
  EXPECT_NE(r->thread(), std::this_thread::get_id());
  EXPECT_EQ(SCHEAGENT_RemoveToken(agent_, 2, &r->token), TESSUM_E_NOTPENDING);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(r->count(), 1);
  r.reset();
  buf.reset();

  send_now = true;
  Recorder next;
  char got[16];
  ASSERT_EQ(COMMON_TI_ReadData(h, &next.token, Recorder::Callback, &next, sizeof got, got, 1),
            TESSUM_OK);
  ASSERT_TRUE(next.Wait());
  ASSERT_EQ(next.status(), TESSUM_OK);
  EXPECT_EQ(std::string(got, next.value()), "late");
  EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
}

TEST_F(TessumSocket, ReleasingAHandleOrTheAgentWithdrawsWhatIsPending) {
  ScriptServer server([](Conn &c) { c.WaitForStop(); });
  TessumHandle h = Connect(server.port());
  Recorder by_handle(0);
  char buf[16];
  ASSERT_EQ(COMMON_TI_ReadData(h, &by_handle.token, Recorder::Callback, &by_handle, 16, buf, 1),
            TESSUM_OK);
  EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
  ASSERT_TRUE(by_handle.Wait());
  EXPECT_EQ(by_handle.status(), TESSUM_E_WITHDRAWN);

  TessumHandle h2 = Connect(server.port());
  Recorder by_agent(0);
  ASSERT_EQ(COMMON_TI_ReadData(h2, &by_agent.token, Recorder::Callback, &by_agent, 16, buf, 1),
            TESSUM_OK);
  // The release waits for the withdrawn completion: it has run when the call returns.
  EXPECT_EQ(SCHEAGENT_Release(&agent_), TESSUM_OK);
  EXPECT_EQ(by_agent.count(), 1);
  EXPECT_EQ(by_agent.status(), TESSUM_E_WITHDRAWN);
  EXPECT_EQ(COMMON_TI_Release(&h2), TESSUM_OK);  // the handle outlives its agent safely
}

TEST_F(TessumSocket, OneOperationPerTokenAndOneReadPerHandle) {
  ScriptServer server([](Conn &c) { c.WaitForStop(); });
  TessumHandle h = Connect(server.port());
  Recorder r(0), other(0);
  char buf[16];
  ASSERT_EQ(COMMON_TI_ReadData(h, &r.token, Recorder::Callback, &r, 16, buf, 1), TESSUM_OK);
  EXPECT_EQ(COMMON_TI_WriteData(h, &r.token, Recorder::Callback, &r, 1, "x"), TESSUM_E_BUSY);
  EXPECT_EQ(COMMON_TI_ReadData(h, &other.token, Recorder::Callback, &other, 16, buf, 1),
            TESSUM_E_BUSY);
  // A write beside the pending read is fine.
  ASSERT_EQ(COMMON_TI_WriteData(h, &other.token, Recorder::Callback, &other, 1, "x"), TESSUM_OK);
  ASSERT_TRUE(other.Wait());
  EXPECT_EQ(other.status(), TESSUM_OK);
  COMMON_TI_Release(&h);
  ASSERT_TRUE(r.Wait());
  EXPECT_EQ(r.count(), 1);
}

// The library's completion path releases the handle, and a host may drop the agent, from
// inside a callback: neither may deadlock or call back again.
TEST_F(TessumSocket, CallbackMayReleaseItsHandleAndAgent) {
  ScriptServer server([](Conn &c) { c.Send("x"); c.WaitForStop(); });
  TessumHandle h = Connect(server.port());
  struct Ctx {
    TessumHandle handle;
    TessumAgent *agent;
    std::atomic<int> calls{0};
    uint32_t release_rc = 1, agent_rc = 1;
  } ctx{h, agent_};
  TessumToken token{};
  token.timeout_ms = 10000;
  char buf[4];
  ASSERT_EQ(COMMON_TI_ReadData(
                h, &token,
                [](TessumToken *t) {
                  auto *c = static_cast<Ctx *>(t->context);
                  c->release_rc = COMMON_TI_Release(&c->handle);
                  c->agent_rc = SCHEAGENT_Release(&c->agent);
                  ++c->calls;
                },
                &ctx, sizeof buf, buf, 1),
            TESSUM_OK);
  agent_ = nullptr;  // the callback owns its release now
  ASSERT_TRUE(kvtest::WaitUntil([&] { return ctx.calls.load() == 1; }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ctx.calls.load(), 1);
  EXPECT_EQ(ctx.release_rc, TESSUM_OK);
  EXPECT_EQ(ctx.agent_rc, TESSUM_OK);
  EXPECT_EQ(ctx.handle, nullptr);
}

// Active-mode FTP: the caller's own listening socket is wrapped, then one connection is
// accepted on it and used.
TEST_F(TessumSocket, WrapAListeningSocketAndAccept) {
  uint16_t port = 0;
  int fd = kvtest::ListenLoopback(0, 4, &port);
  ASSERT_GE(fd, 0);

  TessumHandle listener = nullptr;
  ASSERT_EQ(SOCK_TO_COMM_TI(&listener, agent_, static_cast<uintptr_t>(fd), 0, 0, 0, 0), TESSUM_OK);
  EXPECT_EQ(listener->socket, static_cast<uintptr_t>(fd));

  Recorder acc;
  TessumHandle accepted = nullptr;
  ASSERT_EQ(SMO_SocketAccept_Init(agent_, &acc.token, Recorder::Callback, &acc, listener, &accepted),
            TESSUM_OK);
  ASSERT_NE(accepted, nullptr);
  int client = kvtest::ConnectLoopback(port);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(acc.Wait());
  ASSERT_EQ(acc.status(), TESSUM_OK);
  EXPECT_NE(accepted->socket, ~static_cast<uintptr_t>(0));

  Recorder w;
  ASSERT_EQ(COMMON_TI_WriteData(accepted, &w.token, Recorder::Callback, &w, 4, "data"), TESSUM_OK);
  ASSERT_TRUE(w.Wait());
  char got[8] = {};
  EXPECT_EQ(kvtest::RecvAll(client, got, 4), 4);
  EXPECT_STREQ(got, "data");
  // The caller's connected socket wrapped as a handle reads like any other.
  TessumHandle wrapped = nullptr;
  ASSERT_EQ(SOCK_TO_COMM_TI(&wrapped, agent_, static_cast<uintptr_t>(client), 0, 0, 0, 0),
            TESSUM_OK);
  Recorder w2;
  ASSERT_EQ(COMMON_TI_WriteData(accepted, &w2.token, Recorder::Callback, &w2, 4, "back"), TESSUM_OK);
  Recorder rd;
  char back[8];
  ASSERT_EQ(COMMON_TI_ReadData(wrapped, &rd.token, Recorder::Callback, &rd, sizeof back, back, 1),
            TESSUM_OK);
  ASSERT_TRUE(rd.Wait());
  ASSERT_EQ(rd.status(), TESSUM_OK);
  EXPECT_EQ(std::string(back, rd.value()), "back");
  EXPECT_EQ(COMMON_TI_Release(&wrapped), TESSUM_OK);  // closes `client`

  // A second accept that nobody answers is withdrawn by releasing the listener.
  Recorder second(0);
  TessumHandle never = nullptr;
  ASSERT_EQ(SMO_SocketAccept_Init(agent_, &second.token, Recorder::Callback, &second, listener,
                                  &never),
            TESSUM_OK);
  EXPECT_EQ(COMMON_TI_Release(&listener), TESSUM_OK);
  ASSERT_TRUE(second.Wait());
  EXPECT_EQ(second.status(), TESSUM_E_WITHDRAWN);
  EXPECT_EQ(COMMON_TI_Release(&never), TESSUM_OK);
  EXPECT_EQ(COMMON_TI_Release(&accepted), TESSUM_OK);
}

// A process the host starts must not hold a copy of our sockets: the device's connection
// would stay open, or the port taken, after we closed ours.
TEST_F(TessumSocket, SocketsItMakesAreNotInheritedByChildProcesses) {
  uint16_t port = 0;
  int fd = kvtest::ListenLoopback(0, 4, &port);
  ASSERT_GE(fd, 0);
  TessumHandle connected = Connect(port);
  ASSERT_NE(connected, nullptr);
  EXPECT_FALSE(kvtest::InheritedByChildren(static_cast<int>(connected->socket)));

  TessumHandle listener = nullptr;
  ASSERT_EQ(SOCK_TO_COMM_TI(&listener, agent_, static_cast<uintptr_t>(fd), 0, 0, 0, 0), TESSUM_OK);
  Recorder acc;
  TessumHandle accepted = nullptr;
  ASSERT_EQ(SMO_SocketAccept_Init(agent_, &acc.token, Recorder::Callback, &acc, listener, &accepted),
            TESSUM_OK);
  int client = kvtest::ConnectLoopback(port);
  ASSERT_TRUE(acc.Wait());
  ASSERT_EQ(acc.status(), TESSUM_OK);
  EXPECT_FALSE(kvtest::InheritedByChildren(static_cast<int>(accepted->socket)));

  kvtest::CloseSocket(client);
  EXPECT_EQ(COMMON_TI_Release(&accepted), TESSUM_OK);
  EXPECT_EQ(COMMON_TI_Release(&listener), TESSUM_OK);
  EXPECT_EQ(COMMON_TI_Release(&connected), TESSUM_OK);
}

TEST_F(TessumSocket, RefusedArgumentsAndRawMemory) {
  Recorder r;
  TessumHandle h = nullptr;
  char buf[4];
  EXPECT_EQ(SCHEAGENT_Initialize(nullptr, 1), TESSUM_E_INVALIDARG);
  TessumAgent *a = nullptr;
  EXPECT_EQ(SCHEAGENT_Initialize(&a, 0), TESSUM_E_INVALIDARG);
  EXPECT_EQ(SCHEAGENT_RemoveToken(agent_, 1, &r.token), TESSUM_E_INVALIDARG);
  EXPECT_EQ(SCHEAGENT_RemoveToken(agent_, 2, &r.token), TESSUM_E_NOTPENDING);
  EXPECT_EQ(SMO_SocketConn_Init(agent_, &r.token, nullptr, &r, kLoopback, 80, &h), TESSUM_E_INVALIDARG);
  EXPECT_EQ(SMO_SocketConn_Init(agent_, &r.token, Recorder::Callback, &r, kLoopback, 0, &h),
            TESSUM_E_INVALIDARG);
  EXPECT_EQ(COMMON_TI_ReadData(nullptr, &r.token, Recorder::Callback, &r, 4, buf, 1),
            TESSUM_E_INVALIDARG);
  EXPECT_EQ(SOCK_TO_COMM_TI(&h, agent_, static_cast<uintptr_t>(-1), 0, 0, 0, 0), TESSUM_E_WRAP);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
  EXPECT_EQ(COMMON_TI_Release(nullptr), TESSUM_E_INVALIDARG);
  EXPECT_EQ(r.count(), 0);  // a refused start never calls back

  r.token.status = 5;
  r.token.reserved = 7;
  r.token.value = 42;
  EXPECT_EQ(STATOKEN_TouchToken(&r.token), TESSUM_OK);
  EXPECT_EQ(r.token.status, 0u);
  EXPECT_EQ(r.token.reserved, 0u);
  EXPECT_EQ(r.token.value, 42u);

  void *mem = nullptr;
  ASSERT_EQ(RawMemAlloc(6000, &mem), TESSUM_OK);
  EXPECT_EQ(static_cast<unsigned char *>(mem)[5999], 0);
  EXPECT_EQ(RawMemFree(&mem), TESSUM_OK);
  EXPECT_EQ(mem, nullptr);
  EXPECT_EQ(RawMemFree(&mem), TESSUM_OK);
}

}  // namespace
