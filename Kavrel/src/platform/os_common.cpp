// The parts of the OS layer that are arithmetic and identical on every platform: the
// priority scale and the calendar clock. The platform files supply the raw readings.
#include <atomic>

#include "platform/os.h"
#include "platform/os_internal.h"

int OsPriorityMap(uint32_t priority) {
  if (priority > 255) priority = 255;
  uint32_t level = (priority + 4) / 8;  // 0-32
  if (level <= 6) return -15;           // idle
  if (level <= 12) return -2;           // lowest
  if (level <= 17) return static_cast<int>(level) - 15;
  if (level <= 23) return 2;  // highest
  return 15;                  // time-critical
}

namespace {

constexpr uint32_t kFirstYear = 1970;
constexpr uint32_t kLastYear = 2035;
constexpr uint32_t kSecondsPerDay = 86400;

bool IsLeap(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (month == 2 && IsLeap(year)) ? 29 : kDays[month - 1];
}

uint32_t ClampYear(uint32_t year) {
  if (year < kFirstYear) return kFirstYear;
  if (year > kLastYear) return kLastYear;
  return year;
}

// The calendar base: seconds since 1970 at initialisation minus the counter's seconds then,
// so that base + counter gives the time now. Written once per process (or by OsCalendarSet)
// and read without locks afterwards.
std::atomic<int64_t> g_base_seconds{0};
std::atomic<bool> g_base_set{false};
std::atomic<OsSetSystemTimeFn> g_set_system_time{nullptr};

}  // namespace

uint32_t OsCalendarToSeconds(const OsDate *date) {
  uint32_t year = ClampYear(date->year);
  uint32_t days = 0;
  for (uint32_t y = kFirstYear; y < year; ++y) days += IsLeap(y) ? 366 : 365;
  uint32_t month = date->month < 1 ? 1 : (date->month > 12 ? 12 : date->month);
  for (uint32_t m = 1; m < month; ++m) days += DaysInMonth(year, m);
  uint32_t day = date->day < 1 ? 1 : date->day;
  days += day - 1;
  return ((days * 24 + date->hour) * 60 + date->minute) * 60 + date->second;
}

int OsCalendarBreakDown(uint32_t seconds, OsDate *date) {
  if (!date) return -1;
  if (seconds > OS_CALENDAR_MAX_SECONDS) seconds = OS_CALENDAR_MAX_SECONDS;
  uint32_t days = seconds / kSecondsPerDay;
  uint32_t rest = seconds % kSecondsPerDay;
  date->day_of_week = (4 + days) % 7;  // 1970-01-01 was a Thursday
  uint32_t year = kFirstYear;
  while (days >= (IsLeap(year) ? 366u : 365u)) {
    days -= IsLeap(year) ? 366 : 365;
    ++year;
  }
  uint32_t month = 1;
  while (days >= DaysInMonth(year, month)) {
    days -= DaysInMonth(year, month);
    ++month;
  }
  date->year = year;
  date->month = month;
  date->day = days + 1;
  date->hour = rest / 3600;
  date->minute = (rest / 60) % 60;
  date->second = rest % 60;
  return 0;
}

int OsCalendarInit(void) {
  if (g_base_set.load(std::memory_order_acquire)) return 0;
  OsDate local{};
  OsPlatformLocalTime(&local);
  int64_t now = OsCalendarToSeconds(&local);
  g_base_seconds.store(now - static_cast<int64_t>(OsMilliseconds() / 1000));
  g_base_set.store(true, std::memory_order_release);
  return 0;
}

int OsCalendarNow(uint32_t *seconds, uint32_t *milliseconds) {
  uint64_t ms = OsMilliseconds();
  int64_t now = g_base_seconds.load() + static_cast<int64_t>(ms / 1000);
  if (seconds) *seconds = now < 0 ? 0 : static_cast<uint32_t>(now);
  if (milliseconds) *milliseconds = static_cast<uint32_t>(ms % 1000);
  return 0;
}

int OsCalendarNowBrokenDown(OsDate *date) {
  uint32_t seconds = 0;
  OsCalendarNow(&seconds, nullptr);
  return OsCalendarBreakDown(seconds, date);
}

void OsCalendarSetSystemTimeHook(OsSetSystemTimeFn fn) { g_set_system_time.store(fn); }

int OsCalendarSet(const OsDate *date) {
  if (!date) return -1;
  OsDate clamped = *date;
  clamped.year = ClampYear(date->year);
  int64_t wanted = OsCalendarToSeconds(&clamped);
  g_base_seconds.store(wanted - static_cast<int64_t>(OsMilliseconds() / 1000));
  g_base_set.store(true, std::memory_order_release);
  OsSetSystemTimeFn hook = g_set_system_time.load();
  return hook ? hook(&clamped) : OsPlatformSetLocalTime(&clamped);
}
