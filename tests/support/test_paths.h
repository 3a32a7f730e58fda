// Paths and small file helpers for tests.
#pragma once

#include <functional>
#include <string>

namespace kvtest {

// The source and build trees (from the environment CTest sets, else the compile-time paths).
std::string SourceDir();
std::string BinaryDir();

// A new empty directory for one test, below the build tree's "test-tmp" folder.
std::string MakeTempDir(const std::string &prefix);

// Creates one directory (its parent must exist); true when it exists afterwards.
bool MakeDir(const std::string &path);
// Creates a new directory named `prefix` and six characters; its path, or "" on failure.
std::string MakeUniqueDir(const std::string &prefix);

// Sets or removes a variable of this process's environment (for the library and children).
void SetEnv(const std::string &name, const std::string &value);
void UnsetEnv(const std::string &name);

// The platform the test program was built for, for the few checks that only one platform
// can make (file modes, lock files, the XDG folders of Linux).
bool BuiltForWindows();
// A character that ends a folder in a path the platform makes: '/', and '\\' on Windows.
bool IsPathSeparator(char c);

// What a file written in text mode holds for `text`: the same on Linux, every "\n" as
// "\r\n" on Windows.
std::string TextForm(const std::string &text);

// True when only the user who runs the test may open `path`: on POSIX no group or other
// permission bit; on Windows an access list that allows the user (and the system's own
// account) and nobody else. `why` says what was found.
bool OnlyOwnerMayAccess(const std::string &path, std::string *why);

// True when something (a file or a directory) is at `path`.
bool FileExists(const std::string &path);
std::string ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::string &text);

// Polls `done` every 10 ms until it returns true or `bound_ms` passes. The bound catches a
// hang; it is never a speed requirement, so give it seconds.
bool WaitUntil(const std::function<bool()> &done, int bound_ms);

// Debian's own interpreter, which has Debian's Python packages (pyftpdlib). Built for
// Windows, the path that the process broker starts on the Linux side.
std::string SystemPython();

}  // namespace kvtest
