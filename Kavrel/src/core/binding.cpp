// Binding a device to the configuration it holds: Kavrel_SetDeviceProperty describes it and
// fetches the configuration, Kavrel_GetDeviceModel reads the software version from it, and
// Kavrel_OpenDevice checks that version and binds the model's parameters by it.
#include <string.h>

#include "catalog/model_catalog.h"
#include "config/config_store.h"
#include "config/config_transfer.h"
#include "core/operation.h"
#include "platform/log.h"

namespace {

// The catalogue and the model library fail with small negative numbers; result codes with the
// failure bit, read as signed, lie far below.
constexpr int32_t kCatalogSmallestFailure = -0xFFFF;

// The checks of the two model functions, then the device's software version from its local
// file. 0, or the first failure's code (logged).
uint32_t ReadVersion(KavrelDevice *device, const char *model, char value[CONFIG_VALUE_MAX]) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (rc != KAVREL_OK) return rc;
  if (!model) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  rc = Device_EnsureDirectory(device);
  if (rc != KAVREL_OK) return rc;
  rc = ConfigStore_GetDeviceValue(device, value, "SYSTEM", "software version", -1);
  if (rc != KAVREL_OK) rc = ConfigStore_GetDeviceValue(device, value, "SYSTEM", "firmwareversion", -1);
  if (rc != KAVREL_OK) KV_FAIL("Could not find software version or firmwareversion\n");
  return rc;
}

}  // namespace

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDeviceProperty(DeviceHandle device,
                                                            const KavrelDeviceProperty *property,
                                                            int32_t async) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_ANY);
  if (rc != KAVREL_OK) return rc;
  if (!property) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  OperationSlot *slot = nullptr;
  rc = Operation_Take(device, 1, &slot);
  if (rc != KAVREL_OK) return rc;
  Device_CopyProperty(device, property);
  device->property_level = KAVREL_LEVEL_CONFIG;
  slot->kind = KIND_CONFIG_FETCH;
  slot->async = (async && property->callback) ? 1 : 0;
  return ConfigTransfer_Run(slot);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetDeviceModel(DeviceHandle device, char *model) {
  char value[CONFIG_VALUE_MAX];
  uint32_t rc = ReadVersion(device, model, value);
  if (rc != KAVREL_OK) return rc;
  Device_CopyString(model, KAVREL_MODEL_MAX, value);
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_OpenDevice(DeviceHandle device, const char *model) {
  char value[CONFIG_VALUE_MAX];
  uint32_t rc = ReadVersion(device, model, value);
  if (rc != KAVREL_OK) return rc;
  device->reset_after_upgrade = 1;
  device->return_wait_s = 60;
  if (strcmp(model, value) != 0) {
    KV_FAIL("unknown server: %s\n", value);
    return KAVREL_E_UNKNOWN_DEVICE;
  }
  Device_CopyString(device->device_model, sizeof(device->device_model), model);
  // The catalogue's own failures are small negatives and mean an unknown model; a fetch or
  // model library code of the learning is returned as it is, so that an unreachable or
  // refusing device is not taken for an unknown model.
  int32_t resolved = Device_ResolveModel(device, CATALOG_BY_MODEL_NAME);
  if (resolved < 0 && resolved >= kCatalogSmallestFailure) return KAVREL_E_UNKNOWN_DEVICE;
  return static_cast<uint32_t>(resolved);
}

}  // extern "C"
