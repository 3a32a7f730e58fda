// Resolving a device's capability record from its server type.
#include <string.h>

#include "device.h"
#include "morvane.h"

int32_t ModelCatalog_ResolveDevice(KavrelDevice *device, int32_t mode) {
  if (!device || mode != 0) return MORVANE_E_ARG;
  int32_t rc = Morvane_GetParamForServerByFriendlyName(device->server_type, &device->param);
  if (rc == 0) return 0;
  char mapped[256] = {0};
  rc = Morvane_GetMappingFriendlyName(device->server_type, mapped);
  if (rc < 0) return rc;
  Device_CopyString(device->device_model, sizeof(device->device_model), device->server_type);
  Device_CopyString(device->server_type, sizeof(device->server_type), mapped);
  rc = Morvane_GetParamForServerByFriendlyName(device->server_type, &device->param);
  device->model_name = rc == MORVANE_S_MAPPED ? device->device_model : device->server_type;
  return rc;
}
