// The reachability probe against real ICMP: loopback, where the device never goes away, and
// a pair of network namespaces whose link is taken down and brought up again.
#include <string.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "firmware/probe.h"
#include "netns_fixture.h"
#include "test_paths.h"

namespace {

using kvtest::NetnsPair;

// A device record holding only what the probe reads, with a progress callback that records
// the steps.
struct ProbeDevice {
  std::unique_ptr<KavrelDevice> record{new KavrelDevice()};
  std::mutex mutex;
  std::vector<uint32_t> steps;

  explicit ProbeDevice(const char *address) {
    Device_CopyString(record->address, sizeof record->address, address);
    record->upgrade_callback = reinterpret_cast<void *>(&ProbeDevice::Progress);
    record->upgrade_context = this;
  }
  static void Progress(DeviceHandle device, void *context, uint32_t operation, uint32_t step,
                       uintptr_t value) {
    ProbeDevice *self = static_cast<ProbeDevice *>(context);
    EXPECT_EQ(device, self->record.get());
    EXPECT_EQ(operation, 111u);
    EXPECT_EQ(value, 0u);
    std::lock_guard<std::mutex> hold(self->mutex);
    self->steps.push_back(step);
  }
  std::vector<uint32_t> Steps() {
    std::lock_guard<std::mutex> hold(mutex);
    return steps;
  }
  bool Saw(uint32_t step) {
    std::vector<uint32_t> s = Steps();
    return std::find(s.begin(), s.end(), step) != s.end();
  }
};

TEST(ProbeAddress, OnlyStrictDottedAddresses) {
  const char *bad[] = {"localhost", "255.255.255.255", "1.2.3",    "1.2.3.4.5", "01.2.3.4",
                       "1.2.3.256", " 1.2.3.4",        "1.2.3.4 ", "",          "1..2.3",
                       "1.2.3.4/8", "0x7f.0.0.1",      "1234.1.1.1"};
  for (const char *text : bad) {
    uint32_t address = 0;
    EXPECT_EQ(Probe_ParseAddress(text, &address), 0) << text;
  }
  uint32_t address = 0;
  ASSERT_EQ(Probe_ParseAddress("10.77.0.2", &address), 1);
  const uint8_t *b = reinterpret_cast<const uint8_t *>(&address);
  EXPECT_EQ(b[0], 10);
  EXPECT_EQ(b[1], 77);
  EXPECT_EQ(b[2], 0);
  EXPECT_EQ(b[3], 2);
  EXPECT_EQ(Probe_ParseAddress("0.0.0.0", &address), 1);
  EXPECT_EQ(Probe_ParseAddress("255.255.255.254", &address), 1);
}

TEST(Probe, HostNameFailsBeforeAnySocket) {
  ProbeDevice device("localhost");
  EXPECT_EQ(PingUntilServerReturned(5000, device.record.get()), 0x80060313u);
  EXPECT_TRUE(device.Steps().empty());
}

TEST(Probe, LoopbackDeviceNeverGoesAway) {
  ProbeDevice device("127.0.0.1");
  // Our own requests reach a raw socket on loopback before the replies; neither may count as
  // the device being gone.
  EXPECT_EQ(PingUntilServerReturned(3500, device.record.get()), 0x80060302u);
  EXPECT_EQ(device.Steps(), std::vector<uint32_t>{9});
}

// Runs the probe in the host namespace on its own thread while the test drives the link.
class ProbeInNamespaces : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!pair_.Create(&why)) GTEST_SKIP() << why;
  }
  void Start(uint32_t timeout_ms) {
    runner_ = std::thread([this, timeout_ms] {
      std::string why;
      bool ran = pair_.RunIn(NetnsPair::kHost, [&] {
        result_ = PingUntilServerReturned(timeout_ms, device_.record.get());
      }, &why);
      if (!ran) result_ = 1;
      done_ = true;
    });
  }
  uint32_t Finish() {
    EXPECT_TRUE(kvtest::WaitUntil([this] { return done_.load(); }, 60000));
    runner_.join();
    return result_;
  }
  // The device answered at least one round before the link goes down: step 9 and a second.
  void LetOneRoundPass() {
    ASSERT_TRUE(kvtest::WaitUntil([this] { return device_.Saw(9); }, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_FALSE(device_.Saw(10));
  }
  void DownThenUp(NetnsPair::Side side) {
    Start(60000);
    LetOneRoundPass();
    ASSERT_TRUE(pair_.SetLink(side, false));
    EXPECT_TRUE(kvtest::WaitUntil([this] { return device_.Saw(10); }, 15000));
    ASSERT_TRUE(pair_.SetLink(side, true));
    EXPECT_EQ(Finish(), 0u);
    EXPECT_EQ(device_.Steps(), (std::vector<uint32_t>{9, 10, 11}));
  }

  NetnsPair pair_;
  ProbeDevice device_{NetnsPair::DeviceAddress()};
  std::thread runner_;
  std::atomic<bool> done_{false};
  std::atomic<uint32_t> result_{0};
};

TEST_F(ProbeInNamespaces, DeviceEndDownThenUp) { DownThenUp(NetnsPair::kDevice); }

TEST_F(ProbeInNamespaces, OurEndDownThenUp) { DownThenUp(NetnsPair::kHost); }

TEST_F(ProbeInNamespaces, AbortEndsTheWait) {
  Start(60000);
  LetOneRoundPass();
  ASSERT_TRUE(pair_.SetLink(NetnsPair::kDevice, false));
  ASSERT_TRUE(kvtest::WaitUntil([this] { return device_.Saw(10); }, 15000));
  device_.record->upgrade_abort.store(1);
  EXPECT_EQ(Finish(), 0x80060314u);
  EXPECT_EQ(device_.Steps(), (std::vector<uint32_t>{9, 10}));
}

TEST_F(ProbeInNamespaces, DeviceThatNeverReturnsTimesOut) {
  ASSERT_TRUE(pair_.SetLink(NetnsPair::kDevice, false));
  Start(3500);
  EXPECT_EQ(Finish(), 0x80060302u);
  EXPECT_EQ(device_.Steps(), (std::vector<uint32_t>{9, 10}));
}

}  // namespace
