// Feeds arbitrary bytes to the FTP reply parser and the reply framing. A reply cut at a
// point taken from the input must never end differently from the whole: the client reads
// a reply in whatever pieces the server sends.
#include <stdint.h>
#include <string.h>

#include <string>

#include "sched/ftp_sock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  uint32_t whole_code = 0;
  size_t whole = FtpSock_ReplyEnd(bytes, size, &whole_code);
  if (whole > size) __builtin_trap();
  if (whole > 0) {
    if (bytes[whole - 1] != '\r' && bytes[whole - 1] != '\n') __builtin_trap();
    if (whole_code > 999) __builtin_trap();
  }
  size_t split = size > 0 ? data[0] % (size + 1) : 0;
  uint32_t part_code = 0;
  size_t part = FtpSock_ReplyEnd(bytes, split, &part_code);
  if (part > 0) {
    // The prefix holds a complete reply: the whole holds the same one (its LF may follow).
    if (whole != part && whole != part + 1) __builtin_trap();
    if (part_code != whole_code) __builtin_trap();
  }

  std::string text(bytes, size);  // NUL-terminated copy; the parser writes into it
  char codes[FTPSOCK_CODES_SIZE];
  memset(codes, 0x55, sizeof(codes));
  uint32_t count = FtpSock_ParseReplyCodes(&text[0], codes);
  if (count > FTPSOCK_MAX_CODES) __builtin_trap();
  if (strlen(codes) != count * 3) __builtin_trap();
  if (whole > 0 && memchr(bytes, 0, whole) == nullptr && count == 0) __builtin_trap();
  return 0;
}
