// Kavrel_AbortUpgrade from another thread, as a host calls it: before the device is touched
// the upgrade stops at once; during an upload that can still be stopped it ends aborted with
// the device's network settings restored.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "upgrade_fixture.h"

namespace fwtest {
namespace {

const std::string kRestoreLow = "[SYSTEM]\n<reset system>\nYES\n[NETWORK]\n<install enabled>\nYES\n";

TEST_F(UpgradeTest, AbortDuringTheUploadEndsAbortedAndRestores) {
  ASSERT_TRUE(StartSim({{"KM3111", "dev", "", "", "", "", "install=yes,down=0.3"}}));
  DeviceHandle device = Bind("dev", /*wait=*/true);
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 600 * 1024, "KM3111"));
  Recorder rec;
  std::atomic<bool> sending{false};
  rec.hook = [&](DeviceHandle, uint32_t step, uintptr_t data) {
    if (step == KAVREL_UPGRADE_SENDING &&
        reinterpret_cast<const KavrelUpgradeProgress *>(data)->sent > 0) {
      sending.store(true);
    }
  };
  std::atomic<bool> finished{false};
  std::thread host([&] {
    while (!sending.load() && !finished.load()) std::this_thread::yield();
    EXPECT_EQ(Kavrel_AbortUpgrade(device), KAVREL_OK);
  });
  uint32_t rc = Upgrade(device, file, &rec);
  finished.store(true);
  host.join();

  EXPECT_EQ(rc, KAVREL_E_ABORTED);
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_PROBING)) << "no wait after an abort";
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_FILE_SENT));
  EXPECT_TRUE(Queries("dev", "/cgi-bin/admin/setparam.cgi").empty()) << "no System_reset";
  EXPECT_EQ(FtpArgs("dev", "STOR"),
            (std::vector<std::string>{"config.ini", "flash.bin", "config.ini"}));
  EXPECT_TRUE(kvtest::WaitUntil([&] { return Slurp(Root("dev") + "/config.ini") == kRestoreLow; },
                                10000));
  EXPECT_FALSE(Exists(std::string(device->directory) + "/extupgrade"));
}

TEST_F(UpgradeTest, AbortDuringTheUnpackStopsBeforeTheDeviceIsTouched) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "resetip=1"}}));
  DeviceHandle device = Bind("dev");
  std::string file = TestFile("big.pkg");
  ASSERT_TRUE(WritePackage(file, kMagicType2, {{"big/blob.bin", std::string(32 << 20, 'b')}}));
  // The host keeps asking from the moment it starts the upgrade: a request that arrives
  // while the package is being unpacked must not be lost.
  std::atomic<bool> finished{false};
  std::thread host([&] {
    while (!finished.load()) {
      EXPECT_EQ(Kavrel_AbortUpgrade(device), KAVREL_OK);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  Recorder rec;
  uint32_t rc = Upgrade(device, file, &rec);
  finished.store(true);
  host.join();
  EXPECT_EQ(rc, KAVREL_E_ABORTED);
  EXPECT_TRUE(sim_.Log(0, "dev").empty()) << "nothing reached the device";
  EXPECT_FALSE(Exists(std::string(device->directory) + "/extupgrade"));
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_CONNECTED));
}

}  // namespace
}  // namespace fwtest
