// Any bytes as the body of a LIST reply: each entry has a name that holds no line end, there
// are never more entries than lines, and lines are read independently, so the body cut after
// any line end reads as its two parts do.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "wininet_posix_internal.h"

using ncwin::ListEntry;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool Same(const ListEntry &a, const ListEntry &b) {
  return a.name == b.name && a.directory == b.directory && a.size == b.size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  std::string body(reinterpret_cast<const char *>(data + 1), size - 1);
  std::vector<ListEntry> entries = ncwin::ParseListing(body);
  size_t lines = 1;
  for (char c : body) lines += c == '\n' ? 1 : 0;
  Check(entries.size() <= lines);
  for (const ListEntry &e : entries) Check(!e.name.empty() && e.name.find('\n') == std::string::npos);
  // Cut after the line end nearest the position the first byte names.
  size_t cut = body.find('\n', data[0] * body.size() / 256);
  if (cut == std::string::npos) return 0;
  std::vector<ListEntry> first = ncwin::ParseListing(body.substr(0, cut + 1));
  std::vector<ListEntry> second = ncwin::ParseListing(body.substr(cut + 1));
  Check(first.size() + second.size() == entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    Check(Same(entries[i], i < first.size() ? first[i] : second[i - first.size()]));
  }
  return 0;
}
