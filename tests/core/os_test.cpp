// The OS layer: priority scale, calendar, threads, events, files and the process lock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "lock_holder.h"
#include "platform/os.h"
#include "test_paths.h"

namespace {

TEST(OsLayer, PriorityMapping) {
  // -15 idle, -2 lowest, -1 below normal, 0 normal, 1 above normal, 2 highest, 15 critical.
  const struct {
    uint32_t priority;
    int platform;
  } cases[] = {
      {0, -15}, {51, -15}, {52, -2}, {99, -2}, {100, -2}, {108, -1}, {116, 0}, {120, 0},
      {124, 1}, {132, 2},  {140, 2}, {187, 2}, {190, 15}, {255, 15}, {300, 15},
  };
  for (const auto &c : cases) EXPECT_EQ(OsPriorityMap(c.priority), c.platform) << c.priority;
}

TEST(OsLayer, CalendarBreakDown) {
  const struct {
    uint32_t seconds;
    OsDate date;
  } cases[] = {
      {0, {1970, 1, 4, 1, 0, 0, 0}},
      {951782400, {2000, 2, 2, 29, 0, 0, 0}},          // leap day of a century leap year
      {1700000000, {2023, 11, 2, 14, 22, 13, 20}},
      {OS_CALENDAR_MAX_SECONDS, {2035, 12, 1, 31, 23, 59, 59}},
      {0xFFFFFFFFu, {2035, 12, 1, 31, 23, 59, 59}},  // clamped
  };
  for (const auto &c : cases) {
    OsDate d{};
    ASSERT_EQ(OsCalendarBreakDown(c.seconds, &d), 0);
    EXPECT_EQ(d.year, c.date.year) << c.seconds;
    EXPECT_EQ(d.month, c.date.month) << c.seconds;
    EXPECT_EQ(d.day_of_week, c.date.day_of_week) << c.seconds;
    EXPECT_EQ(d.day, c.date.day) << c.seconds;
    EXPECT_EQ(d.hour, c.date.hour) << c.seconds;
    EXPECT_EQ(d.minute, c.date.minute) << c.seconds;
    EXPECT_EQ(d.second, c.date.second) << c.seconds;
    if (c.seconds <= OS_CALENDAR_MAX_SECONDS) {
      EXPECT_EQ(OsCalendarToSeconds(&d), c.seconds);
    }
  }
}

OsDate g_set_date;
int RecordSetTime(const OsDate *date) {
  g_set_date = *date;
  return 0;
}

TEST(OsLayer, CalendarSetMovesTheClockThroughTheSeam) {
  OsClockInit();
  OsCalendarInit();
  OsCalendarSetSystemTimeHook(RecordSetTime);
  OsDate wanted{2030, 6, 0, 15, 12, 30, 0};
  EXPECT_EQ(OsCalendarSet(&wanted), 0);
  EXPECT_EQ(g_set_date.year, 2030u);
  OsDate now{};
  OsCalendarNowBrokenDown(&now);
  EXPECT_EQ(now.year, 2030u);
  EXPECT_EQ(now.month, 6u);
  EXPECT_EQ(now.day, 15u);
  OsCalendarSetSystemTimeHook(nullptr);
}

TEST(OsLayer, EventsAreAutoResetAndWaitsTimeOut) {
  OsEvent event = nullptr;
  ASSERT_EQ(OsEventCreate(&event, 0), 0);
  EXPECT_EQ(OsWait(event, 20), -1);
  EXPECT_EQ(OsEventSet(event), 0);
  EXPECT_EQ(OsWait(event, 0), 0);
  EXPECT_EQ(OsWait(event, 20), -1) << "auto-reset: one wait takes the signal";
  OsEvent initially = nullptr;
  ASSERT_EQ(OsEventCreate(&initially, 1), 0);
  EXPECT_EQ(OsWait(initially, 0), 0);
  // A waiter on another thread wakes when the event is set.
  std::thread setter([&] {
    OsSleep(30);
    OsEventSet(event);
  });
  EXPECT_EQ(OsWait(event, 10000), 0);
  setter.join();
  EXPECT_EQ(OsEventClose(&event), 0);
  EXPECT_EQ(event, nullptr);
  EXPECT_EQ(OsEventClose(nullptr), 0);
  OsEventClose(&initially);
}

TEST(OsLayer, Locks) {
  OsLock lock = nullptr;
  ASSERT_EQ(OsLockCreate(&lock), 0);
  OsLockEnter(lock);
  std::atomic<int> other{1};
  std::thread t([&] { other = OsLockTryEnter(lock); });
  t.join();
  EXPECT_EQ(other.load(), -1);
  OsLockLeave(lock);
  EXPECT_EQ(OsLockDestroy(&lock), 0);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(OsLockDestroy(&lock), 3);
}

struct SelfStop {
  OsThread *thread = nullptr;
  std::atomic<int> rc{99};
  OsEvent go = nullptr;
};

uint32_t StopsItself(void *arg) {
  auto *s = static_cast<SelfStop *>(arg);
  OsWait(s->go, 10000);
  s->rc = OsThreadStop(s->thread, 1);  // must not wait for itself
  return 7;
}

TEST(OsLayer, ThreadStoppingItselfDoesNotWait) {
  ASSERT_EQ(OsThreadLocalInit(), 0);
  SelfStop s;
  OsEventCreate(&s.go, 0);
  OsThreadParams params{65536, &s, 120, StopsItself};
  ASSERT_EQ(OsThreadCreate(&s.thread, &params), 0);
  ASSERT_EQ(OsThreadStart(s.thread), 0);
  OsEventSet(s.go);
  EXPECT_TRUE(kvtest::WaitUntil([&] { return OsThreadEnded(s.thread) != 0; }, 10000));
  EXPECT_EQ(s.rc.load(), 0);
  // The handle is closed: a further stop finds no platform thread.
  EXPECT_EQ(OsThreadStop(s.thread, 1), -1);
  EXPECT_EQ(OsThreadDestroy(&s.thread), 0);
  OsEventClose(&s.go);
  OsThreadLocalFree();
}

struct Blocker {
  OsEvent release = nullptr;
  std::atomic<bool> returned{false};
};

uint32_t BlocksUntilSet(void *arg) {
  auto *b = static_cast<Blocker *>(arg);
  OsWait(b->release, OS_WAIT_FOREVER);
  b->returned = true;
  return 5;
}

TEST(OsLayer, BoundedStopOfAThreadThatNeverReturns) {
  Blocker blocker;
  OsEventCreate(&blocker.release, 0);
  OsThread *thread = nullptr;
  OsThreadParams params{65536, &blocker, 100, BlocksUntilSet};
  ASSERT_EQ(OsThreadCreate(&thread, &params), 0);
  ASSERT_EQ(OsThreadStart(thread), 0);
  uint32_t code = 0;
  EXPECT_EQ(OsThreadJoin(thread, 50, &code), -1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OsThreadStop(thread, 1), 0);  // gives up after its bound, leaves it running
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(OsThreadEnded(thread), 0);
  EXPECT_EQ(OsThreadDestroy(&thread), 0);
  // The detached thread still owns its object; letting it end frees it (ASan checks).
  OsEventSet(blocker.release);
  EXPECT_TRUE(kvtest::WaitUntil([&] { return blocker.returned.load(); }, 10000));
  OsEventClose(&blocker.release);
  OsSleep(50);
}

uint32_t ReturnsNine(void *) { return 9; }

TEST(OsLayer, JoinGivesExitCode) {
  OsThread *thread = nullptr;
  OsThreadParams params{0, nullptr, 300, ReturnsNine};
  ASSERT_EQ(OsThreadCreate(&thread, &params), 0);
  EXPECT_EQ(OsThreadJoin(thread, 10, nullptr), 0) << "no platform thread yet";
  ASSERT_EQ(OsThreadStart(thread), 0);
  EXPECT_EQ(OsThreadStart(thread), -1);
  uint32_t code = 0;
  EXPECT_EQ(OsThreadJoin(thread, 10000, &code), 0);
  EXPECT_EQ(code, 9u);
  EXPECT_EQ(OsThreadDestroy(&thread), 0);
  EXPECT_EQ(thread, nullptr);
  EXPECT_EQ(OsThreadDestroy(&thread), 3);
}

TEST(OsLayer, PrivateTempDirsAreUniqueAndRemovable) {
  std::string a = OsMakePrivateTempDir("ext");
  std::string b = OsMakePrivateTempDir("ext");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(a, b);
  EXPECT_EQ(OsMakeDir(a + "/sub"), 0);
  EXPECT_TRUE(kvtest::WriteFile(a + "/sub/f", "x"));
  EXPECT_EQ(OsRemoveTree(a), 0);
  EXPECT_EQ(OsRemoveTree(b), 0);
  struct stat st;
  EXPECT_NE(stat(a.c_str(), &st), 0);
  EXPECT_EQ(OsRemoveTree(a), 0) << "removing what is gone is not an error";
}

TEST(OsLayer, ReplaceFileIsWholeAndTempNameIsBeside) {
  std::string dir = kvtest::MakeTempDir("replace");
  std::string target = dir + "/config.ini";
  ASSERT_TRUE(kvtest::WriteFile(target, "old"));
  std::string temp = OsTempFileBeside(target);
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.rfind(dir, 0), 0u) << temp;
  EXPECT_TRUE(kvtest::IsPathSeparator(temp[dir.size()])) << temp;
  ASSERT_TRUE(kvtest::WriteFile(temp, "new"));
  EXPECT_EQ(OsReplaceFile(temp, target), 0);
  EXPECT_EQ(kvtest::ReadFile(target), "new");
  EXPECT_NE(access(temp.c_str(), F_OK), 0);
  // Through a regular file: ENOTDIR, not a crash or a stray file.
  EXPECT_TRUE(OsTempFileBeside(target + "/inside").empty());
  OsRemoveTree(dir);
}

TEST(OsLayer, ProcessLockExcludesAndTimesOut) {
  std::string dir = kvtest::MakeTempDir("lock");
  std::string file = dir + "/Data.lock";
  OsProcessLock second = nullptr;
  {
    // Held by another thread: a Windows mutex lets its owning thread in again.
    kvtest::LockHolder first("111111", file);
    ASSERT_TRUE(first.held());
    EXPECT_EQ(OsProcessLockAcquire("111111", file, 100, &second), -1);
    EXPECT_EQ(second, nullptr);
  }
  EXPECT_EQ(OsProcessLockAcquire("111111", file, 1000, &second), 0);
  OsProcessLockRelease(&second);
  EXPECT_EQ(second, nullptr);
  // Only a lock kept in a file can fail for its file.
  if (!kvtest::BuiltForWindows()) {
    EXPECT_EQ(OsProcessLockAcquire("111111", dir + "/nofile/x", 100, &second), -1);
  }
  OsRemoveTree(dir);
}

}  // namespace
