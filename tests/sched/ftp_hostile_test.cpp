// The socket FTP client against a scripted peer that bends the protocol: one table row per
// exchange with its expected outcome, each run with the peer's replies whole and again
// split into one packet per byte, which must give the same outcome. No row may crash, hang
// or leave a cut file.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ftp_peer.h"
#include "ftp_runner.h"
#include "test_paths.h"

using ftptest::Peer;
using ftptest::PeerPlan;
using ftptest::Pattern;
using ftptest::Runner;
using kvtest::FileExists;

namespace {

struct Row {
  const char *name;
  PeerPlan plan;
  bool download;     // log in, then RETR "file" passively
  uint32_t status;   // of the login, or of the download when there is one
  uint32_t value;    // the reply number reported (0: not checked)
  uint32_t timeout_ms;
  const char *sent;  // a command line the peer must have received ("" none)
};

PeerPlan With(std::function<void(PeerPlan *)> change) {
  PeerPlan plan;
  change(&plan);
  return plan;
}

std::vector<Row> Rows() {
  const std::string file = Pattern(100000);
  return {
      {"greeting_with_continuation_lines",
       With([](PeerPlan *p) { p->greeting = "220-welcome\r\n220-to the peer\r\n220 ready\r\n"; }),
       false, 0, 230, 10000, "PASS pw"},
      {"greeting_120_then_220",
       With([](PeerPlan *p) { p->greeting = "120 ready in a moment\r\n220 ready\r\n"; }), false,
       0, 230, 10000, "USER user"},
      {"greeting_4xx", With([](PeerPlan *p) { p->greeting = "421 too many users\r\n"; }), false,
       0x800700D2u, 421, 10000, ""},
      {"password_refused", With([](PeerPlan *p) { p->replies["PASS"] = "530 wrong\r\n"; }),
       false, 0x800700D3u, 530, 10000, "PASS pw"},
      {"user_refused", With([](PeerPlan *p) { p->replies["USER"] = "430 go away\r\n"; }), false,
       0x800700D3u, 430, 10000, "USER user"},
      {"account_asked_for", With([](PeerPlan *p) {
         p->replies["USER"] = "332 need an account\r\n";
         p->replies["ACCT"] = "230-welcome\r\n230 in\r\n";
       }),
       false, 0, 230, 10000, "ACCT acct"},
      {"endless_reply_line", With([](PeerPlan *p) { p->greeting = std::string(7000, '2'); }),
       false, 0x800700D2u, 0, 60000, ""},
      {"silent_server", With([](PeerPlan *p) { p->greeting = ""; }), false, 0x80070042u, 0,
       1000, ""},
      {"download", With([&](PeerPlan *p) { p->data = file; }), true, 0, 226, 10000,
       "RETR file"},
      {"final_reply_with_the_1xx", With([&](PeerPlan *p) {
         p->data = file;
         p->final_with_preliminary = true;
       }),
       true, 0, 226, 10000, "RETR file"},
      {"data_closed_early", With([&](PeerPlan *p) {
         p->data = file;
         p->data_cut = 5000;
         p->final_reply = "426 connection closed; transfer aborted\r\n";
       }),
       true, 0x800700D5u, 426, 10000, "RETR file"},
      {"malformed_pasv", With([](PeerPlan *p) { p->pasv = "227 Passive (127,0,0,1,x,1)\r\n"; }),
       true, 0x800700D8u, 227, 10000, "PASV"},
      {"pasv_names_another_host", With([&](PeerPlan *p) {
         p->pasv = "227 Passive (10,255,0,1,%P1%,%P2%)\r\n";
         p->data = file;
       }),
       true, 0, 226, 10000, "RETR file"},
      {"type_refused", With([](PeerPlan *p) { p->replies["TYPE"] = "504 no\r\n"; }), true,
       0x800700D4u, 504, 10000, "TYPE I"},
      {"control_closed_before_final_reply", With([&](PeerPlan *p) {
         p->data = file;
         p->final_reply = "";
       }),
       true, 0x800700D5u, 0, 10000, "RETR file"},
  };
}

class Hostile : public ::testing::TestWithParam<bool> {};

TEST_P(Hostile, EachRowGivesItsOutcome) {
  const bool split = GetParam();
  std::string dir = kvtest::MakeTempDir(split ? "ftp-hostile-split" : "ftp-hostile");
  ASSERT_FALSE(dir.empty());
  const std::string expected = Pattern(100000);
  for (Row row : Rows()) {
    SCOPED_TRACE(row.name);
    row.plan.split_every_byte = split;
    Peer peer(row.plan);
    Runner runner;
    uint32_t status = runner.Login(peer.port(), "user", "pw", "acct", row.timeout_ms);
    std::string local = dir + "/" + row.name;
    if (row.download) {
      ASSERT_EQ(0u, status);
      FtpSockTransfer get = Runner::Describe(FTPSOCK_RETR, true, local, "file");
      status = runner.Transfer(&get);
    }
    EXPECT_EQ(row.status, status);
    if (row.value) {
      EXPECT_EQ(row.value, runner.value());
    }
    if (row.download && row.status == 0) {
      EXPECT_EQ(expected, kvtest::ReadFile(local));
    }
    if (row.download && row.status != 0) {
      EXPECT_FALSE(FileExists(local));
    }
    if (row.sent[0]) {
      std::vector<std::string> commands = peer.Commands();
      EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), row.sent));
    }
    if (!row.download && row.status != 0) {
      EXPECT_EQ(nullptr, *runner.control());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Replies, Hostile, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return info.param ? "split_every_byte" : "whole";
                         });

}  // namespace
