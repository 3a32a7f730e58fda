// Library context: initialisation, the worker thread and release.
#include "core/context.h"

#include <stdlib.h>

#include <new>
#include <type_traits>

#include "core/device.h"
#include "netclient.h"
#include "core/operation.h"
#include "platform/log.h"

namespace {

constexpr uint32_t kWorkerStack = 102400;
constexpr uint32_t kWorkerPriority = 100;  // the platform's lowest normal priority
constexpr uint32_t kWorkerStopWaitMs = 10000;

bool VersionAccepted(uint32_t version) {
  return (version & 0x00FF00FFu) == 6 && (version & 0x0000FF00u) <= 0x300;
}

void DisposeNode(EventNode *node) {
  if (!node->embedded) free(node);
}

void FreeNodes(KavrelContext *context) {
  while (EventNode *node = Context_Dequeue(context)) DisposeNode(node);
}

// Sleeps until woken, then handles the queued nodes one at a time. The stop flag is read
// before each node, so once Kavrel_Release has set it no further node is handled; the
// nodes left in the queue are freed by the release.
uint32_t WorkerMain(void *arg) {
  KavrelContext *context = static_cast<KavrelContext *>(arg);
  while (!context->stop.load(std::memory_order_acquire)) {
    EventNode *node = Context_Dequeue(context);
    if (!node) {
      OsWait(context->wake, OS_WAIT_FOREVER);
      continue;
    }
    // An embedded node may be reused by its slot as soon as the handler gives the slot back.
    bool embedded = node->embedded != 0;
    if (context->handler) context->handler(context, node);
    if (!embedded) free(node);
  }
  return 0;
}

// Records are zero-filled and constructed in place (which writes nothing); calloc leaves
// the pages uncommitted until a record is first taken (Device_Prepare).
static_assert(std::is_trivially_default_constructible<KavrelDevice>::value,
              "constructing a record must not write to it");
KavrelDevice *AllocateTable(uint32_t count) {
  void *block = calloc(count, sizeof(KavrelDevice));
  if (!block) return nullptr;
  KavrelDevice *table = static_cast<KavrelDevice *>(block);
  for (uint32_t i = 0; i < count; ++i) new (&table[i]) KavrelDevice;
  return table;
}

// Releases every record's transports first: until then a transport thread may still queue
// a node (and set the wake event). Every record's operations are withdrawn before any record
// waits for its transports, so the release waits once for all of them, not device by device.
// The queue is emptied before the table is freed, since most nodes are embedded in the
// records' slots.
void FreeTable(KavrelContext *context) {
  if (!context->devices) return;
  for (uint32_t i = 0; i < context->prepared; ++i) Device_Close(&context->devices[i]);
  for (uint32_t i = 0; i < context->prepared; ++i) Device_Free(&context->devices[i]);
  FreeNodes(context);
  for (uint32_t i = 0; i < context->max_devices; ++i) context->devices[i].~KavrelDevice();
  free(context->devices);
  context->devices = nullptr;
}

// Frees what a context holds; the worker must have ended (or never started).
void DestroyContext(KavrelContext *context) {
  FreeTable(context);
  FreeNodes(context);
  OsThreadDestroy(&context->worker);
  OsEventClose(&context->wake);
  if (context->queue_lock) OsLockDestroy(&context->queue_lock);
  OsThreadLocalFree();
  context->~KavrelContext();
  free(context);
}

uint32_t StartWorker(KavrelContext *context) {
  OsThreadParams params{kWorkerStack, context, kWorkerPriority, WorkerMain};
  if (OsThreadCreate(&context->worker, &params) != 0) return KAVREL_E_NOMEM;
  if (OsThreadStart(context->worker) != 0) return KAVREL_E_PLATFORM;
  return KAVREL_OK;
}

uint32_t CreateContext(uint32_t max_devices, KavrelContext **out) {
  void *block = calloc(1, sizeof(KavrelContext));
  if (!block) {
    KV_FAIL("malloc error: %d\n", static_cast<int>(sizeof(KavrelContext)));
    return KAVREL_E_NOMEM;
  }
  KavrelContext *context = new (block) KavrelContext;
  context->max_devices = max_devices;
  OsThreadLocalInit();  // paired with the OsThreadLocalFree of DestroyContext
  context->devices = AllocateTable(max_devices);
  if (!context->devices) {
    KV_FAIL("malloc error: %d\n", static_cast<int>(max_devices * sizeof(KavrelDevice)));
    DestroyContext(context);
    return KAVREL_E_NOMEM;
  }
  if (OsLockCreate(&context->queue_lock) != 0 || OsEventCreate(&context->wake, 0) != 0) {
    KV_FAIL("malloc error: %d\n", 0);
    DestroyContext(context);
    return KAVREL_E_NOMEM;
  }
  context->handler = Completion_HandleNode;
  uint32_t rc = StartWorker(context);
  if (rc != KAVREL_OK) {
    KV_FAIL("create worker thread failed: %X\n", rc);
    DestroyContext(context);
    return rc;
  }
  *out = context;
  return KAVREL_OK;
}

}  // namespace

// Only a node queued into an empty queue wakes the worker: the worker sleeps only after it
// found the queue empty, and it takes every node queued behind the first before sleeping.
void Context_Enqueue(KavrelContext *context, EventNode *node) {
  OsLockEnter(context->queue_lock);
  node->next = nullptr;
  node->prev = context->queue.prev;
  bool was_empty = context->queue.prev == nullptr;
  if (was_empty) {
    context->queue.next = node;
  } else {
    context->queue.prev->next = node;
  }
  context->queue.prev = node;
  OsLockLeave(context->queue_lock);
  if (was_empty) OsEventSet(context->wake);
}

EventNode *Context_Dequeue(KavrelContext *context) {
  if (!context->queue_lock) return nullptr;
  OsLockEnter(context->queue_lock);
  EventNode *node = context->queue.next;
  if (node) {
    context->queue.next = node->next;
    if (node->next) {
      node->next->prev = nullptr;
    } else {
      context->queue.prev = nullptr;
    }
    node->next = node->prev = nullptr;
  }
  OsLockLeave(context->queue_lock);
  return node;
}

void Context_SetHandler(KavrelContext *context, EventNodeHandler handler) {
  context->handler = handler;
}

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_InitialEx(KavrelHandle *out, uint32_t max_devices,
                                                    uintptr_t, uint32_t version) {
  if (!VersionAccepted(version)) {
    Log_Plain(KAVREL_LOG_LOWER, "Version Invalid. Mine = %X, Given = %X\n", KAVREL_VERSION_NUMBER,
              version);
    return KAVREL_E_VERSION;
  }
  if (!out) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  *out = nullptr;
  int wsa = OsSocketsStart();
  if (wsa != 0) {
    KV_FAIL("WSA startup error: %d\n", wsa);
    return KAVREL_E_PLATFORM;
  }
  if (max_devices == 0) {
    KV_FAIL("Max device number is 0\n");
    OsSocketsStop();
    return KAVREL_E_INVALIDARG;
  }
  OsClockInit();
  OsCalendarInit();
  KavrelContext *context = nullptr;
  uint32_t rc = CreateContext(max_devices, &context);
  if (rc != KAVREL_OK) {
    OsSocketsStop();
    return rc;
  }
  *out = context;
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_Initial(KavrelHandle *out, uint32_t version) {
  return Kavrel_InitialEx(out, 16, 0, version);
}

// The worker is stopped before the device records are freed: it finishes the node it is
// handling, if any, and handles no other. Nodes still queued are freed without being handled,
// so the worker never touches a freed record and the host hears nothing after this returns.
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_Release(KavrelHandle *handle) {
  if (!handle || !*handle) {
    KV_FAIL("Handle NULL\n");
    return KAVREL_E_HANDLE;
  }
  KavrelContext *context = *handle;
  *handle = nullptr;
  context->stop.store(1, std::memory_order_release);
  OsEventSet(context->wake);
  if (OsThreadJoin(context->worker, kWorkerStopWaitMs, nullptr) != 0) {
    OsThreadStop(context->worker, 1);
    if (!OsThreadEnded(context->worker)) {
      // The worker is stuck in a host callback. Freeing the context under it would crash
      // the host later; keeping it alive costs only its memory.
      KV_FAIL("worker thread did not stop; context %p kept\n", static_cast<void *>(context));
      OsSocketsStop();
      return KAVREL_OK;
    }
  }
  DestroyContext(context);
  OsSocketsStop();
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetVersionInfo(uint8_t *v0, uint8_t *v1, uint8_t *v2,
                                                         uint8_t *v3) {
  if (!v0 || !v1 || !v2 || !v3) return KAVREL_E_INVALIDARG;
  *v0 = KAVREL_VERSION_NUMBER & 0xFF;
  *v1 = (KAVREL_VERSION_NUMBER >> 8) & 0xFF;
  *v2 = (KAVREL_VERSION_NUMBER >> 16) & 0xFF;
  *v3 = (KAVREL_VERSION_NUMBER >> 24) & 0xFF;
  return KAVREL_OK;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_LogInit(const KavrelLogger *logger) {
  Log_Install(logger);
  NetClient_SetLogger(logger);
  return KAVREL_OK;
}

}  // extern "C"
