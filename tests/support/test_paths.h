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

std::string ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::string &text);

// Polls `done` every 10 ms until it returns true or `bound_ms` passes. The bound catches a
// hang; it is never a speed requirement, so give it seconds.
bool WaitUntil(const std::function<bool()> &done, int bound_ms);

// Debian's own interpreter, which has Debian's Python packages (pyftpdlib).
std::string SystemPython();

}  // namespace kvtest
