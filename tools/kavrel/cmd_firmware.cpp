// Firmware files: the version block of a package or plain image.
#include <stdio.h>

#include <string>

#include "cli.h"

namespace {

// Header fields are bytes from a file: anything outside printable ASCII is escaped, so the
// JSON stays valid whatever the file holds.
std::string JsonString(const char *text) {
  std::string out = "\"";
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p < 0x20 || *p >= 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", *p);
      out += escaped;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

// The same bytes for a terminal: control characters shown as \xNN.
std::string Printable(const char *text) {
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (*p < 0x20 || *p == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", *p);
      out += escaped;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out;
}

struct Field {
  const char *label;
  const char *json;
  const char *value;
};

int RunFirmwareInfo(const Settings &s, Output &out, const std::string &file) {
  KavrelFirmVersionInfo info;
  uint32_t rc = Kavrel_GetFirmVersionInfo(file.c_str(), &info);
  if (rc) return out.Failure("Kavrel_GetFirmVersionInfo", rc), 1;
  const Field fields[] = {
      {"version", "version", info.FirmwareVersion}, {"tag 2", "tag2", info.Tag2},
      {"tag 10", "tag10", info.Tag10},              {"tag 3", "tag3", info.Tag3},
      {"tag 4", "tag4", info.Tag4},                 {"tag 5", "tag5", info.Tag5},
      {"tag 9", "tag9", info.Tag9},                 {"language", "language", info.Language},
  };
  if (s.json) {
    printf("{\"ok\":true");
    for (const Field &f : fields) printf(",\"%s\":%s", f.json, JsonString(f.value).c_str());
    printf(",\"plain_image\":%s,\"package_type\":%u}\n", info.PlainImage ? "true" : "false",
           info.PackageType);
    return 0;
  }
  printf("kind: %s\n", info.PlainImage ? "plain image" : "package");
  if (!info.PlainImage) printf("package type: %u\n", info.PackageType);
  for (const Field &f : fields) {
    if (f.value[0] || f.json == fields[0].json) printf("%s: %s\n", f.label, Printable(f.value).c_str());
  }
  return 0;
}

}  // namespace

void AddFirmwareCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static std::string file;
  auto *firmware = app.add_subcommand("firmware", "firmware files");
  firmware->require_subcommand(1);
  auto *info = firmware->add_subcommand("info", "print the version block of a firmware file");
  info->add_option("FILE", file, "a firmware package or plain image")->required();
  commands.push_back({info, [&s, &out] { return RunFirmwareInfo(s, out, file); }});
}
