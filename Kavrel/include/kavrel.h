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
 * with the device, the host's context, the operation code (100-112), a status and a value.
 * It may run before the call that started the operation has returned, so whatever it needs
 * must be ready before that call is made. Statuses: 0 success; 200 failed; 201 credentials
 * refused; 202 reading the reply failed; 203/204 configuration transfer could not be
 * started; 205 configuration download failed; 206 aborted. A read that succeeded reports its
 * end status (0x80070071 or 0x60301) and the byte count as value.
 */
typedef void(KAVREL_CALL *KavrelCallback)(DeviceHandle device, void *context, uint32_t operation,
                                          uint32_t status, uintptr_t value);

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
 * A device has ten operation slots; an eleventh operation in flight gives 0x80060303.
 * Synchronous calls never call the host.
 *
 * Strings from the caller that go into a request (serial data, paths) are sent unencoded;
 * a request that would hold a space, CR, LF or another control character, or that does not
 * fit its request buffer, is refused with 0x80000003 before anything is sent.
 */

/*
 * Kavrel_CreateDeviceEx: takes the first free device record of the context and readies its
 * transports; `proxy` and `bypass` (may be NULL) go to its network client. The record starts
 * with nothing of any device that held it before. Results: 0 and `*device`; 0x80000001 NULL
 * context; 0x80000003 NULL `device`; 0x80060304 no free record; a transport's code.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_CreateDeviceEx(KavrelHandle handle, DeviceHandle *device,
                                                         const char *proxy, const char *bypass);
/* Kavrel_CreateDevice: Kavrel_CreateDeviceEx without a proxy. */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_CreateDevice(KavrelHandle handle, DeviceHandle *device);

/*
 * Kavrel_DeleteDevice: aborts the device's operations, waits until every one has ended (an
 * asynchronous one after its callback, with status 206, has returned), and frees the record
 * for reuse. No callback for the device follows its return. Must not be called from the
 * device's own callback. Results: 0; 0x80000001 NULL; 0x80000003 not in use.
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
 * wait above 120, a NULL proxy, flash-all on a model outside series 7; the network client's
 * code for a refused proxy.
 */
KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetExtraOptions(DeviceHandle device, uint32_t option,
                                                          uintptr_t value);
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
KAVREL_STATIC_ASSERT_(offsetof(KavrelProxyInfo, port) == 24, "proxy port");
KAVREL_STATIC_ASSERT_(sizeof(KavrelProxyInfo) == 32, "proxy size");
#endif
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
