// A scripted TCP peer on 127.0.0.1 for Tessum's tests: each accepted connection runs the
// test's handler on its own thread, which reads and answers exactly what the test wants
// (including nothing, garbage, or a close at the wrong moment).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tstest {

class Conn {
 public:
  Conn(int fd, const std::atomic<bool> *stopping) : fd_(fd), stopping_(stopping) {}
  // Reads one HTTP request: the head, then Content-Length bytes of body. Empty on EOF.
  std::string ReadRequest();
  // Reads whatever arrives within `ms` (until the peer closes or the time passes).
  std::string ReadFor(int ms);
  void Send(const std::string &bytes);
  // Blocks until the server stops (a peer that never answers).
  void WaitForStop();
  int fd() const { return fd_; }

 private:
  int fd_;
  const std::atomic<bool> *stopping_;
  std::string pending_;
};

class ScriptServer {
 public:
  using Handler = std::function<void(Conn &)>;
  explicit ScriptServer(Handler handler);
  ~ScriptServer();
  uint16_t port() const { return port_; }
  // Every request text read by Conn::ReadRequest, in arrival order.
  std::vector<std::string> Requests();
  int Connections() const { return connections_.load(); }
  void Record(const std::string &request);

 private:
  void AcceptLoop();

  Handler handler_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  std::mutex mu_;
  std::vector<std::thread> workers_;
  std::vector<std::string> requests_;
};

// The value of a header in a request text ("" when absent), name case-insensitive.
std::string HeaderOf(const std::string &request, const std::string &name);

// A free TCP port on 127.0.0.1 at the time of the call.
uint16_t FreePort();

}  // namespace tstest
