// TLS for INTERNET_FLAG_SECURE requests, with OpenSSL over the request's own non-blocking
// socket. One client context per process, built on first use with OpenSSL's default trust
// (the system store, or SSL_CERT_FILE / SSL_CERT_DIR when the host sets them).
#include <arpa/inet.h>
#include <errno.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <mutex>

#include "wininet_http_posix_internal.h"

namespace ncwin {

struct Tls {
  SSL *ssl = nullptr;
  int fd = -1;
};

namespace {

SSL_CTX *ClientContext() {
  static std::once_flag once;
  static SSL_CTX *ctx = nullptr;
  std::call_once(once, [] {
    SSL_CTX *c = SSL_CTX_new(TLS_client_method());
    if (c == nullptr) return;
    SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_default_verify_paths(c);
    ctx = c;
  });
  return ctx;
}

bool IsAddress(const std::string &host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Waits for what OpenSSL asked for after a call that returned r. 0 to go on, else the error.
DWORD WaitForSsl(Tls *tls, int r, int timeout_ms) {
  int err = SSL_get_error(tls->ssl, r);
  short events;
  if (err == SSL_ERROR_WANT_READ) {
    events = POLLIN;
  } else if (err == SSL_ERROR_WANT_WRITE) {
    events = POLLOUT;
  } else if (err == SSL_ERROR_ZERO_RETURN) {
    return ERROR_INTERNET_CONNECTION_ABORTED;
  } else {
    return ERROR_INTERNET_CONNECTION_RESET;
  }
  for (;;) {
    struct pollfd p = {tls->fd, events, 0};
    int ready = poll(&p, 1, timeout_ms);
    if (ready > 0) return 0;
    if (ready == 0) return ERROR_INTERNET_TIMEOUT;
    if (errno != EINTR) return ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

DWORD HandshakeError(Tls *tls) {
  long verify = SSL_get_verify_result(tls->ssl);
  if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
    return ERROR_INTERNET_SEC_CERT_CN_INVALID;
  }
  if (verify != X509_V_OK) return ERROR_INTERNET_INVALID_CA;
  return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

}  // namespace

DWORD TlsConnect(int fd, const std::string &host, int timeout_ms, Tls **out) {
  SSL_CTX *ctx = ClientContext();
  if (ctx == nullptr) return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
  Tls *tls = new Tls;
  tls->fd = fd;
  tls->ssl = SSL_new(ctx);
  if (tls->ssl == nullptr || SSL_set_fd(tls->ssl, fd) != 1) {
    TlsFree(tls);
    return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
  }
  X509_VERIFY_PARAM *param = SSL_get0_param(tls->ssl);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  bool address = IsAddress(host);
  bool named = address ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                       : X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0) == 1;
  if (!address) SSL_set_tlsext_host_name(tls->ssl, host.c_str());
  if (!named) {
    TlsFree(tls);
    return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
  }
  for (;;) {
    ERR_clear_error();
    int r = SSL_connect(tls->ssl);
    if (r == 1) break;
    int kind = SSL_get_error(tls->ssl, r);
    DWORD err = kind == SSL_ERROR_SSL ? HandshakeError(tls) : WaitForSsl(tls, r, timeout_ms);
    if (err != 0) {
      if (err == ERROR_INTERNET_CONNECTION_RESET) err = HandshakeError(tls);
      TlsFree(tls);
      return err;
    }
  }
  *out = tls;
  return 0;
}

DWORD TlsSend(Tls *tls, const void *data, size_t length, int timeout_ms) {
  const char *p = static_cast<const char *>(data);
  while (length > 0) {
    ERR_clear_error();
    size_t written = 0;
    int r = SSL_write_ex(tls->ssl, p, length, &written);
    if (r == 1) {
      p += written;
      length -= written;
      continue;
    }
    DWORD err = WaitForSsl(tls, r, timeout_ms);
    if (err != 0) return err == ERROR_INTERNET_TIMEOUT ? err : ERROR_INTERNET_CONNECTION_RESET;
  }
  return 0;
}

DWORD TlsRecv(Tls *tls, char *buffer, size_t capacity, int timeout_ms, size_t *got) {
  *got = 0;
  for (;;) {
    ERR_clear_error();
    int r = SSL_read_ex(tls->ssl, buffer, capacity, got);
    if (r == 1) return 0;
    int kind = SSL_get_error(tls->ssl, r);
    if (kind == SSL_ERROR_ZERO_RETURN) return 0;  // close_notify: the body ends here
    // A peer that closes without close_notify ends the stream as a plain close would; the
    // response's framing decides whether that was complete.
    if (kind == SSL_ERROR_SYSCALL || (kind == SSL_ERROR_SSL && ERR_peek_error() != 0 &&
                                      ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
      return 0;
    }
    DWORD err = WaitForSsl(tls, r, timeout_ms);
    if (err != 0) return err == ERROR_INTERNET_TIMEOUT ? err : ERROR_INTERNET_CONNECTION_ABORTED;
  }
}

void TlsFree(Tls *tls) {
  if (tls == nullptr) return;
  if (tls->ssl != nullptr) SSL_free(tls->ssl);
  delete tls;
}

}  // namespace ncwin
