// Kavrel_AbortUpgrade from another thread, as a host calls it: before the device is touched
// the upgrade stops at once; once the device's network reset is switched off, an abort ends it
// with 0x80060314 and the reset switched on again.
#include <atomic>
#include <chrono>
#include <functional>
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

// The host aborts once the device has seen `what` (a request line of its log).
class AbortWhen {
 public:
  AbortWhen(kvtest::Devsim *sim, DeviceHandle device,
            std::function<bool(const kvtest::DevsimLogEntry &)> what)
      : host_([this, sim, device, what] {
          auto seen = [&] {
            for (const auto &e : sim->Log(0, "dev")) {
              if (what(e)) return true;
            }
            return false;
          };
          while (!done_.load() && !seen()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
          }
          if (!done_.load()) {
            EXPECT_EQ(Kavrel_AbortUpgrade(device), KAVREL_OK);
          }
        }) {}
  ~AbortWhen() {
    done_.store(true);
    host_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::thread host_;
};

// An abort while step 14's request is unanswered ends that request at once, not its time-out,
// and restores nothing: the request did not take effect.
TEST_F(UpgradeTest, AbortEndsTheNetworkResetRequestAtOnce) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "resetip=1,down=0.2"}}));
  ASSERT_TRUE(sim_.AddFault(
      "dev", R"({"path": "/cgi-bin/admin/setparam.cgi", "no_answer": true, "times": 1})"));
  DeviceHandle device = Bind("dev");
  const auto request_timeout = std::chrono::seconds(120);  // below the test's own time-out
  device->timeout_ms = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(request_timeout).count());
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 4000, "RZ7161"));
  Recorder rec;
  uint32_t rc;
  auto started = std::chrono::steady_clock::now();
  {
    AbortWhen host(&sim_, device, [](const kvtest::DevsimLogEntry &e) {
      return e.path == "/cgi-bin/admin/setparam.cgi";
    });
    rc = Upgrade(device, file, &rec);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, request_timeout)
      << "the request ran to its time-out: the abort did not reach it";
  EXPECT_EQ(rc, KAVREL_E_ABORTED);
  EXPECT_EQ(Queries("dev", "/cgi-bin/admin/setparam.cgi").size(), 1u) << "no restore";
  EXPECT_TRUE(FtpArgs("dev", "USER").empty());
}

// An abort while the FTP login is unanswered ends the login; the device's network reset,
// switched off by step 14 already, is switched on again.
TEST_F(UpgradeTest, AbortDuringTheLoginRestoresTheNetworkReset) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "resetip=1,down=0.2"}}));
  ASSERT_TRUE(sim_.AddFault("dev", R"({"ftp": "no_answer", "command": "PASS", "times": 1})"));
  DeviceHandle device = Bind("dev");
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 4000, "RZ7161"));
  Recorder rec;
  uint32_t rc;
  {
    AbortWhen host(&sim_, device, [](const kvtest::DevsimLogEntry &e) {
      return e.proto == "ftp" && e.method == "PASS";
    });
    rc = Upgrade(device, file, &rec);
  }
  EXPECT_EQ(rc, KAVREL_E_ABORTED);
  std::vector<std::string> q = Queries("dev", "/cgi-bin/admin/setparam.cgi");
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(q[0].rfind("Network_resetip=0", 0), 0u);
  EXPECT_EQ(q[1], "Network_resetip=1&System_reset=1");
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_CONNECTED));
  EXPECT_TRUE(FtpArgs("dev", "STOR").empty());
}

}  // namespace
}  // namespace fwtest
