#include "upgrade_fixture.h"

#include <stdio.h>

#include "test_paths.h"

namespace fwtest {

void KAVREL_CALL Recorder::Callback(DeviceHandle device, void *context, uint32_t event,
                                    uint32_t step, uintptr_t data) {
  Recorder *self = static_cast<Recorder *>(context);
  EXPECT_EQ(event, KAVREL_EVENT_UPGRADE);
  StepRecord record;
  record.step = step;
  bool progress = step == KAVREL_UPGRADE_SENDING || step == KAVREL_UPGRADE_FILE_ENDED;
  if (progress && data) {
    record.progress = *reinterpret_cast<const KavrelUpgradeProgress *>(data);
  } else if (data) {
    record.name = reinterpret_cast<const char *>(data);
  }
  {
    std::lock_guard<std::mutex> hold(self->mutex_);
    self->steps_.push_back(record);
  }
  if (self->hook) self->hook(device, step, data);
}

std::vector<StepRecord> Recorder::steps() {
  std::lock_guard<std::mutex> hold(mutex_);
  return steps_;
}

std::vector<uint32_t> Recorder::numbers() {
  std::vector<uint32_t> out;
  for (const StepRecord &r : steps()) out.push_back(r.step);
  return out;
}

std::vector<std::string> Recorder::names(uint32_t step) {
  std::vector<std::string> out;
  for (const StepRecord &r : steps()) {
    if (r.step == step) out.push_back(r.name);
  }
  return out;
}

bool Recorder::Saw(uint32_t step) {
  for (const StepRecord &r : steps()) {
    if (r.step == step) return true;
  }
  return false;
}

Tree InstalledTree() {
  std::string app;
  for (int i = 0; i < 64; ++i) app += "APP-OLD";
  return {{"boot.cfg", "boot=flash\n"},
          {"app.bin", app},
          {"www/index.html", "<html>old index</html>\n"},
          {"www/old.html", "<html>old page</html>\n"},
          {"www/images/logo.gif", "GIF89a-old-logo"},
          {"www/images/icons/cam.gif", "GIF89a-old-cam"},
          {"cgi/old.cgi", "#!old\n"}};
}

void UpgradeTest::SetUp() {
  ASSERT_EQ(Kavrel_InitialEx(&context_, 8, 0, KAVREL_VERSION_NUMBER), KAVREL_OK);
  Upgrade_SetPauseForTests(kPauseMs);
  dir_ = kvtest::MakeTempDir("upgrade");
  ASSERT_FALSE(dir_.empty());
}

void UpgradeTest::TearDown() {
  Kavrel_Release(&context_);
  Upgrade_SetPauseForTests(0);
  sim_.Stop();
}

bool UpgradeTest::StartSim(const std::vector<kvtest::DevsimDeviceSpec> &devices) {
  return sim_.Start(devices);
}

// The device's configuration as Kavrel_SetDeviceProperty leaves it: the device's own file
// in the record's local configuration path, property level 0.
DeviceHandle UpgradeTest::Bind(const std::string &name, bool wait) {
  const kvtest::DevsimDevice *sim_device = sim_.Device(name);
  EXPECT_NE(sim_device, nullptr) << name;
  if (!sim_device) return nullptr;
  DeviceHandle device = nullptr;
  EXPECT_EQ(Kavrel_CreateDevice(context_, &device), KAVREL_OK);
  if (!device) return nullptr;
  Device_CopyString(device->address, sizeof device->address, "127.0.0.1");
  Device_CopyString(device->user, sizeof device->user, sim_device->user.c_str());
  Device_CopyString(device->password, sizeof device->password, sim_device->password.c_str());
  Device_CopyString(device->server_type, sizeof device->server_type, sim_device->model.c_str());
  device->http_port = sim_device->http_port;
  device->ftp_port = static_cast<uint32_t>(sim_device->ftp_port);
  device->timeout_ms = 10000;
  device->property_level = 0;
  EXPECT_EQ(Device_EnsureDirectory(device), KAVREL_OK);
  EXPECT_TRUE(kvtest::WriteFile(device->config_path, kvtest::ReadFile(sim_device->config_path)));
  if (!wait) {
    EXPECT_EQ(Kavrel_SetExtraOptions(device, KAVREL_OPTION_SKIP_WAIT, 1), KAVREL_OK);
  }
  return device;
}

uint32_t UpgradeTest::Upgrade(DeviceHandle device, const std::string &file, Recorder *recorder) {
  UpgradeRequest request{};
  snprintf(request.path, sizeof request.path, "%s", file.c_str());
  request.callback = Recorder::Callback;
  request.context = recorder;
  return Kavrel_Upgrade(device, &request);
}

std::vector<std::string> UpgradeTest::FtpArgs(const std::string &device,
                                              const std::string &command) {
  std::vector<std::string> out;
  for (const kvtest::DevsimLogEntry &e : sim_.Log(0, device)) {
    if (e.proto == "ftp" && e.method == command) out.push_back(e.path);
  }
  return out;
}

std::vector<std::string> UpgradeTest::Queries(const std::string &device, const std::string &path) {
  std::vector<std::string> out;
  for (const kvtest::DevsimLogEntry &e : sim_.Log(0, device)) {
    if (e.proto == "http" && e.path == path) out.push_back(e.query);
  }
  return out;
}

}  // namespace fwtest
