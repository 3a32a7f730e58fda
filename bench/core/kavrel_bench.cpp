// Figures for the library core, printed in one run:
//  1. synchronous requests against a minimal local HTTP responder, in alternating rounds so
//     that a change in the machine's load falls on each alike: a raw-socket GET,
//     Kavrel_HttpOperation (no body read), Kavrel_HttpOperationRead (the body read) and, when
//     the build found libcurl, a libcurl GET with a new easy handle per request; each
//     figure, its ratio to the raw GET, the medians of the rounds' ratios, the context
//     switches per request and the load average;
//  2. the callback latency of an asynchronous command after its reply was sent;
//  3. 500 asynchronous commands over 50 devices: the time from the first submission to the
//     last callback, beside what a pace of one completion per 16 ms would take;
//  4. the time and memory of Kavrel_InitialEx / Kavrel_Release for 16, 1,000 and 10,000
//     devices;
//  5. a fleet on one context: 10,000 devices against a responder in a child process, one in
//     ten accepting and never answering; one asynchronous command each; then half deleted
//     one by one and the context released with the other half.
// Usage: kavrel_bench [requests] [fleet devices]   (default 2000 and 10000)
//        kavrel_bench --only raw|lib|read|curl [requests]
//          one kind of synchronous request alone, for a profiler's count of system calls
//          (strace -f -c kavrel_bench --only read 2000)
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "curl_get.h"
#include "kavrel.h"

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// Answers every connection with a tiny 200 reply and closes it; notes when each reply left.
// By default it waits for the client to close first, as a device's HTTP/1.0 server does;
// `linger` false closes at once, so that many clients are served without waiting on each.
class Responder {
 public:
  explicit Responder(bool linger = true) : linger_(linger) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
    listen(listener_, 128);
    socklen_t len = sizeof(addr);
    getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~Responder() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
  }
  int port() const { return port_; }
  Clock::time_point last_reply() const { return Clock::time_point(Clock::duration(last_reply_.load())); }

 private:
  void Run() {
    static const char kReply[] =
        "HTTP/1.0 200 OK\r\nContent-Length: 24\r\nConnection: close\r\n\r\n"
        "di0=1\ndi1=0\ndi2=1\ndi3=0\n";
    while (!stop_) {
      int c = accept(listener_, nullptr, nullptr);
      if (c < 0) continue;
      char buf[4096];
      size_t got = 0;
      // Read until the end of the request headers.
      while (got < sizeof(buf)) {
        ssize_t n = recv(c, buf + got, sizeof(buf) - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
        if (memmem(buf, got, "\r\n\r\n", 4)) break;
      }
      send(c, kReply, sizeof(kReply) - 1, MSG_NOSIGNAL);
      last_reply_.store(Clock::now().time_since_epoch().count());
      shutdown(c, SHUT_WR);
      while (linger_ && recv(c, buf, sizeof(buf), 0) > 0) {
      }
      close(c);
    }
  }
  bool linger_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<Clock::rep> last_reply_{0};
  std::thread thread_;
};

bool RawGet(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
    close(s);
    return false;
  }
  static const char kRequest[] = "GET /cgi-bin/x.cgi HTTP/1.0\r\nConnection: close\r\n\r\n";
  send(s, kRequest, sizeof(kRequest) - 1, MSG_NOSIGNAL);
  char buf[512];
  while (recv(s, buf, sizeof(buf), 0) > 0) {
  }
  close(s);
  return true;
}

struct Latency {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  Clock::time_point at;
};

void OnDone(DeviceHandle, void *context, uint32_t, uint32_t, uintptr_t) {
  auto *l = static_cast<Latency *>(context);
  std::lock_guard<std::mutex> hold(l->mutex);
  l->at = Clock::now();
  l->done = true;
  l->cv.notify_one();
}

long RssKb() {
  FILE *f = fopen("/proc/self/statm", "r");
  long pages = 0, rss = 0;
  if (f) {
    if (fscanf(f, "%ld %ld", &pages, &rss) != 2) rss = 0;
    fclose(f);
  }
  return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

KavrelDeviceProperty HttpProperty(int port, KavrelCallback callback, void *context) {
  KavrelDeviceProperty p{};
  p.address = "127.0.0.1";
  p.user = "";
  p.password = "";
  p.http_port = port;
  p.callback = callback;
  p.callback_context = context;
  return p;
}

// The kinds of synchronous request that the alternating rounds compare.
enum SyncKind { kRaw, kLib, kRead, kCurl, kKinds };
const char *const kKindNames[kKinds] = {"raw", "lib", "read", "curl"};
const char *const kKindLabels[kKinds] = {"raw-socket GET", "Kavrel_HttpOperation",
                                         "Kavrel_HttpOperationRead", "libcurl, new easy handle"};

bool SyncRequest(SyncKind kind, int port, DeviceHandle device) {
  char body[64];
  uint32_t size = sizeof body;
  switch (kind) {
    case kRaw:
      return RawGet(port);
    case kLib:
      return Kavrel_HttpOperation(device, "/cgi-bin/x.cgi", 0, 0) == 0;
    case kRead:
      return Kavrel_HttpOperationRead(device, "/cgi-bin/x.cgi", body, &size, 0, 0) == 0 &&
             size == 24;
    case kCurl:
      return bench::CurlGet(port, "/cgi-bin/x.cgi");
    case kKinds:
      break;
  }
  return false;
}

long ContextSwitches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Each kind in alternating rounds.
void SynchronousFigures(int requests, int port, DeviceHandle device) {
  constexpr int kRounds = 10;
  const int kinds = bench::CurlAvailable() ? kKinds : kCurl;
  int per_round = std::max(1, requests / kRounds);
  std::vector<double> ratios[kKinds];
  double total[kKinds] = {};
  long switches[kKinds] = {};
  int failures[kKinds] = {};
  for (int round = 0; round < kRounds; ++round) {
    double took[kKinds] = {};
    for (int k = 0; k < kinds; ++k) {
      long before = ContextSwitches();
      auto t0 = Clock::now();
      for (int i = 0; i < per_round; ++i) {
        failures[k] += !SyncRequest(static_cast<SyncKind>(k), port, device);
      }
      took[k] = Micros(Clock::now() - t0);
      switches[k] += ContextSwitches() - before;
      total[k] += took[k];
    }
    for (int k = 1; k < kinds; ++k) ratios[k].push_back(took[k] / took[kRaw]);
  }
  int count = per_round * kRounds;
  double load[3] = {};
  int loads = getloadavg(load, 3);
  printf("synchronous request, %d each in %d alternating rounds (loopback, HTTP/1.0, new "
         "connection per request, a 24-byte body); load average %.2f %.2f %.2f%s\n", count,
         kRounds, load[0], load[1], load[2], loads == 3 ? "" : " (unknown)");
  for (int k = 0; k < kinds; ++k) {
    printf("  %-26s %8.1f us/request  %5.2f context switches/request  (%d failures)", kKindLabels[k],
           total[k] / count, static_cast<double>(switches[k]) / count, failures[k]);
    if (k != kRaw) {
      printf("  ratio %.2f, median of the rounds %.2f", total[k] / total[kRaw], Median(ratios[k]));
    }
    printf("\n");
  }
  if (kinds == kCurl) printf("  libcurl: not found when this program was built\n");
}

// One kind alone, for a profiler's count of system calls.
int OnlyOneKind(const char *name, int requests) {
  int kind = 0;
  while (kind < kKinds && strcmp(kKindNames[kind], name) != 0) ++kind;
  if (kind == kKinds || (kind == kCurl && !bench::CurlAvailable())) {
    fprintf(stderr, "--only takes raw, lib, read or curl (curl when built with it)\n");
    return 2;
  }
  Responder responder;
  KavrelHandle handle = nullptr;
  DeviceHandle device = nullptr;
  if (Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER) || Kavrel_CreateDevice(handle, &device)) {
    fprintf(stderr, "cannot initialise\n");
    return 1;
  }
  KavrelDeviceProperty p = HttpProperty(responder.port(), nullptr, nullptr);
  Kavrel_SetDevicePropertyHttp(device, &p);
  int failures = 0;
  auto t0 = Clock::now();
  for (int i = 0; i < requests; ++i) {
    failures += !SyncRequest(static_cast<SyncKind>(kind), responder.port(), device);
  }
  printf("%s: %d requests, %.1f us/request, %d failures\n", kKindLabels[kind], requests,
         Micros(Clock::now() - t0) / requests, failures);
  Kavrel_DeleteDevice(device);
  Kavrel_Release(&handle);
  return failures == 0 ? 0 : 1;
}

struct Throughput {
  std::atomic<int> done{0};
  std::atomic<Clock::rep> last{0};
};

void OnThroughput(DeviceHandle, void *context, uint32_t, uint32_t, uintptr_t) {
  auto *t = static_cast<Throughput *>(context);
  t->last.store(Clock::now().time_since_epoch().count());
  t->done++;
}

// 500 asynchronous commands over 50 devices, all submitted at once from one host thread.
void ThroughputFigures() {
  constexpr int kDevices = 50;
  constexpr int kCommands = 500;
  Responder responder(false);
  KavrelHandle handle = nullptr;
  if (Kavrel_InitialEx(&handle, kDevices, 0, KAVREL_VERSION_NUMBER) != 0) return;
  Throughput t;
  std::vector<DeviceHandle> devices(kDevices);
  for (DeviceHandle &d : devices) {
    KavrelDeviceProperty p = HttpProperty(responder.port(), OnThroughput, &t);
    if (Kavrel_CreateDevice(handle, &d) != 0 || Kavrel_SetDevicePropertyHttp(d, &p) != 0) {
      printf("cannot create the devices\n");
      Kavrel_Release(&handle);
      return;
    }
  }
  int refused = 0;
  auto start = Clock::now();
  for (int i = 0; i < kCommands; ++i) {
    refused += Kavrel_HttpOperation(devices[i % kDevices], "/cgi-bin/x.cgi", 0, 1) != 0;
  }
  auto submitted = Clock::now();
  int expected = kCommands - refused;
  auto deadline = Clock::now() + std::chrono::seconds(60);
  while (t.done.load() < expected && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  double total_ms = Micros(Clock::time_point(Clock::duration(t.last.load())) - start) / 1000.0;
  printf("%d asynchronous commands over %d devices (%d refused, %d callbacks)\n", kCommands,
         kDevices, refused, t.done.load());
  printf("  submitted in %.1f ms; last callback after %.1f ms: %.0f completions/s\n",
         Micros(submitted - start) / 1000.0, total_ms, t.done.load() / (total_ms / 1000.0));
  printf("  one completion per 16 ms would take %.1f s (62 per second)\n", kCommands * 0.016);
  for (DeviceHandle d : devices) Kavrel_DeleteDevice(d);
  Kavrel_Release(&handle);
}


// ---- The fleet ---------------------------------------------------------------------------

constexpr uint32_t kFleetTimeoutMs = 2000;
constexpr int kMaxFleetFd = 1 << 16;

// A non-blocking loopback listener with the deepest backlog the system grants.
int FleetListen(int *port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || listen(fd, 65535) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

// Raises the soft limit of descriptors to the hard one; returns the limit in force.
unsigned long RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  getrlimit(RLIMIT_NOFILE, &limit);
  return static_cast<unsigned long>(limit.rlim_cur);
}

// The fleet's devices, played by one child process: a connection to `fast` is answered as
// soon as its request headers are in; one to `silent` is accepted and read but never
// answered, and closed when the client gives up. System calls only, no allocation.
[[noreturn]] void ServeFleet(int fast, int silent) {
  static unsigned char kind[kMaxFleetFd];     // 1 answered, 2 silent
  static unsigned char matched[kMaxFleetFd];  // how much of "\r\n\r\n" was seen last
  static const char kReply[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
  static const char kEnd[] = "\r\n\r\n";
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) _exit(0);
  RaiseDescriptorLimit();
  int ep = epoll_create1(0);
  for (int listener : {fast, silent}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
  }
  epoll_event events[256];
  for (;;) {
    int n = epoll_wait(ep, events, 256, -1);
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == fast || fd == silent) {
        int c;
        while ((c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
          if (c >= kMaxFleetFd) {
            close(c);
            continue;
          }
          kind[c] = fd == fast ? 1 : 2;
          matched[c] = 0;
          epoll_event ev{};
          ev.events = EPOLLIN;
          ev.data.fd = c;
          epoll_ctl(ep, EPOLL_CTL_ADD, c, &ev);
        }
        continue;
      }
      char buf[2048];
      ssize_t got = recv(fd, buf, sizeof(buf), 0);
      if (got < 0 && errno == EAGAIN) continue;
      bool done = got <= 0;
      for (ssize_t k = 0; !done && kind[fd] == 1 && k < got; ++k) {
        matched[fd] = buf[k] == kEnd[matched[fd]] ? matched[fd] + 1 : (buf[k] == '\r' ? 1 : 0);
        if (matched[fd] == 4) {
          send(fd, kReply, sizeof(kReply) - 1, MSG_NOSIGNAL);
          done = true;
        }
      }
      if (!done) continue;
      epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
      close(fd);
    }
  }
}

struct FleetDevice {
  DeviceHandle handle = nullptr;
  bool silent = false;
  bool accepted = false;
  Clock::time_point submitted;
  std::atomic<Clock::rep> answered{0};
  std::atomic<uint32_t> status{0};
};

std::atomic<int> g_fleet_done{0};

void OnFleet(DeviceHandle, void *context, uint32_t, uint32_t status, uintptr_t) {
  auto *d = static_cast<FleetDevice *>(context);
  d->status.store(status);
  d->answered.store(Clock::now().time_since_epoch().count());
  g_fleet_done++;
}

int Threads() {
  FILE *f = fopen("/proc/self/status", "r");
  int threads = 0;
  char line[256];
  while (f && fgets(line, sizeof(line), f)) {
    if (sscanf(line, "Threads: %d", &threads) == 1) break;
  }
  if (f) fclose(f);
  return threads;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t at = static_cast<size_t>(p * static_cast<double>(v.size()));
  return v[std::min(at, v.size() - 1)];
}

double MsBetween(Clock::time_point from, Clock::time_point to) { return Micros(to - from) / 1000.0; }

// Makes and describes the fleet: the time it took, or a negative value on failure.
double MakeFleet(KavrelHandle handle, FleetDevice *fleet, int count, int fast_port,
                 int silent_port) {
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    FleetDevice &d = fleet[i];
    d.silent = i % 10 == 9;
    KavrelDeviceProperty p = HttpProperty(d.silent ? silent_port : fast_port, OnFleet, &d);
    p.timeout_ms = kFleetTimeoutMs;
    if (Kavrel_CreateDevice(handle, &d.handle) != 0 || Kavrel_SetDevicePropertyHttp(d.handle, &p) != 0) {
      printf("  device %d could not be made\n", i);
      return -1;
    }
  }
  return MsBetween(start, Clock::now());
}

// One asynchronous command per device, then the wait for every callback.
void CommandFleet(FleetDevice *fleet, int count) {
  int refused = 0, accepted = 0;
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    FleetDevice &d = fleet[i];
    d.submitted = Clock::now();
    d.accepted = Kavrel_HttpOperation(d.handle, "/cgi-bin/x.cgi", 0, 1) == 0;
    refused += !d.accepted;
    accepted += d.accepted;
  }
  double submit_ms = MsBetween(start, Clock::now());
  int threads = Threads();
  auto deadline = Clock::now() + std::chrono::seconds(60);
  while (g_fleet_done.load() < accepted && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::vector<double> healthy, silent;
  int healthy_failed = 0, silent_other = 0;
  Clock::time_point last = start;
  for (int i = 0; i < count; ++i) {
    FleetDevice &d = fleet[i];
    Clock::rep at = d.answered.load();
    if (!d.accepted || at == 0) continue;
    Clock::time_point when{Clock::duration(at)};
    double ms = MsBetween(d.submitted, when);
    if (d.silent) {
      silent.push_back(ms);
      silent_other += d.status.load() != 200;
    } else {
      healthy.push_back(ms);
      healthy_failed += d.status.load() != 0;
      last = std::max(last, when);
    }
  }
  printf("  %d commands submitted in %.1f ms (%d refused); %d callbacks; %d threads in the "
         "process while they ran\n", count, submit_ms, refused, g_fleet_done.load(), threads);
  printf("  healthy (%zu): p50 %.1f ms, p99 %.1f ms from submission; last %.1f ms after the "
         "first submission; %d not successful\n", healthy.size(), Percentile(healthy, 0.5),
         Percentile(healthy, 0.99), MsBetween(start, last), healthy_failed);
  printf("  silent (%zu): failed after %.0f ms (fastest) / %.0f ms (median) / %.0f ms (slowest); "
         "%d with a status other than 200\n", silent.size(), Percentile(silent, 0),
         Percentile(silent, 0.5), Percentile(silent, 1), silent_other);
}

void FleetFigures(int count, int fast_port, int silent_port) {
  unsigned long descriptors = RaiseDescriptorLimit();
  printf("fleet: %d devices on one context, one in ten accepting and never answering, %u ms "
         "time-out; descriptor limit raised to %lu\n", count, kFleetTimeoutMs, descriptors);
  long rss_before = RssKb();
  KavrelHandle handle = nullptr;
  if (Kavrel_InitialEx(&handle, static_cast<uint32_t>(count), 0, KAVREL_VERSION_NUMBER) != 0) {
    printf("  cannot initialise\n");
    return;
  }
  std::unique_ptr<FleetDevice[]> fleet(new FleetDevice[count]);
  double make_ms = MakeFleet(handle, fleet.get(), count, fast_port, silent_port);
  if (make_ms < 0) {
    Kavrel_Release(&handle);
    return;
  }
  long rss_made = RssKb();
  printf("  made and described in %.1f ms (%.1f us each); resident +%ld KB, %.1f KB per device "
         "(idle); %d threads\n", make_ms, make_ms * 1000.0 / count, rss_made - rss_before,
         static_cast<double>(rss_made - rss_before) / count, Threads());
  CommandFleet(fleet.get(), count);
  long rss_used = RssKb();
  printf("  resident after one command each: %.1f KB per device\n",
         static_cast<double>(rss_used - rss_before) / count);
  auto start = Clock::now();
  int deleted = 0;
  for (int i = 0; i < count; i += 2) {
    deleted += Kavrel_DeleteDevice(fleet[i].handle) == 0;
  }
  double delete_ms = MsBetween(start, Clock::now());
  start = Clock::now();
  Kavrel_Release(&handle);
  double release_ms = MsBetween(start, Clock::now());
  printf("  Kavrel_DeleteDevice of %d devices one by one %.1f ms (%.3f ms each); Kavrel_Release "
         "with the other %d %.1f ms; together %.1f ms\n", deleted, delete_ms, delete_ms / deleted,
         count - deleted, release_ms, delete_ms + release_ms);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 2 && strcmp(argv[1], "--only") == 0) {
    return OnlyOneKind(argv[2], argc > 3 ? atoi(argv[3]) : 2000);
  }
  int requests = argc > 1 ? atoi(argv[1]) : 2000;
  int fleet = argc > 2 ? atoi(argv[2]) : 10000;
  // The fleet's responder is forked first, while this process has no other thread.
  int fast_port = 0, silent_port = 0;
  int fast = FleetListen(&fast_port), silent = FleetListen(&silent_port);
  if (fast < 0 || silent < 0) {
    fprintf(stderr, "cannot listen\n");
    return 1;
  }
  pid_t responder_pid = fork();
  if (responder_pid == 0) ServeFleet(fast, silent);
  close(fast);
  close(silent);
  Responder responder;
  KavrelHandle handle = nullptr;
  DeviceHandle device = nullptr;
  if (Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER) || Kavrel_CreateDevice(handle, &device)) {
    fprintf(stderr, "cannot initialise\n");
    return 1;
  }
  Latency latency;
  KavrelDeviceProperty p = HttpProperty(responder.port(), OnDone, &latency);
  Kavrel_SetDevicePropertyHttp(device, &p);

  // Warm up every path.
  for (int i = 0; i < 50; ++i) {
    for (int k = 0; k < kKinds; ++k) {
      if (k != kCurl || bench::CurlAvailable()) {
        SyncRequest(static_cast<SyncKind>(k), responder.port(), device);
      }
    }
  }
  SynchronousFigures(requests, responder.port(), device);

  std::vector<double> lat;
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard<std::mutex> hold(latency.mutex);
      latency.done = false;
    }
    if (Kavrel_HttpOperation(device, "/cgi-bin/x.cgi", 0, 1) != 0) continue;
    std::unique_lock<std::mutex> hold(latency.mutex);
    latency.cv.wait_for(hold, std::chrono::seconds(5), [&] { return latency.done; });
    if (latency.done) lat.push_back(Micros(latency.at - responder.last_reply()) / 1000.0);
  }
  std::vector<double> sorted = lat;
  std::sort(sorted.begin(), sorted.end());
  printf("asynchronous callback latency after the reply left the responder (%zu commands)\n", lat.size());
  if (!sorted.empty()) {
    printf("  median %.3f ms, 90th %.3f ms, max %.3f ms\n", Median(lat),
           sorted[sorted.size() * 9 / 10], sorted.back());
  }
  Kavrel_DeleteDevice(device);
  Kavrel_Release(&handle);

  ThroughputFigures();

  printf("Kavrel_InitialEx + Kavrel_Release\n");
  for (uint32_t count : {16u, 1000u, 10000u}) {
    long before = RssKb();
    auto s = Clock::now();
    KavrelHandle h = nullptr;
    if (Kavrel_InitialEx(&h, count, 0, KAVREL_VERSION_NUMBER) != 0) {
      printf("  %5u devices: failed\n", count);
      continue;
    }
    double init_ms = Micros(Clock::now() - s) / 1000.0;
    long after = RssKb();
    s = Clock::now();
    Kavrel_Release(&h);
    double release_ms = Micros(Clock::now() - s) / 1000.0;
    printf("  %5u devices: initial %8.2f ms, release %8.2f ms, resident +%ld KB (%.1f KB/device)\n",
           count, init_ms, release_ms, after - before, static_cast<double>(after - before) / count);
  }
  if (fleet > 0 && responder_pid > 0) FleetFigures(fleet, fast_port, silent_port);
  if (responder_pid > 0) {
    kill(responder_pid, SIGKILL);
    waitpid(responder_pid, nullptr, 0);
  }
  return 0;
}
