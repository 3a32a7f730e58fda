#include "netns_fixture.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "child_process.h"
#include "test_paths.h"

namespace kvtest {

namespace {

std::mutex g_live_mutex;
std::set<std::string> *g_live = nullptr;  // namespaces this process made and still holds
std::atomic<int> g_counter{0};

// `ip` with its output appended to `log`; true when it exited with 0.
bool RunIp(const std::vector<std::string> &args, const std::string &log) {
  std::vector<std::string> argv = {"ip"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child;
  if (!child.Start(argv, log)) return false;
  if (!WaitUntil([&] { return !child.Running(); }, 20000)) child.Stop(0);
  int status = child.Stop();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> Split(const std::string &args) {
  std::istringstream in(args);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

void DeleteNamespace(const std::string &name, const std::string &log) {
  RunIp({"netns", "delete", name}, log);
}

// Runs at exit for namespaces whose owner never reached its destructor (a failed ASSERT
// inside a helper thread, an exit() call).
void RemoveLiveAtExit() {
  std::lock_guard<std::mutex> hold(g_live_mutex);
  if (!g_live) return;
  for (const std::string &name : *g_live) DeleteNamespace(name, "/dev/null");
  g_live->clear();
}

void Track(const std::string &name, bool live) {
  std::lock_guard<std::mutex> hold(g_live_mutex);
  if (!g_live) {
    g_live = new std::set<std::string>;
    atexit(RemoveLiveAtExit);
  }
  if (live) {
    g_live->insert(name);
  } else {
    g_live->erase(name);
  }
}

// The process id inside "<prefix><pid>-<n>-<side>", or 0.
pid_t OwnerOf(const std::string &name) {
  std::string prefix = NetnsPair::Prefix();
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  return static_cast<pid_t>(atol(name.c_str() + prefix.size()));
}

int EnterByName(const std::string &name, std::string *why) {
  std::string path = "/run/netns/" + name;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
    if (why) *why = "cannot enter " + name + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  close(fd);
  return 0;
}

}  // namespace

void NetnsPair::RemoveStale() {
  DIR *dir = opendir("/run/netns");
  if (!dir) return;
  std::vector<std::string> stale;
  while (dirent *entry = readdir(dir)) {
    pid_t owner = OwnerOf(entry->d_name);
    if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) stale.push_back(entry->d_name);
  }
  closedir(dir);
  for (const std::string &name : stale) DeleteNamespace(name, "/dev/null");
}

bool NetnsPair::Ip(const std::string &args) { return RunIp(Split(args), log_); }

bool NetnsPair::Create(std::string *why) {
  Remove();
  if (geteuid() != 0) {
    *why = "network namespaces need root";
    return false;
  }
  RemoveStale();
  log_ = MakeTempDir("netns") + "/ip.log";
  std::string base = std::string(Prefix()) + std::to_string(getpid()) + "-" +
                     std::to_string(g_counter.fetch_add(1));
  host_ = base + "-host";
  device_ = base + "-dev";
  for (const std::string *ns : {&host_, &device_}) {
    if (!Ip("netns add " + *ns)) {
      *why = "cannot make network namespace " + *ns + " (see " + log_ + ")";
      Remove();
      return false;
    }
    Track(*ns, true);
  }
  // The pair is born inside the host namespace with its peer sent straight to the device's,
  // so no end ever appears in the machine's namespace.
  const std::string h = " -n " + host_ + " ", d = " -n " + device_ + " ";
  bool made = Ip(h + "link add " + LinkName(kHost) + " type veth peer name " +
                 LinkName(kDevice) + " netns " + device_) &&
              Ip(h + "addr add " + HostAddress() + "/24 dev " + LinkName(kHost)) &&
              Ip(d + "addr add " + DeviceAddress() + "/24 dev " + LinkName(kDevice)) &&
              Ip(h + "link set lo up") && Ip(d + "link set lo up") &&
              Ip(h + "link set " + LinkName(kHost) + " up") &&
              Ip(d + "link set " + LinkName(kDevice) + " up");
  if (!made) {
    *why = "cannot set up the veth pair (see " + log_ + ")";
    Remove();
    return false;
  }
  return true;
}

void NetnsPair::Remove() {
  for (std::string *ns : {&host_, &device_}) {
    if (ns->empty()) continue;
    DeleteNamespace(*ns, log_.empty() ? "/dev/null" : log_);
    Track(*ns, false);
    ns->clear();
  }
}

bool NetnsPair::SetLink(Side side, bool up) {
  return Ip("-n " + Name(side) + " link set " + LinkName(side) + (up ? " up" : " down"));
}

bool NetnsPair::RouteAwayToTheOtherEnd(Side side) {
  const char *other = side == kHost ? DeviceAddress() : HostAddress();
  return Ip("-n " + Name(side) + " route add default via " + other);
}

bool NetnsPair::RunIn(Side side, const std::function<void()> &fn, std::string *why) {
  bool entered = false;
  std::string reason;
  std::thread runner([&] {
    NetnsEnter enter(Name(side), &reason);
    if (!enter.ok()) return;
    entered = true;
    fn();
  });
  runner.join();
  if (!entered && why) *why = reason;
  return entered;
}

NetnsEnter::NetnsEnter(const std::string &name, std::string *why) {
  own_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (own_ < 0) {
    if (why) *why = std::string("cannot open the thread's own namespace: ") + strerror(errno);
    return;
  }
  ok_ = EnterByName(name, why) == 0;
}

NetnsEnter::~NetnsEnter() {
  if (own_ < 0) return;
  // A thread that cannot return to its own namespace would run later work in the test's
  // namespace, which might then be deleted under it: that is a broken test run.
  if (ok_ && setns(own_, CLONE_NEWNET) != 0) abort();
  close(own_);
}

}  // namespace kvtest
