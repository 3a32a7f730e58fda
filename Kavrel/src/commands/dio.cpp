// Digital inputs and outputs.
#include <stdio.h>
#include <string.h>

#include "commands/device_reply.h"
#include "core/operation.h"
#include "platform/log.h"

namespace {

constexpr uint32_t kHigh = 300;  // DiLevelHigh
constexpr uint32_t kLow = 301;   // DiLevelLow
constexpr size_t kQueryMax = 260;

// Appends one output to a bounded query; false when it would not fit.
bool AppendOutput(char *query, bool first, bool short_form, int n, const char *relay,
                  const char *state) {
  size_t used = strlen(query);
  int wrote = short_form ? snprintf(query + used, kQueryMax - used, "?do=%s", state)
                         : snprintf(query + used, kQueryMax - used, "%sdo%d=%s&do%d=%s",
                                    first ? "?" : "&", n, relay, n, state);
  return wrote >= 0 && used + static_cast<size_t>(wrote) < kQueryMax;
}

// Builds the output query onto a copy of SetDoUrl. 0, or 0x80000003 when no output is set.
uint32_t BuildDOQuery(const KavrelDevice *device, const uint32_t *levels, int32_t count,
                      char *query) {
  memset(query, 0, kQueryMax);
  Device_CopyString(query, kQueryMax, device->param.SetDoUrl);
  // Series-3 devices take "do=" for output 1 only: the short form names no output, so
  // using it for a later output would switch output 1 instead.
  bool short_form = Device_Series(device) == '3';
  bool first = true;
  for (int32_t n = 1; n <= count; ++n) {
    uint32_t level = levels[n - 1];
    if (level == 0) continue;
    const char *relay = level == kLow ? "o" : "c";
    const char *state = level == kHigh ? "h" : "l";
    if (!AppendOutput(query, first, first && short_form && n == 1, n, relay, state)) {
      return KAVREL_E_INVALIDARG;
    }
    first = false;
  }
  if (first) {
    KV_FAIL("value not set\n");
    return KAVREL_E_INVALIDARG;
  }
  return KAVREL_OK;
}

uint32_t SendDORequest(DeviceHandle device, const char *url, int32_t async) {
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, KIND_DO, &slot);
  if (rc != KAVREL_OK) return rc;
  return Operation_Submit(slot, url, 0, 0);
}

uint32_t SetOutputs(DeviceHandle device, const uint32_t *levels, int32_t count, int32_t async) {
  char query[kQueryMax];
  uint32_t rc = BuildDOQuery(device, levels, count, query);
  if (rc != KAVREL_OK) return rc;
  return SendDORequest(device, query, async);
}

// The output functions check the handle, then the model's output path, before anything else.
uint32_t CheckOutputPath(DeviceHandle device) {
  if (!device) {
    KV_FAIL("Handle NULL\n");
    return KAVREL_E_HANDLE;
  }
  if (!device->param.SetDoUrl[0]) {
    KV_FAIL("unknown url\n");
    return KAVREL_E_NOT_AVAILABLE;
  }
  return KAVREL_OK;
}

}  // namespace

uint32_t ParseDIReply(const KavrelDevice *device, const char *reply, uint32_t levels[4]) {
  uint32_t rc = DeviceReply_ParseInputs(device->param.DiNum, reply, levels);
  if (rc != KAVREL_OK) KV_FAIL("unknown di number: %d\n", device->param.DiNum);
  return rc;
}

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetDIStatus(DeviceHandle device, uint32_t *in1,
                                                      uint32_t *in2, uint32_t *in3, uint32_t *in4,
                                                      int32_t async) {
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, KIND_DI, &slot);
  if (rc != KAVREL_OK) return rc;
  if (!slot->async && (!in1 || !in2 || !in3 || !in4)) {
    ReleaseOperationSlot(slot);
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  if (!device->param.GetDiUrl[0]) {
    ReleaseOperationSlot(slot);
    return KAVREL_E_NOT_AVAILABLE;
  }
  if (slot->async) return Operation_Submit(slot, device->param.GetDiUrl, 1, 0);
  rc = HttpCommandToServer(device, device->param.GetDiUrl, 0, 1, 0, slot);
  if (rc != 0 && rc != KAVREL_S_BUFFER_FULL) {
    KV_LOG(KAVREL_LOG_LOWER, "HttpCommandToServer (%s) failed: %X\n",
           KV_MASKED(device->param.GetDiUrl), rc);
    ReleaseOperationSlot(slot);
    return rc;
  }
  uint32_t levels[4];
  rc = ParseDIReply(device, slot->reply_buffer, levels);
  ReleaseOperationSlot(slot);
  *in1 = levels[0];
  *in2 = levels[1];
  *in3 = levels[2];
  *in4 = levels[3];
  return rc;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDOLevel(DeviceHandle device, uint32_t out1,
                                                     uint32_t out2, int32_t async) {
  uint32_t rc = CheckOutputPath(device);
  if (rc != KAVREL_OK) return rc;
  const uint32_t levels[2] = {out1, out2};
  int32_t count = device->param.DoNum;
  if (count != 1 && count != 2) {
    KV_FAIL("unknown server\n");
    return KAVREL_E_NOT_AVAILABLE;
  }
  return SetOutputs(device, levels, count, async);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDOLevelEx(DeviceHandle device, const uint32_t *levels,
                                                       int32_t count, int32_t async) {
  uint32_t rc = CheckOutputPath(device);
  if (rc != KAVREL_OK) return rc;
  if (!levels) return KAVREL_E_INVALIDARG;
  for (int32_t i = device->param.DoNum < 0 ? 0 : device->param.DoNum; i < count; ++i) {
    if (levels[i] != 0) return KAVREL_E_INVALIDARG;
  }
  return SetOutputs(device, levels, count, async);
}

}  // extern "C"
