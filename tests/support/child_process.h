// A process that a test starts: its output goes to a log file, never to the test's own
// stdout or stderr, and it dies with the test (PR_SET_PDEATHSIG), so a crashing test never
// leaves a server holding CTest's output pipe open.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kvtest {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  ~ChildProcess() { Stop(); }

  // Starts argv (argv[0] looked up on PATH when it holds no '/'), with extra environment
  // entries "NAME=value", stdout and stderr appended to log_path. False when it could not
  // be started.
  bool Start(const std::vector<std::string> &argv, const std::string &log_path,
             const std::vector<std::string> &env = {});

  // Sends SIGTERM, waits up to wait_ms, then SIGKILL and reaps. Returns the exit status as
  // waitpid reports it, or -1 when nothing was running.
  int Stop(int wait_ms = 5000);

  // Sends a signal without waiting (SIGKILL, SIGSTOP...).
  void Signal(int sig);

  // True while the process has not exited (reaps it when it has).
  bool Running();

  pid_t pid() const { return pid_; }
  const std::string &log_path() const { return log_path_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string log_path_;
};

}  // namespace kvtest
