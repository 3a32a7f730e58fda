// Morvane's platform seam on Windows.
#include <windows.h>

#include <stdlib.h>

#include "platform.h"

namespace morvane {

char Platform_Separator() { return '\\'; }

bool Platform_IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Platform_Getenv(const char *name) {
  char buf[MAX_PATH * 2];
  DWORD n = ::GetEnvironmentVariableA(name, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return std::string();
  return std::string(buf, n);
}

std::string Platform_LibraryDir() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&Platform_LibraryDir), &self))
    return std::string();
  char file[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(self, file, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string path(file, n);
  size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string Platform_UserDataDir() {
  std::string base = Platform_Getenv("LOCALAPPDATA");
  if (base.empty()) return std::string();
  return base + "\\Kavrel";
}

static bool IsDir(const std::string &path) {
  DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool Platform_MakeDirs(const std::string &dir) {
  // Skip a drive ("C:\") or UNC prefix: those parts always exist or cannot be created.
  size_t start = (dir.size() > 2 && dir[1] == ':') ? 3 : 1;
  for (size_t pos = start; pos <= dir.size(); ++pos) {
    if (pos < dir.size() && dir[pos] != '\\' && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (!IsDir(part) && !::CreateDirectoryA(part.c_str(), nullptr) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS)
      continue;  // a UNC server or share part cannot be created; the final check decides
  }
  return IsDir(dir);
}

}  // namespace morvane
