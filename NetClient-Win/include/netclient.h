/*
 * NetClient: the network client over the platform's HTTP/FTP service.
 *
 * A client context holds ten request slots. The caller takes a slot, describes the transfer
 * in a NetClientRequestInfo, connects, runs FTP operations on the connection and closes the
 * slot again. Every function has C linkage and returns a 32-bit unsigned result: 0 for
 * success, otherwise one of the NETCLIENT_E_* codes below (the same values as the core's
 * list in kavrel_results.h).
 *
 * Synchronous or asynchronous is chosen per call. An operation waits (and returns its final
 * result) when its synchronous flag is non-zero or the slot has no callback; otherwise it
 * returns 0 once started and its outcome arrives through the slot's NetClientCallback as
 * one of the NETCLIENT_EV_* codes. If an asynchronous start returns a failure, the callback
 * is not called for that operation. A waiting operation reports through its result alone;
 * the one callback it may cause is 240 from NetClient_Abort.
 *
 * Threads. Callbacks run on the service's own threads (asynchronous completions, with the
 * slot's lock held, so a callback may call back into this library on the same slot), on
 * the thread that calls NetClient_Abort (code 240), and on the calling thread when an
 * asynchronous operation is answered at once (find next, which reads a listing already
 * fetched). A slot runs one operation at a time;
 * NetClient_Abort and NetClient_CloseRequest may be called from any thread at any time.
 *
 * HTTP and HTTPS requests (types 11, 12, 14, 15) connect, send GET or POST with the slot's
 * extra data as body, and read the response body in pieces with NetClient_ReadData.
 * Authentication: the platform service answers a server's Basic or Digest challenge with the
 * slot's user name and password before the caller sees the 401, so a challenge puts two
 * requests on the wire (the first without credentials, the second answering the challenge);
 * wrong credentials end there with NETCLIENT_E_AUTH, no third request. A proxy's 407 is
 * answered once with the context's proxy credentials: two requests in all, and a second 407
 * gives NETCLIENT_E_AUTH. HTTPS verifies the server's certificate chain and name; a
 * certificate that does not verify gives NETCLIENT_E_CONNECT (callback 108). To trust a
 * certificate authority of its own, a host adds it to the system's store of trusted roots:
 * on Windows the certificate store (Trusted Root Certification Authorities); on Linux the
 * system's OpenSSL store (update-ca-certificates), or a PEM file or hashed folder named in
 * SSL_CERT_FILE / SSL_CERT_DIR before the first HTTPS request of the process (these replace
 * the system's list for the process).
 *
 * The layer writes no log records.
 */
#ifndef NETCLIENT_H
#define NETCLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(NETCLIENT_BUILDING)
#define NETCLIENT_EXTERN __declspec(dllexport)
#else
#define NETCLIENT_EXTERN __declspec(dllimport)
#endif
#define NETCLIENT_CALL __stdcall
#else
#if defined(NETCLIENT_BUILDING)
#define NETCLIENT_EXTERN __attribute__((visibility("default")))
#else
#define NETCLIENT_EXTERN
#endif
#define NETCLIENT_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Versions ---------------------------------------------------------------------- */

/* The version word the caller passes: low three bytes 5, 0, 0; the top byte is free. */
#define NETCLIENT_VERSION_WORD 0x02000005u

/* ---- Result codes (the same values as the core's list) ------------------------------ */

#define NETCLIENT_OK 0x00000000u
#define NETCLIENT_E_HANDLE 0x80000001u        /* NULL handle, slot not in use, wrong type, not connected */
#define NETCLIENT_E_NOMEM 0x80000002u         /* allocation failed */
#define NETCLIENT_E_INVALIDARG 0x80000003u    /* invalid argument */
#define NETCLIENT_E_VERSION 0x80000005u       /* version check failed */
#define NETCLIENT_E_AUTH 0x80040201u          /* authentication failed or credentials missing */
#define NETCLIENT_E_NO_SLOT 0x80040202u       /* no free request slot */
#define NETCLIENT_E_OPEN 0x80040203u          /* the internet service could not be opened */
#define NETCLIENT_E_TIMEOUT 0x80040205u       /* time-out */
#define NETCLIENT_E_NOT_FOUND 0x80040206u     /* HTTP status 404 */
#define NETCLIENT_E_NO_MORE_FILES 0x80040207u /* no more files */
#define NETCLIENT_E_DIR_EXISTS 0x80040208u    /* directory exists (reply 550 on create) */
#define NETCLIENT_E_LOCAL_FILE 0x80040209u    /* the local file could not be opened */
#define NETCLIENT_E_OPEN_REQUEST 0x8004020Au  /* the HTTP request could not be opened */
#define NETCLIENT_E_CONNECT 0x8004020Bu       /* connect failed */
#define NETCLIENT_E_WRITE 0x8004020Cu         /* upload write failed */
#define NETCLIENT_E_MKDIR 0x8004020Du         /* create directory failed */
#define NETCLIENT_E_CHDIR 0x8004020Eu         /* change directory refused (a 5xx reply) */
#define NETCLIENT_E_DELETE 0x8004020Fu        /* delete failed */
#define NETCLIENT_E_FIND_FIRST 0x80040210u    /* find first failed */
#define NETCLIENT_E_FIND_NEXT 0x80040211u     /* find next failed */
#define NETCLIENT_E_ABORTING 0x80040212u      /* connect refused: the slot is being aborted */
#define NETCLIENT_E_RESET 0x80040213u         /* the server reset the connection during an upload */
#define NETCLIENT_E_NOT_SUPPORTED 0x80040214u /* reserved: no longer produced (HTTP types connect) */
#define NETCLIENT_E_DOWNLOAD 0x80040215u      /* download failed (remote file or local write) */
#define NETCLIENT_E_NO_ANSWER 0x80040216u     /* no final FTP answer: connection lost, or 4xx */
#define NETCLIENT_ABORTED 0x000000F0u         /* 240: the operation was aborted */
#define NETCLIENT_E_PLATFORM 0xFFFFFFFFu      /* a service option could not be set */

/* ---- Callback event codes ------------------------------------------------------------ */

#define NETCLIENT_EV_FTP_CONNECTED 201u      /* login accepted */
#define NETCLIENT_EV_FTP_CONNECT_FAIL 202u   /* connect failed; also: first upload write failed */
#define NETCLIENT_EV_FTP_GET_DONE 203u       /* download completed */
#define NETCLIENT_EV_FTP_PUT_DONE 204u       /* upload completed (remote file closed) */
#define NETCLIENT_EV_FTP_AUTH_FAIL 205u      /* login refused: wrong user name or password */
#define NETCLIENT_EV_FTP_GET_FAIL 206u       /* download failed */
#define NETCLIENT_EV_FTP_PUT_FAIL 207u       /* upload write failed */
#define NETCLIENT_EV_FTP_MKDIR_DONE 208u     /* create directory completed (success or not) */
#define NETCLIENT_EV_FTP_CHDIR_DONE 210u     /* change directory completed (success or not) */
#define NETCLIENT_EV_FTP_FIND_FIRST 212u     /* find first delivered an entry */
#define NETCLIENT_EV_FTP_FIND_NEXT 213u      /* find next delivered an entry */
#define NETCLIENT_EV_FTP_FIND_FIRST_FAIL 214u
#define NETCLIENT_EV_FTP_FIND_NEXT_FAIL 215u
#define NETCLIENT_EV_FTP_FIND_NEXT_END 216u  /* find next: no more files */
#define NETCLIENT_EV_FTP_FIND_FIRST_END 217u /* find first: no matching file */
#define NETCLIENT_EV_FTP_DELETE_DONE 218u    /* delete completed (success or not) */
#define NETCLIENT_EV_FTP_PUT_PENDING 220u    /* first upload write is in progress */
#define NETCLIENT_EV_ABORTED 240u            /* the slot was aborted (reported once) */
#define NETCLIENT_EV_HTTP_200 107u   /* HTTP request completed with status 200 */
#define NETCLIENT_EV_HTTP_OTHER 108u /* completed with another status, or failed */
#define NETCLIENT_EV_HTTP_401 109u   /* completed with status 401 */
#define NETCLIENT_EV_HTTP_READ 111u  /* a pending body read completed */
/* An HTTP connect can also report NETCLIENT_E_TIMEOUT (0x80040205) as its event code: the
 * connection could not be made and the host did not answer the probe in time. */

/* Read statuses of NetClient_ReadData. */
#define NETCLIENT_READ_CLOSING 101u   /* the connection is closed or aborted */
#define NETCLIENT_READ_DATA 102u      /* bytes were read */
#define NETCLIENT_READ_PENDING 103u   /* the read goes on; ask again (111 to a callback) */
#define NETCLIENT_READ_FAILED 104u    /* the read failed (the body broke off) */
#define NETCLIENT_READ_END 105u       /* nothing read: the body is complete */
#define NETCLIENT_READ_RECEIVING 106u /* nothing read, the response is still arriving */

/* Progress codes of NetClient_FTP_PutFileWithProgress. */
#define NETCLIENT_PROGRESS_SIZE 230u  /* value: the local file's size, before the transfer */
#define NETCLIENT_PROGRESS_SENT 231u  /* value: bytes sent so far, after each chunk */
#define NETCLIENT_PROGRESS_RESET 232u /* value 0: the server reset the connection */

/* Request types. */
#define NETCLIENT_TYPE_HTTP_GET 11u
#define NETCLIENT_TYPE_HTTP_POST 12u
#define NETCLIENT_TYPE_FTP 13u
#define NETCLIENT_TYPE_HTTPS_GET 14u
#define NETCLIENT_TYPE_HTTPS_POST 15u

/* FTP transfer mode: low four bits 14 is ASCII, anything else binary; bit 0x10 asks for the
 * long wait (download: no limit; upload: at least 180,000 ms). */
#define NETCLIENT_FTP_MODE_ASCII 14u
#define NETCLIENT_FTP_MODE_BINARY 15u
#define NETCLIENT_FTP_MODE_LONG_WAIT 0x10u

/* ---- Handles and records ------------------------------------------------------------- */

typedef struct CNetClientHolder *NetClientHandle;         /* a client context */
typedef struct CNetClientRequest *NetClientRequestHandle; /* one request slot */

/*
 * The slot's callback: (request, event code, caller context). Called on the service's
 * threads with the slot's lock held, and on the thread of NetClient_Abort with code 240.
 */
typedef void(NETCLIENT_CALL *NetClientCallback)(NetClientRequestHandle request, uint32_t event,
                                                void *context);

/* Progress of an upload: (request, its own context, NETCLIENT_PROGRESS_*, value). Called on
 * the thread that writes the chunk: the caller's (waiting upload) or the service's. */
typedef void(NETCLIENT_CALL *NetClientProgressCallback)(NetClientRequestHandle request,
                                                        void *context, uint32_t code,
                                                        uint32_t value);

/* The request descriptor of NetClient_SetRequestInfo and NetClient_CrackUrl. */
typedef struct NetClientRequestInfo {
  uint32_t type;              /* NETCLIENT_TYPE_* */
  uint32_t port;
  uint32_t timeout_ms;        /* 0 means 30,000 */
  uint32_t *content_length;   /* HTTP only; may be NULL */
  char host[256];
  char user[256];
  char password[256];
  char path[1024];
  char extra[2048];           /* HTTP body; from a URL, the query and fragment */
  void *context;              /* handed back unchanged to the callback */
  NetClientCallback callback; /* may be NULL: every operation then waits */
  void *parent_window;        /* HTTP credential dialog owner; may be NULL */
} NetClientRequestInfo;

/* The proxy of NetClient_SetProxy. Strings may be NULL except address. */
typedef struct NetClientProxyInfo {
  const char *address; /* "host", "host:port", "http://host" or "http://host:port" */
  const char *bypass;  /* bypass list, NULL for none */
  const char *user;
  const char *password;
  uint32_t port;       /* used when address holds no port */
} NetClientProxyInfo;

/* One entry of a directory listing. */
typedef struct NetClientFindEntry {
  char name[260];
  uint32_t is_directory; /* 1 for a directory, else 0 */
} NetClientFindEntry;

/* ---- Contexts -------------------------------------------------------------------------- */

/*
 * NetClient_Initialize: opens a context with ten slots and a direct connection.
 * NetClient_InitializeWithProxy: the same; a non-empty proxy string is the context's proxy
 * (bypass may be NULL). *out is set to NULL first and to the context on success. Results:
 * 0, NETCLIENT_E_INVALIDARG (out NULL), NETCLIENT_E_VERSION, NETCLIENT_E_NOMEM,
 * NETCLIENT_E_OPEN.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Initialize(NetClientHandle *out,
                                                              uint32_t version);
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_InitializeWithProxy(NetClientHandle *out,
                                                                       const char *proxy,
                                                                       const char *bypass,
                                                                       uint32_t version);

/*
 * NetClient_Release: closes every slot still open, the service handle and the context, and
 * sets *handle to NULL. No callback runs after it returns. NETCLIENT_E_HANDLE for NULL.
 * It waits only for the status notifications of this context still running, never a fixed
 * time; should one still run after 10 s, the context is kept (its memory leaked) rather than
 * freed under it. Must not be called from one of the context's own callbacks.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Release(NetClientHandle *handle);

/*
 * NetClient_SetProxy: sets the context's proxy for connections made afterwards. reserved
 * must be 0. The address gets "http://" unless it has it, and ":port" unless it holds a
 * ':' after the scheme. The same address again only updates user name and password (each
 * when non-empty). Results: 0, NETCLIENT_E_HANDLE, NETCLIENT_E_INVALIDARG,
 * NETCLIENT_E_NOMEM, NETCLIENT_E_PLATFORM (the service refused the option). FTP connects
 * directly whatever the proxy, as the service does for an HTTP proxy.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetProxy(NetClientHandle context,
                                                            uint32_t reserved,
                                                            const NetClientProxyInfo *proxy);

/* ---- Request slots ------------------------------------------------------------------- */

/*
 * NetClient_OpenRequest: hands out a free slot (fresh: time-out 5,000 ms, no callback).
 * Results: 0, NETCLIENT_E_HANDLE, NETCLIENT_E_INVALIDARG (out NULL), NETCLIENT_E_NO_SLOT.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_OpenRequest(NetClientHandle context,
                                                               NetClientRequestHandle *out);

/*
 * NetClient_CloseRequest: aborts what runs on the slot (a waiting caller returns 240; no
 * callback), closes the connection and gives the slot back. A slot not in use gives 0.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_CloseRequest(NetClientRequestHandle request);

/*
 * NetClient_SetRequestInfo: copies the descriptor into the slot (strings truncated to their
 * arrays, time-out 0 becomes 30,000 ms). Results: 0, NETCLIENT_E_HANDLE,
 * NETCLIENT_E_INVALIDARG (info NULL).
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetRequestInfo(NetClientRequestHandle request,
                                                                  const NetClientRequestInfo *info);

/* NetClient_SetCallback: sets callback (may be NULL) and caller context. 0 or NETCLIENT_E_HANDLE. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetCallback(NetClientRequestHandle request,
                                                               NetClientCallback callback,
                                                               void *context);

/* NetClient_SetSkipCredentials: HTTP only; when set, the slot's user name and password are
 * not set on the request. 0 or NETCLIENT_E_HANDLE. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetSkipCredentials(NetClientRequestHandle request,
                                                                      uint32_t skip);

/*
 * NetClient_Connect: FTP (type 13) connects and logs in (passive). Waiting: 0,
 * NETCLIENT_E_AUTH (reply 530), NETCLIENT_E_TIMEOUT, NETCLIENT_E_CONNECT, NETCLIENT_ABORTED.
 * Asynchronous: 0 when started, then the callback with 201, 205 or 202.
 *
 * HTTP (11 GET, 12 POST, 14 HTTPS GET, 15 HTTPS POST) sends the request to host:port/path
 * with the extra data as body. Waiting: 0 for status 200 (then the content length is
 * stored through the descriptor's pointer, and NetClient_GetCredentials gives the user name
 * and password that were used); NETCLIENT_E_AUTH for 401 without a parent window, for a 407
 * without proxy credentials or for a second 407; NETCLIENT_E_NOT_FOUND for 404;
 * NETCLIENT_E_CONNECT for any other status, for a refused connection whose host answers
 * the ICMP probe, for a certificate that does not verify, and for a 401 whose dialog is
 * cancelled; NETCLIENT_E_TIMEOUT when the time-out runs out or the host does not answer the
 * probe; NETCLIENT_ABORTED; NETCLIENT_E_OPEN_REQUEST; NETCLIENT_E_PLATFORM (a proxy
 * credential could not be set). A 401 with a parent window shows the platform's credential
 * dialog (on POSIX there is none: it counts as cancelled). Asynchronous: 0 when started, then
 * the callback once with 107 (200; content length stored), 109 (401), 108 (anything else),
 * or NETCLIENT_E_TIMEOUT (connection failed and the host did not answer the probe).
 *
 * NETCLIENT_E_ABORTING while the slot is aborted (until NetClient_Disconnect or
 * NetClient_CloseRequest), NETCLIENT_E_HANDLE; another type returns 0 and does nothing.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Connect(NetClientRequestHandle request,
                                                           uint32_t synchronous);

/* NetClient_Disconnect: clears the abort state, closes ("QUIT") and drops the connection. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Disconnect(NetClientRequestHandle request);

/*
 * NetClient_Abort: marks the slot aborted, closes its connection (keeping the object until
 * NetClient_Disconnect or NetClient_CloseRequest), wakes a caller waiting in an operation on
 * it (which returns 240), and calls the callback with 240 on this thread. The operation
 * that was cancelled reports nothing more. 0, or NETCLIENT_E_HANDLE for NULL.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_Abort(NetClientRequestHandle request);

/* NetClient_GetCredentials: copies user name and password into 256-byte buffers (either
 * may be NULL). 0 or NETCLIENT_E_HANDLE. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_GetCredentials(NetClientRequestHandle request,
                                                                  char *user, char *password);

/*
 * NetClient_ReadData: reads the next piece of an HTTP response body into buffer, at most
 * size - 1 bytes, and stores its read status (NETCLIENT_READ_*) in *read_status and the
 * count in *bytes_read (either pointer may be NULL). A read that cannot be answered at once
 * is pending (103): its bytes arrive in that call's buffer, which must stay valid until
 * then, and the next call reports their count (102) or the end (105); a callback is told
 * with 111. Results: 0; NETCLIENT_E_HANDLE (not an HTTP slot in use, or not connected);
 * NETCLIENT_E_INVALIDARG (buffer NULL, or size below 2: the read status is left untouched).
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_ReadData(NetClientRequestHandle request,
                                                            void *buffer, uint32_t size,
                                                            uint32_t *bytes_read,
                                                            uint32_t *read_status);

/* ---- FTP operations ------------------------------------------------------------------ */
/*
 * Every FTP operation needs a slot in use, of type 13 and connected (NETCLIENT_E_HANDLE
 * otherwise). Waiting operations return NETCLIENT_E_TIMEOUT when the slot's time-out runs
 * out and NETCLIENT_ABORTED when the slot is aborted meanwhile.
 */

/*
 * NetClient_FTP_PutFile / NetClient_FTP_PutFileWithProgress: uploads local_path to
 * remote_path in 8 KB chunks (mode: NETCLIENT_FTP_MODE_*). Progress: 230 with the size,
 * then 231 with the running total after every chunk. Waiting: 0 once the server has the
 * whole file, NETCLIENT_E_LOCAL_FILE, NETCLIENT_E_WRITE, NETCLIENT_E_RESET,
 * NETCLIENT_E_TIMEOUT, NETCLIENT_ABORTED. Asynchronous: 0, then 220 once the first chunk
 * is on its way, and 204 once the remote file is complete and closed (an empty file
 * included: 204 alone); a failure reports 202 (the remote file could not be opened, or the
 * first chunk failed) or 207 (a later chunk failed, 232 before it for a reset).
 * A waiting upload paces itself at one 8 KB chunk per 16 ms.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_PutFile(NetClientRequestHandle request,
                                                               const char *local_path,
                                                               const char *remote_path,
                                                               uint32_t mode, uint32_t synchronous);
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_PutFileWithProgress(
    NetClientRequestHandle request, const char *local_path, const char *remote_path,
    uint32_t mode, uint32_t synchronous, NetClientProgressCallback progress,
    void *progress_context);

/* NetClient_FTP_GetFile: downloads remote_path into local_path (replaced; removed again on
 * failure). Waiting: 0, NETCLIENT_E_DOWNLOAD, NETCLIENT_E_TIMEOUT, NETCLIENT_ABORTED.
 * Asynchronous: 0, then 203 or 206. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_GetFile(NetClientRequestHandle request,
                                                               const char *local_path,
                                                               const char *remote_path,
                                                               uint32_t mode, uint32_t synchronous);

/* NetClient_FTP_DeleteFile: deletes a file, or removes an (empty) directory when
 * is_directory is non-zero. 0 or NETCLIENT_E_DELETE; asynchronous: 218. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_DeleteFile(NetClientRequestHandle request,
                                                                  const char *name,
                                                                  uint32_t is_directory,
                                                                  uint32_t synchronous);

/* NetClient_FTP_FindFirstFile: lists the entries matching pattern (Windows wildcards: "*.*"
 * matches every name) and fills *entry with the first. 0, NETCLIENT_E_NO_MORE_FILES,
 * NETCLIENT_E_FIND_FIRST; asynchronous: 0, then 212 (entry filled), 217 or 214. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_FindFirstFile(NetClientRequestHandle request,
                                                                     const char *pattern,
                                                                     NetClientFindEntry *entry,
                                                                     uint32_t synchronous);

/* NetClient_FTP_FindNextFile: the next entry. 0, NETCLIENT_E_NO_MORE_FILES,
 * NETCLIENT_E_FIND_NEXT, NETCLIENT_E_INVALIDARG (entry NULL); asynchronous: 0, then 213,
 * 216 or 215. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_FindNextFile(NetClientRequestHandle request,
                                                                    NetClientFindEntry *entry,
                                                                    uint32_t synchronous);

/* NetClient_FTP_CreateDir: creates a directory (create_parents: its first level first).
 * 0, NETCLIENT_E_DIR_EXISTS (reply 550), NETCLIENT_E_MKDIR; asynchronous: 208. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_CreateDir(NetClientRequestHandle request,
                                                                 const char *path,
                                                                 uint32_t create_parents,
                                                                 uint32_t synchronous);

/* NetClient_FTP_ChangeDir: changes the remote directory. 0; NETCLIENT_E_CHDIR only when the
 * server refused the change (a 5xx reply, such as 550 for a directory it does not have);
 * NETCLIENT_E_TIMEOUT when no reply came in time; NETCLIENT_E_NO_ANSWER when the change
 * failed otherwise without a refusal (the connection broke, the reply was a transient 4xx
 * or unreadable), so the directory may well exist; NETCLIENT_ABORTED. Asynchronous: 210. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_FTP_ChangeDir(NetClientRequestHandle request,
                                                                 const char *path,
                                                                 uint32_t synchronous);

/* ---- Helpers --------------------------------------------------------------------------- */

/* NetClient_CrackUrl: splits url into host, user, password, path, extra (query) and port of
 * *info (other fields untouched). Always 0 (a NULL argument, a URL that does not parse, or
 * one whose user name, password or path holds "%00", which would cut it short, leaves *info
 * as it was). */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_CrackUrl(const char *url,
                                                            NetClientRequestInfo *info);

/*
 * NetClient_PingHost: sends ICMP echo requests to the slot's host (a dotted IPv4 address)
 * once a second for up to timeout_ms, each waited for up to the rest of its second (also
 * through the system's echo helper, which Windows uses without administrator rights). 0 when
 * the host answered, NETCLIENT_E_TIMEOUT when it did not, NETCLIENT_ABORTED when the slot is
 * aborted meanwhile (the probe ends within a tenth of a second, or with the echo helper
 * within the second of the request still running), 0xFFFFFFFF when the host is not a dotted
 * address, no ICMP socket could be opened (on Linux: root, or net.ipv4.ping_group_range
 * admitting the caller's group) or a send or receive failed, NETCLIENT_E_HANDLE for NULL.
 * An ICMP "destination unreachable" counts as no answer, whether the system refuses the send
 * or one comes back for a request: a deliberate choice, since the host is gone for now (a
 * device that restarts is unreachable for a while), not a probe that failed.
 * Runs on the calling thread.
 */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_PingHost(uint32_t timeout_ms,
                                                            NetClientRequestHandle request);

/* NetClient_GetVersion: 5, 0, 0, 2 (any pointer may be NULL). Returns 0. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_GetVersion(uint8_t *v1, uint8_t *v2,
                                                              uint8_t *v3, uint8_t *v4);

/* NetClient_CheckVersion: 0 when (version & 0xFFFFFF) == 5, else NETCLIENT_E_VERSION. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_CheckVersion(uint32_t version);

/* NetClient_SetLogger: keeps the host's logger table (Kavrel_LogInit hands it over); the
 * layer writes nothing through it. Returns 0. */
NETCLIENT_EXTERN uint32_t NETCLIENT_CALL NetClient_SetLogger(const void *logger);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus)
#define NETCLIENT_STATIC_ASSERT_(cond, msg) static_assert(cond, msg)
#else
#define NETCLIENT_STATIC_ASSERT_(cond, msg) _Static_assert(cond, msg)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
NETCLIENT_STATIC_ASSERT_(offsetof(NetClientRequestInfo, content_length) == 16, "info length ptr");
NETCLIENT_STATIC_ASSERT_(offsetof(NetClientRequestInfo, host) == 24, "info host");
NETCLIENT_STATIC_ASSERT_(offsetof(NetClientRequestInfo, path) == 792, "info path");
NETCLIENT_STATIC_ASSERT_(offsetof(NetClientRequestInfo, extra) == 1816, "info extra");
NETCLIENT_STATIC_ASSERT_(offsetof(NetClientRequestInfo, context) == 3864, "info context");
NETCLIENT_STATIC_ASSERT_(offsetof(NetClientRequestInfo, parent_window) == 3880, "info window");
NETCLIENT_STATIC_ASSERT_(sizeof(NetClientRequestInfo) == 3888, "info size");
NETCLIENT_STATIC_ASSERT_(sizeof(NetClientProxyInfo) == 40, "proxy size");
#endif
NETCLIENT_STATIC_ASSERT_(offsetof(NetClientFindEntry, is_directory) == 260, "entry flag");
NETCLIENT_STATIC_ASSERT_(sizeof(NetClientFindEntry) == 264, "entry size");

#endif /* NETCLIENT_H */
