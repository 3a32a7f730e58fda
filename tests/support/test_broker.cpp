// kavrel_test_broker: the Linux side of the Wine stage. Test programs built for Windows
// cannot start Linux programs (Wine hands back no process handle, and the program is
// re-parented to PID 1), so they ask this broker to start the simulator, tinyproxy and the
// FTP servers for them, with the same kvtest::ChildProcess that the Linux tests use.
//
// It listens on 127.0.0.1 and prints one line, "PORT:SECRET", the value of
// KVTEST_PROCESS_BROKER for the test programs; a request that does not begin with the secret
// is refused. One connection per started process: "start", then "running", "signal", "stop"
// (see child_process_win32.cpp); when the connection closes, the process is stopped. It runs
// until SIGTERM or until its standard input closes.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "broker_wire.h"
#include "child_process.h"

namespace {

using kvtest::broker::ReadWord;
using kvtest::broker::SendWords;

bool ReadCount(int fd, std::string *pending, size_t *count) {
  std::string w;
  if (!ReadWord(fd, pending, &w) || w.empty() || w.size() > 4) return false;
  *count = std::strtoul(w.c_str(), nullptr, 10);
  return true;
}

bool ReadList(int fd, std::string *pending, std::vector<std::string> *out) {
  size_t count = 0;
  if (!ReadCount(fd, pending, &count)) return false;
  for (size_t i = 0; i < count; ++i) {
    out->emplace_back();
    if (!ReadWord(fd, pending, &out->back())) return false;
  }
  return true;
}

bool Start(int fd, std::string *pending, kvtest::ChildProcess *child) {
  std::string log_path;
  std::vector<std::string> argv, env;
  if (!ReadWord(fd, pending, &log_path) || !ReadList(fd, pending, &argv) ||
      !ReadList(fd, pending, &env)) {
    return false;
  }
  bool started = child->Start(argv, log_path, env);
  return SendWords(fd, {std::to_string(started ? child->pid() : -1)}) && started;
}

// One client: its process lives as long as the connection (this thread, too, since the
// child's PR_SET_PDEATHSIG follows the thread that started it).
void Serve(int fd, const std::string &secret) {
  std::string pending, word;
  kvtest::ChildProcess child;
  if (ReadWord(fd, &pending, &word) && word == secret && ReadWord(fd, &pending, &word)) {
    if (word == "pid") {
      SendWords(fd, {std::to_string(::getpid())});
    } else if (word == "start" && Start(fd, &pending, &child)) {
      while (ReadWord(fd, &pending, &word)) {
        std::string reply = "0";
        if (word == "running") {
          reply = child.Running() ? "1" : "0";
        } else if (word == "signal" && ReadWord(fd, &pending, &word)) {
          child.Signal(std::atoi(word.c_str()));
        } else if (word == "stop" && ReadWord(fd, &pending, &word)) {
          reply = std::to_string(child.Stop(std::atoi(word.c_str())));
        } else {
          break;
        }
        if (!SendWords(fd, {reply})) break;
      }
    }
  }
  child.Stop();
  kvtest::CloseSocket(fd);
}

std::string NewSecret() {
  unsigned char bytes[16] = {};
  FILE *f = fopen("/dev/urandom", "rb");
  if (!f || fread(bytes, 1, sizeof bytes, f) != sizeof bytes) abort();
  fclose(f);
  std::string hex;
  for (unsigned char b : bytes) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  return hex;
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);
  uint16_t port = 0;
  int listener = kvtest::ListenLoopback(0, 64, &port);
  if (listener < 0) {
    perror("kavrel_test_broker: listen");
    return 1;
  }
  const std::string secret = NewSecret();
  printf("%u:%s\n", port, secret.c_str());
  fflush(stdout);
  // Ends the broker (and with it every process it started) when whoever started it closes
  // its standard input or goes away.
  std::thread([] {
    char c;
    while (read(STDIN_FILENO, &c, 1) > 0) {
    }
    _exit(0);
  }).detach();
  for (;;) {
    int fd = kvtest::AcceptSocket(listener);
    if (fd < 0) continue;
    std::thread(Serve, fd, secret).detach();
  }
}
