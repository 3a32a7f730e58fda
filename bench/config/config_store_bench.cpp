// One ConfigStore_Get and one ConfigStore_Set on a realistic configuration of 2,000 lines.
// The read looks up a key near the end of the file (the whole file is scanned); the write
// changes a value in the middle (the whole file is rewritten, flushed to the disk and put in
// place). Writes are measured on the disk of the build tree and, to show the cost without
// the flush, on a memory file system (/dev/shm) when there is one.
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <benchmark/benchmark.h>

#include "config/config_store.h"
#include "kavrel_results.h"
#include "platform/os.h"
#include "realistic_config.h"

namespace {

constexpr int kLines = 2000;

struct ConfigFile {
  std::string dir, path;
  explicit ConfigFile(const char *root) {
    std::string templ = std::string(root) + "/cfgbenchXXXXXX";
    if (!mkdtemp(&templ[0])) return;
    dir = templ;
    path = dir + "/config.ini";
    FILE *f = fopen(path.c_str(), "wb");
    std::string text = cfgtest::RealisticConfig(kLines);
    if (f) {
      fwrite(text.data(), 1, text.size(), f);
      fclose(f);
    }
  }
  ~ConfigFile() {
    if (!dir.empty()) OsRemoveTree(dir);
  }
};

void BM_Get(benchmark::State &state) {
  ConfigFile file(".");
  char out[CONFIG_VALUE_MAX];
  for (auto _ : state) {
    uint32_t r = ConfigStore_Get(file.path.c_str(), "motion4", "setting number 11", out, "", 2);
    if (r != KAVREL_OK) state.SkipWithError("value not found");
    benchmark::DoNotOptimize(out);
  }
}

void Set(benchmark::State &state, const char *root) {
  ConfigFile file(root);
  if (file.dir.empty()) return state.SkipWithError("no directory");
  int n = 0;
  for (auto _ : state) {
    std::string value = "value " + std::to_string(n++);
    uint32_t r = ConfigStore_Set(file.path.c_str(), "VIDEO2", "setting number 5", value.c_str(),
                                 -1, 0);
    if (r != KAVREL_OK) state.SkipWithError("write failed");
  }
}

void BM_SetOnDisk(benchmark::State &state) { Set(state, "."); }
void BM_SetInMemory(benchmark::State &state) {
  if (access("/dev/shm", W_OK) != 0) return state.SkipWithError("no /dev/shm");
  Set(state, "/dev/shm");
}

}  // namespace

BENCHMARK(BM_Get)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetOnDisk)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetInMemory)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
