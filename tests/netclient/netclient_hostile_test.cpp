// The network client against a scripted hostile peer: every fault ends in a failure code
// within the slot's time-out, never in a crash or a hang.
#include <gtest/gtest.h>

#include <chrono>

#include "nc_test_util.h"
#include "netclient.h"
#include "scripted_peer.h"
#include "test_paths.h"

using nctest::PeerScript;
using nctest::ScriptedPeer;

namespace {

const uint32_t kTimeoutMs = 1500;
// A bound far above the time-out: only a hang exceeds it.
const double kHangBoundSeconds = 10.0;

// A multi-line reply that never ends, far above the size a reply may have.
std::string EndlessMultiLineReply() {
  std::string reply = "220-welcome\r\n";
  for (int i = 0; i < 20000; ++i) reply += "more of the welcome\r\n";
  return reply;
}

class HostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = kvtest::MakeTempDir("netclient-hostile");
    ASSERT_FALSE(work_.empty());
    ASSERT_EQ(0u, NetClient_Initialize(&context_, NETCLIENT_VERSION_WORD));
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  }
  void TearDown() override { EXPECT_EQ(0u, NetClient_Release(&context_)); }

  uint32_t Connect(const ScriptedPeer &peer) {
    NetClientRequestInfo info = nctest::FtpInfo(peer.port(), "user", "pass", kTimeoutMs);
    EXPECT_EQ(0u, NetClient_SetRequestInfo(request_, &info));
    return Timed([&] { return NetClient_Connect(request_, 1); });
  }
  uint32_t Upload(const std::string &bytes) {
    std::string local = work_ + "/upload.bin";
    EXPECT_TRUE(kvtest::WriteFile(local, bytes));
    return Timed([&] {
      return NetClient_FTP_PutFile(request_, local.c_str(), "upload.bin",
                                   NETCLIENT_FTP_MODE_BINARY, 1);
    });
  }
  template <typename F>
  uint32_t Timed(F call) {
    auto start = std::chrono::steady_clock::now();
    uint32_t r = call();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took.count(), kHangBoundSeconds);
    return r;
  }

  std::string work_;
  NetClientHandle context_ = nullptr;
  NetClientRequestHandle request_ = nullptr;
};

TEST_F(HostileTest, BadGreetingsFailTheConnect) {
  struct Case {
    const char *what;
    std::string greeting;
    uint32_t expected;
  };
  const Case cases[] = {
      {"not a reply", "hello there\r\n", NETCLIENT_E_CONNECT},
      {"refusal", "421 too many users\r\n", NETCLIENT_E_CONNECT},
      {"endless line", std::string(100000, 'A'), NETCLIENT_E_CONNECT},
      {"endless multi-line reply", EndlessMultiLineReply(), NETCLIENT_E_CONNECT},
      {"silence", "", NETCLIENT_E_TIMEOUT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    PeerScript script;
    script.greeting = c.greeting;
    ScriptedPeer peer(script);
    EXPECT_EQ(c.expected, Connect(peer));
  }
}

TEST_F(HostileTest, RepliesSplitAtEveryByteStillWork) {
  PeerScript script;
  script.split_every_byte = true;
  ScriptedPeer peer(script);
  ASSERT_EQ(0u, Connect(peer));
  std::string bytes = nctest::Bytes(20000);
  ASSERT_EQ(0u, Upload(bytes));
  EXPECT_TRUE(bytes == peer.Stored());
  NetClientFindEntry entry;
  ASSERT_EQ(0u, NetClient_FTP_FindFirstFile(request_, "*.*", &entry, 1));
  EXPECT_STREQ("file.txt", entry.name);
}

TEST_F(HostileTest, DataConnectionFaultsFailTheTransfer) {
  struct Case {
    const char *what;
    bool refuse;
    std::string pasv;
  };
  const Case cases[] = {
      {"refused", true, ""},
      {"malformed PASV", false, "227 no address here\r\n"},
      {"PASV out of range", false, "227 Entering Passive Mode (127,0,0,1,300,1)\r\n"},
      {"PASV refused", false, "502 no passive mode\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    PeerScript script;
    script.refuse_data = c.refuse;
    script.pasv_reply = c.pasv;
    ScriptedPeer peer(script);
    ASSERT_EQ(0u, Connect(peer));
    EXPECT_EQ(NETCLIENT_E_WRITE, Upload("some bytes"));
    NetClientFindEntry entry;
    EXPECT_EQ(NETCLIENT_E_FIND_FIRST,
              Timed([&] { return NetClient_FTP_FindFirstFile(request_, "*.*", &entry, 1); }));
    ASSERT_EQ(0u, NetClient_Disconnect(request_));
  }
}

TEST_F(HostileTest, AnUploadTheServerDoesNotConfirmFails) {
  for (const char *end : {"451 local error in processing\r\n", "226 x\r\n226-\r\n", ""}) {
    SCOPED_TRACE(end);
    PeerScript script;
    script.transfer_end = end;
    ScriptedPeer peer(script);
    ASSERT_EQ(0u, Connect(peer));
    uint32_t r = Upload("0123456789");
    if (std::string(end).compare(0, 4, "226 ") == 0) {
      EXPECT_EQ(0u, r);
    } else {
      EXPECT_EQ(NETCLIENT_E_WRITE, r);  // refused, or no final reply within the time-out
    }
    ASSERT_EQ(0u, NetClient_Disconnect(request_));
  }
}

TEST_F(HostileTest, ControlConnectionClosedMidTransferFailsTheUpload) {
  for (bool data_too : {false, true}) {
    SCOPED_TRACE(data_too ? "control and data closed" : "control closed");
    PeerScript script;
    script.close_control_after = 30000;
    script.close_data_too = data_too;
    ScriptedPeer peer(script);
    ASSERT_EQ(0u, Connect(peer));
    uint32_t r = Upload(nctest::Bytes(200000));
    // Never reported as done: the server did not confirm the file.
    EXPECT_TRUE(r == NETCLIENT_E_WRITE || r == NETCLIENT_E_RESET) << std::hex << r;
    ASSERT_EQ(0u, NetClient_Disconnect(request_));
  }
}

}  // namespace
