// The library context: the device table, the queue through which asynchronous completions
// reach the worker thread, and the worker thread itself.
#pragma once

#include <stdint.h>

#include <atomic>

#include "kavrel.h"
#include "platform/os.h"

struct KavrelDevice;
struct OperationSlot;

// One queued completion. A node embedded in its operation slot stays the slot's; any other
// node is allocated by its producer and freed by the worker after handling.
struct EventNode {
  KavrelDevice *device;
  uint32_t event;  // the network client's event code, or the transport's status
  OperationSlot *slot;
  EventNode *next;
  EventNode *prev;
  uint32_t embedded;
  void *transport;  // the network client request, or the transport token
};

// Handles one node on the worker thread; the worker frees the node afterwards.
typedef void (*EventNodeHandler)(struct KavrelContext *context, EventNode *node);

// Lock order: the queue lock and a device lock are never held together, and neither is held
// while calling the host, a transport, or waiting.
//
// The worker sleeps on `wake` until a node is queued or the context stops, then takes the
// nodes one at a time, first in first out, checking `stop` before each. Transport threads
// set `wake`, so it is closed only after every record's transports are released.
struct KavrelContext {
  uint32_t max_devices;
  KavrelDevice *devices;  // max_devices records, never moved: handles point into it
  // Records are taken first free in table order, so those ever taken are always the first
  // `prepared`; the others were never written (not even read), and release skips them.
  uint32_t prepared;
  OsLock queue_lock;      // guards the queue and taking/freeing device records
  OsThread *worker;
  OsEvent wake;                 // auto-reset: a node was queued into an empty queue, or stop
  std::atomic<uint32_t> stop;   // set once, by Kavrel_Release; no node is handled after it
  EventNode queue;  // sentinel: queue.next is the head, queue.prev the tail
  EventNodeHandler handler;
};

// Appends a node under the queue lock and wakes the worker (any thread). Once queued, the
// node is the worker's: the caller must not touch it (or its slot) again.
void Context_Enqueue(KavrelContext *context, EventNode *node);
// Takes the head node off the queue, or NULL.
EventNode *Context_Dequeue(KavrelContext *context);
// The node handler of the completion path.
void Context_SetHandler(KavrelContext *context, EventNodeHandler handler);
