#include "firmware_files.h"

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "firm_package_writer.h"
#include "test_paths.h"

namespace fwtest {

namespace fs = std::filesystem;

namespace {

std::string DirOf(const std::string &path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? "" : path.substr(0, cut);
}

std::string BaseOf(const std::string &path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool WritePackage(const std::string &path, uint32_t magic, const Tree &tree,
                  const std::string &version, bool directories_descending) {
  kvtest::FirmPackage package(magic);
  package.Text(1, version);
  // File records land in the directory of the last directory record (the output directory
  // before the first): top-level files first, then every directory on the way, parents
  // first, each followed by its files.
  std::set<std::string> dirs;
  for (const auto &entry : tree) {
    for (std::string d = DirOf(entry.first); !d.empty(); d = DirOf(d)) dirs.insert(d);
  }
  for (const auto &entry : tree) {
    if (DirOf(entry.first).empty()) package.File(entry.first, entry.second);
  }
  std::vector<std::string> order(dirs.begin(), dirs.end());
  if (directories_descending) std::reverse(order.begin(), order.end());
  for (const std::string &dir : order) {
    package.Dir(dir);
    for (const auto &entry : tree) {
      if (DirOf(entry.first) == dir) package.File(BaseOf(entry.first), entry.second);
    }
  }
  return package.Write(path);
}

bool WritePlainImage(const std::string &path, size_t payload_size, const std::string &model) {
  std::string payload(payload_size, '\0');
  for (size_t i = 0; i < payload_size; ++i) payload[i] = static_cast<char>('a' + i % 23);
  std::string token = std::string(1, '\0') + model + "-V200-0A1B" + std::string(1, '\0');
  if (payload_size < token.size() + 16) return false;
  payload.replace(8, token.size(), token);
  return kvtest::WriteFile(path, kvtest::FirmPlainImage(payload));
}

std::string Slurp(const std::string &path) { return kvtest::ReadFile(path); }

bool Exists(const std::string &path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

Tree ReadTree(const std::string &dir) {
  Tree tree;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file()) {
      tree[fs::relative(it->path(), dir).generic_string()] = Slurp(it->path().string());
    }
  }
  return tree;
}

}  // namespace fwtest
