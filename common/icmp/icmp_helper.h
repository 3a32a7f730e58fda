// The helper kind of the echo socket, for the platform halves: echo requests through an
// echo helper's operations (icmp_echo.h), the same on every platform.
#pragma once

#include <stdint.h>

#include "icmp_echo.h"

typedef struct IcmpHelperEcho IcmpHelperEcho;

// The helper that a test installed (IcmpEcho_UseHelperForTests), or NULL.
const IcmpEchoHelper *IcmpHelper_ForTests(void);

// Opens a handle of `helper` for requests to `target`; each request waits up to
// `timeout_ms` (0: one second). 0 and *out, or the helper's error number (-1 when memory
// runs out).
int IcmpHelper_Open(const IcmpEchoHelper *helper, uint32_t target, uint32_t timeout_ms,
                    IcmpHelperEcho **out);
void IcmpHelper_SetTimeout(IcmpHelperEcho *echo, uint32_t timeout_ms);
// IcmpEcho_Send and IcmpEcho_WaitReply of the helper kind; `request` is the whole 44-byte
// echo request.
enum IcmpEchoResult IcmpHelper_Send(IcmpHelperEcho *echo, const uint8_t *request);
enum IcmpEchoResult IcmpHelper_WaitReply(IcmpHelperEcho *echo, uint32_t window_ms);
int IcmpHelper_LastError(const IcmpHelperEcho *echo);
// Ends a pending request, closes the handle and sets *echo to NULL; NULL accepted.
void IcmpHelper_Close(IcmpHelperEcho **echo);
