// The system information text that devices serve at "/cgi-bin/sysinfo.cgi": lines of
// "key=value" (see Morvane_ParseSysInfo in morvane.h for the keys).
#include "sysinfo.h"
#include "text.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

namespace morvane {

namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SetNumber(int32_t *field, const std::string &v, int32_t max) {
  if (v.empty() || v.size() > 5) return false;
  int32_t n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > max) return false;
  *field = n;
  return true;
}

// One "key=value" pair into `info`. Unknown keys are accepted and ignored.
bool SetKey(SysInfoData *info, const std::string &key, const std::string &v) {
  struct Text { const char *key; char *field; size_t size; };
  const Text texts[] = {
      {"model", info->ModelName, sizeof info->ModelName},
      {"hostname", info->HostName, sizeof info->HostName},
      {"mac", info->MacAddress, sizeof info->MacAddress},
      {"serial", info->SerialNumber, sizeof info->SerialNumber},
      {"videourl", info->VideoUrl, sizeof info->VideoUrl},
      {"audiourl", info->AudioUrl, sizeof info->AudioUrl}};
  for (const Text &t : texts) {
    if (key != t.key) continue;
    if (v.size() >= t.size || std::memchr(v.data(), '\0', v.size())) return false;
    std::memset(t.field, 0, t.size);
    std::memcpy(t.field, v.data(), v.size());
    return true;
  }
  struct Number { const char *key; int32_t *field; int32_t max; };
  const Number numbers[] = {
      {"cameras", &info->CamNum, 255}, {"comports", &info->ComNum, 255},
      {"inputs", &info->DiNum, 255}, {"outputs", &info->DoNum, 255},
      {"motionwindows", &info->MDWinNum, 255},
      {"videocodec", &info->VideoCodec, 65535}, {"audiocodec", &info->AudioCodec, 65535}};
  for (const Number &n : numbers)
    if (key == n.key) return SetNumber(n.field, v, n.max);
  return true;
}

}  // namespace

int32_t SysInfo_Parse(const char *text, SysInfoData *out) {
  if (!text || !out) return MORVANE_E_ARG;
  size_t len = strnlen(text, MORVANE_SYSINFO_TEXT_MAX + 1);
  if (len > MORVANE_SYSINFO_TEXT_MAX) return MORVANE_E_TOOLONG;
  // Parsed into a record of our own, so that the caller's is written only on success.
  auto info = std::make_unique<SysInfoData>();
  std::memset(info.get(), 0, sizeof(SysInfoData));
  std::memcpy(info->RawText, text, len);
  const std::string all(text, len);
  size_t pos = 0;
  while (pos < len) {
    size_t end = all.find('\n', pos);
    if (end == std::string::npos) end = len;
    std::string line = all.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (!SetKey(info.get(), Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1))))
      return MORVANE_E_FORMAT;
  }
  if (info->ModelName[0] == '\0') return MORVANE_E_FORMAT;
  std::memcpy(out, info.get(), sizeof(SysInfoData));
  return MORVANE_OK;
}

}  // namespace morvane
