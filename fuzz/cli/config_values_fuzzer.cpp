// Any text as a configuration file to restore: either every value comes back inside a named
// section and key, with a line of the file and an index the file could spell, or the reader
// names the line it refused (or the empty file) and nothing is sent.
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config_values.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  std::vector<ConfigValue> values;
  std::string error;
  if (!ConfigValues(text, &values, &error)) {
    Check(error.rfind("line ", 0) == 0 || error == "no value in the file");
    return 0;
  }
  Check(!values.empty());
  for (const ConfigValue &v : values) {
    Check(!v.section.empty() && !v.key.empty());
    Check(v.line >= 1 && v.line <= lines);
    Check(v.index >= -1 && v.index <= 99999);
    Check(v.value.size() <= size);
  }
  return 0;
}
