#include "ftp_server.h"

#include <stdlib.h>

#include "test_paths.h"

namespace nctest {

bool PyFtpServer::Start(const std::string &name) {
  std::string dir = kvtest::MakeTempDir(name);
  if (dir.empty()) return false;
  root_ = dir + "/root";
  work_ = dir + "/work";
  kvtest::MakeDir(root_);
  kvtest::MakeDir(work_);
  std::string port_file = dir + "/port";
  std::string script = kvtest::SourceDir() + "/tests/netclient/ftp_server.py";
  if (!process_.Start({kvtest::SystemPython(), script, "--root", root_, "--port-file", port_file},
                      dir + "/ftp-server.log")) {
    return false;
  }
  if (!kvtest::WaitUntil([&] { return !kvtest::ReadFile(port_file).empty() || !process_.Running(); },
                         15000)) {
    return false;
  }
  port_ = atoi(kvtest::ReadFile(port_file).c_str());
  return port_ > 0;
}

}  // namespace nctest
