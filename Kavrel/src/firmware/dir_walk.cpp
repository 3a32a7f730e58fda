// The directory walker over the OS layer's enumeration. Entries are classified without
// following links, so a link planted in a tree is reported as a file and never walked into.
// Each directory is read whole and closed before its callbacks run, so a callback may remove
// what it is handed, and a deep tree holds one open enumeration at a time.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

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

std::string Join(const std::string &a, const std::string &b) {
  return a.empty() ? b : a + "/" + b;
}

// One directory's entries, files and directories apart, each in byte order of the name. The
// platform lists a directory in an order of its own (newest first, or by hash), and the
// upgrade's outcome must not depend on it.
struct Listing {
  std::vector<std::string> files;
  std::vector<std::string> directories;
};

int List(const std::string &path, Listing *listing) {
  FirmDir dir;
  if (DirOpen(path.c_str(), &dir) != 0) return 1;
  for (const char *name; (name = DirRead(&dir)) != nullptr;) {
    if (IsDots(name)) continue;
    (dir.entry.is_directory ? listing->directories : listing->files).push_back(name);
  }
  DirClose(&dir);
  std::sort(listing->files.begin(), listing->files.end());
  std::sort(listing->directories.begin(), listing->directories.end());
  return 0;
}

int Walk(const char *root, const std::string &start, DirWalkCallback callback, void *context,
         int order) {
  Listing listing;
  std::string path = start.empty() ? std::string(root) : std::string(root) + "/" + start;
  if (List(path, &listing) != 0) return 1;
  for (const std::string &name : listing.files) {
    if (!callback(context, root, Join(start, name).c_str(), 1)) return -1;
  }
  for (const std::string &name : listing.directories) {
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
