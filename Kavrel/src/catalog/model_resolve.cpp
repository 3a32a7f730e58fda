// Learning a model from the device itself, and resolving a device's record when it is
// described or opened.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "catalog/model_catalog.h"
#include "platform/log.h"
#include "sched/sysinfo_fetch.h"

namespace {

void Resolve_Copy(char *field, size_t size, const char *text) { snprintf(field, size, "%s", text); }

}  // namespace

int32_t ModelCatalog_LearnFromDevice(const CatalogDeviceConn *device, char *model_name,
                                     ServerParam *param) {
  if (device == nullptr || model_name == nullptr || param == nullptr) return -1;
  int32_t found = ModelCatalog_Lookup(model_name, param);
  if (found == 0) return 0;
  if (device->host == nullptr || device->host[0] == '\0') return found;
  std::unique_ptr<SysInfoData> info(new (std::nothrow) SysInfoData());
  if (!info) return -1;
  SysInfoFetchTarget target{device->host,     device->port,       device->user,
                            device->password, device->proxy_host, device->timeout_ms};
  int32_t r = (int32_t)SysInfo_Fetch(&target, info.get());
  if (r != 0) return r;
  info->ModelName[sizeof(info->ModelName) - 1] = '\0';
  if (strncmp(info->ModelName, model_name, CATALOG_KEY_LENGTH) != 0) return -1;
  r = ModelCatalog_BuildLearned(info.get(), param);
  if (r != 0) return r;
  // The record is good whether or not the catalogue keeps it; only a store that could not
  // even set up its document fails the learning.
  r = ModelCatalog_Store(param);
  return r == CATALOG_E_ABSENT ? r : 0;
}

int32_t ModelCatalog_ResolveDevice(CatalogDevice *device, int mode) {
  if (device == nullptr || device->param == nullptr || device->model_name == nullptr ||
      device->server_type == nullptr) {
    return -1;
  }
  if (mode == CATALOG_BY_MODEL_NAME) {
    if (Morvane_GetParamForServer(device->model_name, device->param) != 0) {
      int32_t r = ModelCatalog_LearnFromDevice(&device->conn, device->model_name, device->param);
      if (r != 0) {
        KV_FAIL("Morvane_GetParamForServer (%s) error: %X\n",
                device->model_name[0] != '\0' ? device->model_name : "NULL", (uint32_t)r);
        return r;
      }
    }
    char name[sizeof(device->param->ServerName) + 1] = {0};
    memcpy(name, device->param->ServerName, sizeof(device->param->ServerName));
    Resolve_Copy(device->server_type, CATALOG_DEVICE_STRING, name);
    return 0;
  }
  if (Morvane_GetParamForServerByFriendlyName(device->server_type, device->param) == 0) return 0;
  // The mapping buffer is larger than any friendly name Morvane writes (24 bytes).
  char mapped[CATALOG_DEVICE_STRING] = {0};
  int32_t r = Morvane_GetMappingFriendlyName(device->server_type, mapped);
  if (r < 0) return r;
  Resolve_Copy(device->model_name, CATALOG_DEVICE_STRING, device->server_type);
  Resolve_Copy(device->server_type, CATALOG_DEVICE_STRING, mapped);
  r = Morvane_GetParamForServerByFriendlyName(device->server_type, device->param);
  if (device->series_name != nullptr) {
    *device->series_name = r == MORVANE_S_MAPPED ? device->model_name : device->server_type;
  }
  return r;
}
