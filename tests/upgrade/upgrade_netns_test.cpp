// The wait for a device's return, for real: the simulator runs in one network namespace,
// bound to its end of a veth pair, and its restart takes that link down and up again; the
// upgrade runs in the other namespace (a helper program started there), so the probe's echo
// requests cross the link.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "devsim_fixture.h"
#include "firmware_files.h"
#include "netns_fixture.h"
#include "test_paths.h"

namespace {

using kvtest::NetnsPair;

TEST(UpgradeNetns, TheDeviceGoesAwayOnResetAndReturns) {
  NetnsPair pair;
  std::string why;
  if (!pair.Create(&why)) GTEST_SKIP() << why;
  std::string dir = kvtest::MakeTempDir("upgrade-netns");
  ASSERT_FALSE(dir.empty());
  std::string ready = dir + "/ready.json";
  kvtest::ChildProcess sim;
  ASSERT_TRUE(sim.Start({"ip", "netns", "exec", pair.Name(NetnsPair::kDevice), "/bin/sh",
                         kvtest::DevsimScript(), "--bind", NetnsPair::DeviceAddress(),
                         "--workdir", dir, "--ready-file", ready, "--parent-pid",
                         std::to_string(getpid()), "--device",
                         std::string("model=RZ7161,name=dev,down=2,iface=") +
                             NetnsPair::LinkName(NetnsPair::kDevice)},
                        dir + "/devsim.log"));
  kvtest::Json info;
  ASSERT_TRUE(kvtest::WaitUntil(
      [&] { return !sim.Running() || kvtest::Json::Parse(kvtest::ReadFile(ready), &info); },
      20000));
  ASSERT_EQ(info.kind, kvtest::Json::kObject) << kvtest::ReadFile(dir + "/devsim.log");
  const kvtest::Json &device = info["devices"].items.at(0);

  std::string firmware = dir + "/image.bin";
  ASSERT_TRUE(fwtest::WritePlainImage(firmware, 8000, "RZ7161"));
  std::string output = dir + "/upgrade.out";
  kvtest::ChildProcess helper;
  ASSERT_TRUE(helper.Start({"ip", "netns", "exec", pair.Name(NetnsPair::kHost),
                            UPGRADE_NETNS_HELPER, NetnsPair::DeviceAddress(),
                            std::to_string(device["http"].Int()),
                            std::to_string(device["ftp"].Int()), "RZ7161",
                            device["config"].text, firmware, "60", output},
                           dir + "/helper.log"));
  ASSERT_TRUE(kvtest::WaitUntil([&] { return !helper.Running(); }, 90000));
  std::string steps = kvtest::ReadFile(output);
  EXPECT_NE(steps.find("step 8\nstep 9\nstep 10\nstep 11\n"), std::string::npos) << steps;
  EXPECT_NE(steps.find("result 0x00000000"), std::string::npos) << steps;
  std::string log = kvtest::ReadFile(dir + "/requests.jsonl");
  EXPECT_NE(log.find("\"LINK\", \"path\": \"kvd0\", \"query\": \"down\""), std::string::npos);
}

}  // namespace
