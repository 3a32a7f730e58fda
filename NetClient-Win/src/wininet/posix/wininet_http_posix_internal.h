// Internals of the HTTP side of the POSIX WinINet layer: answers to authentication
// challenges (wininet_auth_posix.cpp) and TLS over a connected socket (wininet_tls_posix.cpp,
// OpenSSL).
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "nc_wininet.h"
#include "wininet_http_parse_posix.h"

namespace ncwin {

// Picks the challenge to answer among the values of WWW-Authenticate or Proxy-Authenticate:
// Digest SHA-256 first, then Digest MD5 (each only with qop "auth" or no qop), then Basic.
// False when none of them can be answered.
bool PickChallenge(const std::vector<std::string> &values, AuthChallenge *out);

// The Authorization (or Proxy-Authorization) value that answers challenge for method and
// request-target uri. *nc counts the requests answered with one Digest nonce.
std::string AnswerChallenge(const AuthChallenge &challenge, const std::string &user,
                            const std::string &password, const std::string &method,
                            const std::string &uri, uint32_t *nc);

// A TLS session over a connected non-blocking socket. The socket stays the caller's.
struct Tls;

// Handshakes as a client of host (its name or IP address is checked against the
// certificate) within timeout_ms. 0, 12002, 12045 (the chain does not verify), 12037 (the
// certificate names another host), 12157 (any other TLS failure), 12030 (peer closed).
DWORD TlsConnect(int fd, const std::string &host, int timeout_ms, Tls **out);
// 0, 12002, 12031.
DWORD TlsSend(Tls *tls, const void *data, size_t length, int timeout_ms);
// Up to capacity bytes; *got 0 when the peer closed. 0, 12002, 12030.
DWORD TlsRecv(Tls *tls, char *buffer, size_t capacity, int timeout_ms, size_t *got);
void TlsFree(Tls *tls);

}  // namespace ncwin
