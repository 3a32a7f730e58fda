// The HTTP response reader of the POSIX WinINet layer: status line, headers, a body framed
// by Content-Length, by chunks or by the close of the connection, and the authentication
// challenges of WWW-Authenticate and Proxy-Authenticate. It works on bytes alone (no
// sockets), in pieces as they arrive, so tests and the fuzzer drive it directly.
//
// Every input is bounded: a head above kMaxResponseHead bytes, more than kMaxHeaders
// header lines, a chunk-size line above 1 KB or trailers above 16 KB fail the response.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace ncwin {

const size_t kMaxResponseHead = 65536;
const size_t kMaxHeaders = 256;

struct HttpHeader {
  std::string name;   // as sent
  std::string value;  // leading and trailing blanks removed, folded lines joined by a space
};

class HttpResponseReader {
 public:
  enum class State { Head, Body, Done, Failed };

  // no_body: the response to a request that has none whatever its headers say (CONNECT's
  // 2xx: the tunnel starts right after the head).
  explicit HttpResponseReader(bool no_body = false) : m_bNoBody(no_body) {}

  // Takes the next bytes from the peer. Body bytes, decoded from their framing, are appended
  // to *body. Bytes after the end of the response are ignored (the connection closes). Once
  // Done or Failed, further input changes nothing.
  State Push(const char *data, size_t length, std::string *body);
  // The peer closed the connection: a body read to the close is Done, anything else
  // unfinished Failed.
  State PushEnd();

  State state() const { return m_eState; }
  // The final (non-1xx) status; 0 until the head is complete.
  int status() const { return m_nStatus; }
  const std::vector<HttpHeader> &headers() const { return m_Headers; }
  // The first value of a header (case-insensitive name), or NULL.
  const std::string *Header(const char *name) const;
  // Every value of a header, in order.
  std::vector<std::string> HeaderValues(const char *name) const;
  int64_t content_length() const { return m_nContentLength; }  // -1: not declared
  bool chunked() const { return m_eFraming == Framing::Chunked; }
  uint64_t body_bytes() const { return m_nBodyBytes; }

 private:
  enum class Framing { None, Sized, Chunked, ToClose };
  enum class Chunk { Size, Data, DataEnd, Trailer };

  State Fail();
  bool TakeHeadLine(std::string *line);
  State ParseHeadLine(const std::string &line);
  State EndOfHead();
  State PushBody(const char *data, size_t length, std::string *body);
  size_t PushChunked(const char *data, size_t length, std::string *body);
  bool ChunkLine(std::string *line, const char **data, size_t *length, size_t limit);

  bool m_bNoBody;
  State m_eState = State::Head;
  std::string m_Pending;  // an unfinished head line or chunk line
  size_t m_nHeadBytes = 0;
  bool m_bStatusLine = true;
  int m_nStatus = 0;
  std::vector<HttpHeader> m_Headers;
  Framing m_eFraming = Framing::None;
  int64_t m_nContentLength = -1;
  uint64_t m_nRemaining = 0;  // sized body or current chunk
  uint64_t m_nBodyBytes = 0;
  Chunk m_eChunk = Chunk::Size;
  size_t m_nTrailerBytes = 0;
};

// One challenge of a WWW-Authenticate or Proxy-Authenticate value.
struct AuthChallenge {
  std::string scheme;                                       // as sent ("Basic", "Digest")
  std::vector<std::pair<std::string, std::string>> params;  // values unquoted
  const std::string *Param(const char *name) const;          // case-insensitive
};

// Splits a header value into its challenges ("Basic realm=x, Digest realm=y, nonce=z").
// Malformed parts end the list; what came before them is kept.
std::vector<AuthChallenge> ParseAuthChallenges(const std::string &value);

bool NoCaseEquals(const std::string &a, const char *b);

}  // namespace ncwin
