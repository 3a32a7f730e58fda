// The curl side of the FTP benchmarks: one curl process fetching a URL, timed whole.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <string>

#include "child_process.h"
#include "test_paths.h"

namespace bench {

// The whole run of a curl process (start-up included), seconds or -1; `*own` gets curl's
// own figure for the transfer (%{time_total}), which leaves its start-up out.
inline double CurlFetch(const std::string &url, const std::string &local, const std::string &log,
                        double *own) {
  kvtest::ChildProcess curl;
  kvtest::WriteFile(log, "");
  auto start = std::chrono::steady_clock::now();
  if (!curl.Start({"curl", "-s", "-S", "-w", "%{time_total}", "-o", local, url}, log)) return -1;
  kvtest::WaitUntil([&] { return !curl.Running(); }, 60000);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  *own = atof(kvtest::ReadFile(log).c_str());
  return took;
}

}  // namespace bench
