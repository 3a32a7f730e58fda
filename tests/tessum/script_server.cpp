#include "script_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace tstest {
namespace {

thread_local ScriptServer *t_server = nullptr;

int Listen(uint16_t port, uint16_t *bound) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 512) != 0) {
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  *bound = ntohs(a.sin_port);
  return fd;
}

}  // namespace

std::string Conn::ReadRequest() {
  std::string &data = pending_;
  char buf[4096];
  size_t head_end;
  while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return std::string();
    data.append(buf, static_cast<size_t>(n));
  }
  head_end += 4;
  std::string length = HeaderOf(data.substr(0, head_end), "Content-Length");
  size_t want = head_end + (length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10));
  while (data.size() < want) {
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  std::string request = data.substr(0, want);
  data.erase(0, want);
  if (t_server != nullptr) t_server->Record(request);
  return request;
}

std::string Conn::ReadFor(int ms) {
  std::string out;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char buf[4096];
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

void Conn::Send(const std::string &bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

void Conn::WaitForStop() {
  while (!stopping_->load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

ScriptServer::ScriptServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = Listen(0, &port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptServer::~ScriptServer() {
  stopping_ = true;
  ::shutdown(listen_fd_, SHUT_RDWR);
  acceptor_.join();
  ::close(listen_fd_);
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    workers.swap(workers_);
  }
  for (auto &w : workers) w.join();
}

void ScriptServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard<std::mutex> lock(mu_);
    workers_.emplace_back([this, fd] {
      t_server = this;
      Conn conn(fd, &stopping_);
      handler_(conn);
      ::close(fd);
    });
  }
}

void ScriptServer::Record(const std::string &request) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back(request);
}

std::vector<std::string> ScriptServer::Requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::string HeaderOf(const std::string &request, const std::string &name) {
  size_t pos = 0;
  while ((pos = request.find("\r\n", pos)) != std::string::npos) {
    pos += 2;
    if (request.compare(pos, 2, "\r\n") == 0) break;
    if (::strncasecmp(request.c_str() + pos, name.c_str(), name.size()) == 0 &&
        request[pos + name.size()] == ':') {
      size_t start = request.find_first_not_of(' ', pos + name.size() + 1);
      return request.substr(start, request.find("\r\n", start) - start);
    }
  }
  return std::string();
}

uint16_t FreePort() {
  uint16_t port = 0;
  int fd = Listen(0, &port);
  ::close(fd);
  return port;
}

}  // namespace tstest
