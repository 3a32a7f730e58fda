// Any text as a device's system information, parsed and made into the record the library
// learns for a model Morvane does not know by name: a record is written only whole, named by
// the first 6 characters of the device's model name, with the counts and the video path the
// device reported and every text terminated within its field.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "catalog/model_catalog.h"
#include "sysinfo.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

template <size_t N>
void CheckTerminated(const char (&field)[N]) {
  Check(memchr(field, '\0', N) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::unique_ptr<SysInfoData> info(new SysInfoData());
  if (morvane::SysInfo_Parse(text.c_str(), info.get()) != 0) return 0;
  info->ModelName[sizeof(info->ModelName) - 1] = '\0';  // as the learning ends it

  ServerParam param;
  memset(&param, 0x5A, sizeof param);
  int32_t r = ModelCatalog_BuildLearned(info.get(), &param);
  if (r != 0) {
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&param);
    for (size_t i = 0; i < sizeof param; ++i) Check(bytes[i] == 0x5A);
    return 0;
  }
  std::string key(info->ModelName, strnlen(info->ModelName, CATALOG_KEY_LENGTH));
  Check(key == param.ServerName);
  CheckTerminated(param.VideoUrl);
  if (info->VideoUrl[0] != '\0') {
    Check(strncmp(param.VideoUrl, info->VideoUrl, sizeof(param.VideoUrl) - 1) == 0);
  }
  if (info->CamNum != 0) Check(param.CamNum == info->CamNum);
  if (info->DiNum != 0) Check(param.DiNum == info->DiNum);
  if (info->DoNum != 0) Check(param.DoNum == info->DoNum);
  // The rest is Morvane's record of the model the name maps to.
  CheckTerminated(param.DefaultVSize);
  CheckTerminated(param.PtzUrl);
  CheckTerminated(param.GetDiUrl);
  CheckTerminated(param.SetDoUrl);
  return 0;
}
