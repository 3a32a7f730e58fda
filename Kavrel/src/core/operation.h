// Operation slots, submission of HTTP requests through the scheduler library, and the
// completion of operations: synchronous on the caller's thread, asynchronous on the worker.
#pragma once

#include <stdint.h>

#include "core/device.h"

// Operation kinds, and the operation code each reports to the host.
enum OperationKind : uint32_t {
  KIND_CONFIG_FETCH = 1,
  KIND_CONFIG_LOCAL = 2,
  KIND_CONFIG_REMOTE = 3,
  KIND_PTZ = 4,
  KIND_MOVE = 5,
  KIND_DI = 6,
  KIND_DO = 7,
  KIND_UART_WRITE = 8,
  KIND_UART_READ = 9,
  KIND_UART_READ_WRITE = 10,
  KIND_HTTP = 11,
  KIND_HTTP_READ = 12,
  KIND_PARAM = 13,
  KIND_MOTION_GET = 14,
  KIND_MOTION_SET = 15,
};

// Sub-states of the read operations: request sent, reading the body, done.
#define SUB_STATE_REQUEST 20u
#define SUB_STATE_READING 21u
#define SUB_STATE_DONE 22u
// Parameter setting: first request sent, second request sent (or none to send).
#define SUB_STATE_PARAM_SECOND 24u
#define SUB_STATE_PARAM_DONE 25u
// Motion detection: the request of kinds 14 and 15 sent.
#define SUB_STATE_MOTION 26u

// Host statuses.
#define HOST_OK 0u
#define HOST_FAILED 200u
#define HOST_REFUSED 201u
#define HOST_READ_FAILED 202u
#define HOST_ABORTED 206u

// The operation code of a kind (100 for a kind without one).
uint32_t Operation_Code(uint32_t kind);

// The device checks, then the mode (asynchronous only when asked for and the device has a
// callback), then a free ordinary slot of the given kind (sub-state 20). On failure nothing
// is held and the refusal is logged.
uint32_t Operation_Begin(DeviceHandle device, int32_t max_level, int32_t async_flag,
                         uint32_t kind, OperationSlot **slot);

// NULL when every slot (the exclusive one) is taken or the device is being deleted.
OperationSlot *TakeOperationSlot(KavrelDevice *device);
OperationSlot *TakeExclusiveSlot(KavrelDevice *device);
// One of the two, the refusal logged: 0; 0x80000003 ("Handle not used\n") for a device being
// deleted, which hands out no slot; 0x80060303 ("Too many async\n").
uint32_t Operation_Take(KavrelDevice *device, int exclusive, OperationSlot **slot);
void ReleaseOperationSlot(OperationSlot *slot);
// Withdraws what the slot has in flight and keeps its next transport step from starting:
// marks it aborted, wakes its synchronous call, removes its scheduler token. The device lock
// is held.
void Operation_WithdrawLocked(OperationSlot *slot);
// A handler gives the slot back just before calling the host, so that the callback may start
// the next command on it; in the same device-lock section the device counts the callback in
// progress, which Operation_CallbackReturned ends once the host has returned.
void Operation_GiveBackForCallback(OperationSlot *slot);
void Operation_CallbackReturned(KavrelDevice *device);
// No slot of the device in use and none of its callbacks running; the device lock is held.
bool Operation_DeviceIdleLocked(const KavrelDevice *device);

// Points the slot's reply at a caller's buffer of `capacity` + 1 bytes.
void Operation_UseBuffer(OperationSlot *slot, char *buffer, uint32_t capacity);

// Sends `path` (GET, or POST with the query as the body) to the device. Asynchronous: the
// result of the start; on 0 the slot belongs to the completion path.
//
// Once an asynchronous start has been accepted, neither the submitting thread nor a handler
// that started the next step touches the slot or its node again: the worker takes each
// completion as soon as it is queued, so the operation may already have ended, its slot been
// given back or taken anew, and the host's callback have run, before the start returns. Synchronous: waits for
// the reply (and reads the body into the slot's buffer when `read_body`), and returns the
// final status with the normal end of a body counted as 0; a body that filled the buffer
// gives 0x60301. Never calls the host.
uint32_t HttpCommandToServer(KavrelDevice *device, const char *path, int async, int read_body,
                             int post, OperationSlot *slot);

// Hands a transport's outcome to the slot's owner: wakes the waiting caller of a synchronous
// slot, or queues the slot's embedded node (event = `status`) for the worker. Runs on a
// transport thread; the slot has one transport operation in flight at a time, so its node is
// never queued twice.
void Operation_Complete(OperationSlot *slot, uint32_t status);

// Asks for the next piece of the body into the room left in the slot's buffer. 0 when
// started; 0x80070043 when the slot was aborted; a failure otherwise.
uint32_t Operation_StartRead(OperationSlot *slot);

// Submits and settles the slot as the command functions do: an accepted asynchronous start
// keeps the slot and returns 0; otherwise the slot is given back and a failure is logged
// ("HttpCommandToServer (%s) failed: %X\n"). 0x60301 passes as a success of reads.
uint32_t Operation_Submit(OperationSlot *slot, const char *path, int read_body, int post);

// Checks a request built from caller strings: at most `limit` - 1 characters, no CR, LF,
// space or other control character (they would split or cut the request line).
bool Operation_RequestIsSafe(const char *text, size_t limit);

// The worker's handling of one queued completion.
void Completion_HandleNode(KavrelContext *context, EventNode *node);

// What the worker's handlers of kinds 13, 14 and 15 need from their commands.
// The second request of a parameter setting, or NULL when there is none.
const char *Params_SecondRequest(const OperationSlot *slot);
// Parses a finished motion read in the slot into the caller's windows and count, with the
// configuration copy when asked. 0 or 0x80060316; `count` gets the window count.
uint32_t Motion_ParseReply(OperationSlot *slot, uint32_t *count);
// After a motion set succeeded: the form page's copy into the local configuration.
void Motion_AfterSet(OperationSlot *slot);
// Ends an asynchronous operation on the worker: releases the slot's transport handles and
// gives the slot back, then calls the host once with the kind's operation code, `status` and
// `value`.
void Completion_Finish(OperationSlot *slot, uint32_t status, uintptr_t value);

// Parses the input reply into four levels (300 high, 301 low). 0, or 0x80060307 for an input
// count the parser does not know (then all four are 301).
uint32_t ParseDIReply(const KavrelDevice *device, const char *reply, uint32_t levels[4]);
