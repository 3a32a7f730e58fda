// The unpacker on any file, into a scratch directory nested three levels deep. After every
// input, the levels above the output directory must hold exactly what they held before, and
// the output tree must hold no link: whatever the package says, nothing lands outside.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "firmware/firm_tools.h"
#include "platform/os.h"

namespace {

struct Scratch {
  std::string root, level1, level2, package, out;
};

const Scratch &Dirs() {
  static Scratch s;
  if (s.root.empty()) {
    s.root = OsMakePrivateTempDir("firm-unpack-fuzz-");
    if (s.root.empty()) abort();
    s.level1 = s.root + "/l1";
    s.level2 = s.level1 + "/l2";
    s.package = s.level2 + "/package.bin";
    s.out = s.level2 + "/out";
    if (OsMakeDir(s.level1) != 0 || OsMakeDir(s.level2) != 0) abort();
    FILE *f = fopen((s.root + "/sentinel").c_str(), "wb");
    if (!f) abort();
    fputs("untouched", f);
    fclose(f);
    atexit([] { OsRemoveTree(Dirs().root); });
  }
  return s;
}

std::set<std::string> Names(const std::string &dir) {
  std::set<std::string> names;
  FirmDir d;
  if (DirOpen(dir.c_str(), &d) != 0) abort();
  for (const char *n; (n = DirRead(&d)) != nullptr;) {
    if (strcmp(n, ".") != 0 && strcmp(n, "..") != 0) names.insert(n);
  }
  DirClose(&d);
  return names;
}

int NoLinks(void *, const char *root, const char *relative, int) {
  struct stat st;
  std::string path = std::string(root) + "/" + relative;
  if (lstat(path.c_str(), &st) != 0) abort();
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) abort();
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const Scratch &s = Dirs();
  OsRemoveTree(s.out);
  FILE *f = fopen(s.package.c_str(), "wb");
  if (!f) abort();
  if (size && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
  FirmUnpack_Package(s.package.c_str(), s.out.c_str());
  if (Names(s.root) != std::set<std::string>{"l1", "sentinel"}) abort();
  if (Names(s.level1) != std::set<std::string>{"l2"}) abort();
  std::set<std::string> level2 = Names(s.level2);
  level2.erase("out");  // absent when the magic was refused
  if (level2 != std::set<std::string>{"package.bin"}) abort();
  if (OsPathKindOf(s.out) == OS_PATH_DIR) DirWalk(s.out.c_str(), "", NoLinks, nullptr, 1);
  return 0;
}
