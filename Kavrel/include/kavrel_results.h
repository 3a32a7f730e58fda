/*
 * Kavrel result codes: the one list.
 *
 * Every exported function returns a 32-bit unsigned result: 0 for success, a value with the
 * top bit set for a failure. A few non-zero values without the top bit are statuses that a
 * read or a callback reports for an operation that went well (0x60301, 0x80070071 is the
 * exception with the top bit set: "transfer ended normally").
 *
 * The list also names the codes that the library hands up unchanged from the network client
 * (0x800402xx and 240) and from the scheduler library and the socket FTP client
 * (0x800700xx), so that a host can name any code it receives.
 *
 * KAVREL_RESULT_MAP(XX) calls XX(name, value, text) once per code; the constants, the name
 * lookup and the text lookup below are generated from it.
 */
#ifndef KAVREL_RESULTS_H
#define KAVREL_RESULTS_H

#include <stdint.h>

#define KAVREL_RESULT_MAP(XX)                                                                  \
  /* general */                                                                                \
  XX(KAVREL_OK, 0x00000000u, "success")                                                        \
  XX(KAVREL_E_HANDLE, 0x80000001u, "handle NULL or not in use")                                \
  XX(KAVREL_E_NOMEM, 0x80000002u, "allocation failed")                                         \
  XX(KAVREL_E_INVALIDARG, 0x80000003u, "invalid argument")                                     \
  XX(KAVREL_E_VERSION, 0x80000005u, "version check failed")                                    \
  /* statuses of operations that went well */                                                  \
  XX(KAVREL_S_BUFFER_FULL, 0x00060301u, "reply filled the buffer")                             \
  XX(KAVREL_S_CATALOG_PARTIAL, 0x00060400u, "model record filled from a partial match")        \
  /* device level */                                                                           \
  XX(KAVREL_E_FTP_AUTH, 0x80060301u, "the device's FTP server refused the login")              \
  XX(KAVREL_E_TIMEOUT, 0x80060302u, "time-out")                                                \
  XX(KAVREL_E_BUSY, 0x80060303u, "every operation slot of the device is taken")                \
  XX(KAVREL_E_NO_FREE_DEVICE, 0x80060304u, "every device record of the context is in use")    \
  XX(KAVREL_E_NOT_AVAILABLE, 0x80060305u, "operation not available for this device or model") \
  XX(KAVREL_E_UNKNOWN_DEVICE, 0x80060307u, "unknown device type or model")                     \
  XX(KAVREL_E_FILE, 0x80060308u, "a local file could not be opened or read")                   \
  XX(KAVREL_E_CATALOG, 0x8006030Au, "model unknown to the catalogue, or unparsable text")      \
  XX(KAVREL_E_PKG_FORMAT, 0x8006030Bu, "firmware package: not a package file")                 \
  XX(KAVREL_E_PKG_WRITE, 0x8006030Cu, "firmware package: writing a file failed")               \
  XX(KAVREL_E_PKG_SHORT, 0x8006030Du, "firmware package: the file ended early")                \
  XX(KAVREL_E_PKG_MKDIR, 0x8006030Eu, "firmware package: output directory not created")        \
  XX(KAVREL_E_PKG_OTHER, 0x8006030Fu, "firmware package: unsafe name or a link in the way")   \
  XX(KAVREL_E_PROBE_SOCKET, 0x80060311u, "probe socket could not be created")                  \
  XX(KAVREL_E_PROBE_OPTION, 0x80060312u, "probe socket option could not be set")               \
  XX(KAVREL_E_PROBE_IO, 0x80060313u, "sending or receiving the probe failed")                  \
  XX(KAVREL_E_ABORTED, 0x80060314u, "aborted by the host")                                     \
  XX(KAVREL_E_EMPTY, 0x80060315u, "configuration section or entry empty or unknown")           \
  XX(KAVREL_E_HTML_VALUE, 0x80060316u, "value not found in the device's page, or too long")    \
  XX(KAVREL_E_CONFIG_CUT, 0x80060317u, "the device's configuration filled the fetch's buffer")  \
  /* network client */                                                                         \
  XX(KAVREL_NC_ABORTED, 0x000000F0u, "network client operation aborted")                       \
  XX(KAVREL_NC_E_AUTH, 0x80040201u, "authentication failed or credentials missing")            \
  XX(KAVREL_NC_E_NO_SLOT, 0x80040202u, "no free network client request slot")                  \
  XX(KAVREL_NC_E_OPEN, 0x80040203u, "the internet service could not be opened")                \
  XX(KAVREL_NC_E_TIMEOUT, 0x80040205u, "network client time-out")                              \
  XX(KAVREL_NC_E_NOT_FOUND, 0x80040206u, "HTTP status 404")                                    \
  XX(KAVREL_NC_E_NO_MORE_FILES, 0x80040207u, "no more files")                                  \
  XX(KAVREL_NC_E_DIR_EXISTS, 0x80040208u, "directory exists")                                  \
  XX(KAVREL_NC_E_LOCAL_FILE, 0x80040209u, "the local file could not be opened")                \
  XX(KAVREL_NC_E_OPEN_REQUEST, 0x8004020Au, "the HTTP request could not be opened")            \
  XX(KAVREL_NC_E_CONNECT, 0x8004020Bu, "connect failed, or an unexpected HTTP status")         \
  XX(KAVREL_NC_E_WRITE, 0x8004020Cu, "upload write failed")                                    \
  XX(KAVREL_NC_E_MKDIR, 0x8004020Du, "create directory failed")                                \
  XX(KAVREL_NC_E_CHDIR, 0x8004020Eu, "the server refused the change of directory")             \
  XX(KAVREL_NC_E_DELETE, 0x8004020Fu, "delete failed")                                         \
  XX(KAVREL_NC_E_FIND_FIRST, 0x80040210u, "find first failed")                                 \
  XX(KAVREL_NC_E_FIND_NEXT, 0x80040211u, "find next failed")                                   \
  XX(KAVREL_NC_E_ABORTING, 0x80040212u, "connect refused: the request is being aborted")       \
  XX(KAVREL_NC_E_RESET, 0x80040213u, "the server reset the connection during an upload")      \
  XX(KAVREL_NC_E_NOT_SUPPORTED, 0x80040214u, "request type not supported by this build")       \
  XX(KAVREL_NC_E_DOWNLOAD, 0x80040215u, "download failed")                                     \
  XX(KAVREL_NC_E_NO_ANSWER, 0x80040216u, "no final FTP answer: connection lost or a 4xx reply") \
  /* scheduler library and socket FTP client */                                                \
  XX(KAVREL_T_E_NOMEM, 0x8007000Eu, "the scheduler ran out of memory")                         \
  XX(KAVREL_T_TIMEOUT, 0x80070042u, "time-out reported by the scheduler")                      \
  XX(KAVREL_T_WITHDRAWN, 0x80070043u, "operation withdrawn by an abort")                       \
  XX(KAVREL_T_CLOSED, 0x80070071u, "transfer ended normally")                                  \
  XX(KAVREL_T_FINAL_REPLY, 0x80070072u, "final FTP reply read")                                \
  XX(KAVREL_T_E_SOCKET, 0x80070074u, "socket could not be created or wrapped")                 \
  XX(KAVREL_T_E_INVALIDARG, 0x80070057u, "the scheduler refused an argument")                  \
  XX(KAVREL_T_E_CONNECT, 0x80070076u, "connection failed or refused")                          \
  XX(KAVREL_T_E_IO, 0x80070079u, "a read, write or accept failed")                             \
  XX(KAVREL_T_E_LISTEN, 0x8007007Au, "bind or listen failed")                                  \
  XX(KAVREL_T_E_HTTP, 0x8007007Bu, "HTTP failure or malformed reply")                          \
  XX(KAVREL_T_E_BUSY, 0x8007007Cu, "an operation is already pending on the token or handle")  \
  XX(KAVREL_T_E_NOTPENDING, 0x8007007Du, "nothing pending to withdraw")                        \
  XX(KAVREL_T_E_UNAUTHORIZED, 0x80070082u, "HTTP 401: credentials refused")                    \
  XX(KAVREL_T_E_NOT_FOUND, 0x80070083u, "HTTP 404: not found")                                 \
  XX(KAVREL_T_E_ARG, 0x800700D1u, "invalid argument or unknown FTP command")                   \
  XX(KAVREL_T_E_GREETING, 0x800700D2u, "FTP greeting refused")                                 \
  XX(KAVREL_T_E_LOGIN, 0x800700D3u, "FTP login refused")                                       \
  XX(KAVREL_T_E_COMMAND, 0x800700D4u, "FTP command reply not 2xx")                             \
  XX(KAVREL_T_E_TRANSFER, 0x800700D5u, "FTP transfer command or final reply not 2xx")          \
  XX(KAVREL_T_E_LOCAL_FILE, 0x800700D6u, "FTP local file could not be opened")                 \
  XX(KAVREL_T_E_PASV, 0x800700D8u, "FTP PASV reply malformed")                                 \
  /* platform */                                                                               \
  XX(KAVREL_E_PLATFORM, 0xFFFFFFFFu, "a platform call failed")

/* C compilers give an enum with values above INT_MAX the type unsigned int. */
#ifdef __cplusplus
enum KavrelResult : uint32_t {
#else
enum KavrelResult {
#endif
#define KAVREL_RESULT_ENUM_(name, value, text) name = value,
  KAVREL_RESULT_MAP(KAVREL_RESULT_ENUM_)
#undef KAVREL_RESULT_ENUM_
};

/* The symbolic name of a code ("KAVREL_E_BUSY"), or NULL for a code not in the list. */
static inline const char *KavrelResult_Name(uint32_t code) {
  switch (code) {
#define KAVREL_RESULT_NAME_(name, value, text) \
  case value:                                  \
    return #name;
    KAVREL_RESULT_MAP(KAVREL_RESULT_NAME_)
#undef KAVREL_RESULT_NAME_
    default:
      return 0;
  }
}

/* The one-line text of a code, or NULL for a code not in the list. */
static inline const char *KavrelResult_Text(uint32_t code) {
  switch (code) {
#define KAVREL_RESULT_TEXT_(name, value, text) \
  case value:                                  \
    return text;
    KAVREL_RESULT_MAP(KAVREL_RESULT_TEXT_)
#undef KAVREL_RESULT_TEXT_
    default:
      return 0;
  }
}

#endif /* KAVREL_RESULTS_H */
