// Any bytes as what an FTP server sends on the control connection, taken as the connection
// takes them: once from the whole and once in pieces whose size comes from the input. Both
// ways give the same replies and end the same; every whole line is taken, a reply's code is
// its first line's three digits, and each reply's PASV port, when it has one, is never 0.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "wininet_posix_internal.h"

using ncwin::ReplyFrame;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Taken {
  std::vector<std::pair<int, std::string>> replies;
  ncwin::ReplyReader reader;  // the reply being read
  ReplyFrame last = ncwin::kReplyPartial;
};

// Takes every whole reply off the buffer; false once the stream is refused.
bool TakeAll(std::string *buffer, Taken *taken) {
  for (;;) {
    taken->last = ncwin::WireTakeReply(buffer, &taken->reader);
    if (taken->last == ncwin::kReplyBad) return false;
    if (taken->last == ncwin::kReplyPartial) {
      Check(buffer->find('\n') == std::string::npos);  // every whole line was taken
      return true;
    }
    const ncwin::ReplyReader &r = taken->reader;
    Check(r.code >= 0 && r.code <= 999 && r.text.size() >= 3);
    Check(r.text.compare(0, 3, std::to_string(1000 + r.code).substr(1)) == 0);
    taken->replies.emplace_back(r.code, r.text);
    taken->reader = ncwin::ReplyReader();
  }
}

// A port is never 0, and a reply without one leaves the caller's value alone.
void CheckPasv(const std::string &text) {
  const uint16_t untouched = 0xA5A5;
  uint16_t port = untouched;
  if (ncwin::ParsePasvReply(text, &port)) {
    Check(port != 0);
  } else {
    Check(port == untouched);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t step = 1 + data[0] % 64;
  std::string stream(reinterpret_cast<const char *>(data + 1), size - 1);

  Taken whole;
  std::string buffer = stream;
  TakeAll(&buffer, &whole);

  Taken pieces;
  std::string wire;
  for (size_t at = 0; at < stream.size(); at += step) {
    wire.append(stream, at, step);
    if (!TakeAll(&wire, &pieces)) break;
  }
  Check(pieces.replies == whole.replies && pieces.last == whole.last);
  if (whole.last == ncwin::kReplyPartial) {
    Check(pieces.reader.code == whole.reader.code && pieces.reader.text == whole.reader.text);
  }
  for (const auto &reply : whole.replies) CheckPasv(reply.second);
  return 0;
}
