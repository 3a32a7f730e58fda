#include "device.h"

#include <stdio.h>
#include <string.h>

#include "context.h"
#include "platform/log.h"

static void Slot_Init(OperationSlot *slot, KavrelDevice *device, char *buffer, uint32_t capacity) {
  slot->device = device;
  slot->reply_buffer = buffer;
  slot->reply_capacity = capacity;
}

// The device directory is private to this record: a failure leaves it empty, and whatever
// needs a local file then fails with a file error, rather than sharing one fixed directory
// between devices or processes.
static void Device_MakeDirectory(KavrelDevice *device) {
  std::string dir = OsMakePrivateTempDir("ext");
  std::string config = dir + "/" + "config.ini";
  if (dir.empty() || dir.size() >= sizeof(device->directory) ||
      config.size() >= sizeof(device->config_path)) {
    if (!dir.empty()) OsRemoveTree(dir);
    KV_FAIL("create device directory failed\n");
    device->directory[0] = '\0';
    device->config_path[0] = '\0';
    return;
  }
  snprintf(device->directory, sizeof(device->directory), "%s", dir.c_str());
  snprintf(device->config_path, sizeof(device->config_path), "%s", config.c_str());
}

uint32_t Device_Init(KavrelDevice *device, KavrelContext *context) {
  Device_MakeDirectory(device);
  device->http_port = 80;
  device->ftp_port = 21;
  device->timeout_ms = 60000;
  device->context = context;
  if (OsLockCreate(&device->lock) != 0) return KAVREL_E_NOMEM;
  for (OperationSlot &slot : device->slots) {
    Slot_Init(&slot, device, slot.inline_buffer, KAVREL_SLOT_BUFFER - 1);
  }
  Slot_Init(&device->exclusive, device, device->exclusive_buffer, KAVREL_EXCLUSIVE_BUFFER - 1);
  device->model_name = device->server_type;
  device->upgrade_flag = 1;
  return KAVREL_OK;
}

void Device_Free(KavrelDevice *device) {
  device->closing.store(1);
  if (device->config_path[0]) OsRemoveFile(device->config_path);
  if (device->directory[0]) OsRemoveTree(device->directory);
  device->directory[0] = '\0';
  device->config_path[0] = '\0';
  if (device->lock) OsLockDestroy(&device->lock);
}

uint32_t Device_Check(DeviceHandle device, int32_t max_level) {
  if (!device) {
    KV_FAIL("Handle NULL\n");
    return KAVREL_E_HANDLE;
  }
  if (!device->in_use.load()) {
    KV_FAIL("Handle not used\n");
    return KAVREL_E_INVALIDARG;
  }
  if (max_level != KAVREL_LEVEL_ANY && device->property_level > max_level) {
    KV_FAIL("Oper not available: %d, %d, %d\n", max_level, 9999, device->property_level);
    return KAVREL_E_NOT_AVAILABLE;
  }
  return KAVREL_OK;
}
