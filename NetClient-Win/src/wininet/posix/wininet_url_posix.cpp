// InternetCrackUrlA of the POSIX WinINet layer: scheme://[user[:password]@]host[:port]
// [/path][?query|#fragment], with the scheme's default port and, with ICU_DECODE, %xx
// escapes decoded in user name, password and path.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "wininet_posix_internal.h"

namespace {

std::string Decode(const std::string &in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size() && isxdigit(static_cast<unsigned char>(in[i + 1])) &&
        isxdigit(static_cast<unsigned char>(in[i + 2]))) {
      out += static_cast<char>(strtol(in.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += in[i];
    }
  }
  return out;
}

// Copies one component into the caller's buffer; false when it does not fit.
bool Put(const std::string &value, LPSTR buffer, DWORD *length) {
  if (buffer == nullptr) return true;
  if (value.size() >= *length) {
    *length = static_cast<DWORD>(value.size() + 1);
    return false;
  }
  memcpy(buffer, value.c_str(), value.size() + 1);
  *length = static_cast<DWORD>(value.size());
  return true;
}

}  // namespace

BOOL InternetCrackUrlA(LPCSTR url, DWORD url_length, DWORD flags, URL_COMPONENTSA *parts) {
  if (url == nullptr || parts == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string text = url_length != 0 ? std::string(url, url_length) : std::string(url);
  size_t colon = text.find("://");
  if (colon == std::string::npos || colon == 0) {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return FALSE;
  }
  std::string scheme = text.substr(0, colon);
  INTERNET_PORT port;
  if (strcasecmp(scheme.c_str(), "http") == 0) {
    port = 80;
  } else if (strcasecmp(scheme.c_str(), "https") == 0) {
    port = 443;
  } else if (strcasecmp(scheme.c_str(), "ftp") == 0) {
    port = 21;
  } else {
    SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    return FALSE;
  }
  std::string rest = text.substr(colon + 3);
  size_t path_at = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, path_at);
  std::string tail = path_at == std::string::npos ? "" : rest.substr(path_at);
  size_t extra_at = tail.find_first_of("?#");
  std::string path = tail.substr(0, extra_at);
  std::string extra = extra_at == std::string::npos ? "" : tail.substr(extra_at);

  std::string user, password;
  size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    std::string info = authority.substr(0, at);
    authority.erase(0, at + 1);
    size_t sep = info.find(':');
    user = info.substr(0, sep);
    if (sep != std::string::npos) password = info.substr(sep + 1);
  }
  std::string host = authority;
  size_t port_at = authority.rfind(':');
  size_t bracket = authority.rfind(']');
  if (port_at != std::string::npos && (bracket == std::string::npos || port_at > bracket)) {
    host = authority.substr(0, port_at);
    std::string digits = authority.substr(port_at + 1);
    char *end = nullptr;
    long value = strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || value < 1 || value > 65535) {
      SetLastError(ERROR_INTERNET_INVALID_URL);
      return FALSE;
    }
    port = static_cast<INTERNET_PORT>(value);
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) {
    SetLastError(ERROR_INTERNET_INVALID_URL);
    return FALSE;
  }
  if ((flags & ICU_DECODE) != 0) {
    user = Decode(user);
    password = Decode(password);
    path = Decode(path);
  }
  bool fits = Put(scheme, parts->lpszScheme, &parts->dwSchemeLength) &&
              Put(host, parts->lpszHostName, &parts->dwHostNameLength) &&
              Put(user, parts->lpszUserName, &parts->dwUserNameLength) &&
              Put(password, parts->lpszPassword, &parts->dwPasswordLength) &&
              Put(path, parts->lpszUrlPath, &parts->dwUrlPathLength) &&
              Put(extra, parts->lpszExtraInfo, &parts->dwExtraInfoLength);
  if (!fits) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  parts->nPort = port;
  return TRUE;
}
