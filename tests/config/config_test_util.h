// Small helpers shared by the configuration tests.
#pragma once

#include <stdint.h>

#include <string>

namespace cfgtest {

// A fresh directory for one test and the path of a "config.ini" inside it.
struct TempConfig {
  std::string dir;
  std::string path;
};
TempConfig MakeTempConfig(const std::string &prefix);

// The names of the files in a directory, sorted.
std::string ListDir(const std::string &dir);

// A configuration of about `lines` lines, shaped like a device's: sections with plain keys,
// indexed lists and serial command lists.
std::string RealisticConfig(int lines);

}  // namespace cfgtest
