// Figures for the library core, printed in one run:
//  1. a synchronous Kavrel_HttpOperation against a minimal local HTTP responder, next to a
//     raw-socket GET to the same responder from the same process, and their ratio (the two
//     run in alternating rounds, so that a change in the machine's load falls on both);
//  2. the callback latency of an asynchronous command after its reply was sent;
//  3. 500 asynchronous commands over 50 devices: the time from the first submission to the
//     last callback, beside what a pace of one completion per 16 ms would take;
//  4. the time and memory of Kavrel_InitialEx / Kavrel_Release for 16, 1,000 and 10,000
//     devices.
// Usage: kavrel_bench [requests]   (default 2000)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

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
    static const char kReply[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
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

// Raw GETs and synchronous Kavrel_HttpOperation in alternating rounds.
void SynchronousFigures(int requests, int port, DeviceHandle device) {
  constexpr int kRounds = 10;
  int per_round = std::max(1, requests / kRounds);
  std::vector<double> ratios;
  double raw_total = 0, lib_total = 0;
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto t0 = Clock::now();
    for (int i = 0; i < per_round; ++i) RawGet(port);
    double raw = Micros(Clock::now() - t0);
    t0 = Clock::now();
    for (int i = 0; i < per_round; ++i) {
      failures += Kavrel_HttpOperation(device, "/cgi-bin/x.cgi", 0, 0) != 0;
    }
    double lib = Micros(Clock::now() - t0);
    raw_total += raw;
    lib_total += lib;
    ratios.push_back(lib / raw);
  }
  int total = per_round * kRounds;
  printf("synchronous request, %d each in %d alternating rounds (loopback, HTTP/1.0, new "
         "connection per request)\n", total, kRounds);
  printf("  raw-socket GET           %8.1f us/request\n", raw_total / total);
  printf("  Kavrel_HttpOperation     %8.1f us/request  (%d failures)\n", lib_total / total,
         failures);
  printf("  ratio                    %8.2f  (median of the rounds %.2f)\n", lib_total / raw_total,
         Median(ratios));
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

}  // namespace

int main(int argc, char **argv) {
  int requests = argc > 1 ? atoi(argv[1]) : 2000;
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

  // Warm up both paths.
  for (int i = 0; i < 50; ++i) {
    RawGet(responder.port());
    Kavrel_HttpOperation(device, "/cgi-bin/x.cgi", 0, 0);
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
  return 0;
}
