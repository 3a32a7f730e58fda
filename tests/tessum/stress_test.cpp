// 1,000 HTTP requests over 100 agents at once against a local server, some withdrawn on the
// way: every operation completes exactly once, and every request ends either with its
// whole body or withdrawn. Body reads are chained from the callbacks on Tessum's threads.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "tessum.h"

namespace {

constexpr int kAgents = 100;
constexpr int kPerAgent = 10;
const std::string kBody(300, 'z');

// A single-threaded poll server: answers each request 5 ms after it arrived, then closes.
class PollServer {
 public:
  PollServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(fd_, 1024);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~PollServer() {
    stop_ = true;
    thread_.join();
    for (auto &c : conns_) ::close(c.first);
    ::close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  struct Peer {
    std::string in;
    std::chrono::steady_clock::time_point answer_at{};
    bool asked = false;
  };

  void Loop() {
    const std::string reply =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kBody.size()) + "\r\n\r\n" + kBody;
    while (!stop_) {
      std::vector<pollfd> fds{{fd_, POLLIN, 0}};
      for (auto &c : conns_) fds.push_back({c.first, POLLIN, 0});
      ::poll(fds.data(), fds.size(), 2);
      int nfd;
      while ((nfd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) conns_[nfd] = Peer{};
      auto now = std::chrono::steady_clock::now();
      for (auto it = conns_.begin(); it != conns_.end();) {
        Peer &p = it->second;
        char buf[2048];
        ssize_t n = ::recv(it->first, buf, sizeof buf, 0);
        if (n > 0) p.in.append(buf, static_cast<size_t>(n));
        bool gone = n == 0;
        if (!p.asked && p.in.find("\r\n\r\n") != std::string::npos) {
          p.asked = true;
          p.answer_at = now + std::chrono::milliseconds(5);
        }
        if (!gone && p.asked && now >= p.answer_at) {
          ::send(it->first, reply.data(), reply.size(), MSG_NOSIGNAL);  // fits the buffer
          gone = true;
        }
        if (gone) {
          ::close(it->first);
          it = conns_.erase(it);
        } else {
          ++it;
        }
      }
    }
  }

  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::map<int, Peer> conns_;
};

struct Req {
  TessumToken token{};
  TessumHandle handle = nullptr;
  std::atomic<int> started{0};
  std::atomic<int> completed{0};
  std::atomic<int> finals{0};
  std::atomic<uint32_t> final_status{0};
  bool reading = false;  // touched only by the chain of callbacks
  std::string body;
  char buf[64];
};

std::atomic<int> g_finished{0};

void Finish(Req *r, uint32_t status) {
  r->final_status = status;
  ++r->finals;
  ++g_finished;
}

void TESSUM_CALL OnDone(TessumToken *token) {
  Req *r = static_cast<Req *>(token->context);
  ++r->completed;
  uint32_t status = token->status;
  if (status == TESSUM_OK && r->reading) r->body.append(r->buf, token->value);
  if (status != TESSUM_OK) return Finish(r, status);
  r->reading = true;
  ++r->started;
  if (COMMON_TI_ReadData(r->handle, &r->token, OnDone, r, sizeof r->buf, r->buf, 1) != TESSUM_OK) {
    --r->started;
    Finish(r, 0xFFFFFFFF);
  }
}

TEST(TessumStress, ThousandRequestsOverHundredAgentsEachCompleteOnce) {
  // Both ends of every connection live in this process: room for about 2,000 descriptors.
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 4096 && files.rlim_max > files.rlim_cur) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  PollServer server;
  std::vector<TessumAgent *> agents(kAgents, nullptr);
  for (auto &a : agents) ASSERT_EQ(SCHEAGENT_Initialize(&a, 1), TESSUM_OK);
  std::vector<std::unique_ptr<Req>> reqs;
  int removed = 0;
  TessumHttpRequest request{};
  ASSERT_EQ(SMO_HttpRequest_SetConn(&request.conn, 0, nullptr, 0, "127.0.0.1", server.port()),
            TESSUM_OK);
  std::strcpy(request.path, "/cgi-bin/getdi.cgi");
  request.timeout_ms = 60000;

  for (int i = 0; i < kAgents * kPerAgent; ++i) {
    reqs.push_back(std::make_unique<Req>());
    Req *r = reqs.back().get();
    r->token.timeout_ms = 60000;
    STATOKEN_TouchToken(&r->token);
    ++r->started;
    ASSERT_EQ(SMO_HttpRequest_InitEx(agents[i % kAgents], &r->token, OnDone, r, &request,
                                     &r->handle, 0),
              TESSUM_OK);
    // Every seventh is withdrawn at once, while it connects or waits for the reply.
    if (i % 7 == 0 && SCHEAGENT_RemoveToken(agents[i % kAgents], 2, &r->token) == TESSUM_OK) {
      ++removed;
    }
  }
  // Every eleventh once all are started: in the reply, in the body, or too late (refused).
  for (size_t i = 0; i < reqs.size(); i += 11) {
    if (SCHEAGENT_RemoveToken(agents[i % kAgents], 2, &reqs[i]->token) == TESSUM_OK) ++removed;
  }

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  while (g_finished < static_cast<int>(reqs.size()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(g_finished.load(), static_cast<int>(reqs.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // nothing more may arrive

  int whole = 0, withdrawn = 0;
  for (auto &r : reqs) {
    EXPECT_EQ(r->finals.load(), 1);
    EXPECT_EQ(r->started.load(), r->completed.load());
    if (r->final_status == TESSUM_S_CLOSED) {
      EXPECT_EQ(r->body, kBody);
      ++whole;
    } else {
      EXPECT_EQ(r->final_status.load(), TESSUM_E_WITHDRAWN)
          << std::hex << r->final_status.load() << " body " << std::dec << r->body.size();
      ++withdrawn;
    }
    EXPECT_EQ(COMMON_TI_Release(&r->handle), TESSUM_OK);
  }
  EXPECT_EQ(withdrawn, removed);
  EXPECT_GT(withdrawn, 0);
  std::printf("requests %zu, whole %d, withdrawn %d\n", reqs.size(), whole, withdrawn);
  for (auto &a : agents) EXPECT_EQ(SCHEAGENT_Release(&a), TESSUM_OK);
}

}  // namespace
