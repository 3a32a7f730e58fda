// Unpacking a 30 MB package (a flash image and ten files in two directories) against `cp` of
// a file of the same size, both on the build tree's disk with the source in the page cache.
// Prints each time and the unpacker's speed as a fraction of cp's (target: at least 0.8).
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <benchmark/benchmark.h>

#include "firm_package_writer.h"
#include "firmware/firm_tools.h"
#include "platform/os.h"

namespace {

const size_t kTotal = 30u * 1000 * 1000;

struct Files {
  std::string dir, package, plain;
  Files() {
    char templ[] = "./firmbenchXXXXXX";
    if (!mkdtemp(templ)) return;
    dir = templ;
    package = dir + "/package.bin";
    plain = dir + "/plain.bin";
    std::string piece(kTotal / 11, '\0');
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>(i * 131 + (i >> 9));
    kvtest::FirmPackage p(0xF51614DE);
    p.Text(1, "BENCH-1").Flash(kvtest::FirmLe32(0xF51614DE) + piece.substr(4));
    for (int i = 0; i < 10; ++i) {
      if (i % 5 == 0) p.Dir(i == 0 ? "www" : "lib");
      p.File("file" + std::to_string(i) + ".bin", piece);
    }
    p.Write(package);
    // cp copies the very bytes of the package.
    kvtest::FirmPackage copy(0);
    copy.Bytes(p.bytes().substr(4));
    copy.Write(plain);
  }
  ~Files() {
    if (!dir.empty()) OsRemoveTree(dir);
  }
};

Files *g_files = nullptr;

void BM_Unpack(benchmark::State &state) {
  for (auto _ : state) {
    std::string out = g_files->dir + "/out";
    OsRemoveTree(out);
    if (FirmUnpack_Package(g_files->package.c_str(), out.c_str()) != FIRM_OK)
      state.SkipWithError("unpack failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_Cp(benchmark::State &state) {
  std::string command = "cp " + g_files->plain + " " + g_files->dir + "/copy.bin";
  for (auto _ : state) {
    OsRemoveFile(g_files->dir + "/copy.bin");
    if (system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

BENCHMARK(BM_Unpack)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// One timed run each, for the ratio the target is stated in.
double Seconds(void (*run)()) {
  auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
  Files files;
  if (files.dir.empty()) return 1;
  g_files = &files;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  // Warm the page cache, then one run of each.
  FirmUnpack_Package(files.package.c_str(), (files.dir + "/warm").c_str());
  double unpack = Seconds([] {
    OsRemoveTree(g_files->dir + "/out");
    FirmUnpack_Package(g_files->package.c_str(), (g_files->dir + "/out").c_str());
  });
  double cp = Seconds([] {
    OsRemoveFile(g_files->dir + "/copy.bin");
    std::string command = "cp " + g_files->plain + " " + g_files->dir + "/copy.bin";
    if (system(command.c_str()) != 0) fprintf(stderr, "cp failed\n");
  });
  printf("unpack %.1f ms, cp %.1f ms: unpack runs at %.2fx the speed of cp (target >= 0.8)\n",
         unpack * 1000, cp * 1000, cp / unpack);
  benchmark::Shutdown();
  return 0;
}
