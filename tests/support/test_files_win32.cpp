// Paths in tests built for Windows stay in the Linux form that CTest hands over
// ("/work/.../build/windows/test-tmp/..."): Wine reads a path rooted at '/' on the drive of
// the current directory, which maps the Linux root, and the Linux side of the stage (the
// simulator, the FTP servers) can use the same text.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <stdlib.h>

#include <random>
#include <vector>

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

// The user running the test.
static std::vector<char> CurrentUser() {
  std::vector<char> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.resize(size);
  if (!size || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  CloseHandle(token);
  return user;
}

bool OnlyOwnerMayAccess(const std::string &path, std::string *why) {
  std::vector<char> user = CurrentUser();
  if (user.empty()) {
    *why = "no user token";
    return false;
  }
  PSID me = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    *why = "no security information";
    return false;
  }
  char *text = nullptr;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text, nullptr)) {
    *why = text;
    LocalFree(text);
  }
  // The operating system's own account may stand beside the user (Wine reports it for every
  // file, mapping access lists to Unix modes); nobody else.
  BYTE system_sid[SECURITY_MAX_SID_SIZE];
  DWORD system_size = sizeof system_sid;
  bool only = dacl != nullptr && dacl->AceCount > 0 &&
              CreateWellKnownSid(WinLocalSystemSid, nullptr, system_sid, &system_size);
  for (DWORD i = 0; only && i < dacl->AceCount; ++i) {
    ACE_HEADER *ace = nullptr;
    only = GetAce(dacl, i, reinterpret_cast<void **>(&ace)) &&
           ace->AceType == ACCESS_ALLOWED_ACE_TYPE;
    if (!only) break;
    PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart;
    only = EqualSid(sid, me) || EqualSid(sid, system_sid);
  }
  LocalFree(descriptor);
  return only;
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
