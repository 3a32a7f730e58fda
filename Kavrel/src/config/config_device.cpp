// The device's own configuration file: the value functions that make the record's private
// directory on first use. Kept apart from the store, which knows only files.
#include <string.h>

#include "config/config_store.h"
#include "core/device.h"
#include "kavrel_results.h"

uint32_t ConfigStore_GetDeviceValue(KavrelDevice *device, char *out, const char *section,
                                    const char *key, int32_t index) {
  if (!device) return KAVREL_E_INVALIDARG;
  uint32_t made = Device_EnsureDirectory(device);
  if (made != KAVREL_OK) return made;
  return ConfigStore_Get(device->config_path, section, key, out, "", index);
}

uint32_t ConfigStore_SetDeviceValue(KavrelDevice *device, const char *value,
                                    const char *section, const char *key, int32_t index) {
  if (!device) return KAVREL_E_INVALIDARG;
  uint32_t check = ConfigStore_CheckWrite(section, key, value, index);
  if (check != KAVREL_OK) return check;
  uint32_t made = Device_EnsureDirectory(device);
  if (made != KAVREL_OK) return made;
  if (strncmp(section, "image", 5) == 0) {
    char mode[CONFIG_VALUE_MAX];
    if (ConfigStore_Get(device->config_path, section, "mode", mode, "", -1) != KAVREL_OK) {
      uint32_t result = ConfigStore_Set(device->config_path, section, "mode", "save", -1, 1);
      if (result != KAVREL_OK) return result;
    }
  }
  return ConfigStore_Set(device->config_path, section, key, value, index, 0);
}
