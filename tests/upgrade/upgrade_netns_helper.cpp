// Runs one upgrade and writes what happened to a file: the test of a device that goes away
// and comes back starts this program inside the host's network namespace (through
// "ip netns exec"), so that every socket the library makes, on any of its threads, lives
// there.
//
//   upgrade_netns_helper ADDRESS HTTP_PORT FTP_PORT MODEL CONFIG FIRMWARE WAIT_S OUTPUT
//
// OUTPUT receives one line "step N" per progress report and a last line "result 0x...".
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "core/device.h"
#include "firmware/upgrade.h"
#include "kavrel.h"
#include "test_paths.h"

namespace {

void KAVREL_CALL OnProgress(DeviceHandle, void *context, uint32_t, uint32_t step, uintptr_t) {
  FILE *out = static_cast<FILE *>(context);
  fprintf(out, "step %u\n", step);
  fflush(out);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 9) {
    fprintf(stderr, "usage: %s ADDRESS HTTP FTP MODEL CONFIG FIRMWARE WAIT_S OUTPUT\n", argv[0]);
    return 2;
  }
  FILE *out = fopen(argv[8], "w");
  if (!out) return 2;
  KavrelHandle context = nullptr;
  DeviceHandle device = nullptr;
  if (Kavrel_InitialEx(&context, 1, 0, KAVREL_VERSION_NUMBER) != 0 ||
      Kavrel_CreateDevice(context, &device) != 0) {
    fprintf(out, "result setup-failed\n");
    return 1;
  }
  // The device as Kavrel_SetDeviceProperty leaves it: described, its configuration local.
  Device_CopyString(device->address, sizeof device->address, argv[1]);
  Device_CopyString(device->user, sizeof device->user, "root");
  Device_CopyString(device->password, sizeof device->password, "pass");
  Device_CopyString(device->server_type, sizeof device->server_type, argv[4]);
  device->http_port = atoi(argv[2]);
  device->ftp_port = static_cast<uint32_t>(atoi(argv[3]));
  device->timeout_ms = 10000;
  if (Device_EnsureDirectory(device) != 0 ||
      !kvtest::WriteFile(device->config_path, kvtest::ReadFile(argv[5]))) {
    fprintf(out, "result config-failed\n");
    return 1;
  }
  Kavrel_SetExtraOptions(device, KAVREL_OPTION_RETURN_WAIT, strtoul(argv[7], nullptr, 10));
  Upgrade_SetPauseForTests(200);
  UpgradeRequest request{};
  snprintf(request.path, sizeof request.path, "%s", argv[6]);
  request.callback = OnProgress;
  request.context = out;
  uint32_t rc = Kavrel_Upgrade(device, &request);
  fprintf(out, "result 0x%08X\n", rc);
  fclose(out);
  Kavrel_Release(&context);
  return 0;
}
