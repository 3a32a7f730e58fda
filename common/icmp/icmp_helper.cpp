// The helper kind of the echo socket: one request at a time, started by a send and waited for
// by one or more waits, so a caller that waits in slices (to look at an abort flag between
// them) still sends one request a round and gives it the whole round to be answered.
#include "icmp_helper.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

namespace {

const uint32_t kDefaultTimeoutMs = 1000;
// A request ends by its own time-out; a helper that has not ended it well after that is broken.
const uint32_t kEndGraceMs = 2000;

std::atomic<const IcmpEchoHelper *> g_test_helper{nullptr};

void SleepMs(uint64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

struct IcmpHelperEcho {
  const IcmpEchoHelper *ops = nullptr;
  void *handle = nullptr;
  uint32_t timeout_ms = kDefaultTimeoutMs;
  bool pending = false;   // the last request runs
  bool answered = false;  // the last request was answered, not yet reported
  int last_error = 0;
};

namespace {

// What a request that ended means for the waiting caller.
IcmpEchoResult Ended(IcmpHelperEcho *echo, IcmpEchoHelperState state, int error) {
  echo->pending = false;
  switch (state) {
    case ICMP_HELPER_ANSWERED:
      return ICMP_ECHO_OK;
    case ICMP_HELPER_UNREACHABLE:
      return ICMP_ECHO_UNREACHABLE;
    case ICMP_HELPER_FAILED:
      echo->last_error = error;
      return ICMP_ECHO_ERROR;
    default:
      return ICMP_ECHO_TIMEOUT;
  }
}

}  // namespace

void IcmpEcho_UseHelperForTests(const IcmpEchoHelper *helper) { g_test_helper.store(helper); }

const IcmpEchoHelper *IcmpHelper_ForTests(void) { return g_test_helper.load(); }

int IcmpHelper_Open(const IcmpEchoHelper *helper, uint32_t target, uint32_t timeout_ms,
                    IcmpHelperEcho **out) {
  *out = nullptr;
  IcmpHelperEcho *echo = new (std::nothrow) IcmpHelperEcho;
  if (!echo) return -1;
  echo->ops = helper;
  IcmpHelper_SetTimeout(echo, timeout_ms);
  int error = helper->open(helper->context, target, &echo->handle);
  if (error != 0) {
    delete echo;
    return error;
  }
  *out = echo;
  return 0;
}

void IcmpHelper_SetTimeout(IcmpHelperEcho *echo, uint32_t timeout_ms) {
  echo->timeout_ms = timeout_ms != 0 ? timeout_ms : kDefaultTimeoutMs;
}

IcmpEchoResult IcmpHelper_Send(IcmpHelperEcho *echo, const uint8_t *request) {
  int error = 0;
  if (echo->pending) {
    IcmpEchoHelperState last = echo->ops->wait(echo->handle, echo->timeout_ms + kEndGraceMs,
                                               &error);
    if (last == ICMP_HELPER_PENDING) {
      echo->last_error = -1;
      return ICMP_ECHO_ERROR;
    }
    echo->pending = false;
  }
  echo->answered = false;
  IcmpEchoHelperState state =
      echo->ops->start(echo->handle, request + 8, ICMP_ECHO_REQUEST_SIZE - 8, echo->timeout_ms,
                       &error);
  switch (state) {
    case ICMP_HELPER_PENDING:
      echo->pending = true;
      return ICMP_ECHO_OK;
    case ICMP_HELPER_ANSWERED:
      echo->answered = true;
      return ICMP_ECHO_OK;
    case ICMP_HELPER_UNANSWERED:
      return ICMP_ECHO_OK;  // the wait finds no answer
    default:
      return Ended(echo, state, error);
  }
}

// Like the sockets' wait, an unanswered request keeps the caller for the whole window.
IcmpEchoResult IcmpHelper_WaitReply(IcmpHelperEcho *echo, uint32_t window_ms) {
  const uint64_t end = NowMs() + window_ms;
  if (echo->answered) {
    echo->answered = false;
    return ICMP_ECHO_OK;
  }
  if (echo->pending) {
    int error = 0;
    IcmpEchoHelperState state = echo->ops->wait(echo->handle, window_ms, &error);
    if (state == ICMP_HELPER_PENDING) return ICMP_ECHO_TIMEOUT;
    IcmpEchoResult result = Ended(echo, state, error);
    if (result != ICMP_ECHO_TIMEOUT) return result;
  }
  uint64_t now = NowMs();
  if (now < end) SleepMs(end - now);
  return ICMP_ECHO_TIMEOUT;
}

int IcmpHelper_LastError(const IcmpHelperEcho *echo) { return echo->last_error; }

void IcmpHelper_Close(IcmpHelperEcho **echo) {
  if (!echo || !*echo) return;
  (*echo)->ops->close((*echo)->handle);
  delete *echo;
  *echo = nullptr;
}
