// Prints the throughput of a 16 MB FTP upload through NetClient_FTP_PutFileWithProgress
// (waiting, as the firmware upgrade runs it; and asynchronous) and through curl -T, all to
// the same pyftpdlib server on loopback.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "ftp_server.h"
#include "netclient.h"
#include "test_paths.h"

namespace {

const size_t kFileSize = 16u << 20;

struct Done {
  std::mutex mu;
  std::condition_variable cv;
  uint32_t code = 0;
};

void NETCLIENT_CALL OnEvent(NetClientRequestHandle, uint32_t event, void *context) {
  auto *done = static_cast<Done *>(context);
  if (event != NETCLIENT_EV_FTP_PUT_DONE && event != NETCLIENT_EV_FTP_PUT_FAIL &&
      event != NETCLIENT_EV_FTP_CONNECT_FAIL) {
    return;
  }
  std::lock_guard<std::mutex> lock(done->mu);
  done->code = event;
  done->cv.notify_all();
}

long RemoteSize(const nctest::PyFtpServer &server, const char *name) {
  struct stat st;
  return ::stat((server.root() + "/" + name).c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void Report(const char *what, double seconds, long arrived) {
  printf("%-46s %8.2f s  %8.2f MB/s  (%ld bytes arrived)\n", what, seconds,
         kFileSize / seconds / (1024.0 * 1024.0), arrived);
}

// One upload through the network client; waiting or asynchronous. Seconds, or -1.
double NetClientUpload(const nctest::PyFtpServer &server, const std::string &local,
                       const char *remote, bool wait) {
  NetClientHandle context = nullptr;
  NetClientRequestHandle request = nullptr;
  if (NetClient_Initialize(&context, NETCLIENT_VERSION_WORD) != 0) return -1;
  Done done;
  NetClientRequestInfo info;
  memset(&info, 0, sizeof info);
  info.type = NETCLIENT_TYPE_FTP;
  info.port = static_cast<uint32_t>(server.port());
  info.timeout_ms = 30000;
  strcpy(info.host, "127.0.0.1");
  strcpy(info.user, nctest::PyFtpServer::user());
  strcpy(info.password, nctest::PyFtpServer::password());
  info.callback = wait ? nullptr : OnEvent;
  info.context = &done;
  double seconds = -1;
  if (NetClient_OpenRequest(context, &request) == 0 &&
      NetClient_SetRequestInfo(request, &info) == 0 && NetClient_Connect(request, 1) == 0) {
    auto start = std::chrono::steady_clock::now();
    uint32_t r = NetClient_FTP_PutFileWithProgress(request, local.c_str(), remote,
                                                   NETCLIENT_FTP_MODE_BINARY | NETCLIENT_FTP_MODE_LONG_WAIT,
                                                   wait ? 1 : 0, nullptr, nullptr);
    if (r == 0 && !wait) {
      std::unique_lock<std::mutex> lock(done.mu);
      done.cv.wait_for(lock, std::chrono::minutes(5), [&] { return done.code != 0; });
      if (done.code != NETCLIENT_EV_FTP_PUT_DONE) r = done.code != 0 ? done.code : 1;
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (r == 0) seconds = took.count();
    else fprintf(stderr, "upload failed: %x\n", r);
  }
  NetClient_Release(&context);
  return seconds;
}

double CurlUpload(const nctest::PyFtpServer &server, const std::string &local, const char *remote) {
  kvtest::ChildProcess curl;
  std::string url = "ftp://" + std::string(nctest::PyFtpServer::user()) + ":" +
                    nctest::PyFtpServer::password() + "@127.0.0.1:" + std::to_string(server.port()) +
                    "/" + remote;
  auto start = std::chrono::steady_clock::now();
  if (!curl.Start({"curl", "-s", "-S", "-T", local, url}, server.work() + "/curl.log")) return -1;
  kvtest::WaitUntil([&] { return !curl.Running(); }, 300000);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

}  // namespace

int main() {
  nctest::PyFtpServer server;
  if (!server.Start("netclient-bench")) {
    fprintf(stderr, "the FTP server did not start\n");
    return 1;
  }
  std::string local = server.work() + "/upload-16M.bin";
  std::string bytes(kFileSize, '\0');
  for (size_t i = 0; i < kFileSize; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  if (!kvtest::WriteFile(local, bytes)) return 1;

  printf("16 MB FTP upload to pyftpdlib on 127.0.0.1:%d\n", server.port());
  double waiting = NetClientUpload(server, local, "netclient-wait.bin", true);
  Report("NetClient_FTP_PutFileWithProgress, waiting", waiting, RemoteSize(server, "netclient-wait.bin"));
  double async = NetClientUpload(server, local, "netclient-async.bin", false);
  Report("NetClient_FTP_PutFileWithProgress, async", async, RemoteSize(server, "netclient-async.bin"));
  double curl = CurlUpload(server, local, "curl.bin");
  Report("curl -T", curl, RemoteSize(server, "curl.bin"));
  printf("waiting upload paced at 8 KB per 16 ms: at most %.2f MB/s\n",
         8192.0 / 0.016 / (1024.0 * 1024.0));
  return waiting > 0 && async > 0 && curl > 0 ? 0 : 1;
}
