// A real FTP server (pyftpdlib, Debian's own Python) on a free loopback port, serving a
// fresh temporary root, for the network client's tests and benchmark.
#pragma once

#include <string>

#include "child_process.h"

namespace nctest {

class PyFtpServer {
 public:
  // Starts the server below a new temporary directory; false when it did not come up.
  bool Start(const std::string &name);
  void Stop() { process_.Stop(); }
  int port() const { return port_; }
  const std::string &root() const { return root_; }  // what the server serves
  const std::string &work() const { return work_; }  // local files of the test
  static const char *user() { return "admin"; }
  static const char *password() { return "secret"; }

 private:
  kvtest::ChildProcess process_;
  int port_ = 0;
  std::string root_, work_;
};

}  // namespace nctest
