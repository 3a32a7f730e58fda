#include "script_server.h"

#include <strings.h>

#include <chrono>
#include <cstdlib>

#include "test_socket.h"

namespace tstest {
namespace {

thread_local ScriptServer *t_server = nullptr;

}  // namespace

std::string Conn::ReadRequest() {
  std::string &data = pending_;
  char buf[4096];
  size_t head_end;
  while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
    long n = kvtest::RecvBytes(fd_, buf, sizeof buf);
    if (n <= 0) return std::string();
    data.append(buf, static_cast<size_t>(n));
  }
  head_end += 4;
  std::string length = HeaderOf(data.substr(0, head_end), "Content-Length");
  size_t want = head_end + (length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10));
  while (data.size() < want) {
    long n = kvtest::RecvBytes(fd_, buf, sizeof buf);
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
    if (!kvtest::WaitReadable(fd_, static_cast<int>(left))) break;
    long n = kvtest::RecvBytes(fd_, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

void Conn::Send(const std::string &bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    long n = kvtest::SendBytes(fd_, bytes.data() + off, bytes.size() - off);
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

void Conn::WaitForStop() {
  while (!stopping_->load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

ScriptServer::ScriptServer(Handler handler) : handler_(std::move(handler)) {
  listen_fd_ = kvtest::ListenLoopback(0, 512, &port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptServer::~ScriptServer() {
  stopping_ = true;
  kvtest::ShutdownSocket(listen_fd_);
  acceptor_.join();
  kvtest::CloseSocket(listen_fd_);
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    workers.swap(workers_);
  }
  for (auto &w : workers) w.join();
}

void ScriptServer::AcceptLoop() {
  while (!stopping_) {
    if (!kvtest::WaitReadable(listen_fd_, 50)) continue;
    int fd = kvtest::AcceptSocket(listen_fd_);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard<std::mutex> lock(mu_);
    workers_.emplace_back([this, fd] {
      t_server = this;
      Conn conn(fd, &stopping_);
      handler_(conn);
      kvtest::CloseSocket(fd);
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

uint16_t FreePort() { return kvtest::FreeLoopbackPort(); }

}  // namespace tstest
