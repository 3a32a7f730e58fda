// Feeds arbitrary text to the PASV reply parser. What it accepts must be a usable port, and
// must read back the same when written out again in the reply's own form.
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "sched/ftp_sock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  uint32_t address = 0, port = 0;
  if (FtpSock_ParsePasv(text.c_str(), &address, &port) != 0) return 0;
  if (port == 0 || port > 65535) __builtin_trap();
  char again[96];
  snprintf(again, sizeof(again), "227 (%u,%u,%u,%u,%u,%u)", address >> 24, (address >> 16) & 0xFF,
           (address >> 8) & 0xFF, address & 0xFF, port >> 8, port & 0xFF);
  uint32_t address2 = 0, port2 = 0;
  if (FtpSock_ParsePasv(again, &address2, &port2) != 0) __builtin_trap();
  if (address2 != address || port2 != port) __builtin_trap();
  return 0;
}
