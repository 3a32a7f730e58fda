#include "firmware_files.h"

#include <stdio.h>

#include <filesystem>
#include <set>
#include <system_error>

#include "test_paths.h"

namespace fwtest {

namespace fs = std::filesystem;

namespace {

void Put16(std::string *out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string *out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutName(std::string *out, uint32_t tag, const std::string &name) {
  Put16(out, tag);
  Put16(out, static_cast<uint32_t>(name.size()));
  *out += name;
}

void PutFile(std::string *out, const std::string &name, const std::string &data) {
  PutName(out, 6, name);
  Put16(out, 0x8002);
  Put32(out, static_cast<uint32_t>(data.size()));
  *out += data;
}

std::string Scrambled(const std::string &plain) {
  std::string stored;
  for (size_t i = 0; i < plain.size(); ++i) {
    stored.push_back(static_cast<char>((static_cast<unsigned char>(plain[i]) + (i % 256) + '0') & 0xFF));
  }
  return stored;
}

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
                  const std::string &version) {
  std::string out;
  Put32(&out, magic);
  Put16(&out, 1);
  std::string text = Scrambled(version);
  Put16(&out, static_cast<uint32_t>(text.size()));
  out += text;
  // Every directory on the way gets its record, parents first, so that each exists before
  // its children are written.
  std::set<std::string> dirs;
  for (const auto &entry : tree) {
    for (std::string d = DirOf(entry.first); !d.empty(); d = DirOf(d)) dirs.insert(d);
  }
  PutName(&out, 7, "");
  for (const auto &entry : tree) {
    if (DirOf(entry.first).empty()) PutFile(&out, entry.first, entry.second);
  }
  for (const std::string &dir : dirs) {
    PutName(&out, 7, dir);
    for (const auto &entry : tree) {
      if (DirOf(entry.first) == dir) PutFile(&out, BaseOf(entry.first), entry.second);
    }
  }
  return kvtest::WriteFile(path, out);
}

bool WritePlainImage(const std::string &path, size_t payload_size, const std::string &model) {
  std::string payload(payload_size, '\0');
  for (size_t i = 0; i < payload_size; ++i) payload[i] = static_cast<char>('a' + i % 23);
  std::string token = std::string(1, '\0') + model + "-V200-0A1B" + std::string(1, '\0');
  if (payload_size < token.size() + 16) return false;
  payload.replace(8, token.size(), token);
  std::string out;
  uint32_t n = static_cast<uint32_t>(payload_size);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((n >> shift) & 0xFF));
  out += payload;
  unsigned sum = 0;
  for (unsigned char c : out) sum += c;
  out.push_back(static_cast<char>((256 - sum % 256) % 256));
  return kvtest::WriteFile(path, out);
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
