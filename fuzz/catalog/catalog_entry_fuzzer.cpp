// Any text as the shared catalogue file, and a model name from the input's first line, looked
// up as a device is: a failed lookup leaves the caller's record as it was, a found entry
// writes each text field terminated within it, and the name is cut to its key.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "catalog/model_catalog.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool Untouched(const char *field, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (static_cast<uint8_t>(field[i]) != 0x5A) return false;
  return true;
}

// A field the entry named is terminated within it; one it did not name is untouched.
template <size_t N>
void CheckText(const char (&field)[N]) {
  Check(memchr(field, '\0', N) != nullptr || Untouched(field, N));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  const char *newline = static_cast<const char *>(memchr(text, '\n', size < 16 ? size : 16));
  if (newline == nullptr) return 0;
  std::string name(text, static_cast<size_t>(newline - text));
  std::string name_buffer = name;  // the lookup cuts it in place
  size_t rest = size - static_cast<size_t>(newline + 1 - text);
  // The file's text in a buffer of its own size, so that a read past it shows.
  std::unique_ptr<char[]> file(new char[rest + 1]);
  memcpy(file.get(), newline + 1, rest);

  ServerParam param;
  memset(&param, 0x5A, sizeof param);
  int32_t r = ModelCatalog_LookupText(file.get(), rest, &name_buffer[0], &param);
  Check(r == 0 || r == CATALOG_E_LOAD || r == CATALOG_E_ABSENT);
  if (r != 0) {
    Check(Untouched(reinterpret_cast<const char *>(&param), sizeof param));
    return 0;
  }
  Check(strlen(name_buffer.c_str()) <= CATALOG_KEY_LENGTH);
  Check(name.compare(0, strlen(name_buffer.c_str()), name_buffer.c_str()) == 0);
  CheckText(param.ServerName);
  CheckText(param.DefaultVSize);
  CheckText(param.GetDiUrl);
  CheckText(param.PresetUrl);
  CheckText(param.PtzUrl);
  CheckText(param.QuadUrl);
  CheckText(param.RecallUrl);
  CheckText(param.SetDoUrl);
  CheckText(param.TxUrl);
  CheckText(param.UartUrl);
  CheckText(param.VideoUrl);
  CheckText(param.RxUrl);
  return 0;
}
