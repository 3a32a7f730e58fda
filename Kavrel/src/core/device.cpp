#include "core/device.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/context.h"
#include "core/operation.h"
#include "platform/log.h"

#include "catalog/model_catalog.h"

static void Slot_Init(OperationSlot *slot, KavrelDevice *device, char *buffer, uint32_t capacity) {
  slot->device = device;
  slot->reply_buffer = buffer;
  slot->reply_capacity = capacity;
}

// The device directory is private to this record: a failure leaves it empty, and whatever
// needs a local file then fails with a file error, rather than sharing one fixed directory
// between devices or processes.
static void Device_MakeDirectory(KavrelDevice *device) {
  std::string dir = OsMakePrivateTempDir("ext");
  std::string config = dir + "/" + "config.ini";
  if (dir.empty() || dir.size() >= sizeof(device->directory) ||
      config.size() >= sizeof(device->config_path)) {
    if (!dir.empty()) OsRemoveTree(dir);
    KV_FAIL("create device directory failed\n");
    device->directory[0] = '\0';
    device->config_path[0] = '\0';
    return;
  }
  snprintf(device->directory, sizeof(device->directory), "%s", dir.c_str());
  snprintf(device->config_path, sizeof(device->config_path), "%s", config.c_str());
}

uint32_t Device_EnsureDirectory(KavrelDevice *device) {
  if (!device->lock) return KAVREL_E_FILE;  // a record never taken holds no files
  OsLockEnter(device->lock);
  if (!device->directory[0]) Device_MakeDirectory(device);
  uint32_t result = device->directory[0] ? KAVREL_OK : KAVREL_E_FILE;
  OsLockLeave(device->lock);
  return result;
}

// Removes the directory with everything in it (the configuration file and the temporary
// files beside it); the next user makes a new one.
static void Device_RemoveDirectory(KavrelDevice *device) {
  OsLockEnter(device->lock);
  if (device->directory[0]) OsRemoveTree(device->directory);
  device->directory[0] = '\0';
  device->config_path[0] = '\0';
  OsLockLeave(device->lock);
}

// Readies a record the first time it is taken: its lock, slots and defaults on the
// zero-filled table. Runs outside the queue lock, on a record the caller has reserved. A
// record never taken is never written, so a large table costs address space, not memory or
// time. The private directory is not made here but on first use (Device_EnsureDirectory):
// most records of a large table never hold a file. 0, or 0x80000002.
static uint32_t Device_Prepare(KavrelDevice *device) {
  if (device->lock) return KAVREL_OK;
  if (OsLockCreate(&device->lock) != 0) return KAVREL_E_NOMEM;
  for (int i = 0; i < KAVREL_SLOT_COUNT; ++i) {
    device->slots[i].inline_buffer = device->slot_buffers[i];
    Slot_Init(&device->slots[i], device, device->slot_buffers[i], KAVREL_SLOT_BUFFER - 1);
  }
  Slot_Init(&device->exclusive, device, device->exclusive_buffer, KAVREL_EXCLUSIVE_BUFFER - 1);
  device->upgrade_flag = 1;
  return KAVREL_OK;
}

// The proxy and bypass kept for the network client context until it is made.
static void Device_ForgetNetProxy(KavrelDevice *device) {
  free(device->net_proxy);
  free(device->net_bypass);
  device->net_proxy = device->net_bypass = nullptr;
}

static bool Device_KeepNetProxy(KavrelDevice *device, const char *proxy, const char *bypass) {
  Device_ForgetNetProxy(device);
  if (proxy && !(device->net_proxy = strdup(proxy))) return false;
  if (bypass && !(device->net_bypass = strdup(bypass))) return false;
  return true;
}

// Made outside the device lock (making a context may take time on Windows); of two callers
// racing, the first to install its context wins and the other releases its own.
uint32_t Device_NetClient(KavrelDevice *device, NetClientHandle *out) {
  OsLockEnter(device->lock);
  *out = device->net_client;
  OsLockLeave(device->lock);
  if (*out) return KAVREL_OK;
  NetClientHandle made = nullptr;
  uint32_t rc = NetClient_InitializeWithProxy(&made, device->net_proxy, device->net_bypass,
                                              NETCLIENT_VERSION_WORD);
  if (rc != 0) {
    KV_LOG(KAVREL_LOG_LOWER, "NetClient_InitializeWithProxy error: %X\n", rc);
    return rc;
  }
  if (device->proxy_address && device->proxy_address[0]) {
    NetClientProxyInfo info{device->proxy_address, nullptr, device->proxy_user,
                            device->proxy_password, device->proxy_port};
    rc = NetClient_SetProxy(made, 0, &info);
    if (rc != 0) {
      NetClient_Release(&made);
      return rc;
    }
  }
  OsLockEnter(device->lock);
  if (!device->net_client) device->net_client = made, made = nullptr;
  *out = device->net_client;
  OsLockLeave(device->lock);
  if (made) NetClient_Release(&made);
  return KAVREL_OK;
}

NetClientHandle Device_NetClientIfMade(KavrelDevice *device) {
  OsLockEnter(device->lock);
  NetClientHandle client = device->net_client;
  OsLockLeave(device->lock);
  return client;
}

// Withdraws the operations in flight and releases their transports. The worker has stopped,
// and the completions still to come find the record closing.
void Device_Close(KavrelDevice *device) {
  if (!device->lock) return;  // never taken: nothing was made
  device->closing.store(1);
  OperationSlot *all[KAVREL_SLOT_COUNT + 1];
  Device_AllSlots(device, all);
  for (OperationSlot *slot : all) {
    OsLockEnter(device->lock);
    NetClientRequestHandle request = nullptr;
    if (slot->in_use) {
      // A synchronous call stays its caller's to release; the abort only wakes it.
      if (slot->call) SMO_HttpCall_Abort(slot->call);
      if (device->agent) SCHEAGENT_RemoveToken(device->agent, 2, &slot->token);
      if (slot->http) COMMON_TI_Release(&slot->http);
      if (slot->ftp_data) COMMON_TI_Release(&slot->ftp_data);
      if (slot->ftp_control) COMMON_TI_Release(&slot->ftp_control);
      request = slot->net_request;
      slot->net_request = nullptr;
    }
    OsLockLeave(device->lock);
    if (request) NetClient_CloseRequest(request);
  }
}

// The device's own transports, its slots' buffers and its files. The scheduler agent's
// release waits for callbacks still running, so nothing touches the record after.
void Device_Free(KavrelDevice *device) {
  if (!device->lock) return;
  if (device->net_client) NetClient_Release(&device->net_client);
  Device_ForgetNetProxy(device);
  if (device->agent) SCHEAGENT_Release(&device->agent);
  OperationSlot *all[KAVREL_SLOT_COUNT + 1];
  Device_AllSlots(device, all);
  for (OperationSlot *slot : all) {
    free(slot->extra_buffer);
    slot->extra_buffer = nullptr;
    free(slot->args);
    slot->args = nullptr;
  }
  Device_RemoveDirectory(device);
  OsLockDestroy(&device->lock);
}

uint32_t Device_Check(DeviceHandle device, int32_t max_level) {
  if (!device) {
    KV_FAIL("Handle NULL\n");
    return KAVREL_E_HANDLE;
  }
  if (!device->in_use.load()) {
    KV_FAIL("Handle not used\n");
    return KAVREL_E_INVALIDARG;
  }
  if (max_level != KAVREL_LEVEL_ANY && device->property_level > max_level) {
    KV_FAIL("Oper not available: %d, %d, %d\n", max_level, 9999, device->property_level);
    return KAVREL_E_NOT_AVAILABLE;
  }
  return KAVREL_OK;
}

void Device_AllSlots(KavrelDevice *device, OperationSlot *slots[KAVREL_SLOT_COUNT + 1]) {
  slots[0] = &device->exclusive;
  for (int i = 0; i < KAVREL_SLOT_COUNT; ++i) slots[i + 1] = &device->slots[i];
}

void Device_CopyString(char *dst, size_t size, const char *src) {
  if (size == 0) return;
  size_t n = 0;
  if (src) {
    while (n + 1 < size && src[n]) ++n;
    memcpy(dst, src, n);
  }
  dst[n] = '\0';
}

char Device_Series(const KavrelDevice *device) {
  if (strncmp(device->server_type, "KM7150", 6) == 0) return '6';
  return strlen(device->server_type) >= 3 ? device->server_type[2] : '\0';
}

// A record taken for a new device carries nothing of the device that held it before.
static void Device_ResetDescription(KavrelDevice *device) {
  memset(&device->param, 0, sizeof(device->param));
  device->address[0] = device->user[0] = device->password[0] = '\0';
  device->server_type[0] = device->device_model[0] = '\0';
  device->model_name = device->server_type;
  device->http_port = 80;
  device->ftp_port = 21;
  device->timeout_ms = 60000;
  device->property_level = 0;
  device->extra = 0;
  device->callback = nullptr;
  device->callback_context = nullptr;
  device->proxy_address = device->proxy_user = device->proxy_password = nullptr;
  device->proxy_port = 0;
  device->reset_after_upgrade = 1;
  device->return_wait_s = 60;
  device->flash_all = 0;
  device->skip_wait = 0;
  device->settle_pause_ms = KAVREL_SETTLE_PAUSE_MAX_MS;
  device->upgrade_abort.store(0);
}

// Fresh transports for a record being taken: a scheduler agent; the network client context
// waits for its first use, with the proxy and bypass it is to be made with.
static uint32_t Device_PrepareForUse(KavrelDevice *device, const char *proxy, const char *bypass) {
  if (!Device_KeepNetProxy(device, proxy, bypass)) {
    Device_ForgetNetProxy(device);
    return KAVREL_E_NOMEM;
  }
  if (device->agent) SCHEAGENT_Release(&device->agent);
  uint32_t rc = SCHEAGENT_Initialize(&device->agent, 1);
  if (rc != 0) Device_ForgetNetProxy(device);
  return rc;
}

// Reserves the first free record in table order; under the queue lock. Only the records
// before it are in use, so the records ever taken stay the first `prepared` of the table. The
// record is marked in use and deleting: no handle of it is out yet, and the mark keeps every
// command and delete away until Kavrel_CreateDeviceEx has readied it outside the lock.
static KavrelDevice *Device_Reserve(KavrelContext *context) {
  for (uint32_t i = 0; i < context->max_devices; ++i) {
    KavrelDevice *device = &context->devices[i];
    if (i < context->prepared && device->in_use.load()) continue;
    if (i >= context->prepared) context->prepared = i + 1;
    device->context = context;
    device->deleting.store(1);
    device->in_use.store(1);
    return device;
  }
  return nullptr;
}

// The catalogue's view of the record: where the model lookup reads and writes.
int32_t Device_ResolveModel(KavrelDevice *device, int mode) {
  CatalogDevice view{};
  view.param = &device->param;
  view.model_name = device->device_model;
  view.server_type = device->server_type;
  view.series_name = &device->model_name;
  view.conn.host = device->address;
  view.conn.port = static_cast<uint32_t>(device->http_port);
  view.conn.user = device->user;
  view.conn.password = device->password;
  view.conn.proxy_host = device->proxy_address;
  view.conn.timeout_ms = device->timeout_ms;
  return ModelCatalog_ResolveDevice(&view, mode);
}

void Device_CopyProperty(KavrelDevice *device, const KavrelDeviceProperty *property) {
  Device_CopyString(device->address, sizeof(device->address), property->address);
  Device_CopyString(device->user, sizeof(device->user), property->user);
  Device_CopyString(device->password, sizeof(device->password), property->password);
  Device_CopyString(device->server_type, sizeof(device->server_type), property->server_type);
  device->http_port = property->http_port < 1 ? 80 : property->http_port;
  device->ftp_port = property->ftp_port;
  device->callback = property->callback;
  device->callback_context = property->callback_context;
  device->timeout_ms = property->timeout_ms == 0 ? 60000 : property->timeout_ms;
  device->extra = property->extra;
}

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_CreateDeviceEx(KavrelHandle handle, DeviceHandle *out,
                                                         const char *proxy, const char *bypass) {
  if (!handle) {
    KV_FAIL("Handle NULL\n");
    return KAVREL_E_HANDLE;
  }
  if (!out) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  OsLockEnter(handle->queue_lock);
  KavrelDevice *device = Device_Reserve(handle);
  OsLockLeave(handle->queue_lock);
  if (!device) {
    KV_FAIL("No more free device\n");
    return KAVREL_E_NO_FREE_DEVICE;
  }
  uint32_t rc = Device_Prepare(device);
  if (rc == KAVREL_OK) {
    Device_ResetDescription(device);
    rc = Device_PrepareForUse(device, proxy, bypass);
    if (rc != KAVREL_OK) KV_LOG(KAVREL_LOG_LOWER, "SetServerDeviceForUsage failed: %X\n", rc);
  } else {
    KV_FAIL("malloc error: %d\n", static_cast<int>(sizeof(KavrelDevice)));
  }
  if (rc != KAVREL_OK) {
    OsLockEnter(handle->queue_lock);
    device->in_use.store(0);
    OsLockLeave(handle->queue_lock);
    return rc;
  }
  OsLockEnter(device->lock);
  device->deleting.store(0);
  OsLockLeave(device->lock);
  *out = device;
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_CreateDevice(KavrelHandle handle, DeviceHandle *out) {
  return Kavrel_CreateDeviceEx(handle, out, nullptr, nullptr);
}

// Marks the device deleting, unless it is not in use or already being deleted, and hands it
// the event that tells the delete the device has gone idle.
static bool Device_MarkDeleting(KavrelDevice *device, OsEvent drained) {
  if (!device->lock) return false;  // taken once, but never readied
  OsLockEnter(device->lock);
  bool marked = device->in_use.load() && !device->deleting.load();
  if (marked) {
    device->deleting.store(1);
    device->drained = drained;
  }
  OsLockLeave(device->lock);
  return marked;
}

// Waits until no slot is in use and no callback of the device runs. The mark refuses every
// new slot, so once idle the device stays so; the last slot given back, or the last callback
// returning, sets the event.
static void Device_WaitIdle(KavrelDevice *device) {
  for (;;) {
    OsLockEnter(device->lock);
    OsEvent drained = device->drained;
    bool idle = Operation_DeviceIdleLocked(device);
    if (idle) device->drained = nullptr;
    OsLockLeave(device->lock);
    if (idle) {
      OsEventClose(&drained);
      return;
    }
    OsWait(drained, OS_WAIT_FOREVER);
  }
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_DeleteDevice(DeviceHandle device) {
  KV_LOG(KAVREL_LOG_FLOW, "Entering Kavrel_DeleteDevice hDevice = %p\n", static_cast<void *>(device));
  if (!device) {
    KV_LOG(KAVREL_LOG_FLOW, "Leaving Kavrel_DeleteDevice, hdevice is null\n");
    return KAVREL_E_HANDLE;
  }
  KavrelContext *context = device->context;
  OsEvent drained = nullptr;
  if (context && OsEventCreate(&drained, 0) != 0) {
    KV_FAIL("malloc error: %d\n", 0);
    return KAVREL_E_NOMEM;
  }
  if (!context || !Device_MarkDeleting(device, drained)) {
    OsEventClose(&drained);
    KV_LOG(KAVREL_LOG_FLOW, "Leaving Kavrel_DeleteDevice, device is not used\n");
    return KAVREL_E_INVALIDARG;
  }
  Kavrel_AbortNetworkOper(device);
  Device_WaitIdle(device);
  // Released outside the queue lock: the agent's release waits for running callbacks, and
  // those may be waiting for the queue lock to queue their completion.
  if (device->net_client) NetClient_Release(&device->net_client);
  Device_ForgetNetProxy(device);
  if (device->agent) SCHEAGENT_Release(&device->agent);
  // Before the record is free again, so that its next owner never shares the directory.
  Device_RemoveDirectory(device);
  OsLockEnter(context->queue_lock);
  device->in_use.store(0);
  OsLockLeave(context->queue_lock);
  KV_LOG(KAVREL_LOG_FLOW, "Leaving Kavrel_DeleteDevice OK\n");
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDevicePropertyLite(DeviceHandle device,
                                                                const KavrelDeviceProperty *property) {
  if (!property || !property->server_type || !property->server_type[0]) {
    KV_FAIL("ServerType not set\n");
    return KAVREL_E_INVALIDARG;
  }
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_ANY);
  if (rc != KAVREL_OK) return rc;
  Device_CopyProperty(device, property);
  device->property_level = KAVREL_LEVEL_MODEL;
  int32_t resolved = Device_ResolveModel(device, CATALOG_BY_SERVER_TYPE);
  if (resolved == 0) return KAVREL_OK;
  KV_FAIL("unknown server: %s\n", device->server_type);
  return resolved < 0 ? KAVREL_E_UNKNOWN_DEVICE : static_cast<uint32_t>(resolved);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDevicePropertyHttp(DeviceHandle device,
                                                                const KavrelDeviceProperty *property) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_ANY);
  if (rc != KAVREL_OK) return rc;
  if (!property) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  Device_CopyProperty(device, property);
  device->property_level = KAVREL_LEVEL_HTTP;
  return KAVREL_OK;
}

}  // extern "C"
