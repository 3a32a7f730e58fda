// Operation slots and HTTP submission through the scheduler library.
//
// Lock use: the device lock guards slot allocation, each slot's transport handles and its
// abort flag. Transport operations of a slot are started with the device lock held, so an
// abort (which removes the slot's token under the same lock) either sees the operation
// pending or finds the abort flag set before the next one starts. The scheduler library
// never calls back from inside a start or a removal, so holding the lock there is safe.
//
// A synchronous request runs on its caller's thread from the connect to the last byte
// (the scheduler's call): no thread hand-off, no wake-up of the caller. It is registered in
// its slot under the device lock, where an abort finds it and wakes it, and runs outside
// the lock; the caller withdraws it under the lock before it releases it, so an abort never
// touches a released call.
#include "core/operation.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/log.h"

namespace {

void ClearSlot(OperationSlot *slot) {
  slot->kind = 0;
  slot->sub_state = 0;
  slot->reply_count = 0;
  slot->net_request = nullptr;
  slot->call = nullptr;
  free(slot->extra_buffer);
  slot->extra_buffer = nullptr;
  free(slot->args);
  slot->args = nullptr;
  memset(&slot->token, 0, sizeof(slot->token));
  slot->http = nullptr;
  slot->ftp_data = nullptr;
  slot->ftp_control = nullptr;
  slot->async = 0;
  slot->read_body = 0;
  slot->final_status.store(0);
  slot->abort_requested.store(0);
}

// The device lock must be held.
OperationSlot *TakeSlot(OperationSlot *slot, char *buffer, uint32_t capacity) {
  if (slot->in_use) return nullptr;
  slot->in_use = 1;
  ClearSlot(slot);
  slot->reply_buffer = buffer;
  slot->reply_capacity = capacity;
  slot->reply_buffer[0] = '\0';
  return slot;
}

// Releases the slot's transport handles; the device lock must be held.
void ReleaseHandlesLocked(OperationSlot *slot) {
  if (slot->http) COMMON_TI_Release(&slot->http);
  if (slot->ftp_data) COMMON_TI_Release(&slot->ftp_data);
  if (slot->ftp_control) COMMON_TI_Release(&slot->ftp_control);
}

// Wakes a Kavrel_DeleteDevice waiting for the device to go idle; the device lock is held.
void NoteIdleLocked(KavrelDevice *device) {
  if (device->drained && Operation_DeviceIdleLocked(device)) OsEventSet(device->drained);
}

// Gives the slot back, counting a host callback about to run for it when `callback` is set.
void GiveBack(OperationSlot *slot, bool callback) {
  KavrelDevice *device = slot->device;
  OsLockEnter(device->lock);
  ReleaseHandlesLocked(slot);
  ClearSlot(slot);
  if (slot != &device->exclusive) {
    slot->reply_buffer = slot->inline_buffer;
    slot->reply_capacity = KAVREL_SLOT_BUFFER - 1;
  }
  slot->in_use = 0;
  if (callback) ++device->callbacks;
  NoteIdleLocked(device);
  OsLockLeave(device->lock);
}

// Stores a completion: on the worker's queue for an asynchronous slot, else wakes the
// waiting caller. Runs on a scheduler thread.
void StoreCompletion(OperationSlot *slot, uint32_t status) {
  KavrelDevice *device = slot->device;
  if (status != 0) {
    OsLockEnter(device->lock);
    if (slot->http) COMMON_TI_Release(&slot->http);
    OsLockLeave(device->lock);
  }
  Operation_Complete(slot, status);
}

// The status of one piece of the body read into the slot's buffer: a reply that leaves no
// room for the terminator ends the read with 0x60301.
uint32_t PieceRead(OperationSlot *slot, uint32_t status, uint32_t got) {
  if (status != 0) return status;
  slot->reply_count += got;
  if (slot->reply_capacity - slot->reply_count <= 1) return KAVREL_S_BUFFER_FULL;
  return 0;
}

KavrelDevice *LiveDevice(OperationSlot *slot) {
  if (!slot || !slot->device || slot->device->closing.load()) return nullptr;
  return slot->device;
}

void TESSUM_CALL HttpCompletion(TessumToken *token) {
  OperationSlot *slot = static_cast<OperationSlot *>(token->context);
  if (!LiveDevice(slot)) return;
  StoreCompletion(slot, token->status);
}

void TESSUM_CALL ReadCompletion(TessumToken *token) {
  OperationSlot *slot = static_cast<OperationSlot *>(token->context);
  if (!LiveDevice(slot)) return;
  StoreCompletion(slot, PieceRead(slot, token->status, static_cast<uint32_t>(token->value)));
}

// The request record of `path` to the device (GET, or POST with the query as the body).
uint32_t FillRequest(const KavrelDevice *device, const char *path, int post,
                     TessumHttpRequest *request) {
  bool proxy = device->proxy_address && device->proxy_address[0];
  uint32_t rc = SMO_HttpRequest_SetConn(&request->conn, proxy ? 1 : 0,
                                        proxy ? device->proxy_address : "", device->proxy_port,
                                        device->address, static_cast<uint32_t>(device->http_port));
  if (rc == 0) {
    const char *query = post ? strchr(path, '?') : nullptr;
    size_t path_length = query ? static_cast<size_t>(query - path) : strlen(path);
    if (path_length >= sizeof(request->path)) path_length = sizeof(request->path) - 1;
    memcpy(request->path, path, path_length);
    request->method = post ? TESSUM_HTTP_POST : TESSUM_HTTP_GET;
    request->body = query ? query + 1 : nullptr;
    request->body_length = query ? static_cast<uint32_t>(strlen(query + 1)) : 0;
    Device_CopyString(request->user, sizeof(request->user), device->user);
    Device_CopyString(request->password, sizeof(request->password), device->password);
    if (proxy) {
      Device_CopyString(request->proxy_user, sizeof(request->proxy_user), device->proxy_user);
      Device_CopyString(request->proxy_password, sizeof(request->proxy_password),
                        device->proxy_password);
    }
    request->timeout_ms = device->timeout_ms;
  }
  return rc;
}

uint32_t StartRequest(KavrelDevice *device, const char *path, int post, OperationSlot *slot) {
  TessumHttpRequest request{};
  uint32_t rc = FillRequest(device, path, post, &request);
  if (rc != 0) return rc;
  slot->token.timeout_ms = device->timeout_ms;
  STATOKEN_TouchToken(&slot->token);
  OsLockEnter(device->lock);
  rc = slot->abort_requested ? KAVREL_T_WITHDRAWN
                             : SMO_HttpRequest_InitEx(device->agent, &slot->token, HttpCompletion,
                                                      slot, &request, &slot->http, 0);
  OsLockLeave(device->lock);
  return rc;
}

// Registers the call in the slot unless the slot was aborted already.
uint32_t RegisterCall(KavrelDevice *device, OperationSlot *slot, TessumCall *call) {
  OsLockEnter(device->lock);
  bool aborted = slot->abort_requested != 0;
  if (!aborted) slot->call = call;
  OsLockLeave(device->lock);
  return aborted ? static_cast<uint32_t>(KAVREL_T_WITHDRAWN) : 0;
}

void WithdrawCall(KavrelDevice *device, OperationSlot *slot) {
  OsLockEnter(device->lock);
  slot->call = nullptr;
  OsLockLeave(device->lock);
}

// Reads the body piece by piece into the slot's buffer until the end, a full buffer, a
// failure or an abort.
uint32_t ReadBodyOnCaller(KavrelDevice *device, OperationSlot *slot, TessumCall *call) {
  uint32_t status = 0;
  while (status == 0) {
    uint32_t room = slot->reply_capacity - slot->reply_count - 1;
    if (room == 0) return KAVREL_S_BUFFER_FULL;
    uint32_t got = 0;
    status = SMO_HttpCall_Read(call, slot->reply_buffer + slot->reply_count, room,
                               device->timeout_ms, &got);
    status = PieceRead(slot, status, got);
  }
  return status;
}

// The whole synchronous request on the calling thread.
uint32_t RunOnCaller(KavrelDevice *device, const char *path, int read_body, int post,
                     OperationSlot *slot) {
  TessumHttpRequest request{};
  uint32_t rc = FillRequest(device, path, post, &request);
  if (rc != 0) return rc;
  TessumCall *call = nullptr;
  rc = SMO_HttpCall_Create(&call);
  if (rc != 0) return rc;
  rc = RegisterCall(device, slot, call);
  if (rc == 0) {
    rc = SMO_HttpCall_Run(call, &request, nullptr);
    if (rc == 0 && read_body) rc = ReadBodyOnCaller(device, slot, call);
    WithdrawCall(device, slot);
  }
  SMO_HttpCall_Release(&call);
  return rc;
}

}  // namespace

uint32_t Operation_StartRead(OperationSlot *slot) {
  KavrelDevice *device = slot->device;
  OsLockEnter(device->lock);
  uint32_t room = slot->reply_capacity - slot->reply_count - 1;
  uint32_t rc;
  if (slot->abort_requested) {
    rc = KAVREL_T_WITHDRAWN;
  } else if (room == 0) {
    rc = KAVREL_S_BUFFER_FULL;
  } else if (!slot->http) {
    rc = KAVREL_T_E_HTTP;
  } else {
    STATOKEN_TouchToken(&slot->token);
    rc = COMMON_TI_ReadData(slot->http, &slot->token, ReadCompletion, slot, room,
                            slot->reply_buffer + slot->reply_count, 1);
  }
  OsLockLeave(device->lock);
  return rc;
}

void Operation_Complete(OperationSlot *slot, uint32_t status) {
  slot->final_status.store(status);
  if (!slot->async) {
    OsEventSet(slot->done);
    return;
  }
  KavrelDevice *device = slot->device;
  EventNode *node = &slot->node;
  node->device = device;
  node->event = status;
  node->slot = slot;
  node->embedded = 1;
  node->transport = &slot->token;
  Context_Enqueue(device->context, node);
}

OperationSlot *TakeOperationSlot(KavrelDevice *device) {
  OsLockEnter(device->lock);
  OperationSlot *taken = nullptr;
  for (int i = 0; !taken && !device->deleting.load() && i < KAVREL_SLOT_COUNT; ++i) {
    taken = TakeSlot(&device->slots[i], device->slots[i].inline_buffer, KAVREL_SLOT_BUFFER - 1);
  }
  OsLockLeave(device->lock);
  return taken;
}

OperationSlot *TakeExclusiveSlot(KavrelDevice *device) {
  OsLockEnter(device->lock);
  OperationSlot *taken =
      device->deleting.load()
          ? nullptr
          : TakeSlot(&device->exclusive, device->exclusive_buffer, KAVREL_EXCLUSIVE_BUFFER - 1);
  OsLockLeave(device->lock);
  return taken;
}

// The mark is never cleared while the handle is the caller's, so a refusal read after the
// take tells its cause.
uint32_t Operation_Take(KavrelDevice *device, int exclusive, OperationSlot **slot) {
  *slot = exclusive ? TakeExclusiveSlot(device) : TakeOperationSlot(device);
  if (*slot) return KAVREL_OK;
  if (device->deleting.load()) {
    KV_FAIL("Handle not used\n");
    return KAVREL_E_INVALIDARG;
  }
  KV_FAIL("Too many async\n");
  return KAVREL_E_BUSY;
}

void ReleaseOperationSlot(OperationSlot *slot) { GiveBack(slot, false); }

void Operation_WithdrawLocked(OperationSlot *slot) {
  KavrelDevice *device = slot->device;
  slot->abort_requested = 1;
  if (slot->call) SMO_HttpCall_Abort(slot->call);
  if (device->agent) SCHEAGENT_RemoveToken(device->agent, 2, &slot->token);
}

void Operation_GiveBackForCallback(OperationSlot *slot) { GiveBack(slot, true); }

void Operation_CallbackReturned(KavrelDevice *device) {
  OsLockEnter(device->lock);
  --device->callbacks;
  NoteIdleLocked(device);
  OsLockLeave(device->lock);
}

bool Operation_DeviceIdleLocked(const KavrelDevice *device) {
  if (device->callbacks != 0 || device->exclusive.in_use) return false;
  for (const OperationSlot &slot : device->slots) {
    if (slot.in_use) return false;
  }
  return true;
}

void Operation_UseBuffer(OperationSlot *slot, char *buffer, uint32_t capacity) {
  slot->reply_buffer = buffer;
  slot->reply_capacity = capacity;
  slot->reply_count = 0;
}

uint32_t Operation_Code(uint32_t kind) {
  static const uint32_t kCodes[] = {0,   100, 101, 102, 107, 108, 103, 104,
                                    106, 105, 112, 109, 109, 110, 113, 114};
  return kind < sizeof(kCodes) / sizeof(kCodes[0]) && kind != 0 ? kCodes[kind] : 100;
}

bool Operation_RequestIsSafe(const char *text, size_t limit) {
  if (!text) return false;
  size_t n = 0;
  for (; text[n]; ++n) {
    unsigned char c = static_cast<unsigned char>(text[n]);
    if (c <= ' ' || c == 0x7F || n + 1 >= limit) return false;
  }
  return true;
}

uint32_t Operation_Begin(DeviceHandle device, int32_t max_level, int32_t async_flag,
                         uint32_t kind, OperationSlot **out) {
  uint32_t rc = Device_Check(device, max_level);
  if (rc != KAVREL_OK) return rc;
  OperationSlot *slot = nullptr;
  rc = Operation_Take(device, 0, &slot);
  if (rc != KAVREL_OK) return rc;
  slot->async = (async_flag && device->callback) ? 1 : 0;
  slot->kind = kind;
  slot->sub_state = SUB_STATE_REQUEST;
  *out = slot;
  return KAVREL_OK;
}

uint32_t HttpCommandToServer(KavrelDevice *device, const char *path, int async, int read_body,
                             int post, OperationSlot *slot) {
  slot->read_body = read_body ? 1 : 0;
  slot->async = async ? 1 : 0;
  slot->final_status.store(0);
  if (async) return StartRequest(device, path, post, slot);

  uint32_t status = RunOnCaller(device, path, read_body, post, slot);
  slot->reply_buffer[slot->reply_count] = '\0';
  return status == KAVREL_T_CLOSED ? KAVREL_OK : status;
}

uint32_t Operation_Submit(OperationSlot *slot, const char *path, int read_body, int post) {
  KavrelDevice *device = slot->device;
  int async = slot->async;
  uint32_t rc = HttpCommandToServer(device, path, async, read_body, post, slot);
  if (async && rc == 0) return 0;
  ReleaseOperationSlot(slot);
  if (rc != 0 && rc != KAVREL_S_BUFFER_FULL) {
    KV_LOG(KAVREL_LOG_LOWER, "HttpCommandToServer (%s) failed: %X\n", KV_MASKED(path), rc);
  }
  return rc;
}

extern "C" KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_AbortNetworkOper(DeviceHandle device) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_ANY);
  if (rc != KAVREL_OK) return rc;
  OperationSlot *all[KAVREL_SLOT_COUNT + 1];
  Device_AllSlots(device, all);
  for (OperationSlot *slot : all) {
    OsLockEnter(device->lock);
    if (slot->in_use) Operation_WithdrawLocked(slot);
    OsLockLeave(device->lock);
  }
  for (int i = 0; i <= KAVREL_SLOT_COUNT; ++i) {
    OperationSlot *slot = all[i];
    OsLockEnter(device->lock);
    NetClientRequestHandle request = slot->in_use ? slot->net_request : nullptr;
    OsLockLeave(device->lock);
    if (!request) continue;
    if (i == 0) {
      KV_LOG(KAVREL_LOG_FTP, "Try to abort netclient handle %p of (%p)\n",
             static_cast<void *>(request), static_cast<void *>(device));
    } else {
      KV_LOG(KAVREL_LOG_FTP, "Try to abort netclient handle %p of (%p) async %d\n",
             static_cast<void *>(request), static_cast<void *>(device), i - 1);
    }
    NetClient_Abort(request);
  }
  return KAVREL_OK;
}
