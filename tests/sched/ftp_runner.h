// Runs the socket FTP chains from a test: one agent, one token, and a wait with a generous
// bound on each chain's single completion.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "sched/ftp_sock.h"

namespace ftptest {

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
