// Morvane's platform seam on POSIX systems.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "platform.h"

namespace morvane {

char Platform_Separator() { return '/'; }

bool Platform_IsSeparator(char c) { return c == '/'; }

std::string Platform_Getenv(const char *name) {
  const char *v = ::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string Platform_LibraryDir() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void *>(&Platform_LibraryDir), &info) || !info.dli_fname)
    return std::string();
  std::string file = info.dli_fname;
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

std::string Platform_UserDataDir() {
  std::string xdg = Platform_Getenv("XDG_DATA_HOME");
  if (!xdg.empty() && xdg[0] == '/') return xdg + "/Kavrel";
  std::string home = Platform_Getenv("HOME");
  if (home.empty()) return std::string();
  return home + "/.local/share/Kavrel";
}

static bool IsDir(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Platform_MakeDirs(const std::string &dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos < dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return IsDir(dir);
}

}  // namespace morvane
