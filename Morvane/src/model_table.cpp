#include "model_table.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform.h"
#include "text.h"

namespace morvane {

namespace {

bool ParseInt(const std::string &v, int32_t *out) {
  if (v.empty() || v.size() > 10) return false;
  size_t i = (v[0] == '-') ? 1 : 0;
  if (i == v.size()) return false;
  for (size_t k = i; k < v.size(); ++k)
    if (v[k] < '0' || v[k] > '9') return false;
  long long n = std::strtoll(v.c_str(), nullptr, 10);
  if (n < INT32_MIN || n > INT32_MAX) return false;
  *out = static_cast<int32_t>(n);
  return true;
}

template <size_t N>
bool SetText(char (&field)[N], const std::string &v) {
  if (v.size() >= N) return false;
  std::memcpy(field, v.c_str(), v.size() + 1);
  return true;
}

// Sets one field of `p` from a "Key = value" line. False for an unknown key or bad value.
bool SetField(ServerParam *p, const std::string &key, const std::string &v) {
  struct IntField { const char *name; int32_t ServerParam::*member; };
  static const IntField ints[] = {
      {"CamNum", &ServerParam::CamNum}, {"ComNum", &ServerParam::ComNum},
      {"DiNum", &ServerParam::DiNum}, {"DoNum", &ServerParam::DoNum},
      {"VideoCodec", &ServerParam::VideoCodec}, {"AudioCodec", &ServerParam::AudioCodec},
      {"MDWinNum", &ServerParam::MDWinNum}, {"DefaultQuality", &ServerParam::DefaultQuality},
      {"DefaultProtocol", &ServerParam::DefaultProtocol},
      {"DefaultMediaType", &ServerParam::DefaultMediaType}, {"Flag", &ServerParam::Flag}};
  for (const IntField &f : ints)
    if (key == f.name) return ParseInt(v, &(p->*f.member));
  struct TextField { const char *name; char (ServerParam::*member)[40]; };
  static const TextField texts[] = {
      {"VideoUrl", &ServerParam::VideoUrl}, {"RxUrl", &ServerParam::RxUrl},
      {"TxUrl", &ServerParam::TxUrl}, {"QuadUrl", &ServerParam::QuadUrl},
      {"PtzUrl", &ServerParam::PtzUrl}, {"RecallUrl", &ServerParam::RecallUrl},
      {"PresetUrl", &ServerParam::PresetUrl}, {"GetDiUrl", &ServerParam::GetDiUrl},
      {"SetDoUrl", &ServerParam::SetDoUrl}, {"UartUrl", &ServerParam::UartUrl}};
  for (const TextField &f : texts)
    if (key == f.name) return SetText(p->*f.member, v);
  if (key == "DefaultVSize") return SetText(p->DefaultVSize, v);
  return false;
}

bool ValidConfigKind(const std::string &v) {
  return v == "cgi" || v == "textarea" || v == "ftp21" || v == "ftp-network-page";
}

// Every mapping names a model of the line-up that is itself not a mapping.
bool CheckMappings(const ModelTable &t, std::string *error) {
  for (const ModelEntry &m : t.models) {
    if (m.maps_to.empty()) continue;
    const ModelEntry *target = t.ByFriendlyName(m.maps_to.c_str());
    if (!target || !target->maps_to.empty()) {
      *error = std::string(m.param.ServerName) + " maps to an unknown model " + m.maps_to;
      return false;
    }
  }
  return true;
}

}  // namespace

const ModelEntry *ModelTable::ByFriendlyName(const char *name) const {
  for (const ModelEntry &m : models)
    if (std::strcmp(m.param.ServerName, name) == 0) return &m;
  return nullptr;
}

const ModelEntry *ModelTable::ByModelName(const char *model_name) const {
  if (std::strlen(model_name) < 6) return nullptr;
  for (const ModelEntry &m : models)
    if (std::strlen(m.param.ServerName) == 6 && std::strncmp(m.param.ServerName, model_name, 6) == 0)
      return &m;
  return nullptr;
}

bool ModelTable_Parse(const std::string &text, ModelTable *table, std::string *error) {
  ModelTable t;
  std::istringstream in(text);
  std::string raw;
  int line_no = 0;
  auto fail = [&](const std::string &why) {
    *error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };
  while (std::getline(in, raw)) {
    ++line_no;
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fail("unterminated section name");
      std::string name = line.substr(1, line.size() - 2);
      if (name.empty() || name.size() >= MORVANE_FRIENDLY_NAME_MAX) return fail("bad model name");
      if (t.ByFriendlyName(name.c_str())) return fail("model listed twice: " + name);
      t.models.emplace_back();
      std::memcpy(t.models.back().param.ServerName, name.c_str(), name.size() + 1);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected Key = value");
    if (t.models.empty()) return fail("field before the first model");
    std::string key = Trim(line.substr(0, eq));
    std::string value = Trim(line.substr(eq + 1));
    ModelEntry &m = t.models.back();
    if (key == "MapsTo") {
      if (value.empty() || value.size() >= MORVANE_FRIENDLY_NAME_MAX) return fail("bad MapsTo");
      m.maps_to = value;
    } else if (key == "ConfigBy") {
      if (!ValidConfigKind(value)) return fail("unknown ConfigBy kind: " + value);
    } else if (!SetField(&m.param, key, value)) {
      return fail("unknown key or value out of range: " + key);
    }
  }
  if (t.models.empty()) {
    *error = "no model";
    return false;
  }
  if (!CheckMappings(t, error)) return false;
  *table = std::move(t);
  return true;
}

std::vector<std::string> ModelTable_Candidates() {
  std::vector<std::string> files;
  std::string env = Platform_Getenv("MORVANE_MODELS_FILE");
  if (!env.empty()) files.push_back(env);
  std::string lib = Platform_LibraryDir();
  if (lib.empty()) return files;
  files.push_back(lib + "morvane-models.ini");
  // An installed library sits in <prefix>/lib (or lib/<triplet>) and its data in
  // <prefix>/share/kavrel: no path of the machine that built it is compiled in.
  std::string prefix = lib;
  for (int up = 0; up < 3 && prefix.size() > 1; ++up) {
    prefix.pop_back();  // the separator
    size_t cut = prefix.find_last_of("/\\");
    if (cut == std::string::npos) break;
    prefix.resize(cut + 1);
    files.push_back(prefix + MORVANE_SHARE_SUBDIR + "/morvane-models.ini");
  }
  return files;
}

const ModelTable *ModelTable_Get() {
  // Loaded once and never freed: callers on any thread keep using the table without locks.
  static std::mutex lock;
  static std::unique_ptr<ModelTable> table;
  std::lock_guard<std::mutex> guard(lock);
  if (table) return table.get();
  for (const std::string &path : ModelTable_Candidates()) {
    std::ifstream f(path, std::ios::binary);
    if (!f) continue;
    std::ostringstream ss;
    ss << f.rdbuf();
    auto parsed = std::make_unique<ModelTable>();
    std::string error;
    // The first file found decides: a broken file is a fault to report, not to skip.
    if (!ModelTable_Parse(ss.str(), parsed.get(), &error)) return nullptr;
    table = std::move(parsed);
    return table.get();
  }
  return nullptr;
}

}  // namespace morvane
