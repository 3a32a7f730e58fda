#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "test_paths.h"

namespace kvtest {

bool MakeDir(const std::string &path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

std::string MakeUniqueDir(const std::string &prefix) {
  std::string buf = prefix + "XXXXXX";
  if (!::mkdtemp(&buf[0])) return std::string();
  return buf;
}

void SetEnv(const std::string &name, const std::string &value) {
  ::setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string &name) { ::unsetenv(name.c_str()); }

bool FileExists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool OnlyOwnerMayAccess(const std::string &path, std::string *why) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    *why = "not found";
    return false;
  }
  char mode[8];
  snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  *why = std::string("mode ") + mode;
  return (st.st_mode & 077) == 0;
}

bool BuiltForWindows() { return false; }

bool IsPathSeparator(char c) { return c == '/'; }

std::string TextForm(const std::string &text) { return text; }

std::string SystemPython() {
  return ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

}  // namespace kvtest
