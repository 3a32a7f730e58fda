// Runs the socket FTP chains from a test: one agent, one token, and a wait with a generous
// bound on each chain's single completion.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "sched/ftp_sock.h"

struct KavrelContext;
struct EventNode;

namespace ftptest {

// Bytes that change from one position to the next, so a cut, shifted or repeated piece shows.
std::string Pattern(size_t size);

// Stands in for a context's completion handler while it lives, recording the event of each
// node the worker takes (one context at a time).
class WorkerQueue {
 public:
  explicit WorkerQueue(KavrelContext *context);
  ~WorkerQueue();
  // The next event, within a bound that only catches a hang; 0xDEAD when none came.
  uint32_t Next(int bound_ms = 60000);

 private:
  static void Handler(KavrelContext *context, EventNode *node);
  KavrelContext *context_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<uint32_t> events_;
};

class Runner {
 public:
  Runner();
  ~Runner();
  Runner(const Runner &) = delete;
  Runner &operator=(const Runner &) = delete;

  // Logs in on 127.0.0.1:port; the control connection stays in control() on success.
  uint32_t Login(int port, const std::string &user, const std::string &password,
                 const std::string &account = "", uint32_t timeout_ms = 10000);
  uint32_t Command(uint32_t kind, const std::string &argument, std::string *result = nullptr);
  // RETR, STOR or LIST on the control connection.
  uint32_t Transfer(FtpSockTransfer *transfer);
  // A transfer descriptor for `kind` with `path` (and a listing buffer for LIST).
  static FtpSockTransfer Describe(uint32_t kind, bool passive, const std::string &path,
                                  const std::string &remote = "");

  uint64_t value() const { return value_; }
  uint32_t completions() const { return completions_; }
  TessumHandle *control() { return &control_; }
  TessumAgent *agent() { return agent_; }
  TessumToken *token() { return &token_; }
  char listing[8192];

 private:
  static void TESSUM_CALL Done(TessumToken *token);
  uint32_t Wait();

  TessumAgent *agent_ = nullptr;
  TessumToken token_{};
  TessumHandle control_ = nullptr;
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;
  uint32_t status_ = 0;
  uint64_t value_ = 0;
  uint32_t completions_ = 0;
};

}  // namespace ftptest
