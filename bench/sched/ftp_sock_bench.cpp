// Prints the time of a login + RETR of a 2 KB file through the socket FTP client (a new
// control connection each time, passive, as the configuration fetch runs it) and through
// curl fetching the same file from the same pyftpdlib server, and their ratio.
//
//   ftp_sock_bench [rounds]   (default 50)
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "../curl_fetch.h"
#include "ftp_runner.h"
#include "ftp_server.h"
#include "test_paths.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One login + RETR + close. Seconds, or -1.
double SocketFetch(const nctest::PyFtpServer &server, const std::string &local) {
  auto start = Clock::now();
  ftptest::Runner runner;
  if (runner.Login(server.port(), nctest::PyFtpServer::user(), nctest::PyFtpServer::password()) !=
      0) {
    return -1;
  }
  FtpSockTransfer get = ftptest::Runner::Describe(FTPSOCK_RETR, true, local, "config.ini");
  if (runner.Transfer(&get) != 0) return -1;
  return Seconds(start);
}

// curl fetching the server's file; see bench::CurlFetch.
double CurlFetch(const nctest::PyFtpServer &server, const std::string &local, double *own) {
  std::string url = "ftp://" + std::string(nctest::PyFtpServer::user()) + ":" +
                    nctest::PyFtpServer::password() + "@127.0.0.1:" +
                    std::to_string(server.port()) + "/config.ini";
  return bench::CurlFetch(url, local, server.work() + "/curl.log", own);
}

}  // namespace

int main(int argc, char **argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 50;
  if (rounds < 1) rounds = 1;
  nctest::PyFtpServer server;
  if (!server.Start("ftp-sock-bench")) {
    fprintf(stderr, "the FTP server did not start\n");
    return 1;
  }
  std::string content(2048, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  if (!kvtest::WriteFile(server.root() + "/config.ini", content)) return 1;

  // One of each first, so that neither pays for a cold start.
  SocketFetch(server, server.work() + "/warm.ini");
  double own = 0, curl_own = 0;
  CurlFetch(server, server.work() + "/warm-curl.ini", &own);
  double ours = 0, curl = 0;
  for (int i = 0; i < rounds; ++i) {
    double a = SocketFetch(server, server.work() + "/sock.ini");
    double b = CurlFetch(server, server.work() + "/curl.ini", &own);
    if (a < 0 || b < 0) {
      fprintf(stderr, "a fetch failed\n");
      return 1;
    }
    ours += a;
    curl += b;
    curl_own += own;
  }
  bool same = kvtest::ReadFile(server.work() + "/sock.ini") == content &&
              kvtest::ReadFile(server.work() + "/curl.ini") == content;
  printf("login + RETR of 2 KB from pyftpdlib on 127.0.0.1:%d, %d rounds\n", server.port(), rounds);
  printf("%-36s %8.2f ms per fetch\n", "socket FTP client (passive)", ours / rounds * 1000);
  printf("%-36s %8.2f ms per fetch\n", "curl, whole process", curl / rounds * 1000);
  printf("%-36s %8.2f ms per fetch\n", "curl, its own time_total", curl_own / rounds * 1000);
  printf("ratio socket client / curl process   %8.2f\n", ours / curl);
  printf("ratio socket client / curl time_total%8.2f%s\n", ours / curl_own,
         same ? "" : "  (files differ!)");
  return same ? 0 : 1;
}
