// Serial port passthrough. The data text goes into the query as the caller gives it, so it
// is checked: a space, CR, LF or control character would split or cut the request line.
#include <stdio.h>
#include <string.h>

#include "core/operation.h"
#include "platform/log.h"

namespace {

constexpr size_t kRequestMax = 260;

// Formats into a bounded request; false when it does not fit.
bool Format(char *request, const char *format, ...) __attribute__((format(printf, 2, 3)));
bool Format(char *request, const char *format, ...) {
  size_t used = strlen(request);
  va_list args;
  va_start(args, format);
  int wrote = vsnprintf(request + used, kRequestMax - used, format, args);
  va_end(args);
  return wrote >= 0 && used + static_cast<size_t>(wrote) < kRequestMax;
}

uint32_t RefuseArgument(OperationSlot *slot) {
  ReleaseOperationSlot(slot);
  KV_FAIL("Invalid Arg\n");
  return KAVREL_E_INVALIDARG;
}

}  // namespace

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UartWrite(DeviceHandle device, uint32_t port,
                                                    const char *data, int32_t async) {
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, KIND_UART_WRITE, &slot);
  if (rc != KAVREL_OK) return rc;
  if (!device->param.UartUrl[0]) {
    ReleaseOperationSlot(slot);
    KV_FAIL("unknown url\n");
    return KAVREL_E_NOT_AVAILABLE;
  }
  char request[kRequestMax] = {0};
  if (!data || !Format(request, "%s?com=%u&data=%s", device->param.UartUrl, port, data) ||
      !Operation_RequestIsSafe(request, kRequestMax)) {
    return RefuseArgument(slot);
  }
  return Operation_Submit(slot, request, 0, 0);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UartReadAFWrite(DeviceHandle device, uint32_t port,
                                                          const char *data, char *buffer,
                                                          uint32_t size, int32_t flush,
                                                          uint32_t wait, int32_t async) {
  if (!buffer) {
    KV_FAIL("NULL output pointer\n");
    return KAVREL_E_HANDLE;
  }
  memset(buffer, 0, size);
  uint32_t kind = data ? KIND_UART_READ_WRITE : KIND_UART_READ;
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, kind, &slot);
  if (rc != KAVREL_OK) return rc;
  if (!device->param.UartUrl[0]) {
    ReleaseOperationSlot(slot);
    KV_FAIL("unknown url\n");
    return KAVREL_E_NOT_AVAILABLE;
  }
  // One byte for the terminator and at least one for data.
  if (size < 2) return RefuseArgument(slot);
  char request[kRequestMax] = {0};
  bool ok = data ? Format(request, "%s?com=%u&read=%u&data=%s", device->param.UartUrl, port, size,
                          data)
                 : Format(request, "%s?com=%u&read=%u", device->param.UartUrl, port, size);
  if (ok && wait) ok = Format(request, "&wait=%u", wait);
  if (ok && flush) ok = Format(request, "&flush=yes");
  if (!ok || !Operation_RequestIsSafe(request, kRequestMax)) return RefuseArgument(slot);
  Operation_UseBuffer(slot, buffer, size - 1);
  return Operation_Submit(slot, request, 1, 0);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UartRead(DeviceHandle device, uint32_t port, char *buffer,
                                                   uint32_t size, int32_t flush, uint32_t wait,
                                                   int32_t async) {
  return Kavrel_UartReadAFWrite(device, port, nullptr, buffer, size, flush, wait, async);
}

}  // extern "C"
