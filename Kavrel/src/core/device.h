// The device record: one per device of a context's table. A DeviceHandle points at one.
#pragma once

#include <stdint.h>

#include <atomic>

#include "kavrel.h"
#include "morvane.h"
#include "netclient.h"
#include "platform/os.h"
#include "tessum.h"
#include "core/context.h"

struct KavrelContext;
struct KavrelDevice;

#define KAVREL_SLOT_COUNT 10
#define KAVREL_SLOT_BUFFER 1024
#define KAVREL_EXCLUSIVE_BUFFER 20480
#define KAVREL_STRING 256
#define KAVREL_PATH 260
#define KAVREL_SETTLE_PAUSE_MAX_MS 5000  // the upgrade's pauses, and their default

// One operation in flight on a device. A slot belongs to the calling thread during a
// synchronous operation, and to the completion path from a successful asynchronous start
// until it is given back just before the host is called.
struct OperationSlot {
  KavrelDevice *device;
  uint32_t kind;  // 0 when free
  uint32_t sub_state;
  char *inline_buffer;  // the slot's own buffer, in the record's tail
  void *extra_buffer;
  uint32_t reply_count;
  char *reply_buffer;
  uint32_t reply_capacity;  // 1023 inline, 20479 for the exclusive slot
  NetClientRequestHandle net_request;
  uint32_t in_use;
  void *args;
  // The submission's working fields. `token` and `http` change only under the device lock
  // once the operation has started, since an abort reads them from another thread.
  TessumToken token;
  TessumHandle http;      // the HTTP connection; NULL when none
  TessumHandle ftp_data;  // the FTP data connection; NULL when none
  TessumHandle ftp_control;  // the socket FTP control connection; NULL when none
  OsEvent done;           // synchronous completion of a socket FTP transfer
  // A synchronous HTTP request running on its caller's thread: set and cleared by that
  // thread under the device lock, so that an abort finds it and may wake it meanwhile.
  TessumCall *call;
  uint32_t async;
  uint32_t read_body;
  std::atomic<uint32_t> final_status;
  std::atomic<uint32_t> abort_requested;  // set under the device lock by an abort
  // The queued completion of this slot. A slot has at most one transport operation in
  // flight, so one node suffices, and queuing it can never fail for want of memory.
  EventNode node;
};

struct KavrelDevice {
  ServerParam param;  // first member: the model's capability record
  char config_path[KAVREL_PATH];
  // Made on first use (Device_NetClient): only the upgrade and the proxy option need it, and
  // it costs more memory than the rest of the record. Until then the proxy and bypass given
  // to Kavrel_CreateDeviceEx wait here (copies, NULL when none).
  NetClientHandle net_client;
  char *net_proxy;
  char *net_bypass;
  OperationSlot slots[KAVREL_SLOT_COUNT];
  OsLock lock;  // over the slots, the transport handles they hold and the fields below
  // Host callbacks of this device running now, and the deletion mark. A handler gives its
  // slot back and counts its callback in one section under the lock, and a slot is taken
  // only while the mark is clear, so Kavrel_DeleteDevice sees every operation either as a
  // slot in use or as a callback in progress, and none can start after it set the mark.
  uint32_t callbacks;
  std::atomic<uint32_t> deleting;
  OsEvent drained;  // set while Kavrel_DeleteDevice waits for the device to go idle
  OperationSlot exclusive;
  char address[KAVREL_STRING];
  char user[KAVREL_STRING];
  char password[KAVREL_STRING];
  char server_type[KAVREL_STRING];
  int32_t http_port;
  uint32_t ftp_port;
  int32_t property_level;
  uint32_t extra;
  KavrelCallback callback;
  void *callback_context;
  uint32_t timeout_ms;
  std::atomic<uint32_t> closing;
  std::atomic<uint32_t> upgrade_abort;
  KavrelContext *context;
  std::atomic<uint32_t> in_use;
  char device_model[KAVREL_STRING];
  void *upgrade_callback;  // the running upgrade's KavrelUpgradeCallback
  void *upgrade_context;
  uint32_t upgrade_flag;  // 1 at initialisation
  // The upgrade's flags, read and written under the device lock (abort-requested is
  // `upgrade_abort`). Abortable is cleared once the device's files are being replaced.
  uint32_t upgrade_running;
  uint32_t upgrade_abortable;
  KavrelUpgradeProgress upgrade_progress;
  const char *model_name;  // server_type or device_model, as the model lookup chose
  uint32_t reset_after_upgrade;  // extra option 1
  uint32_t return_wait_s;        // extra option 2
  uint32_t flash_all;            // extra option 0x40000000
  uint32_t skip_wait;            // extra option 0x40000001
  uint32_t settle_pause_ms;      // extra option 0x40000002
  TessumAgent *agent;
  const char *proxy_address;
  const char *proxy_user;
  const char *proxy_password;
  uint16_t proxy_port;
  // Private temporary directory of this device and the configuration file in it: both
  // empty until Device_EnsureDirectory makes them, and again after a delete.
  char directory[KAVREL_STRING];
  // The buffers last, apart from every field a new device writes: a page of them becomes
  // resident only once a command of the device has used it, so an idle device costs the
  // few pages above.
  char slot_buffers[KAVREL_SLOT_COUNT][KAVREL_SLOT_BUFFER];
  char exclusive_buffer[KAVREL_EXCLUSIVE_BUFFER];
};

// Property levels: 0 full configuration, 1 model by server type, 2 HTTP only.
#define KAVREL_LEVEL_CONFIG 0
#define KAVREL_LEVEL_MODEL 1
#define KAVREL_LEVEL_HTTP 2
#define KAVREL_LEVEL_ANY 9999  // the generic HTTP operations check no level

// The checks that begin every exported function taking a DeviceHandle, in their order: NULL
// handle (0x80000001), record not in use (0x80000003), property level above `max_level`
// (0x80060305). Each refusal is logged. 0 when the device may be used.
uint32_t Device_Check(DeviceHandle device, int32_t max_level);

// The model series: the third character of the server type, "KM7150" counting as '6'.
char Device_Series(const KavrelDevice *device);

// Every slot of the device, the exclusive one first.
void Device_AllSlots(KavrelDevice *device, OperationSlot *slots[KAVREL_SLOT_COUNT + 1]);

// Copies a host string into a fixed array, truncating, always NUL-terminated.
void Device_CopyString(char *dst, size_t size, const char *src);

// Makes the device's private directory (mode 0700, unique) if it does not exist yet and sets
// `config_path` to "config.ini" inside it. Every user of the directory or the configuration
// path calls this first. 0, or 0x80060308 (KAVREL_E_FILE) when it cannot be made.
uint32_t Device_EnsureDirectory(KavrelDevice *device);

// Copies a host's property block into the record (strings truncated, defaults applied).
void Device_CopyProperty(KavrelDevice *device, const KavrelDeviceProperty *property);

// Binds the record's model parameters through the catalogue: mode 0 by server type, mode 1
// by the model name in `device_model`. 0 or the catalogue's code.
int32_t Device_ResolveModel(KavrelDevice *device, int mode);

// The device's network client context, made on first use with the proxy and bypass of
// Kavrel_CreateDeviceEx and the proxy option set so far. 0 and `*out`, or the network
// client's code when it cannot be made (0x80000002 for want of memory).
uint32_t Device_NetClient(KavrelDevice *device, NetClientHandle *out);
// The context when made already, else NULL.
NetClientHandle Device_NetClientIfMade(KavrelDevice *device);

// Kavrel_Release in two passes over the records taken so far: first every record is marked
// closing and its operations are withdrawn and their transports released, then each record's
// own transports and files go. What the scheduler still delivers for the first pass runs
// meanwhile, so the second waits for no device in particular. Nothing to do for a record
// never prepared.
void Device_Close(KavrelDevice *device);
void Device_Free(KavrelDevice *device);
