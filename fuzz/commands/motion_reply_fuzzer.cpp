// Any bytes as a device's motion page and as its getmd reply, each read as the motion read
// reads it. A form value is found only behind its input's name and leaves the output alone
// when it is not; every getmd window is written whole or not at all, its name terminated
// within its field and its enabled flag true only for a named window with a size.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "commands/device_reply.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckFormValue(const char *page, const char *name, const char *marker) {
  const uint32_t untouched = 0xA5A5A5A5u;
  uint32_t value = untouched;
  bool found = DeviceReply_FormValue(page, name, &value);
  if (!found) Check(value == untouched);
  if (found) Check(strstr(page, marker) != nullptr);
}

bool Filled(const MotionWindow &w, uint8_t byte) {
  const uint8_t *p = reinterpret_cast<const uint8_t *>(&w);
  for (size_t i = 0; i < sizeof(w); ++i)
    if (p[i] != byte) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The reply in a buffer of its own size with its NUL, as the slot's buffer ends it.
  std::vector<char> reply(data, data + size);
  reply.push_back('\0');
  CheckFormValue(reply.data(), "per", "name=\"per\"");
  CheckFormValue(reply.data(), "sen", "name=\"sen\"");

  // Cleared first, as the command clears the caller's windows.
  MotionWindow cleared[KAVREL_MOTION_WINDOWS];
  memset(cleared, 0, sizeof(cleared));
  DeviceReply_ParseGetmd(reply.data(), cleared);
  for (const MotionWindow &w : cleared) {
    Check(memchr(w.name, '\0', sizeof(w.name)) != nullptr);
    Check(w.enabled == (w.name[0] != '\0' && w.w != 0 && w.h != 0 ? 1u : 0u));
    Check(w.form == 0);
  }
  // Over other contents: a window is the same one, or was not written at all.
  MotionWindow marked[KAVREL_MOTION_WINDOWS];
  memset(marked, 0x5A, sizeof(marked));
  DeviceReply_ParseGetmd(reply.data(), marked);
  for (int i = 0; i < KAVREL_MOTION_WINDOWS; ++i) {
    bool same = memcmp(&marked[i], &cleared[i], sizeof(MotionWindow)) == 0;
    Check(same || (Filled(marked[i], 0x5A) && Filled(cleared[i], 0)));
  }
  return 0;
}
