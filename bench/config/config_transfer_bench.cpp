// Prints the time of Kavrel_UpdateLocalConfig fetching a device's configuration over FTP
// (the simulator's QB3101: the CGI download and the text-area page answer 404 first, then
// login and RETR of "config.ini", then the file is normalised and its FTP port learned) and
// of curl fetching the same file from the same FTP server, and their ratio.
//
//   config_transfer_bench [rounds]   (default 30)
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "../curl_fetch.h"
#include "child_process.h"
#include "devsim_fixture.h"
#include "kavrel.h"
#include "test_paths.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// curl fetching the device's configuration over FTP; see bench::CurlFetch.
double CurlFetch(const kvtest::DevsimDevice &dev, const std::string &local,
                 const std::string &log, double *own) {
  std::string url = "ftp://" + dev.user + ":" + dev.password + "@127.0.0.1:" +
                    std::to_string(dev.ftp_port) + "/config.ini";
  return bench::CurlFetch(url, local, log, own);
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 30;
  if (rounds < 1) rounds = 1;
  kvtest::Devsim sim;
  if (!sim.Start({{"QB3101", "ftp"}})) {
    fprintf(stderr, "the simulator did not start: %s\n", sim.log_path().c_str());
    return 1;
  }
  const kvtest::DevsimDevice &dev = *sim.Device("ftp");
  KavrelHandle handle = nullptr;
  DeviceHandle device = nullptr;
  if (Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER) || Kavrel_CreateDevice(handle, &device)) {
    return 1;
  }
  KavrelDeviceProperty p{};
  p.address = "127.0.0.1";
  p.user = dev.user.c_str();
  p.password = dev.password.c_str();
  p.http_port = dev.http_port;
  p.ftp_port = static_cast<uint32_t>(dev.ftp_port);
  p.timeout_ms = 10000;
  if (Kavrel_SetDeviceProperty(device, &p, 0) != 0) {  // also the warm-up
    fprintf(stderr, "the first fetch failed\n");
    return 1;
  }
  std::string local = sim.workdir() + "/curl.ini", log = sim.workdir() + "/curl.log";
  double own = 0, curl_own = 0, ours = 0, curl = 0;
  CurlFetch(dev, local, log, &own);
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    if (Kavrel_UpdateLocalConfig(device, 0) != 0) {
      fprintf(stderr, "Kavrel_UpdateLocalConfig failed\n");
      return 1;
    }
    ours += Seconds(start);
    double b = CurlFetch(dev, local, log, &own);
    if (b < 0) return 1;
    curl += b;
    curl_own += own;
  }
  Kavrel_DeleteDevice(device);
  Kavrel_Release(&handle);
  printf("configuration of %zu bytes over FTP from the simulator, %d rounds\n",
         kvtest::ReadFile(dev.config_path).size(), rounds);
  printf("%-42s %8.2f ms per fetch\n", "Kavrel_UpdateLocalConfig (2 x 404, FTP)",
         ours / rounds * 1000);
  printf("%-42s %8.2f ms per fetch\n", "curl, whole process", curl / rounds * 1000);
  printf("%-42s %8.2f ms per fetch\n", "curl, its own time_total", curl_own / rounds * 1000);
  printf("ratio UpdateLocalConfig / curl process     %8.2f\n", ours / curl);
  printf("ratio UpdateLocalConfig / curl time_total  %8.2f\n", ours / curl_own);
  return 0;
}
