// Paths in tests built for Windows stay in the Linux form that CTest hands over
// ("/work/.../build/windows/test-tmp/..."): Wine reads a path rooted at '/' on the drive of
// the current directory, which maps the Linux root, and the Linux side of the stage (the
// simulator, the FTP servers) can use the same text.
#include <windows.h>

#include <stdlib.h>

#include <random>

#include "test_paths.h"

namespace kvtest {

bool MakeDir(const std::string &path) {
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string MakeUniqueDir(const std::string &prefix) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = prefix;
    for (int i = 0; i < 6; ++i) path += kChars[random() % (sizeof kChars - 1)];
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

// Through the C runtime, which passes the change on to the process's environment block, so
// that getenv() and GetEnvironmentVariable() both see it.
void SetEnv(const std::string &name, const std::string &value) {
  _putenv_s(name.c_str(), value.c_str());
}

void UnsetEnv(const std::string &name) { _putenv_s(name.c_str(), ""); }

bool FileExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool BuiltForWindows() { return true; }

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

std::string TextForm(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string SystemPython() { return "/usr/bin/python3"; }

}  // namespace kvtest
