// The package unpacker. A package is outside input: every length is checked against what is
// left of the file before it is used, every record name is confined to the output directory,
// and nothing is created through a link.
#include <string.h>

#include <string>
#include <vector>

#include "firmware/firm_stream.h"
#include "firmware/firm_tools.h"

namespace {

const size_t kCopyPiece = 1 << 20;

struct Unpack {
  FirmStream in;
  std::string output;   // the output directory as given
  std::string current;  // the directory that file records land in
  // A plain image record makes the image's own name the current directory: nothing can be
  // created under it until a directory record names a real one.
  bool current_is_image = false;
  std::vector<char> piece;
};

// A record name as components below the output directory, or FIRM_E_UNSAFE. Both separators
// count on every platform, since the package may come from either; empty components ("a//b",
// "dir/") are dropped.
uint32_t SplitName(const std::string &name, std::vector<std::string> *parts) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return FIRM_E_UNSAFE;
  if (name.find('\0') != std::string::npos || name.find(':') != std::string::npos)
    return FIRM_E_UNSAFE;
  parts->clear();
  size_t begin = 0;
  while (begin <= name.size()) {
    size_t end = name.find_first_of("/\\", begin);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(begin, end - begin);
    if (part == "." || part == "..") return FIRM_E_UNSAFE;
    if (!part.empty()) parts->push_back(part);
    begin = end + 1;
  }
  return parts->empty() ? FIRM_E_UNSAFE : FIRM_OK;
}

uint32_t ReadName(Unpack &u, std::vector<std::string> *parts) {
  uint16_t length;
  if (!u.in.ReadU16(&length)) return FIRM_E_SHORT;
  if (length >= FIRM_NAME_MAX) return FIRM_E_FORMAT;
  std::string name(length, '\0');
  if (!u.in.Read(&name[0], length)) return FIRM_E_SHORT;
  return SplitName(name, parts);
}

// Walks `parts` below `base`, making missing directories when `make` is set. A link or any
// other non-directory on the way is refused: it could lead outside the output directory.
uint32_t EnterDirectories(const std::string &base, const std::vector<std::string> &parts,
                          size_t count, bool make, std::string *path) {
  *path = base;
  for (size_t i = 0; i < count; ++i) {
    *path += "/" + parts[i];
    OsPathKind kind = OsPathKindOf(*path);
    if (kind == OS_PATH_NONE && make) {
      if (OsMakeDir(*path) != 0) return FIRM_E_MKDIR;
      kind = OsPathKindOf(*path);
    }
    if (kind == OS_PATH_OTHER) return FIRM_E_UNSAFE;
    if (kind != OS_PATH_DIR) return make ? FIRM_E_MKDIR : FIRM_E_WRITE;
  }
  return FIRM_OK;
}

// Copies `length` bytes of the package into a new file at `path`. On failure the file is
// removed, so that nothing half-written looks like an unpacked file.
uint32_t CopyOut(Unpack &u, const std::string &path, uint64_t length) {
  if (length > u.in.Remaining()) return FIRM_E_SHORT;
  int refused = 0;
  FILE *out = OsCreateFileNoFollow(path, &refused);
  if (!out) return refused ? FIRM_E_UNSAFE : FIRM_E_WRITE;
  uint32_t rc = FIRM_OK;
  while (length > 0 && rc == FIRM_OK) {
    size_t n = length < u.piece.size() ? static_cast<size_t>(length) : u.piece.size();
    if (!u.in.Read(u.piece.data(), n)) {
      rc = FIRM_E_SHORT;
    } else if (fwrite(u.piece.data(), 1, n, out) != n) {
      rc = FIRM_E_WRITE;
    }
    length -= n;
  }
  if (fclose(out) != 0 && rc == FIRM_OK) rc = FIRM_E_WRITE;
  if (rc != FIRM_OK) OsRemoveFile(path);
  return rc;
}

uint32_t DirectoryRecord(Unpack &u) {
  std::vector<std::string> parts;
  uint32_t rc = ReadName(u, &parts);
  if (rc != FIRM_OK) return rc;
  u.current_is_image = false;
  return EnterDirectories(u.output, parts, parts.size(), true, &u.current);
}

uint32_t FileRecord(Unpack &u) {
  std::vector<std::string> parts;
  uint32_t rc = ReadName(u, &parts);
  if (rc != FIRM_OK) return rc;
  uint16_t tag;
  uint32_t length;
  if (!u.in.ReadU16(&tag)) return FIRM_E_SHORT;
  if (tag != 0x8002) return FIRM_E_FORMAT;
  if (!u.in.ReadU32(&length)) return FIRM_E_SHORT;
  if (length > u.in.Remaining()) return FIRM_E_SHORT;
  // A file record after an image, with no directory record between them, would land under a
  // file: the package is malformed.
  if (u.current_is_image) return FIRM_E_FORMAT;
  std::string directory;
  rc = EnterDirectories(u.current, parts, parts.size() - 1, false, &directory);
  if (rc != FIRM_OK) return rc;
  return CopyOut(u, directory + "/" + parts.back(), length);
}

uint32_t NestedMagic(Unpack &u, uint32_t expected) {
  uint32_t length, magic;
  if (!u.in.ReadU32(&length) || !u.in.ReadU32(&magic)) return FIRM_E_SHORT;
  return magic == expected ? FIRM_OK : FIRM_E_FORMAT;
}

uint32_t SkipLength32(Unpack &u, uint64_t extra) {
  uint32_t length;
  if (!u.in.ReadU32(&length)) return FIRM_E_SHORT;
  return u.in.Skip(uint64_t{length} + extra) ? FIRM_OK : FIRM_E_SHORT;
}

uint32_t Record(Unpack &u, uint16_t tag) {
  switch (tag) {
    case 0: return SkipLength32(u, 12);
    case 6: return FileRecord(u);
    case 7: return DirectoryRecord(u);
    case 0x8000: {
      uint32_t length;
      if (!u.in.ReadU32(&length)) return FIRM_E_SHORT;
      u.current = u.output + "/flash.bin";
      u.current_is_image = true;
      return CopyOut(u, u.current, length);
    }
    case 0x8001: return NestedMagic(u, FIRM_MAGIC_PART1);
    case 0x8003: return NestedMagic(u, FIRM_MAGIC_PART3);
    default: break;
  }
  if (tag >= 0x8000) return SkipLength32(u, 0);  // 0x8005 and the rest
  uint16_t length;
  if (!u.in.ReadU16(&length)) return FIRM_E_SHORT;
  return u.in.Skip(length) ? FIRM_OK : FIRM_E_SHORT;
}

}  // namespace

uint32_t FirmUnpack_Package(const char *package, const char *output_dir) {
  if (!package || !output_dir || !*output_dir) return FIRM_E_OPEN;
  Unpack u;
  if (!u.in.Open(package)) return FIRM_E_OPEN;
  uint32_t magic;
  if (!u.in.ReadU32(&magic)) return FIRM_E_FORMAT;
  if (magic != FIRM_MAGIC_TYPE0 && magic != FIRM_MAGIC_TYPE1 && magic != FIRM_MAGIC_TYPE2)
    return FIRM_E_FORMAT;
  u.output = output_dir;
  if (OsMakeDir(u.output) != 0) return FIRM_E_MKDIR;
  u.current = u.output;
  // No file is longer than the package: small packages need no large piece.
  u.piece.resize(u.in.size < kCopyPiece ? static_cast<size_t>(u.in.size) + 1 : kCopyPiece);
  // The end of the file at a record boundary is the normal end; anywhere else it is not.
  while (!u.in.AtEnd()) {
    uint16_t tag;
    if (!u.in.ReadU16(&tag)) return FIRM_E_SHORT;
    uint32_t rc = Record(u, tag);
    if (rc != FIRM_OK) return rc;
  }
  return FIRM_OK;
}
