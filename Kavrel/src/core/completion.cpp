// The worker's handling of queued completions: each asynchronous operation advances one
// transport step per node and ends with exactly one call of the host's callback, on the
// worker thread. The slot is given back just before that call, so the callback may start the
// next command on the device; the device counts the callback meanwhile, so that
// Kavrel_DeleteDevice still returns only after it, and a host may free its callback context
// as soon as the delete has returned.
#include <string.h>

#include "config/config_transfer.h"
#include "core/operation.h"
#include "platform/log.h"

namespace {

// Gives the slot back (with its transport handles), then calls the host. The slot is not
// touched after: the callback may already have taken it for its next command.
void Finish(OperationSlot *slot, uint32_t status, uintptr_t value) {
  KavrelDevice *device = slot->device;
  uint32_t code = Operation_Code(slot->kind);
  Operation_GiveBackForCallback(slot);
  KavrelCallback callback = device->callback;
  if (callback) callback(device, device->callback_context, code, status, value);
  Operation_CallbackReturned(device);
}

// The host status of a failed transport status, or HOST_OK for a good one. A status that is
// not known to be good is a failure: reporting an unknown status as success would tell the
// host that a request the device refused went through.
uint32_t HostStatusOf(uint32_t status) {
  switch (status) {
    case 0:
    case 107:
    case 201:
    case 220:
    case KAVREL_T_CLOSED:
    case KAVREL_S_BUFFER_FULL:
      return HOST_OK;
    case 109:
    case 205:
    case KAVREL_T_E_UNAUTHORIZED:
    case KAVREL_T_E_LOGIN:
      return HOST_REFUSED;
    case KAVREL_T_WITHDRAWN:
    case KAVREL_NC_ABORTED:
      return HOST_ABORTED;
    default:
      return HOST_FAILED;
  }
}

// Classifies a completion; a failure ends the operation. True when it may go on.
bool Classify(OperationSlot *slot, uint32_t status) {
  uint32_t host = HostStatusOf(status);
  if (host == HOST_OK) return true;
  Finish(slot, host, 0);
  return false;
}

void ReadNext(OperationSlot *slot) {
  uint32_t rc = Operation_StartRead(slot);
  if (rc == KAVREL_T_WITHDRAWN) {
    Finish(slot, HOST_ABORTED, 0);
  } else if (rc != 0) {
    Finish(slot, HOST_READ_FAILED, 0);
  }
}

void FinishRead(OperationSlot *slot, uint32_t status) {
  slot->reply_buffer[slot->reply_count] = '\0';
  slot->sub_state = SUB_STATE_DONE;
  if (slot->kind == KIND_MOTION_GET) {
    uint32_t count = 0;
    uint32_t parsed = Motion_ParseReply(slot, &count);
    Finish(slot, parsed, count);
    return;
  }
  if (slot->kind == KIND_DI) {
    uint32_t levels[4];
    ParseDIReply(slot->device, slot->reply_buffer, levels);
    Finish(slot, HOST_OK, reinterpret_cast<uintptr_t>(levels));
    return;
  }
  Finish(slot, status, slot->reply_count);
}

void HandleRead(OperationSlot *slot, uint32_t status) {
  if (slot->sub_state == SUB_STATE_REQUEST) {
    if (!Classify(slot, status)) return;
    slot->sub_state = SUB_STATE_READING;
  }
  if (status == 0) {
    ReadNext(slot);
  } else if (status == KAVREL_T_CLOSED || status == KAVREL_S_BUFFER_FULL) {
    FinishRead(slot, status);
  } else {
    uint32_t host = HostStatusOf(status);
    Finish(slot, host == HOST_ABORTED || status == KAVREL_T_TIMEOUT ? host : HOST_READ_FAILED, 0);
  }
}

// Parameter setting, kind 13: the first request's end (20), then the second request when
// there is one (24), then the end (25). Both requests' statuses are classified alike.
void HandleParam(OperationSlot *slot, uint32_t status) {
  if (!Classify(slot, status)) return;
  if (slot->sub_state == SUB_STATE_REQUEST) {
    slot->sub_state = SUB_STATE_PARAM_SECOND;
    const char *second = Params_SecondRequest(slot);
    slot->sub_state = SUB_STATE_PARAM_DONE;
    if (second) {
      KavrelDevice *device = slot->device;
      OsLockEnter(device->lock);
      if (slot->http) COMMON_TI_Release(&slot->http);
      OsLockLeave(device->lock);
      uint32_t rc = HttpCommandToServer(device, second, 1, 0, 1, slot);
      if (rc == 0) return;  // the slot is the next node's
      KV_LOG(KAVREL_LOG_LOWER, "HttpCommandToServer (%s) failed: %X\n", KV_MASKED(second), rc);
      Finish(slot, rc == KAVREL_T_WITHDRAWN ? HOST_ABORTED : HOST_FAILED, 0);
      return;
    }
  }
  Finish(slot, HOST_OK, 0);
}

// Motion read, kind 14: the read loop of the other reads, then the parse (FinishRead).
void HandleMotionGet(OperationSlot *slot, uint32_t status) {
  if (slot->sub_state == SUB_STATE_MOTION) slot->sub_state = SUB_STATE_REQUEST;
  HandleRead(slot, status);
}

// Motion set, kind 15: one request; after success the form page's configuration copy.
void HandleMotionSet(OperationSlot *slot, uint32_t status) {
  if (!Classify(slot, status)) return;
  Motion_AfterSet(slot);
  Finish(slot, HOST_OK, 0);
}

}  // namespace

void Completion_HandleNode(KavrelContext *, EventNode *node) {
  OperationSlot *slot = node->slot;
  KavrelDevice *device = slot ? slot->device : nullptr;
  if (!device) return;
  uint32_t status = node->event;
  void *transport = node->transport;  // the node is the slot's again once it is given back
  KV_LOG(KAVREL_LOG_FLOW, "Handling Callback for %p/%p, InternetStatus = %d\n",
         static_cast<void *>(device), transport, static_cast<int>(status));
  if (device->closing.load()) return;
  if (device->deleting.load() || slot->abort_requested) {
    Finish(slot, HOST_ABORTED, 0);
    KV_LOG(KAVREL_LOG_FLOW, "Because of aborting, the operation is terminated and notified %p\n",
           static_cast<void *>(device));
    return;
  }
  KV_LOG(KAVREL_LOG_FLOW, "pEvent->eCurOperation %X\n", slot->kind);
  switch (slot->kind) {
    case KIND_PTZ:
    case KIND_MOVE:
    case KIND_DO:
    case KIND_UART_WRITE:
    case KIND_HTTP:
      if (Classify(slot, status)) Finish(slot, HOST_OK, 0);
      break;
    case KIND_CONFIG_FETCH:
    case KIND_CONFIG_LOCAL:
    case KIND_CONFIG_REMOTE:
      ConfigTransfer_HandleNode(slot, status);
      break;
    case KIND_DI:
    case KIND_UART_READ:
    case KIND_UART_READ_WRITE:
    case KIND_HTTP_READ:
      HandleRead(slot, status);
      break;
    case KIND_PARAM:
      HandleParam(slot, status);
      break;
    case KIND_MOTION_GET:
      HandleMotionGet(slot, status);
      break;
    case KIND_MOTION_SET:
      HandleMotionSet(slot, status);
      break;
    default:
      break;
  }
  KV_LOG(KAVREL_LOG_FLOW, "Handling Callback for %p/%p, InternetStatus = %d FINISH\n",
         static_cast<void *>(device), transport, static_cast<int>(status));
}

void Completion_Finish(OperationSlot *slot, uint32_t status, uintptr_t value) {
  Finish(slot, status, value);
}
