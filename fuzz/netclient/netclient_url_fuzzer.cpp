// Any text as a URL that the network client cracks into its request descriptor, into
// component buffers of the client's own sizes or of small sizes the input picks: a cracked
// URL fills every buffer with a component terminated at its reported length, names a host and
// a port, and a refused one says why.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "nc_wininet.h"

namespace {

// The layer's per-thread error store lives with its handles (wininet_posix.cpp); the cracking
// only sets it, and this target reads it back to check that every refusal sets it.
DWORD g_last_error = 0;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Component {
  std::vector<char> buffer;
  LPSTR *pointer;
  DWORD *length;
};

}  // namespace

void SetLastError(DWORD error) { g_last_error = error; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  // NetClient_CrackUrl's buffers; it asks for no scheme (0: no buffer given).
  const size_t own_sizes[6] = {0, 256, 256, 256, 1024, 2048};
  bool small = (data[0] & 1) != 0;
  DWORD flags = (data[0] & 2) != 0 ? ICU_DECODE : 0;
  bool counted = (data[0] & 4) != 0;  // a length given rather than a terminated text
  std::string url(reinterpret_cast<const char *>(data + 2), size - 2);

  URL_COMPONENTSA parts;
  memset(&parts, 0, sizeof parts);
  parts.dwStructSize = sizeof parts;
  Component components[6] = {{{}, &parts.lpszScheme, &parts.dwSchemeLength},
                             {{}, &parts.lpszHostName, &parts.dwHostNameLength},
                             {{}, &parts.lpszUserName, &parts.dwUserNameLength},
                             {{}, &parts.lpszPassword, &parts.dwPasswordLength},
                             {{}, &parts.lpszUrlPath, &parts.dwUrlPathLength},
                             {{}, &parts.lpszExtraInfo, &parts.dwExtraInfoLength}};
  for (size_t i = 0; i < 6; ++i) {
    size_t n = small ? 1 + (data[1] >> i) % 24 : own_sizes[i];
    components[i].buffer.assign(n, '\x5A');
    *components[i].pointer = n != 0 ? components[i].buffer.data() : nullptr;
    *components[i].length = static_cast<DWORD>(n);
  }
  g_last_error = 0;
  DWORD length = counted ? static_cast<DWORD>(url.size()) : 0;
  BOOL cracked = InternetCrackUrlA(url.c_str(), length, flags, &parts);
  if (!cracked) {
    Check(g_last_error != 0);
    return 0;
  }
  // Each length is the component's own, its terminator just behind it (a decoded "%00" may
  // stand inside; the client refuses such URLs before cracking them).
  for (const Component &c : components) {
    if (c.buffer.empty()) continue;
    Check(*c.length < c.buffer.size() && c.buffer[*c.length] == '\0');
  }
  Check(parts.dwHostNameLength != 0 && parts.nPort != 0);
  return 0;
}
