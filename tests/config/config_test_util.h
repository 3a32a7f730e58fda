// Small helpers shared by the configuration tests.
#pragma once

#include <stdint.h>

#include <string>

#include "realistic_config.h"

namespace cfgtest {

// A fresh directory for one test and the path of a "config.ini" inside it.
struct TempConfig {
  std::string dir;
  std::string path;
};
TempConfig MakeTempConfig(const std::string &prefix);

// The names of the files in a directory, sorted.
std::string ListDir(const std::string &dir);

}  // namespace cfgtest
