// The socket FTP client against a real FTP server (pyftpdlib): login accepted, refused and
// anonymous; RETR and STOR of 0, 1 and 100,000 bytes arriving byte for byte; LIST into a
// bounded buffer; passive and active; the chains directly, and through an operation slot
// both waiting and through the worker's queue.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "core/context.h"
#include "core/operation.h"
#include "ftp_runner.h"
#include "ftp_server.h"
#include "kavrel.h"
#include "test_paths.h"

using ftptest::Pattern;
using ftptest::Runner;
using ftptest::WorkerQueue;
using kvtest::FileExists;
using nctest::PyFtpServer;

namespace {

class SockFtp : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new PyFtpServer;
    ASSERT_TRUE(server_->Start("sched-ftp"));
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  uint32_t LoginAdmin(Runner *runner) {
    return runner->Login(server_->port(), PyFtpServer::user(), PyFtpServer::password());
  }
  static PyFtpServer *server_;
};

PyFtpServer *SockFtp::server_ = nullptr;

TEST_F(SockFtp, LoginAcceptedRefusedAndAnonymous) {
  Runner good;
  EXPECT_EQ(0u, LoginAdmin(&good));
  EXPECT_NE(nullptr, *good.control());
  EXPECT_EQ(230u, good.value());

  Runner refused;
  EXPECT_EQ(0x800700D3u, refused.Login(server_->port(), PyFtpServer::user(), "wrong"));
  EXPECT_EQ(530u, refused.value());
  EXPECT_EQ(nullptr, *refused.control());

  Runner anonymous;
  EXPECT_EQ(0u, anonymous.Login(server_->port(), "", "guest@"));
  std::string pwd;
  EXPECT_EQ(0u, anonymous.Command(FTPSOCK_PWD, "", &pwd));
  EXPECT_EQ("/", pwd);
}

TEST_F(SockFtp, NothingListensAndBadArguments) {
  Runner runner;
  EXPECT_EQ(0x80070076u, runner.Login(1, "a", "b"));  // refused connect
  EXPECT_EQ(nullptr, *runner.control());
  EXPECT_EQ(0x800700D1u, runner.Login(server_->port(), "admin\r\nDELE x", "secret"));
  EXPECT_EQ(0u, LoginAdmin(&runner));
  EXPECT_EQ(0x800700D1u, runner.Command(11, ""));
  EXPECT_EQ(0x800700D1u, runner.Command(FTPSOCK_MKD, "a\r\nDELE b"));
  EXPECT_EQ(0x800700D4u, runner.Command(FTPSOCK_CWD, "no-such-directory"));
  EXPECT_EQ(550u, runner.value());
  FtpSockTransfer empty = Runner::Describe(FTPSOCK_RETR, true, "");
  EXPECT_EQ(0x800700D1u, runner.Transfer(&empty));
}

struct SizeMode {
  size_t size;
  bool passive;
};

class SockFtpSizes : public SockFtp, public ::testing::WithParamInterface<SizeMode> {};

TEST_P(SockFtpSizes, RetrAndStorArriveByteForByte) {
  const SizeMode param = GetParam();
  const std::string name = "f" + std::to_string(param.size) + (param.passive ? "p" : "a");
  const std::string content = Pattern(param.size);
  ASSERT_TRUE(kvtest::WriteFile(server_->root() + "/" + name, content));
  Runner runner;
  ASSERT_EQ(0u, LoginAdmin(&runner));

  std::string local = server_->work() + "/" + name;
  FtpSockTransfer get = Runner::Describe(FTPSOCK_RETR, param.passive, local, name);
  ASSERT_EQ(0u, runner.Transfer(&get));
  EXPECT_EQ(226u, runner.value());
  EXPECT_EQ(content, kvtest::ReadFile(local));

  // STOR names the part after the last '/': the file lands in the server's root.
  std::string upload_dir = server_->work() + "/up";
  ASSERT_TRUE(kvtest::MakeDir(upload_dir));
  std::string upload = upload_dir + "/u" + name;
  ASSERT_TRUE(kvtest::WriteFile(upload, content));
  FtpSockTransfer put = Runner::Describe(FTPSOCK_STOR, param.passive, upload);
  ASSERT_EQ(0u, runner.Transfer(&put));
  EXPECT_EQ(content, kvtest::ReadFile(server_->root() + "/u" + name));
}

INSTANTIATE_TEST_SUITE_P(Sizes, SockFtpSizes,
                         ::testing::Values(SizeMode{0, true}, SizeMode{1, true},
                                           SizeMode{100000, true}, SizeMode{0, false},
                                           SizeMode{1, false}, SizeMode{100000, false}),
                         [](const ::testing::TestParamInfo<SizeMode> &info) {
                           return std::to_string(info.param.size) +
                                  (info.param.passive ? "_passive" : "_active");
                         });

TEST_F(SockFtp, ListIntoTheCallersBuffer) {
  ASSERT_TRUE(kvtest::WriteFile(server_->root() + "/listed.txt", "x"));
  for (bool passive : {true, false}) {
    Runner runner;
    ASSERT_EQ(0u, LoginAdmin(&runner));
    FtpSockTransfer list = Runner::Describe(FTPSOCK_LIST, passive, "");
    ASSERT_EQ(0u, runner.Transfer(&list)) << passive;
    EXPECT_NE(nullptr, strstr(runner.listing, "listed.txt")) << runner.listing;

    // A buffer too small for the listing fails the transfer and is never overrun.
    char small[24 + 8];
    memset(small, '#', sizeof(small));
    FtpSockTransfer cut = Runner::Describe(FTPSOCK_LIST, passive, "");
    cut.listing = small;
    cut.listing_size = 24;
    EXPECT_EQ(0x800700D5u, runner.Transfer(&cut));
    EXPECT_EQ(std::string(8, '#'), std::string(small + 24, 8));
    EXPECT_LT(strlen(small), 24u);
  }
}

TEST_F(SockFtp, FailedDownloadLeavesTheLocalFileAsItWas) {
  Runner runner;
  ASSERT_EQ(0u, LoginAdmin(&runner));
  std::string local = server_->work() + "/kept.ini";
  ASSERT_TRUE(kvtest::WriteFile(local, "old contents"));
  FtpSockTransfer get = Runner::Describe(FTPSOCK_RETR, true, local, "missing.ini");
  EXPECT_EQ(0x800700D5u, runner.Transfer(&get));
  EXPECT_EQ(550u, runner.value());
  EXPECT_EQ("old contents", kvtest::ReadFile(local));

  // A local file that cannot be made fails after RETR was sent.
  ASSERT_TRUE(kvtest::WriteFile(server_->root() + "/there.ini", "abc"));
  FtpSockTransfer nowhere =
      Runner::Describe(FTPSOCK_RETR, true, server_->work() + "/no/such/dir/x", "there.ini");
  EXPECT_EQ(0x800700D6u, runner.Transfer(&nowhere));
  // The control connection is still good afterwards... or closed by the server; either way
  // an upload of a missing file is refused before anything is sent.
  FtpSockTransfer missing = Runner::Describe(FTPSOCK_STOR, true, server_->work() + "/absent");
  EXPECT_EQ(0x800700D6u, runner.Transfer(&missing));
  EXPECT_FALSE(FileExists(server_->root() + "/absent"));
}

// ---- Through an operation slot -------------------------------------------------------------

class SlotFtp : public SockFtp {
 protected:
  void SetUp() override {
    ASSERT_EQ(0u, Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER));
    ASSERT_EQ(0u, Kavrel_CreateDevice(handle_, &device_));
    Device_CopyString(device_->address, sizeof(device_->address), "127.0.0.1");
    Device_CopyString(device_->user, sizeof(device_->user), PyFtpServer::user());
    Device_CopyString(device_->password, sizeof(device_->password), PyFtpServer::password());
    device_->timeout_ms = 10000;
  }
  void TearDown() override {
    Kavrel_DeleteDevice(device_);
    EXPECT_EQ(0u, Kavrel_Release(&handle_));
  }
  KavrelHandle handle_ = nullptr;
  DeviceHandle device_ = nullptr;
};

TEST_F(SlotFtp, WaitingLoginAndDownload) {
  ASSERT_TRUE(kvtest::WriteFile(server_->root() + "/config.ini", "[network]\r\n"));
  OperationSlot *slot = TakeOperationSlot(device_);
  ASSERT_NE(nullptr, slot);
  FtpSockServer server;
  FtpSock_ServerOfDevice(device_, static_cast<uint32_t>(server_->port()), &server);
  ASSERT_EQ(0u, FtpSock_SlotLogin(slot, &server));
  ASSERT_NE(nullptr, slot->ftp_control);
  std::string local = server_->work() + "/slot.ini";
  FtpSockTransfer get = Runner::Describe(FTPSOCK_RETR, true, local, "config.ini");
  EXPECT_EQ(0u, FtpSock_SlotTransfer(slot, &get));
  EXPECT_EQ("[network]\r\n", kvtest::ReadFile(local));
  // Giving the slot back releases the control connection.
  ReleaseOperationSlot(slot);
  EXPECT_EQ(nullptr, slot->ftp_control);
}

TEST_F(SlotFtp, CompletionsReachTheWorkerThroughTheSlotsNode) {
  WorkerQueue queued(device_->context);
  ASSERT_TRUE(kvtest::WriteFile(server_->root() + "/async.bin", Pattern(20000)));
  OperationSlot *slot = TakeOperationSlot(device_);
  ASSERT_NE(nullptr, slot);
  slot->async = 1;
  FtpSockServer server;
  FtpSock_ServerOfDevice(device_, static_cast<uint32_t>(server_->port()), &server);
  ASSERT_EQ(0u, FtpSock_SlotLogin(slot, &server));
  EXPECT_EQ(0u, queued.Next());
  std::string local = server_->work() + "/async.bin";
  FtpSockTransfer get = Runner::Describe(FTPSOCK_RETR, false, local, "async.bin");
  ASSERT_EQ(0u, FtpSock_SlotTransfer(slot, &get));
  EXPECT_EQ(0u, queued.Next());
  EXPECT_EQ(Pattern(20000), kvtest::ReadFile(local));

  // A refused login arrives the same way, with its reply number in the token.
  Device_CopyString(server.password, sizeof(server.password), "wrong");
  ASSERT_EQ(0u, FtpSock_SlotLogin(slot, &server));
  EXPECT_EQ(0x800700D3u, queued.Next());
  EXPECT_EQ(530u, slot->token.value);
  EXPECT_EQ(nullptr, slot->ftp_control);
  ReleaseOperationSlot(slot);
}

}  // namespace
