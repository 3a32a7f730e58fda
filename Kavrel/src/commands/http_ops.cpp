// Generic HTTP operations and the per-device extra options.
#include <string.h>

#include "core/operation.h"
#include "platform/log.h"

namespace {

// Paths are sent unencoded, so they are checked like every request built from caller text.
constexpr size_t kPathMax = 1024;

uint32_t CheckPath(const char *path) {
  if (!path) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  if (strncmp(path, "http://", 7) == 0) {
    KV_FAIL("url could not include http part\n");
    return KAVREL_E_INVALIDARG;
  }
  if (path[0] != '/') {
    KV_FAIL("cmd should start from root\n");
    return KAVREL_E_INVALIDARG;
  }
  if (!Operation_RequestIsSafe(path, kPathMax)) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  return KAVREL_OK;
}

uint32_t SetProxy(KavrelDevice *device, const KavrelProxyInfo *proxy) {
  if (!proxy) return KAVREL_E_INVALIDARG;
  device->proxy_address = proxy->address;
  device->proxy_user = proxy->user;
  device->proxy_password = proxy->password;
  device->proxy_port = proxy->port;
  NetClientProxyInfo info{proxy->address, nullptr, proxy->user, proxy->password, proxy->port};
  if (!proxy->address) return KAVREL_OK;  // no proxy
  // A context made later picks the proxy up from the record.
  NetClientHandle client = Device_NetClientIfMade(device);
  return client ? NetClient_SetProxy(client, 0, &info) : KAVREL_OK;
}

}  // namespace

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_HttpOperation(DeviceHandle device, const char *path,
                                                        int32_t post, int32_t async) {
  uint32_t rc = CheckPath(path);
  if (rc != KAVREL_OK) return rc;
  OperationSlot *slot = nullptr;
  rc = Operation_Begin(device, KAVREL_LEVEL_ANY, async, KIND_HTTP, &slot);
  if (rc != KAVREL_OK) return rc;
  return Operation_Submit(slot, path, 0, post);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_HttpOperationRead(DeviceHandle device, const char *path,
                                                            char *buffer, uint32_t *size,
                                                            int32_t post, int32_t async) {
  uint32_t rc = CheckPath(path);
  if (rc != KAVREL_OK) return rc;
  OperationSlot *slot = nullptr;
  rc = Operation_Begin(device, KAVREL_LEVEL_ANY, async, KIND_HTTP_READ, &slot);
  if (rc != KAVREL_OK) return rc;
  if (!buffer || !size || *size < 2) {
    ReleaseOperationSlot(slot);
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  Operation_UseBuffer(slot, buffer, *size);
  if (slot->async) {
    rc = HttpCommandToServer(device, path, 1, 1, post, slot);
    if (rc != 0) ReleaseOperationSlot(slot);
    return rc;
  }
  rc = HttpCommandToServer(device, path, 0, 1, post, slot);
  if (rc == 0 || rc == KAVREL_S_BUFFER_FULL) {
    *size = slot->reply_count;
  } else {
    KV_LOG(KAVREL_LOG_LOWER, "HttpCommandToServer (%s) failed: %X\n", KV_MASKED(path), rc);
  }
  ReleaseOperationSlot(slot);
  return rc;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetExtraOptions(DeviceHandle device, uint32_t option,
                                                          uintptr_t value) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (rc != KAVREL_OK) return rc;
  switch (option) {
    case KAVREL_OPTION_RESET_AFTER_UPGRADE:
      device->reset_after_upgrade = value != 0;
      return KAVREL_OK;
    case KAVREL_OPTION_RETURN_WAIT:
      if (value > 120) return KAVREL_E_INVALIDARG;
      device->return_wait_s = static_cast<uint32_t>(value);
      return KAVREL_OK;
    case KAVREL_OPTION_PROXY:
      return SetProxy(device, reinterpret_cast<const KavrelProxyInfo *>(value));
    case KAVREL_OPTION_FLASH_ALL:
      if (Device_Series(device) != '7') return KAVREL_E_INVALIDARG;
      device->flash_all = value != 0;
      return KAVREL_OK;
    case KAVREL_OPTION_SKIP_WAIT:
      if (value) device->skip_wait = 1;
      return KAVREL_OK;
    case KAVREL_OPTION_SETTLE_PAUSE:
      if (value > KAVREL_SETTLE_PAUSE_MAX_MS) return KAVREL_E_INVALIDARG;
      device->settle_pause_ms = static_cast<uint32_t>(value);
      return KAVREL_OK;
    default:
      return KAVREL_E_INVALIDARG;
  }
}

}  // extern "C"
