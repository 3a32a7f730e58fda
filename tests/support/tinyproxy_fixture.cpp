#include "tinyproxy_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "test_paths.h"

namespace kvtest {

namespace {

uint16_t FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace

bool Tinyproxy::Start(const std::string &user, const std::string &password) {
  dir_ = MakeTempDir("tinyproxy");
  port_ = FreePort();
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

bool Tinyproxy::Listening() const {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port_);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

}  // namespace kvtest
