// The words that the Windows half of the test support and the process broker exchange: each
// word is its length in decimal, a colon, then its bytes, so that arguments may hold any byte.
#pragma once

#include <string>
#include <vector>

#include "test_socket.h"

namespace kvtest {
namespace broker {

// The environment variable that names the broker to Windows test programs: "PORT:SECRET".
constexpr const char *kEnvName = "KVTEST_PROCESS_BROKER";

inline bool SendWords(int fd, const std::vector<std::string> &words) {
  std::string out;
  for (const std::string &w : words) out += std::to_string(w.size()) + ":" + w;
  size_t off = 0;
  while (off < out.size()) {
    long n = SendBytes(fd, out.data() + off, out.size() - off);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// Reads one word from a socket, through `pending` (bytes already received).
inline bool ReadWord(int fd, std::string *pending, std::string *word) {
  char buf[4096];
  for (;;) {
    size_t colon = pending->find(':');
    if (colon != std::string::npos) {
      if (colon == 0 || colon > 9) return false;
      size_t size = std::stoul(pending->substr(0, colon));
      if (pending->size() >= colon + 1 + size) {
        *word = pending->substr(colon + 1, size);
        pending->erase(0, colon + 1 + size);
        return true;
      }
    } else if (pending->size() > 10) {
      return false;
    }
    long n = RecvBytes(fd, buf, sizeof buf);
    if (n <= 0) return false;
    pending->append(buf, static_cast<size_t>(n));
  }
}

}  // namespace broker
}  // namespace kvtest
