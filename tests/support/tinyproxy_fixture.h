// A real HTTP proxy (Debian's tinyproxy) on loopback for tests, with or without Basic
// credentials of its own. Its output goes to files in its own folder and it dies with the
// test (kvtest::ChildProcess).
#pragma once

#include <stdint.h>

#include <string>

#include "child_process.h"

namespace kvtest {

class Tinyproxy {
 public:
  // Starts it on a free port; true once it accepts connections (bounded at 10 s).
  bool Start(const std::string &user = "", const std::string &password = "");
  uint16_t port() const { return port_; }
  // What it logged so far (the requests it forwarded among them).
  std::string Log() const;

 private:
  bool Listening() const;

  std::string dir_;
  uint16_t port_ = 0;
  ChildProcess proc_;
};

}  // namespace kvtest
