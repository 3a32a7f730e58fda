// Checks and bounded formatting of requests built from caller text.
#include "commands/request.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

bool IsLineByte(unsigned char c) { return c <= ' ' || c == 0x7F; }

}  // namespace

bool Request_Append(char *request, size_t size, const char *format, ...) {
  size_t used = strnlen(request, size);
  if (used >= size) return false;
  va_list args;
  va_start(args, format);
  int wrote = vsnprintf(request + used, size - used, format, args);
  va_end(args);
  return wrote >= 0 && used + static_cast<size_t>(wrote) < size;
}

bool Request_FieldIsSafe(const char *value) {
  for (const char *p = value; *p; ++p) {
    if (IsLineByte(static_cast<unsigned char>(*p)) || *p == '&' || *p == '#') return false;
  }
  return true;
}

bool Request_FragmentIsSafe(const char *value) {
  for (const char *p = value; *p; ++p) {
    if (IsLineByte(static_cast<unsigned char>(*p)) || *p == '#') return false;
  }
  return true;
}

bool Request_FixedFieldIsTerminated(const char *field, size_t width) {
  return memchr(field, '\0', width) != nullptr;
}
