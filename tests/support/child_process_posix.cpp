#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char **environ;

namespace kvtest {

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::string &log_path,
                         const std::vector<std::string> &env) {
  if (pid_ > 0 || argv.empty()) return false;
  int log_fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log_fd < 0) return false;
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(log_fd);
    return false;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here on: the parent may have other threads.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(log_fd, STDOUT_FILENO);
    ::dup2(log_fd, STDERR_FILENO);
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    ::setpgid(0, 0);
    for (const std::string &e : env) ::putenv(const_cast<char *>(e.c_str()));
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(log_fd);
  pid_ = pid;
  status_ = -1;
  log_path_ = log_path;
  return true;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  status_ = status;
  pid_ = -1;
  return false;
}

void ChildProcess::Signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

long ChildProcess::WatchPid() { return static_cast<long>(::getpid()); }

int ChildProcess::Stop(int wait_ms) {
  if (pid_ <= 0) return status_;
  ::kill(pid_, SIGTERM);
  ::kill(pid_, SIGCONT);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      status_ = status;
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status_;
}

}  // namespace kvtest
