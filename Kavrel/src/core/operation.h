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
};

// Sub-states of the read operations: request sent, reading the body, done.
#define SUB_STATE_REQUEST 20u
#define SUB_STATE_READING 21u
#define SUB_STATE_DONE 22u

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
// is held and the refusal is logged. A device being deleted hands out no slot
// (0x80000003, "Handle not used\n").
uint32_t Operation_Begin(DeviceHandle device, int32_t max_level, int32_t async_flag,
                         uint32_t kind, OperationSlot **slot);

OperationSlot *TakeOperationSlot(KavrelDevice *device);
OperationSlot *TakeExclusiveSlot(KavrelDevice *device);
void ReleaseOperationSlot(OperationSlot *slot);

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

// Parses the input reply into four levels (300 high, 301 low). 0, or 0x80060307 for an input
// count the parser does not know (then all four are 301).
uint32_t ParseDIReply(const KavrelDevice *device, const char *reply, uint32_t levels[4]);
