// The exported access to single values of a device's local configuration file, by section
// and key or by parameter ID.
#include <stdio.h>
#include <string.h>

#include <string>

#include "config/config_store.h"
#include "config/param_tables.h"
#include "config/sysinfo_parse.h"
#include "core/device.h"
#include "kavrel.h"
#include "platform/log.h"

namespace {

// The wireless key format: the file says YES/NO, the host speaks HEX/ASCII.
constexpr uint32_t kParamKeyFormat = 159;

bool EqualsNoCase(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b) {
    char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 32) : *a;
    char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// Older video servers with a second serial port name their first one "SERIAL1"; the
// instance number takes the place of that "1". A name without a "1" stays as it is.
void CutForInstance(const char *server_type, std::string *section) {
  if (ParamTable_Series(server_type) != '2' || strlen(server_type) < 4 || server_type[3] != '4') {
    return;
  }
  size_t one = section->find('1');
  if (one != std::string::npos) section->resize(one);
}

uint32_t TranslateId(KavrelDevice *device, uint32_t id, std::string *section, std::string *key) {
  uint32_t number = id & 0xFFFFu;
  uint32_t instance = id >> 16;
  // The translation of some parameters reads the device's file.
  uint32_t result = Device_EnsureDirectory(device);
  if (result != KAVREL_OK) return result;
  result =
      ParamTable_Translate(device->server_type, device->config_path, number, section, key);
  if (result != KAVREL_OK) {
    KV_FAIL("No entry for parameter %u of %s\n", number, device->server_type);
    return result;
  }
  if (instance != 0) {
    CutForInstance(device->server_type, section);
    *section += std::to_string(instance);
  }
  return KAVREL_OK;
}

}  // namespace

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetSysInfo(DeviceHandle device, char *value,
                                                     const char *section, const char *key,
                                                     int32_t index) {
  uint32_t result = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (result != KAVREL_OK) return result;
  if (!value) return KAVREL_E_INVALIDARG;
  if (!section || !key) {
    value[0] = '\0';
    return KAVREL_E_INVALIDARG;
  }
  return ConfigStore_GetDeviceValue(device, value, section, key, index);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetSysInfo(DeviceHandle device, const char *value,
                                                     const char *section, const char *key,
                                                     int32_t index) {
  uint32_t result = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (result != KAVREL_OK) return result;
  return ConfigStore_SetDeviceValue(device, value, section, key, index);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetSysInfoSecEntry(DeviceHandle device, uint32_t id,
                                                             char *section, char *key) {
  uint32_t result = Device_Check(device, KAVREL_LEVEL_MODEL);
  if (result != KAVREL_OK) return result;
  if (!section || !key) return KAVREL_E_INVALIDARG;
  section[0] = '\0';
  key[0] = '\0';
  std::string section_name, key_name;
  result = TranslateId(device, id, &section_name, &key_name);
  if (result != KAVREL_OK) return result;
  // The tables keep every name within these sizes (checked by the tests); the bounds only
  // make sure that a caller's buffer of the documented size is never overrun.
  snprintf(section, KAVREL_SECTION_MAX + 5, "%s", section_name.c_str());
  snprintf(key, KAVREL_KEY_MAX, "%s", key_name.c_str());
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetSysInfoByID(DeviceHandle device, char *value,
                                                         uint32_t id, int32_t index) {
  char section[KAVREL_SECTION_MAX + 5];
  char key[KAVREL_KEY_MAX];
  uint32_t result = Kavrel_GetSysInfoSecEntry(device, id, section, key);
  if (result != KAVREL_OK) return result;
  result = Kavrel_GetSysInfo(device, value, section, key, index);
  if (result != KAVREL_OK || (id & 0xFFFFu) != kParamKeyFormat) return result;
  if (EqualsNoCase(value, "YES")) {
    snprintf(value, KAVREL_VALUE_MAX, "%s", "HEX");
  } else if (EqualsNoCase(value, "NO")) {
    snprintf(value, KAVREL_VALUE_MAX, "%s", "ASCII");
  }
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetSysInfoByID(DeviceHandle device, const char *value,
                                                         uint32_t id, int32_t index) {
  char section[KAVREL_SECTION_MAX + 5];
  char key[KAVREL_KEY_MAX];
  uint32_t result = Kavrel_GetSysInfoSecEntry(device, id, section, key);
  if (result != KAVREL_OK) return result;
  // The file's own spelling of the key format; the caller's text is left as it is.
  if ((id & 0xFFFFu) == kParamKeyFormat && strcmp(key, "key hex-format") == 0 && value) {
    value = EqualsNoCase(value, "HEX") ? "Yes" : "No";
  }
  return Kavrel_SetSysInfo(device, value, section, key, index);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_ParseSysInfo(const char *text, SysInfoData *data) {
  if (!text || !data) {
    KV_FAIL("ParseSysInfo: argument NULL\n");
    return KAVREL_E_INVALIDARG;
  }
  return static_cast<uint32_t>(SysInfo_Parse(text, data));
}
