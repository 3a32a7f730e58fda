// The namespace pair that tests of a vanishing device use: it isolates, it carries pings,
// its link goes down and up, and it leaves nothing behind.
#include <arpa/inet.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "icmp_echo.h"
#include "netns_fixture.h"
#include "test_paths.h"

namespace {

using kvtest::NetnsPair;

bool Exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// One echo exchange from inside the host namespace.
IcmpEchoResult PingOnce(NetnsPair &pair, uint16_t sequence) {
  IcmpEchoResult result = ICMP_ECHO_ERROR;
  std::string why;
  bool ran = pair.RunIn(NetnsPair::kHost, [&] {
    IcmpEchoSocket *s = nullptr;
    if (IcmpEcho_Open(inet_addr(NetnsPair::DeviceAddress()), 1000, &s) != 0) return;
    result = IcmpEcho_Send(s, sequence, 0);
    if (result == ICMP_ECHO_OK) result = IcmpEcho_WaitReply(s, sequence, 1000);
    IcmpEcho_Close(&s);
  }, &why);
  EXPECT_TRUE(ran) << why;
  return result;
}

TEST(NetnsPair, PingsCrossTheLinkAndStopWhenItIsDown) {
  NetnsPair pair;
  std::string why;
  if (!pair.Create(&why)) GTEST_SKIP() << why;
  // Neither end is in the machine's namespace.
  EXPECT_FALSE(Exists("/sys/class/net/kvh0"));
  EXPECT_FALSE(Exists("/sys/class/net/kvd0"));
  EXPECT_EQ(PingOnce(pair, 1), ICMP_ECHO_OK);

  ASSERT_TRUE(pair.SetLink(NetnsPair::kDevice, false));
  EXPECT_NE(PingOnce(pair, 2), ICMP_ECHO_OK);
  ASSERT_TRUE(pair.SetLink(NetnsPair::kDevice, true));
  EXPECT_TRUE(kvtest::WaitUntil([&] { return PingOnce(pair, 3) == ICMP_ECHO_OK; }, 15000));

  // Our own end down: the send is refused, which is told apart from a silent device.
  ASSERT_TRUE(pair.SetLink(NetnsPair::kHost, false));
  EXPECT_EQ(PingOnce(pair, 4), ICMP_ECHO_UNREACHABLE);
  ASSERT_TRUE(pair.SetLink(NetnsPair::kHost, true));
  EXPECT_TRUE(kvtest::WaitUntil([&] { return PingOnce(pair, 5) == ICMP_ECHO_OK; }, 15000));

  // The thread that ran in the namespace went back to its own: the test's thread still sees
  // the machine's namespace.
  EXPECT_FALSE(Exists("/sys/class/net/kvh0"));
  std::string host = pair.Name(NetnsPair::kHost), device = pair.Name(NetnsPair::kDevice);
  EXPECT_TRUE(Exists("/run/netns/" + host));
  pair.Remove();
  EXPECT_FALSE(Exists("/run/netns/" + host));
  EXPECT_FALSE(Exists("/run/netns/" + device));
}

TEST(NetnsPair, StaleNamespacesOfDeadTestsAreRemoved) {
  if (geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  // A process id that is certainly gone: a child that has exited and been reaped.
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  std::string stale = std::string(NetnsPair::Prefix()) + std::to_string(dead) + "-0-host";
  std::string mine = std::string(NetnsPair::Prefix()) + std::to_string(getpid()) + "-999-host";
  std::string log = kvtest::MakeTempDir("netns-stale") + "/ip.log";
  for (const std::string &name : {stale, mine}) {
    kvtest::ChildProcess ip;
    ASSERT_TRUE(ip.Start({"ip", "netns", "add", name}, log));
    ASSERT_TRUE(kvtest::WaitUntil([&] { return !ip.Running(); }, 20000));
  }
  NetnsPair::RemoveStale();
  EXPECT_FALSE(Exists("/run/netns/" + stale));
  EXPECT_TRUE(Exists("/run/netns/" + mine));  // its process is alive: not stale
  kvtest::ChildProcess ip;
  ASSERT_TRUE(ip.Start({"ip", "netns", "delete", mine}, log));
  ASSERT_TRUE(kvtest::WaitUntil([&] { return !ip.Running(); }, 20000));
}

}  // namespace
