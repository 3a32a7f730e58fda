#include "tinyproxy_fixture.h"

#include "test_paths.h"
#include "test_socket.h"

namespace kvtest {

bool Tinyproxy::Start(const std::string &user, const std::string &password) {
  dir_ = MakeTempDir("tinyproxy");
  port_ = FreeLoopbackPort();
  std::string conf = "Port " + std::to_string(port_) +
                     "\nListen 127.0.0.1\nTimeout 10\nLogFile \"" + dir_ +
                     "/tinyproxy.log\"\nLogLevel Info\nMaxClients 10\nAllow 127.0.0.1\n"
                     "DisableViaHeader Yes\n";
  if (!user.empty()) conf += "BasicAuth " + user + " " + password + "\n";
  if (!WriteFile(dir_ + "/tinyproxy.conf", conf)) return false;
  if (!proc_.Start({"tinyproxy", "-d", "-c", dir_ + "/tinyproxy.conf"}, dir_ + "/tinyproxy.out")) {
    return false;
  }
  return WaitUntil([this] { return Listening(); }, 10000);
}

std::string Tinyproxy::Log() const { return ReadFile(dir_ + "/tinyproxy.log"); }

bool Tinyproxy::Listening() const { return LoopbackAccepts(port_); }

}  // namespace kvtest
