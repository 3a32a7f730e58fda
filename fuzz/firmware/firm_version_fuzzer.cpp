// The version reader on any file: no crash, no read out of bounds, every text field ends
// within its 32 bytes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "firmware/firm_tools.h"
#include "platform/os.h"

namespace {

std::string ScratchFile() {
  static std::string path;
  if (path.empty()) {
    std::string dir = OsMakePrivateTempDir("firm-version-fuzz-");
    if (dir.empty()) abort();
    path = dir + "/input";
    atexit([] { OsRemoveTree(path.substr(0, path.rfind('/'))); });
  }
  return path;
}

void CheckField(const char *field) {
  if (memchr(field, '\0', FIRM_FIELD) == nullptr) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = ScratchFile();
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
  FirmVersionHeader h;
  uint32_t rc = FirmTools_GetVersion(path.c_str(), &h);
  const char *fields[] = {h.version, h.tag2, h.tag10, h.tag3, h.tag4,
                          h.tag5,    h.tag9, h.language, h.tag13};
  for (const char *field : fields) CheckField(field);
  if (h.package_type > 3 || h.plain_image > 1 || h.part3 > 1) abort();
  if (!h.plain_image && rc != FIRM_OK) abort();
  return 0;
}
