// The socket FTP client's parsers: reply codes, the framing of one reply, PASV replies.
// They see only bytes, never a socket, so the tests and the fuzzers drive them directly.
#include <string.h>

#include "kavrel_results.h"
#include "sched/ftp_sock.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// A final reply line: three decimal digits and a space (a hyphen marks a continuation).
bool IsFinalLine(const char *line, size_t length) {
  return length >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
         line[3] == ' ';
}

uint32_t CodeOf(const char *line) {
  return static_cast<uint32_t>((line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0'));
}

// Reads one decimal number of at most three digits, at most 255. Advances `*p`.
bool ReadByte(const char **p, uint32_t *out) {
  const char *s = *p;
  uint32_t value = 0;
  size_t digits = 0;
  while (IsDigit(*s) && digits < 4) {
    value = value * 10 + static_cast<uint32_t>(*s - '0');
    ++s;
    ++digits;
  }
  if (digits == 0 || digits > 3 || value > 255) return false;
  *p = s;
  *out = value;
  return true;
}

}  // namespace

uint32_t FtpSock_ParseReplyCodes(char *text, char *codes) {
  if (!text || !codes) return KAVREL_T_E_ARG;
  uint32_t count = 0;
  codes[0] = '\0';
  char *line = text;
  for (;;) {
    size_t length = strcspn(line, "\r\n");
    bool last = line[length] == '\0';
    line[length] = '\0';
    if (count < FTPSOCK_MAX_CODES && IsFinalLine(line, length)) {
      memcpy(codes + count * 3, line, 3);
      ++count;
      codes[count * 3] = '\0';
    }
    if (last) break;
    line += length + 1;
  }
  return count;
}

size_t FtpSock_ReplyEnd(const char *data, size_t length, uint32_t *code) {
  if (!data) return 0;
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (!IsLineEnd(data[i])) continue;
    if (IsFinalLine(data + start, i - start)) {
      size_t end = i + 1;
      if (data[i] == '\r' && end < length && data[end] == '\n') ++end;
      if (code) *code = CodeOf(data + start);
      return end;
    }
    start = i + 1;
  }
  return 0;
}

uint32_t FtpSock_ParsePasv(const char *reply, uint32_t *address, uint32_t *port) {
  if (!reply || !address || !port) return KAVREL_T_E_ARG;
  const char *open = strrchr(reply, '(');
  if (!open) return KAVREL_T_E_PASV;
  const char *p = open + 1;
  uint32_t numbers[6];
  for (int i = 0; i < 6; ++i) {
    if (!ReadByte(&p, &numbers[i])) return KAVREL_T_E_PASV;
    char expected = i < 5 ? ',' : ')';
    if (*p != expected) return KAVREL_T_E_PASV;
    ++p;
  }
  uint32_t value = (numbers[4] << 8) | numbers[5];
  if (value == 0) return KAVREL_T_E_PASV;
  *address = (numbers[0] << 24) | (numbers[1] << 16) | (numbers[2] << 8) | numbers[3];
  *port = value;
  return 0;
}
