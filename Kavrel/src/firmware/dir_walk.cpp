// The directory walker over the OS layer's enumeration. Entries are classified without
// following links, so a link planted in a tree is reported as a file and never walked into.
#include <string.h>

#include <string>

#include "firmware/firm_tools.h"

int DirOpen(const char *path, FirmDir *dir) {
  if (!path || !dir) return -1;
  memset(dir, 0, sizeof *dir);
  if (OsDirOpen(path, &dir->os) != 0) return -1;
  dir->marker = FIRM_DIR_MARKER;
  return 0;
}

const char *DirRead(FirmDir *dir) {
  if (!dir || dir->marker != FIRM_DIR_MARKER) return nullptr;
  return OsDirRead(dir->os, &dir->entry) == 1 ? dir->entry.name : nullptr;
}

int DirRewind(FirmDir *dir) {
  if (!dir || dir->marker != FIRM_DIR_MARKER) return -1;
  return OsDirRewind(dir->os);
}

int DirClose(FirmDir *dir) {
  if (!dir || dir->marker != FIRM_DIR_MARKER) return -1;
  OsDirClose(&dir->os);
  dir->marker = 0;
  return 0;
}

namespace {

bool IsDots(const char *name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

std::string Join(const std::string &a, const char *b) {
  return a.empty() ? std::string(b) : a + "/" + b;
}

// Closes the enumeration on every way out of a walk.
struct DirGuard {
  FirmDir dir;
  ~DirGuard() { DirClose(&dir); }
};

int Walk(const char *root, const std::string &start, DirWalkCallback callback, void *context,
         int order) {
  DirGuard guard;
  std::string path = start.empty() ? std::string(root) : std::string(root) + "/" + start;
  if (DirOpen(path.c_str(), &guard.dir) != 0) return 1;
  FirmDir *dir = &guard.dir;
  for (const char *name; (name = DirRead(dir)) != nullptr;) {
    if (IsDots(name) || dir->entry.is_directory) continue;
    if (!callback(context, root, Join(start, name).c_str(), 1)) return -1;
  }
  if (DirRewind(dir) != 0) return 1;
  for (const char *name; (name = DirRead(dir)) != nullptr;) {
    if (IsDots(name) || !dir->entry.is_directory) continue;
    std::string relative = Join(start, name);
    if (order == DIRWALK_CHILDREN_FIRST && Walk(root, relative, callback, context, order) < 0)
      return -1;
    if (!callback(context, root, relative.c_str(), 0)) return -1;
    if (order == DIRWALK_PARENT_FIRST && Walk(root, relative, callback, context, order) < 0)
      return -1;
  }
  return 0;
}

}  // namespace

int DirWalk(const char *root, const char *start, DirWalkCallback callback, void *context,
            int order) {
  if (!root || !callback) return 1;
  return Walk(root, start ? start : "", callback, context, order);
}
