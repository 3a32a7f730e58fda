#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "broker_wire.h"
#include "child_process.h"

namespace kvtest {

namespace {

bool IsWindowsProgram(const std::string &path) {
  return path.size() > 4 && _stricmp(path.c_str() + path.size() - 4, ".exe") == 0;
}

// Every local child joins one job that ends its processes when the test program ends, the
// way PR_SET_PDEATHSIG does on Linux.
HANDLE TestJob() {
  static HANDLE job = [] {
    HANDLE h = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (h) SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return h;
  }();
  return job;
}

// Quotes one argument the way the C runtime's command-line parser reads it back.
std::string Quote(const std::string &arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, '\\');
  return out + "\"";
}

// This process's environment with `extra` ("NAME=value") set over it, as CreateProcess
// takes it: sorted is not required, NUL-separated, double-NUL-terminated.
std::string EnvironmentBlock(const std::vector<std::string> &extra) {
  std::vector<std::string> vars;
  char *env = GetEnvironmentStringsA();
  for (char *p = env; p && *p; p += strlen(p) + 1) vars.emplace_back(p);
  if (env) FreeEnvironmentStringsA(env);
  for (const std::string &e : extra) {
    std::string name = e.substr(0, e.find('=') + 1);
    for (auto it = vars.begin(); it != vars.end();) {
      it = _strnicmp(it->c_str(), name.c_str(), name.size()) == 0 ? vars.erase(it) : it + 1;
    }
    vars.push_back(e);
  }
  std::string block;
  for (const std::string &v : vars) block += v + '\0';
  return block + '\0';
}

struct Broker {
  uint16_t port = 0;
  std::string secret;
};

const Broker &TheBroker() {
  static Broker broker = [] {
    Broker b;
    const char *v = getenv(broker::kEnvName);
    if (!v) return b;
    std::string s = v;
    size_t colon = s.find(':');
    if (colon == std::string::npos) return b;
    b.port = static_cast<uint16_t>(atoi(s.substr(0, colon).c_str()));
    b.secret = s.substr(colon + 1);
    return b;
  }();
  return broker;
}

}  // namespace

long ChildProcess::WatchPid() {
  // The broker's own process id, asked once over a connection of its own.
  static long pid = [] {
    const Broker &b = TheBroker();
    int fd = b.port ? ConnectLoopback(b.port) : -1;
    if (fd < 0) return -1L;
    std::string pending, reply;
    long value = -1;
    if (broker::SendWords(fd, {b.secret, "pid"}) && broker::ReadWord(fd, &pending, &reply)) {
      value = atol(reply.c_str());
    }
    CloseSocket(fd);
    return value;
  }();
  return pid;
}

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::string &log_path,
                         const std::vector<std::string> &env) {
  if (pid_ > 0 || argv.empty()) return false;
  status_ = -1;
  log_path_ = log_path;
  if (!IsWindowsProgram(argv[0])) {
    // A Linux program: the broker starts it with the Linux fixture's ChildProcess and ends
    // it when this connection closes, whatever becomes of this process.
    const Broker &b = TheBroker();
    if (!b.port) return false;
    broker_fd_ = ConnectLoopback(b.port);
    if (broker_fd_ < 0) return false;
    std::vector<std::string> words{b.secret, "start", log_path, std::to_string(argv.size())};
    words.insert(words.end(), argv.begin(), argv.end());
    words.push_back(std::to_string(env.size()));
    words.insert(words.end(), env.begin(), env.end());
    std::string reply;
    if (!broker::SendWords(broker_fd_, words) ||
        !broker::ReadWord(broker_fd_, &broker_pending_, &reply) || atoi(reply.c_str()) <= 0) {
      CloseSocket(broker_fd_);
      broker_fd_ = -1;
      return false;
    }
    pid_ = atoi(reply.c_str());
    return true;
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE log = CreateFileA(log_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return false;
  HANDLE null_in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
  std::string command;
  for (const std::string &a : argv) command += (command.empty() ? "" : " ") + Quote(a);
  std::string block = EnvironmentBlock(env);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = null_in;
  si.hStdOutput = log;
  si.hStdError = log;
  PROCESS_INFORMATION pi{};
  BOOL ok = CreateProcessA(argv[0].c_str(), &command[0], nullptr, nullptr, TRUE,
                           CREATE_SUSPENDED | CREATE_NO_WINDOW, &block[0], nullptr, &si, &pi);
  CloseHandle(log);
  if (null_in != INVALID_HANDLE_VALUE) CloseHandle(null_in);
  if (!ok) return false;
  AssignProcessToJobObject(TestJob(), pi.hProcess);
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  handle_ = reinterpret_cast<intptr_t>(pi.hProcess);
  pid_ = static_cast<pid_t>(pi.dwProcessId);
  return true;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  if (broker_fd_ >= 0) {
    std::string reply;
    if (broker::SendWords(broker_fd_, {"running"}) &&
        broker::ReadWord(broker_fd_, &broker_pending_, &reply) && reply == "1") {
      return true;
    }
    return Stop(0), false;
  }
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) return true;
  DWORD code = 0;
  GetExitCodeProcess(h, &code);
  // A process ended by Signal() reports SIGKILL; any other its exit code, as waitpid does.
  status_ = code == 0x10000u + SIGKILL ? SIGKILL : static_cast<int>((code & 0xff) << 8);
  CloseHandle(h);
  handle_ = 0;
  pid_ = -1;
  return false;
}

void ChildProcess::Signal(int sig) {
  if (pid_ <= 0) return;
  if (broker_fd_ >= 0) {
    std::string reply;
    if (broker::SendWords(broker_fd_, {"signal", std::to_string(sig)}))
      broker::ReadWord(broker_fd_, &broker_pending_, &reply);
    return;
  }
  // Windows has no signals to deliver: every one but SIGCONT ends the process.
  if (sig != SIGCONT) TerminateProcess(reinterpret_cast<HANDLE>(handle_), 0x10000u + SIGKILL);
}

int ChildProcess::Stop(int wait_ms) {
  if (pid_ <= 0) return status_;
  if (broker_fd_ >= 0) {
    std::string reply;
    if (broker::SendWords(broker_fd_, {"stop", std::to_string(wait_ms)}) &&
        broker::ReadWord(broker_fd_, &broker_pending_, &reply)) {
      status_ = atoi(reply.c_str());
    }
    CloseSocket(broker_fd_);
    broker_fd_ = -1;
    broker_pending_.clear();
    pid_ = -1;
    return status_;
  }
  // No polite request to end exists for a console helper without a window: wait for it to
  // finish on its own, then end it.
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  if (WaitForSingleObject(h, static_cast<DWORD>(wait_ms)) == WAIT_TIMEOUT)
    TerminateProcess(h, 0x10000u + SIGKILL);
  WaitForSingleObject(h, INFINITE);
  Running();
  return status_;
}

}  // namespace kvtest
