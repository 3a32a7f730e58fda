/*
 * Tessum: scheduler agents, tokens, asynchronous TCP sockets and HTTP requests.
 *
 * Every function has C linkage and returns a 32-bit unsigned result: 0 when done or started,
 * else one of the statuses below (start failures are returned, never called back).
 *
 * Threads. One process-wide pool of a few threads (TESSUM_POOL_THREADS) serves every agent.
 * An operation that started (result 0) completes exactly once: Tessum fills the caller's
 * token (context, value, status) and calls the caller's callback with it, always on one of
 * the pool's threads, never from inside the call that started or withdrew the operation.
 * A callback may start further operations (with the same token too) and may release
 * handles; it must not wait for another Tessum completion.
 *
 * Ownership, the one rule for handles. A start function that creates a handle
 * (SMO_SocketConn_Init, SMO_SocketAccept_Init, SMO_HttpRequest_InitEx, SOCK_TO_COMM_TI) stores
 * it at the caller's destination before the operation begins, so that the callback, which
 * may run before the start returns, finds it there. From then on the handle is the
 * caller's, whatever the outcome: success, failure, time-out or withdrawal (0x80070043).
 * The caller releases it exactly once with COMMON_TI_Release, which is always safe on it,
 * also while an operation on it is pending (that operation then completes with 0x80070043)
 * and also after its agent was released. A start that fails leaves the destination as it
 * was.
 *
 * Statuses (the token's status field and the functions' results):
 *
 * | Status     | Name                 | Meaning                                                  |
 * |------------|----------------------|----------------------------------------------------------|
 * | 0x00000000 | TESSUM_OK            | done; for HTTP: the device answered 2xx                   |
 * | 0x8007000E | TESSUM_E_NOMEM       | out of memory (also RawMemAlloc's result)                 |
 * | 0x80070042 | TESSUM_E_TIMEOUT     | the token's time-out passed before the operation ended   |
 * | 0x80070043 | TESSUM_E_WITHDRAWN   | withdrawn by SCHEAGENT_RemoveToken, by COMMON_TI_Release  |
 * |            |                      | of its handle, or by SCHEAGENT_Release of its agent       |
 * | 0x80070057 | TESSUM_E_INVALIDARG  | a NULL or malformed argument; a request path holding CR,  |
 * |            |                      | LF, space, another control byte or no NUL, or not         |
 * |            |                      | starting with '/', is refused here before anything is sent|
 * | 0x80070071 | TESSUM_S_CLOSED      | a read found the peer closed the connection: the normal   |
 * |            |                      | end of a data stream; on an HTTP handle the end of a      |
 * |            |                      | complete body (never after a close in the middle of the   |
 * |            |                      | headers or before a declared Content-Length arrived)      |
 * | 0x80070072 | TESSUM_S_FTP_FINAL   | not produced by Tessum: the socket FTP client's "final    |
 * |            |                      | reply read" (success), kept in this one table             |
 * | 0x80070074 | TESSUM_E_WRAP        | SOCK_TO_COMM_TI could not wrap the socket; the socket FTP |
 * |            |                      | client also uses it when it cannot create its socket      |
 * | 0x80070076 | TESSUM_E_CONNECT     | the connection failed or was refused (also a host name    |
 * |            |                      | that does not resolve)                                    |
 * | 0x80070079 | TESSUM_E_SOCKET      | a read, write or accept failed (connection reset...)      |
 * | 0x8007007A | TESSUM_E_LISTEN      | not produced by Tessum: the socket FTP client's "bind or  |
 * |            |                      | listen failed" in active mode                             |
 * | 0x8007007B | TESSUM_E_HTTP        | HTTP failure: a status other than 2xx, 401, 404 (the      |
 * |            |                      | value holds it), a malformed reply, headers over 16 KB,   |
 * |            |                      | a close in the middle of the headers or of a body whose   |
 * |            |                      | Content-Length was declared, a chunked reply              |
 * | 0x8007007C | TESSUM_E_BUSY        | refused: the token already has a pending operation, or    |
 * |            |                      | the handle has one of the same kind (one read, one write, |
 * |            |                      | one accept at a time), or the handle is not ready (before |
 * |            |                      | its connect or accept completed with 0; an HTTP handle    |
 * |            |                      | before its request completed with 0)                      |
 * | 0x8007007D | TESSUM_E_NOTPENDING  | SCHEAGENT_RemoveToken: the token has no pending operation |
 * |            |                      | on that agent (it may have completed already)             |
 * | 0x80070082 | TESSUM_E_HTTP_AUTH   | HTTP 401: the device refused the credentials (after the   |
 * |            |                      | Digest answer when it asked for Digest); also HTTP 407    |
 * |            |                      | from the proxy                                            |
 * | 0x80070083 | TESSUM_E_HTTP_404    | HTTP 404                                                  |
 *
 * A negative result, read as int32_t, is a failure; 0x80070071 and 0x80070072 are the two
 * "failure-looking" statuses that mean a normal end.
 */
#ifndef TESSUM_H
#define TESSUM_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(TESSUM_BUILDING)
#define TESSUM_EXTERN __declspec(dllexport)
#else
#define TESSUM_EXTERN __declspec(dllimport)
#endif
#define TESSUM_CALL __stdcall
#else
#if defined(TESSUM_BUILDING)
#define TESSUM_EXTERN __attribute__((visibility("default")))
#else
#define TESSUM_EXTERN
#endif
#define TESSUM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define TESSUM_OK 0x00000000u
#define TESSUM_E_NOMEM 0x8007000Eu
#define TESSUM_E_TIMEOUT 0x80070042u
#define TESSUM_E_WITHDRAWN 0x80070043u
#define TESSUM_E_INVALIDARG 0x80070057u
#define TESSUM_S_CLOSED 0x80070071u
#define TESSUM_S_FTP_FINAL 0x80070072u
#define TESSUM_E_WRAP 0x80070074u
#define TESSUM_E_CONNECT 0x80070076u
#define TESSUM_E_SOCKET 0x80070079u
#define TESSUM_E_LISTEN 0x8007007Au
#define TESSUM_E_HTTP 0x8007007Bu
#define TESSUM_E_BUSY 0x8007007Cu
#define TESSUM_E_NOTPENDING 0x8007007Du
#define TESSUM_E_HTTP_AUTH 0x80070082u
#define TESSUM_E_HTTP_404 0x80070083u

/* The number of threads in the process-wide pool that runs every completion. */
#define TESSUM_POOL_THREADS 3

/* Reply headers longer than this fail with TESSUM_E_HTTP. */
#define TESSUM_HTTP_MAX_HEADERS 16384

/*
 * The token record: owned by the caller, one per operation in flight, and left alone by the
 * caller while its operation is pending (Tessum writes it at completion).
 * - `id` and `timeout_ms` together are the identifying word; `id` is the caller's own tag
 *   (Tessum never reads it), `timeout_ms` bounds every operation started with the token
 *   (connect; one read; one write until all bytes are written; one accept; an HTTP request
 *   through its reply headers). 0 means no bound.
 * - `context`: set by Tessum to the operation's callback context just before the callback.
 * - `value`: the caller may keep its own word here until a completion; then bytes moved
 *   (reads and writes), the HTTP status number (HTTP requests), or 0.
 * - `status`: the completion's status (table above).
 * - `reserved`: Tessum's; STATOKEN_TouchToken clears it.
 */
typedef struct TessumToken {
  uint32_t id;
  uint32_t timeout_ms;
  void *context;
  uint64_t value;
  uint32_t status;
  uint32_t reserved;
} TessumToken;

/* Completion callback: `token` is the token the operation was started with. */
typedef void(TESSUM_CALL *TessumCallback)(TessumToken *token);

/* A scheduler agent: groups operations so that they can be withdrawn by token. */
typedef struct TessumAgent TessumAgent;

/*
 * A transport handle: a connected socket, a listening socket or an HTTP request. Opaque but
 * for its second word, `socket`: the operating-system socket (SOCKET on Windows, the file
 * descriptor on POSIX; ~0 while there is none). Read it only once the operation that made
 * the handle has completed with 0; it belongs to the handle, never close it yourself.
 */
typedef struct TessumTransport {
  void *impl;
  uintptr_t socket;
} TessumTransport;
typedef TessumTransport *TessumHandle;

/* ---- Agents and tokens --------------------------------------------------------------- */

/*
 * SCHEAGENT_Initialize: creates an agent (and starts the shared pool with the first agent).
 * `agent`: where the agent is stored. `mode`: pass 1. Results: 0; TESSUM_E_INVALIDARG for a
 * NULL `agent` or another mode; TESSUM_E_NOMEM.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SCHEAGENT_Initialize(TessumAgent **agent, uint32_t mode);

/*
 * SCHEAGENT_Release: withdraws every pending operation of the agent (each completes once
 * with 0x80070043), waits until their callbacks have returned (unless called from a
 * callback, which cannot wait for itself), destroys the agent and clears `*agent`. Handles
 * the agent made stay the caller's to release. The last agent stops the pool's threads
 * (released from a callback, it leaves them running for the next agent).
 * Do not call it while holding a lock that the agent's callbacks take: it waits for them.
 * Results: 0; TESSUM_E_INVALIDARG when `agent` or `*agent` is NULL.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SCHEAGENT_Release(TessumAgent **agent);

/*
 * SCHEAGENT_RemoveToken: withdraws the operation pending with `token` on `agent`. Its
 * callback then runs exactly once with status 0x80070043, on a pool thread, never from
 * inside this call (so the caller may hold its own locks while calling); after that callback
 * Tessum never touches the token or the operation's buffer again. Until that callback the
 * token counts as pending (a new start with it is refused with TESSUM_E_BUSY). Any handle
 * the operation made or used stays the caller's to release (COMMON_TI_Release is safe on it).
 * `kind`: pass 2. Results: 0 when withdrawn; TESSUM_E_NOTPENDING when nothing is pending
 * with the token (for instance it has just completed: its callback runs or has run with
 * the real status); TESSUM_E_INVALIDARG for NULL arguments or another kind.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SCHEAGENT_RemoveToken(TessumAgent *agent, uint32_t kind,
                                                       TessumToken *token);

/*
 * STATOKEN_TouchToken: readies a token for its next operation: clears `status` and
 * `reserved`, keeps `id`, `timeout_ms`, `context` and `value`. Call it right before each
 * start. Results: 0; TESSUM_E_INVALIDARG for NULL.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL STATOKEN_TouchToken(TessumToken *token);

/* ---- Sockets ------------------------------------------------------------------------- */

/*
 * SMO_SocketConn_Init: starts a TCP connection to an IPv4 address.
 * `address`: the IPv4 address in host byte order (127.0.0.1 is 0x7F000001); `port`: 1-65535.
 * `handle`: receives the new handle before the call returns 0 (see the ownership rule).
 * Completion: status 0 connected; 0x80070076 refused or failed; 0x80070042 time-out;
 * 0x80070043 withdrawn. Value 0.
 * Results: 0 started; TESSUM_E_INVALIDARG; TESSUM_E_BUSY (token pending); TESSUM_E_NOMEM.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_SocketConn_Init(TessumAgent *agent, TessumToken *token,
                                                     TessumCallback callback, void *context,
                                                     uint32_t address, uint32_t port,
                                                     TessumHandle *handle);

/*
 * SMO_SocketAccept_Init: accepts one connection on a listening handle (made with
 * SOCK_TO_COMM_TI from a socket that listens). `handle` receives the new connection's handle
 * before the call returns 0; it becomes usable when the completion reports 0.
 * Completion: 0 accepted; 0x80070079 accept failed; 0x80070042; 0x80070043. Value 0.
 * Results: 0; TESSUM_E_INVALIDARG; TESSUM_E_BUSY (token pending, or an accept is pending on
 * the listening handle); TESSUM_E_NOMEM.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_SocketAccept_Init(TessumAgent *agent, TessumToken *token,
                                                       TessumCallback callback, void *context,
                                                       TessumHandle listening,
                                                       TessumHandle *handle);

/*
 * SOCK_TO_COMM_TI: wraps an operating-system socket (IPv4 or IPv6 TCP, connected or
 * listening) as a transport handle of `agent`, synchronously. On success the handle owns the
 * socket (COMMON_TI_Release closes it); on failure the socket stays the caller's.
 * The four reserved arguments must be 0.
 * Results: 0 and `*handle` set; TESSUM_E_WRAP the socket could not be taken;
 * TESSUM_E_INVALIDARG.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SOCK_TO_COMM_TI(TessumHandle *handle, TessumAgent *agent,
                                                 uintptr_t socket, uintptr_t reserved1,
                                                 uintptr_t reserved2, uintptr_t reserved3,
                                                 uintptr_t reserved4);

/*
 * COMMON_TI_ReadData: one read of at most `maximum` bytes into `buffer`.
 * On a socket handle: the bytes that arrive first. On an HTTP handle (after its request
 * completed with 0): the reply body; the first read returns the body bytes that arrived
 * with the headers, and reads stop at the declared Content-Length.
 * Completion: status 0 with the byte count (at least 1) in the value; 0x80070071 with value
 * 0 at the end (peer closed; on an HTTP handle the body is complete); 0x8007007B on an HTTP
 * handle whose peer closed before the declared length; 0x80070079; 0x80070042; 0x80070043.
 * Tessum writes `buffer` only just before calling back, never after a withdrawal, so the
 * buffer may be freed once the callback ran. `mode`: pass 1.
 * Results: 0; TESSUM_E_INVALIDARG (NULL, `maximum` 0, another mode); TESSUM_E_BUSY (token
 * pending, a read pending on the handle, or an HTTP handle not ready); TESSUM_E_NOMEM.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL COMMON_TI_ReadData(TessumHandle handle, TessumToken *token,
                                                    TessumCallback callback, void *context,
                                                    uint32_t maximum, void *buffer,
                                                    uint32_t mode);

/*
 * COMMON_TI_WriteData: writes all `length` bytes of `buffer` to a socket handle. The bytes
 * are copied before the call returns, so the buffer is free at once.
 * Completion: 0 with `length` in the value; 0x80070079; 0x80070042; 0x80070043.
 * Results: 0; TESSUM_E_INVALIDARG (NULL, length 0, an HTTP or listening handle);
 * TESSUM_E_BUSY (token pending or a write pending on the handle); TESSUM_E_NOMEM.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL COMMON_TI_WriteData(TessumHandle handle, TessumToken *token,
                                                     TessumCallback callback, void *context,
                                                     uint32_t length, const void *buffer);

/*
 * COMMON_TI_Release: closes a handle of any kind and clears `*handle`. Operations pending on
 * it complete with 0x80070043 (on a pool thread). Safe on a handle whose operation was
 * withdrawn, timed out or failed, and after the agent's release. Results: 0;
 * TESSUM_E_INVALIDARG when `handle` is NULL (a NULL `*handle` is 0, nothing to do).
 */
TESSUM_EXTERN uint32_t TESSUM_CALL COMMON_TI_Release(TessumHandle *handle);

/* ---- Memory -------------------------------------------------------------------------- */

/*
 * RawMemAlloc: allocates `size` bytes, zero-filled, into `*memory`. Results: 0;
 * TESSUM_E_NOMEM (negative as int32_t; `*memory` set to NULL); TESSUM_E_INVALIDARG for a
 * NULL `memory`. A size of 0 allocates one byte.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL RawMemAlloc(size_t size, void **memory);

/* RawMemFree: frees `*memory` (NULL is fine) and clears it. Results: 0; TESSUM_E_INVALIDARG. */
TESSUM_EXTERN uint32_t TESSUM_CALL RawMemFree(void **memory);

/* ---- HTTP requests ------------------------------------------------------------------- */

#define TESSUM_HTTP_GET 0u
#define TESSUM_HTTP_POST 1u

/*
 * Where an HTTP request goes. Filled by SMO_HttpRequest_SetConn.
 * - `use_proxy`: non-zero sends the request to the proxy at `proxy_host`:`proxy_port` with
 *   an absolute-URI request line ("GET http://host:port/path HTTP/1.0").
 * - `proxy_port`, `port`: TCP ports, 1-65535 (0 for `port` means 80).
 * - `proxy_host`, `host`: dotted IPv4 text or a host name, NUL-terminated.
 */
typedef struct TessumHttpConn {
  uint32_t use_proxy;
  uint32_t proxy_port;
  uint32_t port;
  uint32_t reserved;
  char proxy_host[256];
  char host[256];
} TessumHttpConn;

/*
 * One HTTP request, filled by the caller (zero it first). Read only while
 * SMO_HttpRequest_InitEx runs (Tessum copies what it needs), so it may be reused at once.
 * - `conn`: where to (SMO_HttpRequest_SetConn).
 * - `method`: TESSUM_HTTP_GET or TESSUM_HTTP_POST.
 * - `timeout_ms`: the bound over connect, request and reply headers (a Digest round counts
 *   in the same bound); 0 takes the token's `timeout_ms`; both 0: no bound.
 * - `path`: the request target as the device sees it, "/cgi-bin/x.cgi?a=b", NUL-terminated,
 *   sent as given (no encoding). Empty, not starting with '/', without a NUL, or holding a
 *   space, CR, LF or other control byte: refused with TESSUM_E_INVALIDARG before anything
 *   is sent.
 * - `user`, `password`: the device's credentials (empty user: none). Sent as Basic with the
 *   request; when the device answers 401 with a Digest challenge (MD5, SHA-256 or their
 *   -sess forms, qop auth or none; SHA-256 preferred when both are offered), the request is
 *   repeated once on a new connection with a Digest answer; Basic is never tried again
 *   after a Digest challenge. A second 401 gives 0x80070082. The Digest "uri" is `path`.
 * - `proxy_user`, `proxy_password`: the proxy's credentials, sent as Proxy-Authorization
 *   Basic with every request through the proxy (up front, one round trip) when
 *   `proxy_user` is not empty. A 407 gives 0x80070082 (so does a proxy that refuses with
 *   401, as some do for plain requests: it reads as a device's 401).
 * - `body`, `body_length`: a POST's body, sent as application/x-www-form-urlencoded with
 *   its Content-Length (copied at the start; NULL or 0: empty). Not read for GET.
 * Credentials and host names holding CR or LF are refused with TESSUM_E_INVALIDARG.
 */
typedef struct TessumHttpRequest {
  TessumHttpConn conn;
  uint32_t method;
  uint32_t timeout_ms;
  char path[2048];
  char user[65];
  char password[65];
  char proxy_user[65];
  char proxy_password[65];
  const char *body;
  uint32_t body_length;
  uint32_t reserved;
} TessumHttpRequest;

/*
 * SMO_HttpRequest_SetConn: fills a connection record. `use_proxy` non-zero with a non-empty
 * `proxy_host` uses the proxy (otherwise `use_proxy` is stored as 0 and the proxy fields are
 * cleared). Strings longer than 255 characters are refused.
 * Results: 0; TESSUM_E_INVALIDARG (NULL `conn` or `host`, a string too long).
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_HttpRequest_SetConn(TessumHttpConn *conn,
                                                         uint32_t use_proxy,
                                                         const char *proxy_host,
                                                         uint32_t proxy_port, const char *host,
                                                         uint32_t port);

/*
 * SMO_HttpRequest_InitEx: starts an HTTP/1.0 request ("Connection: close").
 * Argument order, fixed here for every caller:
 *   (agent, token, callback, context, request, handle destination, flags)
 * `request->conn` is the connection part; `handle` receives the HTTP handle before the call
 * returns 0 (see the ownership rule); `flags`: pass 0.
 * The body reads that follow are bounded each by the time-out of the token they are given
 * (0: unbounded), so give them one.
 * Completion, once the reply headers are in (or the request failed): status 0 for 2xx,
 * 0x80070082 for 401/407, 0x80070083 for 404, 0x8007007B for another status or a bad reply,
 * 0x80070076, 0x80070079, 0x80070042, 0x80070043; the value holds the HTTP status number
 * when a reply was read (else 0). After 0, read the body with COMMON_TI_ReadData on the
 * handle until 0x80070071 (complete) or a failure.
 * Results: 0; TESSUM_E_INVALIDARG (NULL, a refused path, credentials or host, flags);
 * TESSUM_E_BUSY (token pending); TESSUM_E_NOMEM.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_HttpRequest_InitEx(TessumAgent *agent, TessumToken *token,
                                                        TessumCallback callback, void *context,
                                                        const TessumHttpRequest *request,
                                                        TessumHandle *handle, uint32_t flags);

/* ---- HTTP requests on the caller's thread ------------------------------------------- */

/*
 * A call runs one HTTP request on the thread that calls SMO_HttpCall_Run and
 * SMO_HttpCall_Read, from the connect to the last byte of the body: no pool thread takes part
 * and nothing calls back, so it needs no agent. It speaks as SMO_HttpRequest_InitEx does
 * (the same request, Basic and Digest, the proxy, the same statuses); only another thread's
 * SMO_HttpCall_Abort touches it meanwhile. A host name is looked up on a short-lived thread
 * of its own that the call abandons on a time-out or an abort.
 */
typedef struct TessumCall TessumCall;

/* SMO_HttpCall_Create: a new call. Results: 0; TESSUM_E_INVALIDARG; TESSUM_E_NOMEM. */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_HttpCall_Create(TessumCall **call);

/*
 * SMO_HttpCall_Run: sends `request` and waits for the reply headers under the request's
 * `timeout_ms` (one bound over the name lookup, connect, request and headers, a Digest
 * round included; 0: no bound). Results as SMO_HttpRequest_InitEx's completion: 0 for 2xx,
 * then read the body with SMO_HttpCall_Read; `*code` (may be NULL) gets the HTTP status
 * number when a reply was read. TESSUM_E_BUSY when the call already ran.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_HttpCall_Run(TessumCall *call,
                                                  const TessumHttpRequest *request,
                                                  uint64_t *code);

/*
 * SMO_HttpCall_Read: one piece of the body, at most `maximum` bytes, into `buffer`, waiting
 * at most `timeout_ms` (0: no bound) for it. 0 with `*got` bytes; 0x80070071 at the end of
 * a complete body; 0x8007007B when the peer closed before a declared length arrived;
 * 0x80070042, 0x80070043, 0x80070079. TESSUM_E_BUSY before a successful Run.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_HttpCall_Read(TessumCall *call, void *buffer,
                                                   uint32_t maximum, uint32_t timeout_ms,
                                                   uint32_t *got);

/*
 * SMO_HttpCall_Abort: from any thread while the call exists (the caller sees to that, for
 * example by releasing the call only after it withdrew it from where aborts find it): the
 * wait of Run or Read in progress, and every later one, ends at once with 0x80070043. The
 * socket stays the calling thread's, closed by SMO_HttpCall_Release.
 */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_HttpCall_Abort(TessumCall *call);

/* SMO_HttpCall_Release: closes the connection, frees the call and clears `*call`. */
TESSUM_EXTERN uint32_t TESSUM_CALL SMO_HttpCall_Release(TessumCall **call);

#ifdef __cplusplus
}
#endif

/* The records' layouts are fixed. */
#if defined(__cplusplus)
#define TESSUM_STATIC_ASSERT_(cond, msg) static_assert(cond, msg)
#else
#define TESSUM_STATIC_ASSERT_(cond, msg) _Static_assert(cond, msg)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
TESSUM_STATIC_ASSERT_(offsetof(TessumToken, timeout_ms) == 4, "token timeout");
TESSUM_STATIC_ASSERT_(offsetof(TessumToken, context) == 8, "token context");
TESSUM_STATIC_ASSERT_(offsetof(TessumToken, value) == 16, "token value");
TESSUM_STATIC_ASSERT_(offsetof(TessumToken, status) == 24, "token status");
TESSUM_STATIC_ASSERT_(sizeof(TessumToken) == 32, "token size");
TESSUM_STATIC_ASSERT_(offsetof(TessumTransport, socket) == 8, "handle socket word");
TESSUM_STATIC_ASSERT_(sizeof(TessumHttpConn) == 528, "connection size");
TESSUM_STATIC_ASSERT_(offsetof(TessumHttpRequest, path) == 536, "request path");
TESSUM_STATIC_ASSERT_(offsetof(TessumHttpRequest, user) == 2584, "request user");
TESSUM_STATIC_ASSERT_(offsetof(TessumHttpRequest, body) == 2848, "request body");
TESSUM_STATIC_ASSERT_(sizeof(TessumHttpRequest) == 2864, "request size");
#endif

#endif /* TESSUM_H */
