#include "config_test_util.h"

#include <dirent.h>

#include <algorithm>
#include <vector>

#include "test_paths.h"

namespace cfgtest {

TempConfig MakeTempConfig(const std::string &prefix) {
  TempConfig t;
  t.dir = kvtest::MakeTempDir(prefix);
  t.path = t.dir + "/config.ini";
  return t;
}

std::string ListDir(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string &n : names) joined += n + ";";
  return joined;
}

}  // namespace cfgtest
