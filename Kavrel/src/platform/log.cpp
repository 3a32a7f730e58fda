#include "platform/log.h"

#include <atomic>
#include <stdarg.h>

namespace {

// The host may install a new table while other threads log; each record reads the pointer
// once, so it goes wholly to the old table or wholly to the new one.
std::atomic<const KavrelLogger *> g_logger{nullptr};

}  // namespace

const KavrelLogger *Log_Current(void) { return g_logger.load(std::memory_order_acquire); }

void Log_Install(const KavrelLogger *logger) { g_logger.store(logger, std::memory_order_release); }

void Log_Located(uint32_t code, const char *file, uint32_t line, const char *format, ...) {
  const KavrelLogger *logger = Log_Current();
  if (!logger || !logger->context || !logger->located_enabled || !logger->located) return;
  va_list args;
  va_start(args, format);
  logger->located(logger->context, code, 0, file, line, format, args);
  va_end(args);
}

void Log_Plain(uint32_t code, const char *format, ...) {
  const KavrelLogger *logger = Log_Current();
  if (!logger || !logger->context || !logger->plain_enabled || !logger->plain) return;
  va_list args;
  va_start(args, format);
  logger->plain(logger->context, code, 0, format, args);
  va_end(args);
}
