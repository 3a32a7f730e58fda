// Reading and checking kavrel fleet's inventory file.
#include "fleet_inventory.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

const char *const kFleetColumns[] = {"name", "host", "http_port", "ftp_port", "user", "type"};

std::string FleetTrim(const std::string &text) {
  size_t b = text.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = text.find_last_not_of(" \t\r");
  return text.substr(b, e - b + 1);
}

std::vector<std::string> FleetSplit(const std::string &line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(FleetTrim(field));
  if (!line.empty() && line.back() == ',') fields.push_back("");
  return fields;
}

bool FleetPort(const std::string &text, long *port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *port = strtol(text.c_str(), nullptr, 10);
  return *port >= 1 && *port <= 65535;
}

bool FleetReadPasswordFile(const std::string &path, std::string *password) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::getline(in, *password);
  if (!password->empty() && password->back() == '\r') password->pop_back();
  return true;
}

}  // namespace

// Reads `path`; on a bad line, `error` names the file and line. False on any error.
bool FleetInventory::Load(const std::string &path, std::string *error) {
  std::ifstream in(path);
  if (!in) return Fail(error, "cannot read inventory " + path);
  path_ = path;
  std::string line;
  int number = 0;
  bool header_seen = false;
  while (std::getline(in, line)) {
    ++number;
    std::string t = FleetTrim(line);
    if (t.empty() || t[0] == '#') continue;
    bool ok = header_seen ? AddLine(t, number, error) : ReadHeader(t, number, error);
    if (!ok) return false;
    header_seen = true;
  }
  if (!header_seen) return Fail(error, path + ": no header line");
  return true;
}

// Keeps the entries whose name is in `names` (when given) and whose type is in `types`.
std::vector<FleetEntry> FleetInventory::Select(const std::vector<std::string> &names,
                               const std::vector<std::string> &types) const {
  std::vector<FleetEntry> chosen;
  for (const FleetEntry &e : entries_) {
    if (!names.empty() && std::find(names.begin(), names.end(), e.name) == names.end()) continue;
    if (!types.empty() && std::find(types.begin(), types.end(), e.device.type) == types.end()) continue;
    chosen.push_back(e);
  }
  return chosen;
}

bool FleetInventory::Fail(std::string *error, const std::string &message) {
  *error = message;
  return false;
}
bool FleetInventory::FailAt(std::string *error, int line, const std::string &message) {
  return Fail(error, path_ + ":" + std::to_string(line) + ": " + message);
}

bool FleetInventory::ReadHeader(const std::string &line, int number, std::string *error) {
  columns_ = FleetSplit(line);
  for (const char *c : kFleetColumns) {
    if (Column(c) < 0) return FailAt(error, number, std::string("header lacks the column ") + c);
  }
  return true;
}

int FleetInventory::Column(const char *name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i] == name) return static_cast<int>(i);
  }
  return -1;
}

std::string FleetInventory::Field(const std::vector<std::string> &fields, const char *name) const {
  int i = Column(name);
  return i < 0 || static_cast<size_t>(i) >= fields.size() ? "" : fields[static_cast<size_t>(i)];
}

bool FleetInventory::AddLine(const std::string &line, int number, std::string *error) {
  std::vector<std::string> fields = FleetSplit(line);
  if (fields.size() != columns_.size()) {
    return FailAt(error, number, std::to_string(fields.size()) + " fields where the header has " +
                                     std::to_string(columns_.size()));
  }
  FleetEntry e;
  e.line = number;
  e.name = Field(fields, "name");
  e.device.host = Field(fields, "host");
  e.device.user = Field(fields, "user");
  e.device.type = Field(fields, "type");
  for (const char *c : {"name", "host", "type"}) {
    if (Field(fields, c).empty()) return FailAt(error, number, std::string("empty ") + c);
  }
  if (!names_.insert(e.name).second) return FailAt(error, number, "duplicate name " + e.name);
  long http = 0, ftp = 0;
  if (!FleetPort(Field(fields, "http_port"), &http)) {
    return FailAt(error, number, "bad http_port \"" + Field(fields, "http_port") + "\"");
  }
  if (!FleetPort(Field(fields, "ftp_port"), &ftp)) {
    return FailAt(error, number, "bad ftp_port \"" + Field(fields, "ftp_port") + "\"");
  }
  e.device.http_port = static_cast<int>(http);
  e.device.ftp_port = static_cast<unsigned>(ftp);
  if (!Password(fields, number, &e.device.password, error)) return false;
  entries_.push_back(e);
  return true;
}

bool FleetInventory::Password(const std::vector<std::string> &fields, int number, std::string *password,
              std::string *error) {
  std::string env = Field(fields, "password_env");
  std::string file = Field(fields, "password_file");
  if (!env.empty()) {
    const char *value = getenv(env.c_str());
    if (!value) return FailAt(error, number, "environment variable " + env + " is not set");
    *password = value;
    return true;
  }
  if (file.empty()) return true;
  // A relative password_file is beside the inventory, wherever the command runs from.
  std::filesystem::path secret(file);
  if (secret.is_relative()) secret = std::filesystem::path(path_).parent_path() / secret;
  if (!FleetReadPasswordFile(secret.string(), password)) {
    return FailAt(error, number, "cannot read password_file " + file);
  }
  return true;
}
