// The blocking fetch of a device's system information page over Tessum's HTTP requests,
// parsed by Morvane into a SysInfoData record. Used by the model catalogue to identify a
// device whose model Morvane does not know.
#pragma once

#include <stdint.h>

#include "morvane.h"

#define SYSINFO_PATH "/cgi-bin/sysinfo.cgi"
// The body buffer: at most SYSINFO_BODY_SIZE - 2 bytes of the page fit (1,021); a page that
// fills it ends the read with 0x60301 and is not parsed.
#define SYSINFO_BODY_SIZE 1023

// Where to fetch from. Texts are NUL-terminated; user and password go to the device and, as
// its credentials, to the proxy too. `proxy_host` NULL or empty: no proxy (the proxy is
// reached on the device's port).
struct SysInfoFetchTarget {
  const char *host;
  uint32_t port;
  const char *user;
  const char *password;
  const char *proxy_host;
  uint32_t timeout_ms;  // bounds connect, request, headers and each read; 0 no bound
};

// Fetches and parses, on the calling thread. 0 and `out` filled; a Tessum status unchanged
// (0x80070042 time-out, 0x80070076 connection failed, 0x80070082 credentials refused...);
// 0x60301 when the page filled the buffer; 0x80000003 for a NULL argument or credentials
// longer than the request record holds (64 characters); else the parser's negative result
// (as uint32_t).
uint32_t SysInfo_Fetch(const SysInfoFetchTarget *target, SysInfoData *out);
