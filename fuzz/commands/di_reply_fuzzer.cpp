// Any bytes as a device's answer to the input read, for every input count a model record may
// hold: each level is high or low, inputs beyond the count stay low, a count the reader does
// not know fails with all four low, and the letters' case changes nothing.
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "commands/device_reply.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

uint32_t Parse(int32_t count, std::vector<char> reply, int (*to)(int), uint32_t levels[4]) {
  for (char &c : reply) c = static_cast<char>(to(static_cast<unsigned char>(c)));
  return DeviceReply_ParseInputs(count, reply.data(), levels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  int32_t count = data[0] % 8 - 1;  // -1 to 6: the known 1, 2 and 4 among others
  // The reply in a buffer of its own size with its NUL, as the slot's buffer ends it.
  std::vector<char> reply(data + 1, data + size);
  reply.push_back('\0');
  uint32_t levels[4];
  uint32_t rc = DeviceReply_ParseInputs(count, reply.data(), levels);
  bool known = count == 1 || count == 2 || count == 4;
  Check(rc == (known ? KAVREL_OK : KAVREL_E_UNKNOWN_DEVICE));
  for (int i = 0; i < 4; ++i) {
    Check(levels[i] == KAVREL_LEVEL_HIGH || levels[i] == KAVREL_LEVEL_LOW);
    if (!known || i >= count) Check(levels[i] == KAVREL_LEVEL_LOW);
  }
  uint32_t upper[4], lower[4];
  Check(Parse(count, reply, toupper, upper) == rc && Parse(count, reply, tolower, lower) == rc);
  Check(memcmp(levels, upper, sizeof(levels)) == 0 && memcmp(levels, lower, sizeof(levels)) == 0);
  return 0;
}
