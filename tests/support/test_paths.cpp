#include "test_paths.h"

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace kvtest {

static std::string FromEnv(const char *name, const char *fallback) {
  const char *v = ::getenv(name);
  return (v && *v) ? v : fallback;
}

std::string SourceDir() { return FromEnv("KAVREL_SOURCE_DIR", KAVREL_TEST_SOURCE_DIR); }
std::string BinaryDir() { return FromEnv("KAVREL_BINARY_DIR", KAVREL_TEST_BINARY_DIR); }

std::string MakeTempDir(const std::string &prefix) {
  std::string root = BinaryDir() + "/test-tmp";
  MakeDir(root);
  return MakeUniqueDir(root + "/" + prefix + "-");
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

bool WaitUntil(const std::function<bool()> &done, int bound_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace kvtest
