// A process that a test starts: its output goes to a log file, never to the test's own
// stdout or stderr, and it dies with the test (PR_SET_PDEATHSIG), so a crashing test never
// leaves a server holding CTest's output pipe open.
//
// Built for Windows, a program whose name ends in ".exe" is started there (in a job that
// dies with the test); any other program (the simulator, tinyproxy, an FTP server) is a
// Linux program, started and stopped on the Linux side by the process broker of the Wine
// stage (test_broker.cpp), which the test reaches over loopback. Either way the calls below
// mean the same, and statuses keep waitpid's encoding.
#pragma once

#include <signal.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

#ifdef _WIN32
// Linux's numbers, which the broker passes on to a Linux process; a Windows process is
// ended by any of them except SIGCONT.
#ifndef SIGKILL
#define SIGKILL 9
#endif
#ifndef SIGCONT
#define SIGCONT 18
#endif
#ifndef SIGSTOP
#define SIGSTOP 19
#endif
#endif

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

  // The process id that a started server should watch (its --parent-pid) so that it ends
  // with the test: this process on Linux, the broker for a test built for Windows.
  static long WatchPid();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string log_path_;
  // Windows only: the local process's handle, or the broker connection of a Linux one.
  [[maybe_unused]] intptr_t handle_ = 0;
  [[maybe_unused]] int broker_fd_ = -1;
  [[maybe_unused]] std::string broker_pending_;
};

}  // namespace kvtest
