// The WinINet boundary on POSIX: a WinINet-compatible layer over sockets, providing exactly
// what the network client uses and no more.
//
// Scope:
// - Handles: the root (InternetOpenA), FTP connections (InternetConnectA with
//   INTERNET_SERVICE_FTP), FTP files opened for writing (FtpOpenFileA with GENERIC_WRITE) and
//   FTP finds (FtpFindFirstFileA). Handle values are never reused within a process.
// - Asynchronous mode only (INTERNET_FLAG_ASYNC on the root). A call that needs the network
//   fails with ERROR_IO_PENDING and its completion arrives as INTERNET_STATUS_REQUEST_COMPLETE
//   on the connection's own thread; the notifications are HANDLE_CREATED, REQUEST_COMPLETE,
//   HANDLE_CLOSING, RECEIVING_RESPONSE and RESPONSE_RECEIVED. InternetFindNextFileA answers at
//   once from the listing that FtpFindFirstFileA fetched.
// - Once a handle is closed (or its connection is), nothing more is reported for it but
//   HANDLE_CLOSING: an operation cancelled by the close reports nothing.
// - FTP runs passive (PASV; the data connection goes to the control connection's peer
//   address). FTP connects directly: a proxy set on the root is kept but, as with the
//   platform service when its proxy is an HTTP proxy, FTP does not go through it.
// - Errors: ERROR_INTERNET_TIMEOUT (12002) when the receive/send time-out runs out,
//   ERROR_INTERNET_EXTENDED_ERROR (12003) for a refusing reply (text through
//   InternetGetLastResponseInfoA, per thread), 12013/12014 for a refused user name or
//   password, ERROR_INTERNET_CANNOT_CONNECT (12029), ERROR_INTERNET_CONNECTION_ABORTED (12030)
//   for a peer that closed or sent a malformed reply, ERROR_INTERNET_CONNECTION_RESET
//   (12031) for a reset during a transfer, ERROR_NO_MORE_FILES (18) for an empty find.
// - Closing an FTP file opened for writing reads the server's final reply (226) at once when
//   the connection is idle and returns FALSE when it does not confirm the transfer.
// - HTTP (wininet_http_posix.cpp): InternetConnectA with INTERNET_SERVICE_HTTP gives a session
//   handle at once (no network yet); HttpOpenRequestA a request handle at once; both are
//   announced with HANDLE_CREATED. HttpSendRequestA fails with ERROR_IO_PENDING and completes
//   on the request's own thread once the final response head has arrived (dwResult TRUE), or
//   with 12029 (refused or unreachable), 12002 (time-out), 12030 (peer closed or a malformed
//   response), 12045 (a server certificate that does not verify), 12037 (a certificate for
//   another name), 12157 (any other TLS failure). Every send opens a new connection and
//   speaks HTTP/1.1 with "Connection: close".
// - Challenges: a 401 (WWW-Authenticate) or 407 (Proxy-Authenticate) whose Basic or Digest
//   challenge (MD5 or SHA-256, qop "auth" or none) can be answered with the credentials set
//   on the request (INTERNET_OPTION_USERNAME / PASSWORD, else those of InternetConnectA) or
//   the proxy credentials of its session (INTERNET_OPTION_PROXY_USERNAME / PASSWORD) is
//   answered inside the send, once per send and per kind: a challenge costs one more request
//   on the wire (two in all), and the caller sees the 401 or 407 only when the answered
//   request is refused again or no credentials were set. A request handle remembers the last
//   challenge of each kind, so a later send on the same handle (the caller's resend after it
//   set proxy credentials) carries the answer on its first request: a 407 followed by a
//   resend with proxy credentials is two requests in all.
// - Proxy: the root's proxy ("http://host:port", from InternetOpenA or INTERNET_OPTION_PROXY)
//   carries HTTP requests in absolute form and HTTPS through CONNECT (its 407 answered as
//   above); a host in the bypass list (';' or ' ' separated, Windows wildcards, "<local>" for
//   names without a dot) connects directly.
// - TLS (INTERNET_FLAG_SECURE) with OpenSSL: TLS 1.2 or later, the server's chain verified
//   against OpenSSL's default trust (the system's store), and its name or IP address checked.
//   A host trusts its own certificate authority the way OpenSSL programs do: add it to the
//   system store (update-ca-certificates), or name a PEM file or a hashed folder in the
//   environment variables SSL_CERT_FILE / SSL_CERT_DIR before the first HTTPS request of the
//   process (they replace the default store). On Windows the system's certificate store
//   decides.
// - InternetReadFileExA answers at once from body bytes already received (dwBufferLength 0
//   once the body is complete) and otherwise fails with ERROR_IO_PENDING, filling the record
//   on the request's thread before REQUEST_COMPLETE; RECEIVING_RESPONSE and RESPONSE_RECEIVED
//   bracket every wait for the network. A body that ends before its declared length or last
//   chunk fails with 12030. Closing the handle cancels a pending read: nothing is written
//   into the caller's buffer after InternetCloseHandle returns.
// - InternetErrorDlg shows nothing here (there is no window system) and answers
//   ERROR_CANCELLED.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint32_t DWORD;
typedef uintptr_t DWORD_PTR;
typedef int BOOL;
typedef DWORD *LPDWORD;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef uint16_t INTERNET_PORT;
typedef void *HINTERNET;
typedef HINTERNET *LPHINTERNET;
typedef void *HWND;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define WINAPI
#define CALLBACK
#define MAX_PATH 260

typedef void(CALLBACK *INTERNET_STATUS_CALLBACK)(HINTERNET handle, DWORD_PTR context,
                                                 DWORD status, LPVOID info, DWORD info_length);
#define INTERNET_INVALID_STATUS_CALLBACK ((INTERNET_STATUS_CALLBACK)(intptr_t)-1)

typedef struct {
  DWORD_PTR dwResult;
  DWORD dwError;
} INTERNET_ASYNC_RESULT;

typedef struct {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef struct _INTERNET_BUFFERSA {
  DWORD dwStructSize;
  struct _INTERNET_BUFFERSA *Next;
  LPCSTR lpcszHeader;
  DWORD dwHeadersLength;
  DWORD dwHeadersTotal;
  LPVOID lpvBuffer;
  DWORD dwBufferLength;
  DWORD dwBufferTotal;
  DWORD dwOffsetLow;
  DWORD dwOffsetHigh;
} INTERNET_BUFFERSA, *LPINTERNET_BUFFERSA;
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(INTERNET_BUFFERSA) == 56, "the platform record's size");
#endif

typedef struct {
  DWORD dwAccessType;
  LPCSTR lpszProxy;
  LPCSTR lpszProxyBypass;
} INTERNET_PROXY_INFO;

typedef struct {
  DWORD dwStructSize;
  LPSTR lpszScheme;
  DWORD dwSchemeLength;
  int nScheme;
  LPSTR lpszHostName;
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;
  LPSTR lpszUserName;
  DWORD dwUserNameLength;
  LPSTR lpszPassword;
  DWORD dwPasswordLength;
  LPSTR lpszUrlPath;
  DWORD dwUrlPathLength;
  LPSTR lpszExtraInfo;
  DWORD dwExtraInfoLength;
} URL_COMPONENTSA;

#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3
#define INTERNET_FLAG_ASYNC 0x10000000u
#define INTERNET_FLAG_PASSIVE 0x08000000u
#define INTERNET_FLAG_RELOAD 0x80000000u
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define INTERNET_FLAG_SECURE 0x00800000u
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100u
#define INTERNET_SERVICE_FTP 1
#define INTERNET_SERVICE_HTTP 3
#define FTP_TRANSFER_TYPE_ASCII 0x00000001u
#define FTP_TRANSFER_TYPE_BINARY 0x00000002u
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define ICU_DECODE 0x10000000u
#define INTERNET_DEFAULT_HTTP_PORT 80
#define INTERNET_DEFAULT_HTTPS_PORT 443
#define HTTP_QUERY_CONTENT_LENGTH 5
#define HTTP_QUERY_STATUS_CODE 19
#define FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS 0x02u

#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6
#define INTERNET_OPTION_USERNAME 28
#define INTERNET_OPTION_PASSWORD 29
#define INTERNET_OPTION_PROXY 38
#define INTERNET_OPTION_PROXY_USERNAME 43
#define INTERNET_OPTION_PROXY_PASSWORD 44
#define INTERNET_OPTION_MAX_CONNS_PER_SERVER 73
#define INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER 74

#define INTERNET_STATUS_RECEIVING_RESPONSE 40
#define INTERNET_STATUS_RESPONSE_RECEIVED 41
#define INTERNET_STATUS_HANDLE_CREATED 60
#define INTERNET_STATUS_HANDLE_CLOSING 70
#define INTERNET_STATUS_REQUEST_COMPLETE 100

#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_IO_PENDING 997L
#define ERROR_CANCELLED 1223L
#define ERROR_INTERNET_TIMEOUT 12002L
#define ERROR_INTERNET_EXTENDED_ERROR 12003L
#define ERROR_INTERNET_INVALID_URL 12005L
#define ERROR_INTERNET_UNRECOGNIZED_SCHEME 12006L
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007L
#define ERROR_INTERNET_INCORRECT_USER_NAME 12013L
#define ERROR_INTERNET_INCORRECT_PASSWORD 12014L
#define ERROR_INTERNET_OPERATION_CANCELLED 12017L
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018L
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019L
#define ERROR_INTERNET_CANNOT_CONNECT 12029L
#define ERROR_INTERNET_CONNECTION_ABORTED 12030L
#define ERROR_INTERNET_CONNECTION_RESET 12031L
#define ERROR_INTERNET_FORCE_RETRY 12032L
#define ERROR_INTERNET_SEC_CERT_CN_INVALID 12037L
#define ERROR_INTERNET_INVALID_CA 12045L
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157L
#define ERROR_HTTP_HEADER_NOT_FOUND 12150L
#define ERROR_FTP_TRANSFER_IN_PROGRESS 12110L

DWORD GetLastError(void);
void SetLastError(DWORD error);
void OutputDebugStringA(LPCSTR text);

HINTERNET InternetOpenA(LPCSTR agent, DWORD access_type, LPCSTR proxy, LPCSTR bypass,
                        DWORD flags);
INTERNET_STATUS_CALLBACK InternetSetStatusCallback(HINTERNET handle,
                                                   INTERNET_STATUS_CALLBACK callback);
BOOL InternetCloseHandle(HINTERNET handle);
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
BOOL InternetGetLastResponseInfoA(LPDWORD error, LPSTR buffer, LPDWORD length);
BOOL InternetCrackUrlA(LPCSTR url, DWORD url_length, DWORD flags, URL_COMPONENTSA *parts);

HINTERNET InternetConnectA(HINTERNET root, LPCSTR host, INTERNET_PORT port, LPCSTR user,
                           LPCSTR password, DWORD service, DWORD flags, DWORD_PTR context);
BOOL FtpCommandA(HINTERNET connection, BOOL expect_response, DWORD flags, LPCSTR command,
                 DWORD_PTR context, HINTERNET *command_handle);
HINTERNET FtpOpenFileA(HINTERNET connection, LPCSTR name, DWORD access, DWORD flags,
                       DWORD_PTR context);
BOOL InternetWriteFile(HINTERNET file, LPCVOID buffer, DWORD length, LPDWORD written);
BOOL FtpGetFileA(HINTERNET connection, LPCSTR remote, LPCSTR local, BOOL fail_if_exists,
                 DWORD attributes, DWORD flags, DWORD_PTR context);
BOOL FtpCreateDirectoryA(HINTERNET connection, LPCSTR directory);
BOOL FtpSetCurrentDirectoryA(HINTERNET connection, LPCSTR directory);
BOOL FtpDeleteFileA(HINTERNET connection, LPCSTR name);
BOOL FtpRemoveDirectoryA(HINTERNET connection, LPCSTR directory);
HINTERNET FtpFindFirstFileA(HINTERNET connection, LPCSTR pattern, LPWIN32_FIND_DATAA data,
                            DWORD flags, DWORD_PTR context);
BOOL InternetFindNextFileA(HINTERNET find, LPVOID data);

BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD length);
HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version,
                           LPCSTR referrer, LPCSTR *accept_types, DWORD flags,
                           DWORD_PTR context);
BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headers_length, LPVOID optional,
                      DWORD optional_length);
BOOL HttpQueryInfoA(HINTERNET request, DWORD info_level, LPVOID buffer, LPDWORD length,
                    LPDWORD index);
BOOL InternetReadFileExA(HINTERNET request, LPINTERNET_BUFFERSA buffers, DWORD flags,
                         DWORD_PTR context);
DWORD InternetErrorDlg(HWND parent, HINTERNET request, DWORD error, DWORD flags, LPVOID *data);
