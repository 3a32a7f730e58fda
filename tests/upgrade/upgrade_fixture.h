// What the upgrade's tests share: a simulator, a library context, level-0 devices bound to
// simulated ones, a recorder of progress steps, and readers of the request log.
#pragma once

#include <stdint.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/device.h"
#include "devsim_fixture.h"
#include "firmware/upgrade.h"
#include "firmware_files.h"
#include "kavrel.h"

namespace fwtest {

// One progress report: its step, the name it carried, or a copy of the progress record.
struct StepRecord {
  uint32_t step = 0;
  std::string name;
  KavrelUpgradeProgress progress{};
};

// Collects the reports of one upgrade. `hook`, when set, runs inside the callback.
class Recorder {
 public:
  static void KAVREL_CALL Callback(DeviceHandle device, void *context, uint32_t event,
                                   uint32_t step, uintptr_t data);
  std::vector<StepRecord> steps();
  std::vector<uint32_t> numbers();
  std::vector<std::string> names(uint32_t step);
  bool Saw(uint32_t step);
  std::function<void(DeviceHandle, uint32_t step, uintptr_t data)> hook;

 private:
  std::mutex mutex_;
  std::vector<StepRecord> steps_;
};

// The installed firmware tree of every simulated device (tools/devsim/devsim/pages/firmware.py).
Tree InstalledTree();

class UpgradeTest : public ::testing::Test {
 protected:
  // The fixed pauses shortened so that a device with a down time of 0.3 s is back.
  static constexpr uint32_t kPauseMs = 800;

  void SetUp() override;
  void TearDown() override;

  // Starts the simulator; false on failure.
  bool StartSim(const std::vector<kvtest::DevsimDeviceSpec> &devices);
  // A level-0 device bound to the simulated device `name`, with its configuration fetched
  // from the device and skip-wait set unless `wait` is true.
  DeviceHandle Bind(const std::string &name, bool wait = false);
  // Runs an upgrade of `file`, recording into `recorder`.
  uint32_t Upgrade(DeviceHandle device, const std::string &file, Recorder *recorder);

  // The simulated device's request log: FTP commands with argument, or HTTP queries of a path.
  std::vector<std::string> FtpArgs(const std::string &device, const std::string &command);
  std::vector<std::string> Queries(const std::string &device, const std::string &path);
  std::string Root(const std::string &device) { return sim_.Device(device)->ftp_root; }
  // A file in the test's folder.
  std::string TestFile(const std::string &name) { return dir_ + "/" + name; }

  kvtest::Devsim sim_;
  KavrelHandle context_ = nullptr;
  std::string dir_;
};

}  // namespace fwtest
