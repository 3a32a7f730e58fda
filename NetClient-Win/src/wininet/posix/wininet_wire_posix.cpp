// The FTP wire of the POSIX WinINet layer: TCP connect, control replies, passive replies,
// listings and Windows wildcards. Every wait is bounded by the handle's time-out, and every
// peer input is bounded in size, so a hostile server can only make an operation fail.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <unistd.h>

#include <cctype>

#include "wininet_posix_internal.h"

namespace ncwin {
namespace {

const size_t kMaxReplyLine = 4096;
const size_t kMaxReply = 65536;

bool WaitFor(int fd, short events, int timeout_ms, DWORD *err) {
  for (;;) {
    struct pollfd p = {fd, events, 0};
    int ready = poll(&p, 1, timeout_ms);
    if (ready > 0) return true;
    if (ready == 0) {
      *err = ERROR_INTERNET_TIMEOUT;
      return false;
    }
    if (errno != EINTR) {
      *err = ERROR_INTERNET_CONNECTION_ABORTED;
      return false;
    }
  }
}

DWORD ConnectOne(const struct addrinfo *ai, int timeout_ms, int *out) {
  int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
  if (fd < 0) return ERROR_INTERNET_CANNOT_CONNECT;
  int flags = fcntl(fd, F_GETFL, 0);
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  DWORD err = 0;
  if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      err = ERROR_INTERNET_CANNOT_CONNECT;
    } else if (WaitFor(fd, POLLOUT, timeout_ms, &err)) {
      int soerr = 0;
      socklen_t len = sizeof soerr;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
      if (soerr != 0) err = ERROR_INTERNET_CANNOT_CONNECT;
    }
  }
  if (err != 0) {
    close(fd);
    return err;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  *out = fd;
  return 0;
}

// Takes one line (without CR LF) off the buffer when a whole one is there.
bool TakeLine(std::string *buffer, std::string *line) {
  size_t end = buffer->find('\n');
  if (end == std::string::npos) return false;
  *line = buffer->substr(0, end);
  buffer->erase(0, end + 1);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

bool ReplyCode(const std::string &line, int *code) {
  if (line.size() < 3) return false;
  for (int i = 0; i < 3; ++i) {
    if (!isdigit(static_cast<unsigned char>(line[i]))) return false;
  }
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return false;
  *code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  return true;
}

// Reads more bytes into the wire's buffer. 0, 12002, 12030.
DWORD Fill(Wire *wire, int timeout_ms) {
  DWORD err = 0;
  if (!WaitFor(wire->fd, POLLIN, timeout_ms, &err)) return err;
  char chunk[2048];
  ssize_t got = recv(wire->fd, chunk, sizeof chunk, 0);
  if (got <= 0) {
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    return ERROR_INTERNET_CONNECTION_ABORTED;
  }
  wire->inbuf.append(chunk, static_cast<size_t>(got));
  return 0;
}

bool LowerEquals(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool MatchFrom(const char *p, const char *n) {
  for (; *p != '\0'; ++p, ++n) {
    if (*p == '*') {
      while (p[1] == '*') ++p;
      if (p[1] == '\0') return true;
      for (const char *rest = n; *rest != '\0'; ++rest) {
        if (MatchFrom(p + 1, rest)) return true;
      }
      return false;
    }
    if (*n == '\0') return false;
    if (*p != '?' && tolower(static_cast<unsigned char>(*p)) != tolower(static_cast<unsigned char>(*n))) {
      return false;
    }
  }
  return *n == '\0';
}

std::vector<std::string> Fields(const std::string &line, size_t count, size_t *rest_at) {
  std::vector<std::string> fields;
  size_t i = 0;
  while (fields.size() < count) {
    while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i >= line.size()) break;
    size_t start = i;
    while (i < line.size() && !isspace(static_cast<unsigned char>(line[i]))) ++i;
    fields.push_back(line.substr(start, i - start));
  }
  while (i < line.size() && line[i] == ' ') ++i;
  *rest_at = i;
  return fields;
}

bool ParseUnixLine(const std::string &line, ListEntry *entry) {
  if (line.empty() || strchr("-dlbcps", line[0]) == nullptr) return false;
  size_t rest = 0;
  std::vector<std::string> f = Fields(line, 8, &rest);
  if (f.size() < 8 || rest >= line.size() || f[0].size() < 10) return false;
  entry->name = line.substr(rest);
  if (line[0] == 'l') {
    size_t arrow = entry->name.find(" -> ");
    if (arrow != std::string::npos) entry->name.erase(arrow);
  }
  entry->directory = line[0] == 'd';
  entry->size = strtoull(f[4].c_str(), nullptr, 10);
  return !entry->name.empty();
}

bool ParseDosLine(const std::string &line, ListEntry *entry) {
  if (line.size() < 8 || !isdigit(static_cast<unsigned char>(line[0])) || line[2] != '-') return false;
  size_t rest = 0;
  std::vector<std::string> f = Fields(line, 3, &rest);
  if (f.size() < 3 || rest >= line.size()) return false;
  entry->name = line.substr(rest);
  entry->directory = f[2] == "<DIR>";
  entry->size = entry->directory ? 0 : strtoull(f[2].c_str(), nullptr, 10);
  return true;
}

}  // namespace

DWORD WireConnect(const std::string &host, uint16_t port, int timeout_ms, int *fd) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo *list = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
    return ERROR_INTERNET_NAME_NOT_RESOLVED;
  }
  DWORD err = ERROR_INTERNET_CANNOT_CONNECT;
  for (struct addrinfo *ai = list; ai != nullptr; ai = ai->ai_next) {
    err = ConnectOne(ai, timeout_ms, fd);
    if (err == 0) break;
  }
  freeaddrinfo(list);
  return err;
}

DWORD WireSend(int fd, const void *data, size_t length, int timeout_ms) {
  const char *p = static_cast<const char *>(data);
  while (length > 0) {
    DWORD err = 0;
    if (!WaitFor(fd, POLLOUT, timeout_ms, &err)) return err;
    ssize_t sent = send(fd, p, length, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return ERROR_INTERNET_CONNECTION_RESET;
    }
    p += sent;
    length -= static_cast<size_t>(sent);
  }
  return 0;
}

ReplyFrame WireTakeReply(std::string *buffer, ReplyReader *reader) {
  std::string line;
  while (TakeLine(buffer, &line)) {
    if (line.size() > kMaxReplyLine) return kReplyBad;
    if (reader->code < 0) {
      if (!ReplyCode(line, &reader->code)) return kReplyBad;
      reader->text = line;
      // A multi-line reply ends with a line of the same code followed by a space.
      if (line.size() < 4 || line[3] != '-') return kReplyWhole;
      reader->end = line.substr(0, 3) + " ";
      continue;
    }
    if (reader->text.size() + line.size() > kMaxReply) return kReplyBad;
    reader->text += "\r\n" + line;
    if (line.compare(0, 4, reader->end) == 0) return kReplyWhole;
  }
  return buffer->size() > kMaxReplyLine ? kReplyBad : kReplyPartial;
}

DWORD WireReadReply(Wire *wire, int timeout_ms, int *code, std::string *text) {
  ReplyReader reader;
  for (;;) {
    ReplyFrame frame = WireTakeReply(&wire->inbuf, &reader);
    if (frame == kReplyBad) return ERROR_INTERNET_CONNECTION_ABORTED;
    if (frame == kReplyWhole) {
      *code = reader.code;
      *text = reader.text;
      return 0;
    }
    DWORD err = Fill(wire, timeout_ms);
    if (err != 0) return err;
  }
}

bool ParsePasvReply(const std::string &text, uint16_t *port) {
  size_t open = text.find('(');
  size_t at = open == std::string::npos ? text.find_first_of("0123456789", 4) : open + 1;
  if (at == std::string::npos) return false;
  unsigned v[6];
  int used = 0;
  if (sscanf(text.c_str() + at, "%u,%u,%u,%u,%u,%u%n", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
             &used) != 6) {
    return false;
  }
  for (unsigned x : v) {
    if (x > 255) return false;
  }
  unsigned p = v[4] * 256 + v[5];
  if (p == 0) return false;
  *port = static_cast<uint16_t>(p);
  return true;
}

std::string PeerAddress(int fd) {
  struct sockaddr_storage ss;
  socklen_t len = sizeof ss;
  if (getpeername(fd, reinterpret_cast<struct sockaddr *>(&ss), &len) != 0) return "";
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<struct sockaddr *>(&ss), len, host, sizeof host, nullptr, 0,
                  NI_NUMERICHOST) != 0) {
    return "";
  }
  return host;
}

std::vector<ListEntry> ParseListing(const std::string &body) {
  std::vector<ListEntry> entries;
  std::string rest = body;
  if (!rest.empty() && rest.back() != '\n') rest += '\n';
  std::string line;
  while (TakeLine(&rest, &line)) {
    ListEntry entry;
    if (ParseUnixLine(line, &entry) || ParseDosLine(line, &entry)) entries.push_back(entry);
  }
  return entries;
}

bool WildcardMatch(const std::string &pattern, const std::string &name) {
  if (MatchFrom(pattern.c_str(), name.c_str())) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return MatchFrom(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str());
  }
  return LowerEquals(pattern, name);
}

void SplitFindPattern(const std::string &pattern, std::string *directory, std::string *name) {
  size_t slash = pattern.find_last_of("/\\");
  if (slash == std::string::npos) {
    directory->clear();
    *name = pattern;
  } else {
    *directory = pattern.substr(0, slash == 0 ? 1 : slash);
    *name = pattern.substr(slash + 1);
  }
  if (name->empty()) *name = "*";
}

DWORD ErrnoToInternet(int err) {
  return err == ETIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CONNECTION_RESET;
}

}  // namespace ncwin
