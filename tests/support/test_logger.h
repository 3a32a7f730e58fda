// A host logger table for tests: records every call with its entry, code, file, line and
// the formatted message. Thread-safe, since the library logs from several threads.
#pragma once

#include <stdarg.h>
#include <stdio.h>

#include <mutex>
#include <string>
#include <vector>

#include "kavrel.h"

namespace kvtest {

struct LogRecord {
  bool located;
  uint32_t code;
  uint32_t subcode;
  std::string file;
  uint32_t line;
  std::string format;
  std::string message;
};

class TestLogger {
 public:
  TestLogger() {
    table_.context = this;
    table_.plain_enabled = this;
    table_.located_enabled = this;
    table_.plain = &TestLogger::Plain;
    table_.located = &TestLogger::Located;
  }
  KavrelLogger *table() { return &table_; }
  std::vector<LogRecord> records() {
    std::lock_guard<std::mutex> hold(mutex_);
    return records_;
  }
  void clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    records_.clear();
  }
  // True when some record's message equals `message`.
  bool Has(const std::string &message) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const LogRecord &r : records_)
      if (r.message == message) return true;
    return false;
  }

 private:
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  // The library hands formats through unformatted; a host formats them as they come.
  static std::string Format(const char *format, va_list args) {
    char buf[2048];
    vsnprintf(buf, sizeof(buf), format, args);
    return buf;
  }
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  static void Plain(void *context, uint32_t code, uint32_t subcode, const char *format,
                    va_list args) {
    auto *self = static_cast<TestLogger *>(context);
    std::lock_guard<std::mutex> hold(self->mutex_);
    self->records_.push_back({false, code, subcode, "", 0, format, Format(format, args)});
  }
  static void Located(void *context, uint32_t code, uint32_t subcode, const char *file,
                      uint32_t line, const char *format, va_list args) {
    auto *self = static_cast<TestLogger *>(context);
    std::lock_guard<std::mutex> hold(self->mutex_);
    self->records_.push_back({true, code, subcode, file ? file : "", line, format,
                              Format(format, args)});
  }

  KavrelLogger table_{};
  std::mutex mutex_;
  std::vector<LogRecord> records_;
};

// Installs a logger for the life of a scope.
class ScopedLogger {
 public:
  explicit ScopedLogger(TestLogger &logger) { Kavrel_LogInit(logger.table()); }
  ~ScopedLogger() { Kavrel_LogInit(nullptr); }
};

}  // namespace kvtest
