/*
 * Kavrel: device management for network cameras and network video servers.
 *
 * The exported interface. Every function has C linkage, returns a 32-bit unsigned result
 * (0 for success, the codes of kavrel_results.h otherwise) and takes records by pointer.
 * Handles are opaque pointers; the release functions take the address of the handle.
 *
 * Threads. Host threads call the exported functions. Each context has one worker thread
 * that handles the completions of asynchronous operations and calls the host's callback.
 * The logger may be called from any of the library's threads.
 */
#ifndef KAVREL_H
#define KAVREL_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "kavrel_results.h"
#include "kavrel_version.h"

#if defined(_WIN32)
#if defined(KAVREL_BUILDING)
#define KAVREL_EXTERN __declspec(dllexport)
#else
#define KAVREL_EXTERN __declspec(dllimport)
#endif
#define KAVREL_CALL __stdcall
#else
#if defined(KAVREL_BUILDING)
#define KAVREL_EXTERN __attribute__((visibility("default")))
#else
#define KAVREL_EXTERN
#endif
#define KAVREL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's own version word (KAVREL_VERSION_NUMBER, 0x03000306 for 3.0.3.6: the lowest
 * byte is the last number) comes from the build's one version, in kavrel_version.h. */

/* Opaque handles. A DeviceHandle stays valid until Kavrel_Release of its context. */
typedef struct KavrelContext *KavrelHandle;
typedef struct KavrelDevice *DeviceHandle;

/*
 * The host's completion callback: called on the context's worker thread, once per
 * asynchronous operation, one at a time per context, in the order the completions arrived,
 * with the device, the host's context, the operation code (100-114, KAVREL_EVENT_* below), a
 * status and a value. It may run before the call that started the operation has returned, so
 * whatever it needs must be ready before that call is made. Statuses: 0 success; 200 failed;
 * 201 credentials refused; 202 reading the reply failed; 203/204 configuration transfer could
 * not be started; 205 configuration download failed; 206 aborted. A read that succeeded
 * reports its end status (0x80070071 or 0x60301) and the byte count as value.
 *
 * Which transport statuses count as success: only 0, 107, 201, 220, 0x80070071 (the reply
 * ended with the connection) and 0x60301 (the reply filled the buffer). 109, 205, 0x80070082
 * (HTTP 401) and 0x800700D3 (FTP login refused) report 201; 0x80070043 and 0xF0 (withdrawn,
 * aborted) report 206; every other status reports 200: a 404 (0x80070083), a socket error
 * (0x80070079), a time-out (0x80070042), any status this library does not know. The
 * classification this library descends from let those pass as success; reporting a request
 * the device refused or never received as done would tell the host that something happened
 * that did not.
 */
typedef void(KAVREL_CALL *KavrelCallback)(DeviceHandle device, void *context, uint32_t operation,
                                          uint32_t status, uintptr_t value);

/* Operation codes of the callback, by the function that started the operation. */
#define KAVREL_EVENT_CONFIG_FETCH 100u     /* Kavrel_SetDeviceProperty */
#define KAVREL_EVENT_CONFIG_LOCAL 101u     /* Kavrel_UpdateLocalConfig */
#define KAVREL_EVENT_CONFIG_REMOTE 102u    /* Kavrel_UpdateRemoteConfig */
#define KAVREL_EVENT_DI 103u               /* Kavrel_GetDIStatus */
#define KAVREL_EVENT_DO 104u               /* Kavrel_SetDOLevel, Kavrel_SetDOLevelEx */
#define KAVREL_EVENT_UART_READ 105u        /* Kavrel_UartRead */
#define KAVREL_EVENT_UART_WRITE 106u       /* Kavrel_UartWrite */
#define KAVREL_EVENT_PTZ 107u              /* Kavrel_SendPTZCommand, Kavrel_SendPTZCommandEx */
#define KAVREL_EVENT_MOVE 108u             /* Kavrel_MoveCamera */
#define KAVREL_EVENT_HTTP 109u             /* Kavrel_HttpOperation, Kavrel_HttpOperationRead */
#define KAVREL_EVENT_SET_PARAM 110u        /* Kavrel_SetParam */
#define KAVREL_EVENT_UPGRADE_PROGRESS 111u /* the upgrade's progress callback */
#define KAVREL_EVENT_UART_READ_WRITE 112u  /* Kavrel_UartReadAFWrite */
#define KAVREL_EVENT_MOTION_GET 113u       /* Kavrel_GetMotionDetectionInfo */
#define KAVREL_EVENT_MOTION_SET 114u       /* Kavrel_SetMotionDetectionInfo */

/*
 * The host's logger table, read as a row of pointer-sized entries. The library reads only
 * the entries named here and never frees the table. Logging is off while `context` is NULL.
 * Plain records need `plain_enabled` non-NULL and go to `plain`; located records (every
 * failure and trace record, with the call site's source file and line) need
 * `located_enabled` non-NULL and go to `located`. The third argument is always 0.
 * The functions may be called from several threads at once.
 */
typedef void(KAVREL_CALL *KavrelLogPlainFn)(void *context, uint32_t code, uint32_t subcode,
                                            const char *format, va_list args);
typedef void(KAVREL_CALL *KavrelLogLocatedFn)(void *context, uint32_t code, uint32_t subcode,
                                              const char *file, uint32_t line, const char *format,
                                              va_list args);
typedef struct KavrelLogger {
  void *reserved0[3];
  void *context;         /* entry 3 */
  void *reserved4[2];
  void *plain_enabled;   /* entry 6 */
  void *located_enabled; /* entry 7 */
  void *reserved8[4];
  KavrelLogPlainFn plain;     /* entry 12 */
  KavrelLogLocatedFn located; /* entry 13 */
} KavrelLogger;

/* Log codes handed to the logger. */
#define KAVREL_LOG_FAILURE 0x2101u /* refusals and failures */
#define KAVREL_LOG_LOWER 0x2102u   /* a failed lower step, with its code; the version message */
#define KAVREL_LOG_FTP 0x2103u     /* FTP login failures and abort attempts */
#define KAVREL_LOG_SOCKET 0x2109u  /* socket and request tracing */
#define KAVREL_LOG_FLOW 0x2114u    /* event-flow tracing of completions and deletion */

/*
 * The property block given to the property functions. Strings are copied with at most 255
 * characters; `server_type` may be NULL. An HTTP port below 1 means 80, a time-out of 0
 * means 60000 ms.
 */
typedef struct KavrelDeviceProperty {
  const char *address;
  const char *user;
  const char *password;
  const char *server_type;
  int32_t http_port;
  uint32_t ftp_port;
  uint32_t timeout_ms;
  KavrelCallback callback;
  void *callback_context;
  uint32_t extra;
} KavrelDeviceProperty;

/* ---- Initialisation and version ---------------------------------------------------- */

/*
 * Kavrel_InitialEx: creates a library context with a table of `max_devices` device records
 * and starts its worker thread. `version` is the host's version word: its lowest byte must
 * be 6, its third byte 0 and its second byte at most 3.
 * Results, in the order checked: 0x80000005 a refused version word (one plain log record);
 * 0x80000003 a NULL `out`; 0xFFFFFFFF sockets could not be started; 0x80000003 a count of 0
 * (`*out` stays NULL); 0x80000002 allocation failed; 0xFFFFFFFF the worker thread could not
 * be started (nothing is left allocated). `reserved` is not read.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_InitialEx(KavrelHandle *out, uint32_t max_devices,
                                                    uintptr_t reserved, uint32_t version);

/* Kavrel_Initial: Kavrel_InitialEx with 16 device records. */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_Initial(KavrelHandle *out, uint32_t version);

/*
 * Kavrel_Release: stops the worker thread, frees every device record and the context, and
 * sets `*handle` to NULL. A callback already running finishes; completions still queued or
 * in flight are not reported: nothing calls the host after Kavrel_Release returns. 0x80000001 when `handle` or `*handle` is
 * NULL. Not to be called concurrently with other calls on the same context.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_Release(KavrelHandle *handle);

/*
 * Kavrel_GetVersionInfo: stores 6, 3, 0, 3 (the bytes of the version word, lowest first).
 * 0x80000003 when any pointer is NULL (nothing is stored then).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetVersionInfo(uint8_t *v0, uint8_t *v1, uint8_t *v2,
                                                         uint8_t *v3);

/* ---- Logging ------------------------------------------------------------------------ */

/*
 * Kavrel_LogInit: installs the host's logger for every context of the process (NULL turns
 * logging off) and hands it to the network client layer. May be called before
 * Kavrel_InitialEx. The table must stay valid while any library call may log. Returns 0.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_LogInit(const KavrelLogger *logger);


/* ---- Devices ---------------------------------------------------------------------------- */

/*
 * Device functions begin with the same checks, in this order: a NULL device gives
 * 0x80000001; a record that is not in use (or is being deleted) 0x80000003; a property level
 * above what the function accepts 0x80060305. Property levels: 0 after Kavrel_SetDeviceProperty
 * (and for a created device not yet described), 1 after Kavrel_SetDevicePropertyLite, 2 after
 * Kavrel_SetDevicePropertyHttp. Commands accept levels 0 and 1; the generic HTTP operations
 * accept any level.
 *
 * Commands run synchronously (the call waits and returns the final result) unless `async` is
 * non-zero and the device has a callback: then the call returns 0 once the request is sent,
 * and the callback reports the outcome exactly once, on the context's worker thread.
 * A device has ten operation slots; an eleventh operation in flight gives 0x80060303. An
 * operation's slot is free again when its callback is called, so the callback may start the
 * device's next command (or the next configuration transfer) itself.
 * Synchronous calls never call the host, with one exception: Kavrel_Upgrade calls its
 * progress callback on the calling thread.
 * A synchronous HTTP request runs on the calling thread from the connect to the last byte of
 * the reply, under the descriptor's time-out (one bound up to the reply's headers, a Digest
 * round included, then one per read of the body; never shorter). A host name is looked up on
 * a short-lived thread of its own within the same bound. Kavrel_AbortNetworkOper and
 * Kavrel_DeleteDevice from another thread end it in any phase at once.
 *
 * Strings from the caller that go into a request (serial data, paths) are sent unencoded;
 * a request that would hold a space, CR, LF or another control character, or that does not
 * fit its request buffer, is refused with 0x80000003 before anything is sent.
 */

/*
 * Kavrel_CreateDeviceEx: takes the first free device record of the context and readies its
 * transports; `proxy` and `bypass` (may be NULL) go to its network client. The record starts
 * with nothing of any device that held it before. Results: 0 and `*device`; 0x80000001 NULL
 * context; 0x80000003 NULL `device`; 0x80060304 no free record; 0x80000002 out of memory; a
 * transport's code.
 *
 * A fleet of thousands of devices on one context stays cheap: the network client context
 * (used by the upgrade and the proxy option) is made, with `proxy` and `bypass` copied here
 * and the proxy option set meanwhile, when a device first needs it; a command that needs it
 * and cannot have it fails with the network client's code (0x80000002 out of memory). A
 * slot's buffer takes memory once a command has used it. Only the reservation of the record
 * holds the context's lock, so creating devices never stalls the completions of the others.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_CreateDeviceEx(KavrelHandle handle, DeviceHandle *device,
                                                         const char *proxy, const char *bypass);
/* Kavrel_CreateDevice: Kavrel_CreateDeviceEx without a proxy. */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_CreateDevice(KavrelHandle handle, DeviceHandle *device);

/*
 * Kavrel_DeleteDevice: aborts the device's operations, waits until every one has ended (an
 * asynchronous one after its callback, with status 206, has returned), and frees the record
 * for reuse. From the moment it starts, a command on the device (one started from a callback
 * too) is refused with 0x80000003. No callback for the device follows its return. Must not
 * be called from the device's own callback. Results: 0; 0x80000001 NULL; 0x80000003 not in
 * use (or being deleted by another call); 0x80000002 out of memory (nothing was done).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_DeleteDevice(DeviceHandle device);

/*
 * Kavrel_SetDevicePropertyLite: describes the device by its server type (the model's
 * friendly name, such as "KM3111") and binds the model's capability record; property level 1.
 * Results: 0; 0x80000003 when `property` or its server type is NULL or empty (checked before
 * the device); the device checks; 0x80060307 an unknown server type; 0x60400 a server type
 * known only through the model it maps to (the mapped model's paths are bound).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDevicePropertyLite(DeviceHandle device,
                                                                const KavrelDeviceProperty *property);

/*
 * Kavrel_SetDevicePropertyHttp: describes the device for the generic HTTP operations only;
 * property level 2. Results: 0; the device checks; 0x80000003 NULL `property`.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDevicePropertyHttp(DeviceHandle device,
                                                                const KavrelDeviceProperty *property);

/*
 * Kavrel_SetDeviceProperty: describes the device with a full property block (property level 0)
 * and fetches its whole configuration into the device's local file, as
 * Kavrel_UpdateLocalConfig does. Runs in the device's exclusive slot: asynchronous when `async`
 * is non-zero and `property` has a callback (operation 100), else the call waits.
 * Results: 0; the first two device checks; 0x80000003 a NULL `property`; 0x80060303 a
 * configuration transfer of the device is running; the fetch's results (below). A failed
 * fetch keeps the copied description and level 0.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDeviceProperty(DeviceHandle device,
                                                            const KavrelDeviceProperty *property,
                                                            int32_t async);

/*
 * Kavrel_GetDeviceModel: the device's software version as its configuration names it
 * ("software version", else "firmwareversion", of section "SYSTEM") into `model`
 * (KAVREL_MODEL_MAX bytes, truncated, NUL-terminated). Level 0 only.
 * Results: 0; the device checks; 0x80000003 a NULL `model`; 0x80060308 no local file;
 * 0x8006030A neither key in the file.
 */
#define KAVREL_MODEL_MAX 256
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetDeviceModel(DeviceHandle device, char *model);

/*
 * Kavrel_OpenDevice: checks that `model` is byte for byte the version Kavrel_GetDeviceModel
 * reads, then binds the model's parameters by that name (from the model library, else learned
 * from the device's system information and kept in the catalogue file "Data.xml"). Matching or
 * not, sets the options KAVREL_OPTION_RESET_AFTER_UPGRADE to 1 and KAVREL_OPTION_RETURN_WAIT
 * to 60. Level 0 only.
 * Results: 0; the device checks; 0x80000003 a NULL `model`; Kavrel_GetDeviceModel's failures;
 * 0x80060307 another model, or a model that neither the model library nor the catalogue knows
 * (the catalogue's own small negative results); the learning's fetch of the device's system
 * information returns its code unchanged (0x8007007B a page answered with an error status,
 * 0x80070082 credentials refused, 0x80070076 no connection, 0x80070042 time-out), so that an
 * unreachable or refusing device is told from an unknown model.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_OpenDevice(DeviceHandle device, const char *model);

/*
 * Kavrel_AbortNetworkOper: withdraws every operation in flight on the device. A synchronous
 * caller returns 0x80070043; an asynchronous operation is reported once with status 206.
 * Results: 0 (also on an idle device, which logs nothing); 0x80000001; 0x80000003.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_AbortNetworkOper(DeviceHandle device);

/* ---- Digital inputs and outputs ------------------------------------------------------ */

#define KAVREL_LEVEL_HIGH 300u /* DiLevelHigh */
#define KAVREL_LEVEL_LOW 301u  /* DiLevelLow */

/*
 * Kavrel_GetDIStatus: reads up to four inputs (300 high, 301 low; inputs beyond the model's
 * count are 301). Synchronous: the four outputs (not NULL, else 0x80000003) are filled.
 * Asynchronous: operation 103 with status 0 and, as value, a pointer to four uint32_t valid
 * during the call. Results: 0; 0x80060305 the model has no input path; 0x80060307 an input
 * count the library does not know; a transport status.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetDIStatus(DeviceHandle device, uint32_t *in1,
                                                      uint32_t *in2, uint32_t *in3, uint32_t *in4,
                                                      int32_t async);

/*
 * Kavrel_SetDOLevel: sets outputs 1 and 2 (300 high, 301 low, 0 leaves it alone) of a model
 * with one or two outputs. Operation 104. Results: 0; 0x80000001 NULL device (checked
 * first, then the model's output path: 0x80060305); 0x80000003 when no output is set.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDOLevel(DeviceHandle device, uint32_t out1,
                                                     uint32_t out2, int32_t async);

/*
 * Kavrel_SetDOLevelEx: sets `count` outputs from `levels`; positions beyond the model's output
 * count must be 0 (else 0x80000003). Operation 104.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetDOLevelEx(DeviceHandle device, const uint32_t *levels,
                                                       int32_t count, int32_t async);

/* ---- Serial ports ---------------------------------------------------------------------- */

/*
 * Kavrel_UartWrite: sends `data` to serial port `port`. Operation 106. Results: 0; 0x80060305
 * the model has no serial path; 0x80000003 NULL or unsafe data (see above).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UartWrite(DeviceHandle device, uint32_t port,
                                                    const char *data, int32_t async);

/*
 * Kavrel_UartReadAFWrite: writes `data` (may be NULL: read only) and reads the port's reply
 * into `buffer` of `size` bytes (at least 2): at most size - 2 data bytes and a NUL. `wait`
 * (milliseconds, 0 none) and `flush` (non-zero: empty the port's buffer) are passed on.
 * The buffer is cleared first; a NULL buffer gives 0x80000001 before any other check.
 * Synchronous result: 0, or 0x60301 when the reply filled the buffer. Asynchronous: operation
 * 112 (105 without data) with status 0x80070071 or 0x60301 and the byte count as value; the
 * buffer must stay valid until then.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UartReadAFWrite(DeviceHandle device, uint32_t port,
                                                          const char *data, char *buffer,
                                                          uint32_t size, int32_t flush,
                                                          uint32_t wait, int32_t async);
/* Kavrel_UartRead: Kavrel_UartReadAFWrite without data. */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UartRead(DeviceHandle device, uint32_t port, char *buffer,
                                                   uint32_t size, int32_t flush, uint32_t wait,
                                                   int32_t async);

/* ---- Camera movement ------------------------------------------------------------------ */

/* Command codes of Kavrel_SendPTZCommand. */
#define KAVREL_PTZ_UP 201u
#define KAVREL_PTZ_DOWN 202u
#define KAVREL_PTZ_LEFT 203u
#define KAVREL_PTZ_RIGHT 204u
#define KAVREL_PTZ_HOME 205u
#define KAVREL_PTZ_ZOOM_TELE 206u    /* argument: an optional extra query fragment */
#define KAVREL_PTZ_ZOOM_WIDE 207u    /* as 206 */
#define KAVREL_PTZ_FOCUS_NEAR 208u
#define KAVREL_PTZ_FOCUS_FAR 209u
#define KAVREL_PTZ_FOCUS_AUTO 210u
#define KAVREL_PTZ_PRESET_ADD 211u   /* argument: the preset's name */
#define KAVREL_PTZ_PRESET_DEL 212u   /* argument: the preset's name */
#define KAVREL_PTZ_RECALL 213u       /* argument: the preset's name */
#define KAVREL_PTZ_PAN_SPEED 214u    /* argument: the speed; models with Flag bit 0 only */
#define KAVREL_PTZ_TILT_SPEED 215u   /* as 214 */
#define KAVREL_PTZ_AUTO_PAN 216u
#define KAVREL_PTZ_AUTO_STOP 217u
#define KAVREL_PTZ_AUTO_PATROL 218u
#define KAVREL_PTZ_IRIS_OPEN 219u
#define KAVREL_PTZ_IRIS_CLOSE 220u
#define KAVREL_PTZ_IRIS_AUTO 221u
#define KAVREL_PTZ_ZOOM_SPEED 222u   /* argument: the speed, not empty */
#define KAVREL_PTZ_HOME_DEFINE 223u  /* the current position becomes home; no camera */
#define KAVREL_PTZ_HOME_DEFAULT 224u /* home back to the factory position; no camera */
#define KAVREL_PTZ_FOCUS_SPEED 225u  /* argument: the speed (may be empty) */

/*
 * Kavrel_SendPTZCommand: one pan, tilt, zoom, focus, iris, auto-mode, preset or home command
 * (KAVREL_PTZ_*) to camera `camera` (at most the model's camera count; a single-camera model
 * is sent camera 0, except models of series 2 and "KM7150", which get the caller's number).
 * Preset commands POST to the model's preset path, recall GETs its recall path, everything
 * else GETs its PTZ path. Deleting a preset on a series-3 model sends the preset's index,
 * looked up by name in the local configuration's preset list (parameter 275), so it needs a
 * device with its configuration (property level 0) of the pan-tilt family. Entries that are
 * gone from the list are passed over: the device leaves a gap where it deleted a preset, and
 * deleting two presets in a row must still find the second by its name.
 * Operation 107. Results: 0; 0x80000003 a camera above the count, an unknown code, a NULL
 * argument where a name or speed is needed, an argument that would not fit the request or
 * holds a space, CR, LF, another control character, or, in a name or speed, '&' or '#' (the
 * zoom fragment may hold '&'), and a series-3 preset name not in the list; 0x80060305 the
 * model lacks the path, the speed flag (214, 215), or 222 without a speed; a transport status.
 * Arguments are sent as given: a host encodes '%' and '+' itself when it means them literally.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SendPTZCommand(DeviceHandle device, uint32_t camera,
                                                         uint32_t command, const char *argument,
                                                         int32_t async);

/*
 * Kavrel_SendPTZCommandEx: Kavrel_SendPTZCommand, and on "RQ48x3" models the numbered preset
 * form: 211 POSTs presetnumber=`preset_number` (and presetname=`argument` when it is given);
 * 212, 214 and 215 give 0x80060305 there. A single-camera model is always sent camera 0.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SendPTZCommandEx(DeviceHandle device, int32_t camera,
                                                           uint32_t command, const char *argument,
                                                           uint32_t preset_number, int32_t async);

/*
 * Kavrel_MoveCamera: moves camera `camera` to the coordinate (x, y) through the model's PTZ
 * path. Operation 108. Results: 0; 0x80000003 a camera above the count; 0x80060305 no PTZ path;
 * a transport status.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_MoveCamera(DeviceHandle device, uint32_t camera,
                                                     int32_t x, int32_t y, int32_t async);

/* ---- Host name, clock and password ------------------------------------------------------ */

#define KAVREL_PASSWORD_MAX 64 /* bytes of SetParamRequest.password, its NUL included */

/*
 * What Kavrel_SetParam sets. Each text field is read at most its width and must hold its NUL
 * within it; an empty date or time is not set. The password is a fixed field too, so that C
 * and C++ hosts can declare the record as it is; a longer password cannot be set.
 */
typedef struct SetParamRequest {
  uint32_t set_host_name;               /* non-zero: set host_name */
  uint32_t set_password;                /* non-zero: set the administrator's password */
  char host_name[15];
  char date[12];                        /* as the device takes it, e.g. "2026/12/10" */
  char time[9];                         /* e.g. "14:05:00" */
  char password[KAVREL_PASSWORD_MAX];
} SetParamRequest;

/*
 * Kavrel_SetParam: sets the device's host name, date, time and administrator password in one
 * or two POST requests, by the model's generation: "/cgi-bin/admin/setparam.cgi" (series 4 and
 * up, "KM7150"), else "/setup/system.cgi" and "/setup/security.cgi" (series 3) or
 * "/cgi-bin/system.cgi" and "/cgi-bin/security.cgi". Changing the password changes the
 * device's login: describe the device again with the new one. Operation 110, reported once
 * after the second request when there is one (0, 200, 201; 206 when aborted between the two).
 * Results: 0; 0x80000003 nothing to set, a NULL request, a field without its NUL, a value
 * holding '&', '#', a space or a control character, or one that would not fit its request;
 * 0x80000002 no memory; a transport status (a failed second request leaves the first applied).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetParam(DeviceHandle device,
                                                   const SetParamRequest *request, int32_t async);

/* ---- Motion detection ------------------------------------------------------------------- */

#define KAVREL_MOTION_WINDOWS 3 /* the array a host passes holds three windows */

/* One motion detection window. */
typedef struct MotionWindow {
  char name[16];        /* NUL-terminated; an empty name is a disabled window */
  uint32_t x, y, w, h;  /* the rectangle */
  uint32_t percent;     /* percentage of object size over screen */
  uint32_t sensitivity;
  uint32_t enabled;     /* non-zero: the window is active */
  uint32_t form;        /* 1 for the window of a series-2 form page; not read when setting */
} MotionWindow;

/*
 * Kavrel_GetMotionDetectionInfo: reads the motion windows into `windows` (three records) and
 * their count (1 on series-2 models, which have one detection area with a percentage and a
 * sensitivity, read from their setup page; 3 on the others, read from getmd.cgi). A window
 * whose name is empty or over 15 characters, or whose width or height is 0, comes back
 * disabled. With `update_config` non-zero, a series-2 device with its configuration (level 0)
 * also gets the percentage and sensitivity in its local configuration (section "ALERT").
 * Asynchronous: `windows` and `count` must stay valid until the callback, operation 113, with
 * status 0 or 0x80060316 (the page lacked a value; 200, 201 or 202 for a transport failure)
 * and the window count as value.
 * Results: 0; 0x80000003 NULL `windows` or `count`; 0x80000002 no memory; 0x80060316 the page
 * lacks the percentage or the sensitivity; a transport status.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetMotionDetectionInfo(DeviceHandle device,
                                                                 MotionWindow *windows,
                                                                 uint32_t *count,
                                                                 uint32_t update_config,
                                                                 int32_t async);

/*
 * Kavrel_SetMotionDetectionInfo: writes the windows (three records; series 2 reads only the
 * first one's percentage and sensitivity, and with `update_config` copies them into the local
 * configuration after success, as above). Operation 114, status 0, 200 or 201.
 * Results: 0; 0x80000003 NULL `windows`, or an enabled window's name without its NUL or
 * holding '&', '#', a space or a control character (a disabled window is sent without its
 * name); a transport status.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetMotionDetectionInfo(DeviceHandle device,
                                                                 const MotionWindow *windows,
                                                                 uint32_t update_config,
                                                                 int32_t async);

/* ---- Generic HTTP operations and options --------------------------------------------- */

/*
 * Kavrel_HttpOperation: sends `path` (beginning with '/', not with "http://"; checked before
 * the device) to the device, by POST (the query as the body) when `post` is non-zero, else
 * GET. Any property level. Operation 109. Results: 0; 0x80000003 a refused path; the device
 * checks; a transport status (0x80070083 for 404, 0x80070082 for refused credentials).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_HttpOperation(DeviceHandle device, const char *path,
                                                        int32_t post, int32_t async);

/*
 * Kavrel_HttpOperationRead: as Kavrel_HttpOperation, reading the reply into `buffer`. `*size`
 * is the buffer's size on entry (at least 2) and the number of bytes received on a
 * synchronous return (at most *size - 1, NUL-terminated). Results as above, and 0x60301 when
 * the reply filled the buffer. Asynchronous: operation 109 with the end status and the byte
 * count as value.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_HttpOperationRead(DeviceHandle device, const char *path,
                                                            char *buffer, uint32_t *size,
                                                            int32_t post, int32_t async);

/* Options of Kavrel_SetExtraOptions. */
#define KAVREL_OPTION_RESET_AFTER_UPGRADE 1u /* flag, default 1 */
#define KAVREL_OPTION_RETURN_WAIT 2u         /* seconds, at most 120, default 60 */
#define KAVREL_OPTION_PROXY 3u               /* pointer to KavrelProxyInfo */
#define KAVREL_OPTION_FLASH_ALL 0x40000000u  /* flag; series-7 models only */
#define KAVREL_OPTION_SKIP_WAIT 0x40000001u  /* non-zero sets it; it cannot be cleared */
/* Milliseconds of each pause in which Kavrel_Upgrade lets the device settle (after the reset
 * request, before and after the network restore), at most 5000, the default. A real device
 * needs the whole pause; a simulated device that restarts in a fraction of a second needs
 * only a little more than that, which is what tests and demos set. */
#define KAVREL_OPTION_SETTLE_PAUSE 0x40000002u

/* The proxy for a device's requests. The strings are kept by reference: they must outlive the
 * device's use of them. A NULL or empty address means no proxy. */
typedef struct KavrelProxyInfo {
  const char *address;
  const char *user;
  const char *password;
  uint16_t port;
} KavrelProxyInfo;

/*
 * Kavrel_SetExtraOptions: sets one per-device option. Only on a device at property level 0
 * (created and not yet described by Kavrel_SetDevicePropertyLite or Kavrel_SetDevicePropertyHttp,
 * or described by Kavrel_SetDeviceProperty); set the proxy before describing the device.
 * Results: 0; the device checks (0x80060305 at level 1 or 2); 0x80000003 an unknown option, a
 * wait above 120, a settle pause above 5000, a NULL proxy, flash-all on a model outside
 * series 7; the network client's
 * code for a refused proxy.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetExtraOptions(DeviceHandle device, uint32_t option,
                                                          uintptr_t value);
/* ---- Firmware upgrade ------------------------------------------------------------------ */

/* The event code of every progress report. */
#define KAVREL_EVENT_UPGRADE 111u

/* Progress steps of Kavrel_Upgrade, with what `data` holds. */
#define KAVREL_UPGRADE_PREPARED 1u      /* firmware ready on the host; data 0 */
#define KAVREL_UPGRADE_CONNECTED 2u     /* FTP session to the device opened; data 0 */
#define KAVREL_UPGRADE_REMOVED 3u       /* a device file or directory removed; its path */
#define KAVREL_UPGRADE_DIR_CREATED 4u   /* a directory created on the device; its path */
#define KAVREL_UPGRADE_DIR_ENTERED 5u   /* the session changed into it; its path */
#define KAVREL_UPGRADE_SENDING 6u       /* upload progress; a KavrelUpgradeProgress */
#define KAVREL_UPGRADE_FILE_SENT 7u     /* a file uploaded; its name */
#define KAVREL_UPGRADE_RESET 8u         /* the reset request was accepted; data 0 */
#define KAVREL_UPGRADE_PROBING 9u       /* waiting for the device began; data 0 */
#define KAVREL_UPGRADE_GONE 10u         /* the device went away; data 0 */
#define KAVREL_UPGRADE_RETURNED 11u     /* the device answers again; data 0 */
#define KAVREL_UPGRADE_HOST_REMOVED 12u /* a temporary file or directory removed; its path */
#define KAVREL_UPGRADE_FILE_ENDED 16u   /* a file's upload ended; a KavrelUpgradeProgress */

/*
 * The upgrade's progress callback: (device, the request's context, KAVREL_EVENT_UPGRADE,
 * step, data). `data` is 0, a NUL-terminated name (valid during the call) or a pointer to
 * the device's KavrelUpgradeProgress (valid during the call), by step.
 */
typedef void(KAVREL_CALL *KavrelUpgradeCallback)(DeviceHandle device, void *context,
                                                 uint32_t event, uint32_t step, uintptr_t data);

/* What Kavrel_Upgrade is asked to do. */
typedef struct UpgradeRequest {
  char path[264];                 /* the firmware file on the host; not empty */
  KavrelUpgradeCallback callback; /* may be NULL */
  void *context;                  /* handed back to the callback */
} UpgradeRequest;

/* The upload's progress, cleared when an upgrade starts. */
typedef struct KavrelUpgradeProgress {
  uint32_t total_size; /* bytes of every file to upload */
  uint32_t sent;       /* bytes sent so far, over all files */
  uint32_t file_size;  /* size of the file being sent */
  uint32_t file_sent;  /* bytes of that file sent so far */
  char file_name[260]; /* its name */
} KavrelUpgradeProgress;

/*
 * Kavrel_Upgrade: replaces the device's firmware, on the calling thread, for minutes: reads
 * the firmware file's header (a package is unpacked on the host first, and a package that
 * does not unpack whole ends the upgrade before anything reaches the device), prepares the
 * device's network settings when its configuration asks for it, opens an FTP session,
 * removes the old files of the package's top level, uploads the new ones, asks the device
 * to reset, waits until it answers again (unless the skip-wait option is set), restores its
 * network settings and removes every temporary file. Options of Kavrel_SetExtraOptions
 * apply. Only a device at property level 0; one upgrade per device at a time.
 * Results: 0; the device checks; 0x80060303 the device's long-operation slot is taken (a
 * second upgrade); 0x80000003 a NULL request or an empty path, or a file that is neither a
 * package nor an image (without flash-all); 0x8006030B-0x8006030F a bad package (nothing of
 * the device is touched); 0x8006030E no working directory; 0x80060308 the file cannot be
 * read; 0x80060314 aborted, whatever way the step that the abort cut short failed; the
 * network client's code of a failed FTP step (the removal of the device's old files among
 * them); a transport status of a failed CGI request; the probe's code (0x80060302: the device
 * did not return in time). A failed step's code always carries the failure bit.
 * Where the files go: the old files are removed over the package's top level in byte order of
 * the names, so the device's file system never changes the outcome; a top-level directory the
 * device refuses to enter is one it does not have, with nothing to remove. The upload starts
 * from the device's root whatever the removal left, so no file lands in another directory;
 * when the removal failed, the new files are still uploaded and the removal's code is the
 * result.
 * Network settings: once the request that switches the device's network reset off has reached
 * it, every way out (a failed step, an abort) switches it on again, and that restore restarts
 * the device; a failure or an abort before that point restores nothing.
 * Gone: while the upgrade waits for the device's return, an ICMP "destination unreachable"
 * counts as the device gone, whether the system refuses the echo request's send or one comes
 * back for a request: a deliberate choice, since a restarting device is unreachable for a
 * while, and a probe that failed on it would end a good upgrade.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_Upgrade(DeviceHandle device,
                                                  const UpgradeRequest *request);

/*
 * Kavrel_AbortUpgrade: asks a running upgrade to stop, from another thread. Before the
 * device's files are touched the upgrade stops and returns 0x80060314: the network request in
 * flight (the network reset request, the FTP login, an upload) ends at once, and the device's
 * network reset is switched on again when it was switched off. Once the files are being
 * replaced the request is kept but the upgrade completes. Returns 0 (also when no upgrade
 * runs); the device checks (level 0 only).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_AbortUpgrade(DeviceHandle device);

/* ---- Model CGI paths ----------------------------------------------------------------- */

/* Command numbers of Kavrel_GetCGICommand. */
#define KAVREL_CGI_PTZ 0u      /* PtzUrl: pan, tilt, zoom and focus */
#define KAVREL_CGI_RECALL 1u   /* RecallUrl: go to a preset */
#define KAVREL_CGI_PRESET 2u   /* PresetUrl: set a preset */
#define KAVREL_CGI_GET_DI 3u   /* GetDiUrl: read the digital inputs */
#define KAVREL_CGI_SET_DO 4u   /* SetDoUrl: set the digital outputs */

/*
 * Kavrel_GetCGICommand: the CGI path through which a model takes one kind of command, such
 * as "/cgi-bin/camctrl/camctrl.cgi". No device or context is needed; nothing is logged.
 * name: a model name (its first 6 characters are compared, so "KM3111-V1.0.2" works) or a
 *   friendly name (server type, such as "RQ48x3"). A model that is only mapped onto a known
 *   one (such as "KM5120") gives the paths of the model it maps to.
 * command: one of KAVREL_CGI_* (0 to 4).
 * length: on entry, the number of characters `buffer` can take in front of its terminating
 *   NUL; on return (also on 0x80000003 for a short buffer), the path's length without the
 *   NUL. A length of 0 asks for the size (0x80000003 and the size, or 0 for an empty path);
 *   `buffer` may then be NULL. A model without such a path gives an empty path (length 0).
 * buffer: receives the path and its NUL when it fits, else nothing is written.
 * Results: 0; 0x80000003 when `name` or `length` is NULL, when `buffer` is NULL while
 *   *length is not 0, or when the buffer is too short (*length then holds the size needed);
 *   0x80060305 for another command number; 0x8006030A for a name that is not known.
 * Any thread may call it at any time.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetCGICommand(const char *name, uint32_t command,
                                                       uint32_t *length, char *buffer);
/* ---- Configuration values ------------------------------------------------------------- */

/*
 * The device's configuration is a text file kept on the host (fetched from the device and
 * sent back by the configuration transfer functions); the functions below read and change
 * single values of that local file and never talk to the device. A value is addressed by
 * its section and key as they stand in the file (names compare case-insensitively), and by
 * an index: negative for a plain value, 0 and up for one entry of an indexed list. Value
 * buffers hold KAVREL_VALUE_MAX bytes (the longest line of the file and its NUL).
 *
 * The file holds the device's secrets (its passwords, its FTP and mail accounts), so it is
 * the user's alone: it lives in a private directory of the device (prefix "ext", below the
 * system's temporary folder), made with mode 0700 on POSIX, where every file replaced in it
 * is 0600, and on Windows with an access list that allows only the user who runs the host,
 * inherited by the files inside and not by what the temporary folder allows.
 *
 * They run on the calling thread, take no operation slot, and rely on the host not to call
 * them while a transfer or an upgrade of the same device is writing the file. Calls for one
 * device must not overlap.
 *
 * Common results: 0x80000001 a NULL device; 0x80000003 a device not in use, or a NULL
 * argument; 0x80060305 a device whose property level the function does not accept (each is
 * logged).
 */
#define KAVREL_VALUE_MAX 260
/* A section buffer holds KAVREL_SECTION_MAX bytes plus the digits of an instance number
 * (5 at most); a key buffer KAVREL_KEY_MAX bytes. */
#define KAVREL_SECTION_MAX 16
#define KAVREL_KEY_MAX 40

/*
 * Kavrel_GetSysInfo: reads one value of the device's local configuration file.
 * device: a device with its configuration (property level 0).
 * value: KAVREL_VALUE_MAX bytes for the value. section, key: the names in the file.
 * index: negative for a plain value, else the entry of an indexed list.
 * Results: 0 and the value; 0x80060308 the file cannot be read; 0x8006030A the value is not
 * in the file; on both `value` is empty. Handle results as above (`value` untouched).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetSysInfo(DeviceHandle device, char *value,
                                                     const char *section, const char *key,
                                                     int32_t index);

/*
 * Kavrel_SetSysInfo: writes one value into the device's local configuration file, adding
 * the section and key when the file lacks them. The file is replaced as a whole in one step,
 * so a crash or a full disk leaves the old file or the new one. In sections whose name
 * begins with "image" a "mode" = "save" entry is first added at the top when missing.
 * device: a device with its configuration (property level 0). value: the text to write.
 * section, key, index: as for Kavrel_GetSysInfo.
 * Results: 0; 0x80060308 the file cannot be read or replaced (it stays as it was);
 * 0x80000003 also for names and values that would break the file's line structure: a line
 * end, an empty name, "]" in a section name, ">" or "[...]" in a key name, "[...]" or
 * "<...>" in a value, or a line longer than 259 characters. Handle results as above.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetSysInfo(DeviceHandle device, const char *value,
                                                     const char *section, const char *key,
                                                     int32_t index);

/*
 * Kavrel_GetSysInfoSecEntry: the section and key under which the device's model series
 * keeps a setting, by parameter ID. The low 16 bits of `id` are the parameter number; the
 * high 16 bits an instance number, which is appended to the section's name ("SERIAL" with
 * instance 2 gives "SERIAL2").
 * device: a device described by its server type or with its configuration (level 0 or 1).
 * section: KAVREL_SECTION_MAX bytes plus the digits of the instance; key: KAVREL_KEY_MAX.
 * Results: 0 and both names; 0x80060315 the model series has no such setting (both names
 * empty). Handle results as above (names untouched).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetSysInfoSecEntry(DeviceHandle device, uint32_t id,
                                                             char *section, char *key);

/*
 * Kavrel_GetSysInfoByID: reads a value by parameter ID: Kavrel_GetSysInfoSecEntry, then
 * Kavrel_GetSysInfo. For parameter 159 (the wireless key format) a value "YES" reads as
 * "HEX" and "NO" as "ASCII" (either case).
 * Results: those of the translation (0x80060315 leaves `value` untouched), else those of
 * Kavrel_GetSysInfo; a device of level 1 is thus refused with 0x80060305.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetSysInfoByID(DeviceHandle device, char *value,
                                                         uint32_t id, int32_t index);

/*
 * Kavrel_SetSysInfoByID: writes a value by parameter ID: Kavrel_GetSysInfoSecEntry, then
 * Kavrel_SetSysInfo. For parameter 159 on devices whose file names the key "key hex-format",
 * "HEX" (either case) is written as "Yes" and any other value as "No". The caller's text is
 * never changed.
 * Results: those of the translation, else those of Kavrel_SetSysInfo.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetSysInfoByID(DeviceHandle device, const char *value,
                                                         uint32_t id, int32_t index);

/* ---- Configuration transfer ---------------------------------------------------------- */

/*
 * Kavrel_UpdateLocalConfig: fetches the device's whole configuration into its local file
 * (LF line ends), trying in order the CGI download "/cgi-bin/admin/configfile.cgi", the text
 * area of "/setup/parafile.html" and FTP ("config.ini" on the cached FTP port, 21 when none;
 * without a cached port a failed login reads the port from "/setup/network.html" or
 * "/setup/mailftp.html" and logs in there). A page the device answers with 404 or with nothing
 * moves on to the next source. The FTP port that the loaded file names becomes the cached
 * port. The local file is replaced whole or not at all: a failed or cut fetch leaves the
 * previous file. Level 0 only; the exclusive slot (operation 101 when asynchronous).
 * Results: 0; the device checks; 0x80060303 a transfer is running; 0x80060301 FTP login
 * refused; 0x80060302 FTP time-out; 0x80060307 no FTP port could be found; 0x80060308 the
 * local file could not be written; 0x80060317 a configuration larger than the fetch keeps
 * (20,478 bytes); 0x80070043 aborted; another page or transfer failure's code.
 * Asynchronous statuses: 0; 200 failed; 201 refused credentials; 202 reading a page failed;
 * 203 the download could not start; 205 the download failed or was cut; 206 aborted.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UpdateLocalConfig(DeviceHandle device, int32_t async);

/*
 * Kavrel_UpdateRemoteConfig: converts the local file to CR LF line ends and stores it on the
 * device as "config.ini" over FTP on the cached FTP port (21 when none). A failure keeps the
 * local file. Level 0 only; the exclusive slot (operation 102 when asynchronous).
 * Results: 0; the device checks; 0x80060303; 0x80060308 no local file; 0x80060301;
 * 0x80060302; 0x80070043 aborted; the transfer's code (0x800700D5 a refused STOR).
 * Asynchronous statuses: 0; 200 failed (a refused STOR included); 201 refused credentials;
 * 204 the upload could not start; 206 aborted.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UpdateRemoteConfig(DeviceHandle device, int32_t async);

/*
 * Kavrel_ReadLocalConfig: copies the device's local configuration file (as the last transfer
 * or value change left it) into `buffer` and NUL-terminates it, so that a host can show or
 * keep the whole configuration. `*size` is the buffer's size on entry; on return the file's
 * length in bytes (without the NUL), also when the buffer is too short (nothing is copied
 * then). A size of 0 asks for the length; `buffer` may then be NULL. Level 0 only.
 * Results: 0; the device checks; 0x80000003 a NULL `size`, a NULL `buffer` with a size, or a
 * buffer too short; 0x80060308 no local file.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_ReadLocalConfig(DeviceHandle device, char *buffer,
                                                          uint32_t *size);

/*
 * The result of parsing a device's system information text (the answer of
 * "/cgi-bin/sysinfo.cgi"): 11208 bytes. The named members are those the library reads; the
 * reserved bytes belong to the model-resource library and are only carried.
 */
#ifndef KAVREL_SYSINFODATA_DEFINED
/* The model-resource library's header describes the same bytes; whichever comes first
 * defines the record for both. */
#define KAVREL_SYSINFODATA_DEFINED
typedef struct SysInfoData {
  char ModelName[64]; /* the model name the device reports, NUL-terminated */
  uint8_t Reserved0[10778];
  char VideoUrl[40];  /* the video path the device reports; empty when the first byte is 0 */
  uint8_t Reserved1[294];
  int32_t CamNum;     /* camera count */
  int32_t Reserved2;
  int32_t DiNum;      /* digital input count */
  int32_t DoNum;      /* digital output count */
  int32_t VideoCodec; /* video codec code */
  int32_t AudioCodec; /* audio codec code */
  uint8_t Reserved3[8];
} SysInfoData;
#endif

/*
 * Kavrel_ParseSysInfo: parses a system information text (at most 1023 bytes, NUL-terminated)
 * into `data`, through the model-resource library's parser. Needs no context or device.
 * Results: 0x80000003 when either argument is NULL (the parser is not called); otherwise
 * the parser's own result, 0 for success (its failures are negative numbers).
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_ParseSysInfo(const char *text, SysInfoData *data);

/*
 * The version block of a firmware file, as Kavrel_GetFirmVersionInfo fills it: 272 bytes.
 * Each string holds at most 32 characters and is NUL-terminated. A plain image (a firmware
 * image without the package records) fills only FirmwareVersion.
 */
typedef struct KavrelFirmVersionInfo {
  char FirmwareVersion[33]; /* header tag 1 */
  char Tag2[33];            /* header tags 2, 10, 3, 4, 5 and 9, passed on as they are */
  char Tag10[33];
  char Tag3[33];
  char Tag4[33];
  char Tag5[33];
  char Tag9[33];
  char Language[33];        /* the language's name, or "Unknown" */
  uint32_t PlainImage;      /* 1 for a plain image, 0 for a package */
  uint32_t PackageType;     /* 0, 1 or 2 (unpackable packages), 3 (header only) */
} KavrelFirmVersionInfo;

/*
 * Kavrel_GetFirmVersionInfo: reads the version block of a firmware package or plain image.
 * Needs no context or device; runs on the calling thread. `info` is zeroed first.
 * Results: 0x80000003 when either argument is NULL or the file cannot be opened; 0x8006030b
 * a plain image of the wrong size; 0x8006030d a plain image whose checksum is wrong;
 * 0xFFFFFFFF a plain image without a version.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetFirmVersionInfo(const char *file,
                                                             KavrelFirmVersionInfo *info);

#ifdef __cplusplus
}
#endif

/* The records' layouts are fixed: hosts built against any version read them the same. */
#if defined(__cplusplus)
#define KAVREL_STATIC_ASSERT_(cond, msg) static_assert(cond, msg)
#else
#define KAVREL_STATIC_ASSERT_(cond, msg) _Static_assert(cond, msg)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
KAVREL_STATIC_ASSERT_(offsetof(KavrelLogger, context) == 3 * 8, "logger entry 3");
KAVREL_STATIC_ASSERT_(offsetof(KavrelLogger, plain_enabled) == 6 * 8, "logger entry 6");
KAVREL_STATIC_ASSERT_(offsetof(KavrelLogger, located_enabled) == 7 * 8, "logger entry 7");
KAVREL_STATIC_ASSERT_(offsetof(KavrelLogger, plain) == 12 * 8, "logger entry 12");
KAVREL_STATIC_ASSERT_(offsetof(KavrelLogger, located) == 13 * 8, "logger entry 13");
KAVREL_STATIC_ASSERT_(sizeof(KavrelLogger) == 14 * 8, "logger size");
KAVREL_STATIC_ASSERT_(offsetof(KavrelDeviceProperty, http_port) == 32, "property http_port");
KAVREL_STATIC_ASSERT_(offsetof(KavrelDeviceProperty, timeout_ms) == 40, "property timeout");
KAVREL_STATIC_ASSERT_(offsetof(KavrelDeviceProperty, callback) == 48, "property callback");
KAVREL_STATIC_ASSERT_(offsetof(KavrelDeviceProperty, extra) == 64, "property extra");
KAVREL_STATIC_ASSERT_(sizeof(KavrelDeviceProperty) == 72, "property size");
KAVREL_STATIC_ASSERT_(offsetof(UpgradeRequest, callback) == 264, "upgrade callback");
KAVREL_STATIC_ASSERT_(offsetof(UpgradeRequest, context) == 272, "upgrade context");
KAVREL_STATIC_ASSERT_(sizeof(UpgradeRequest) == 280, "upgrade request size");
KAVREL_STATIC_ASSERT_(offsetof(KavrelProxyInfo, port) == 24, "proxy port");
KAVREL_STATIC_ASSERT_(sizeof(KavrelProxyInfo) == 32, "proxy size");
#endif
KAVREL_STATIC_ASSERT_(offsetof(SetParamRequest, set_password) == 4, "setparam set password");
KAVREL_STATIC_ASSERT_(offsetof(SetParamRequest, host_name) == 8, "setparam host name");
KAVREL_STATIC_ASSERT_(offsetof(SetParamRequest, date) == 23, "setparam date");
KAVREL_STATIC_ASSERT_(offsetof(SetParamRequest, time) == 35, "setparam time");
KAVREL_STATIC_ASSERT_(offsetof(SetParamRequest, password) == 44, "setparam password");
KAVREL_STATIC_ASSERT_(sizeof(SetParamRequest) == 44 + KAVREL_PASSWORD_MAX, "setparam size");
KAVREL_STATIC_ASSERT_(offsetof(MotionWindow, x) == 16, "motion x");
KAVREL_STATIC_ASSERT_(offsetof(MotionWindow, h) == 28, "motion h");
KAVREL_STATIC_ASSERT_(offsetof(MotionWindow, percent) == 32, "motion percent");
KAVREL_STATIC_ASSERT_(offsetof(MotionWindow, sensitivity) == 36, "motion sensitivity");
KAVREL_STATIC_ASSERT_(offsetof(MotionWindow, enabled) == 40, "motion enabled");
KAVREL_STATIC_ASSERT_(offsetof(MotionWindow, form) == 44, "motion form flag");
KAVREL_STATIC_ASSERT_(sizeof(MotionWindow) == 48, "motion window size");
KAVREL_STATIC_ASSERT_(offsetof(KavrelUpgradeProgress, file_sent) == 12, "progress file sent");
KAVREL_STATIC_ASSERT_(offsetof(KavrelUpgradeProgress, file_name) == 16, "progress file name");
KAVREL_STATIC_ASSERT_(sizeof(KavrelUpgradeProgress) == 276, "progress size");
KAVREL_STATIC_ASSERT_(offsetof(SysInfoData, ModelName) == 0, "sysinfo model name");
KAVREL_STATIC_ASSERT_(offsetof(SysInfoData, VideoUrl) == 10842, "sysinfo video path");
KAVREL_STATIC_ASSERT_(offsetof(SysInfoData, CamNum) == 11176, "sysinfo camera count");
KAVREL_STATIC_ASSERT_(offsetof(SysInfoData, DiNum) == 11184, "sysinfo input count");
KAVREL_STATIC_ASSERT_(offsetof(SysInfoData, DoNum) == 11188, "sysinfo output count");
KAVREL_STATIC_ASSERT_(offsetof(SysInfoData, VideoCodec) == 11192, "sysinfo video codec");
KAVREL_STATIC_ASSERT_(offsetof(SysInfoData, AudioCodec) == 11196, "sysinfo audio codec");
KAVREL_STATIC_ASSERT_(sizeof(SysInfoData) == 11208, "sysinfo size");
KAVREL_STATIC_ASSERT_(offsetof(KavrelFirmVersionInfo, Tag2) == 33, "firmware info tag 2");
KAVREL_STATIC_ASSERT_(offsetof(KavrelFirmVersionInfo, Language) == 7 * 33, "firmware language");
KAVREL_STATIC_ASSERT_(offsetof(KavrelFirmVersionInfo, PlainImage) == 264, "firmware plain flag");
KAVREL_STATIC_ASSERT_(offsetof(KavrelFirmVersionInfo, PackageType) == 268, "firmware type");
KAVREL_STATIC_ASSERT_(sizeof(KavrelFirmVersionInfo) == 272, "firmware info size");

#endif /* KAVREL_H */
