// Log records handed to the host's logger (Kavrel_LogInit). Logging never fails and never
// changes a result: without a logger, or without the entries a record needs, a call does
// nothing.
#pragma once

#include <stdint.h>

#include "kavrel.h"

#if defined(__GNUC__)
#define KAVREL_PRINTF_(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define KAVREL_PRINTF_(fmt_index, first_arg)
#endif

// A located record: the host's entry 13 receives the call site's file and line.
void Log_Located(uint32_t code, const char *file, uint32_t line, const char *format, ...)
    KAVREL_PRINTF_(4, 5);
// A plain record (entry 12), used only for the version message.
void Log_Plain(uint32_t code, const char *format, ...) KAVREL_PRINTF_(2, 3);

// Installs the host's table (NULL: logging off) for every context of the process.
void Log_Install(const KavrelLogger *logger);
// The logger installed last, or NULL.
const KavrelLogger *Log_Current(void);

// A request as a log record may show it: the value of every query or form field whose key
// holds "pass" in any case ("rootpass", "Security_userpass_0", "ftppass1") and a URL's user
// information become "***"; paths and other fields stay readable. Hosts paste their logs
// into tickets, so every record that shows a request goes through this. Longer requests
// are cut to the buffer.
struct LogMasked {
  char text[1280];
};
LogMasked Log_Mask(const char *request);
// The masked text, valid until the end of the statement that uses it.
#define KV_MASKED(request) (Log_Mask(request).text)

#define KV_LOG(code, ...) Log_Located((code), __FILE__, (uint32_t)__LINE__, __VA_ARGS__)
#define KV_FAIL(...) KV_LOG(KAVREL_LOG_FAILURE, __VA_ARGS__)
