// Arbitrary text as a device's system information: the parser never reads past the text's
// NUL, and every string it fills stays terminated within its field.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "sysinfo.h"

namespace {

template <size_t N>
void MustBeTerminated(const char (&field)[N]) {
  if (memchr(field, '\0', N) == nullptr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);  // adds the NUL
  std::unique_ptr<SysInfoData> info(new SysInfoData());
  memset(info.get(), 0x5A, sizeof *info);  // a result that forgot a terminator shows
  int32_t rc = morvane::SysInfo_Parse(text.c_str(), info.get());
  if (rc != 0) {
    // A failure leaves the caller's record as it was: no partial result to use.
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(info.get());
    for (size_t i = 0; i < sizeof *info; ++i)
      if (bytes[i] != 0x5A) __builtin_trap();
    return 0;
  }
  MustBeTerminated(info->ModelName);
  MustBeTerminated(info->HostName);
  MustBeTerminated(info->MacAddress);
  MustBeTerminated(info->SerialNumber);
  MustBeTerminated(info->RawText);
  MustBeTerminated(info->VideoUrl);
  return 0;
}
