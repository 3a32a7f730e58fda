// The HTTP response reader: a small state machine over the bytes of one response.
#include "wininet_http_parse_posix.h"

#include <ctype.h>
#include <string.h>

namespace ncwin {
namespace {

const size_t kMaxChunkLine = 1024;
const size_t kMaxTrailers = 16384;
const int kMaxLengthDigits = 18;  // below 2^63

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool IsTokenChar(char c) {
  return isalnum(static_cast<unsigned char>(c)) || strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// "HTTP/1.1 200 OK": the status, or 0 when the line is not a status line.
int StatusOf(const std::string &line) {
  if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0) return 0;
  if (!isdigit(static_cast<unsigned char>(line[5])) || line[6] != '.' ||
      !isdigit(static_cast<unsigned char>(line[7])) || line[8] != ' ') {
    return 0;
  }
  int status = 0;
  for (int i = 9; i < 12; ++i) {
    if (!isdigit(static_cast<unsigned char>(line[i]))) return 0;
    status = status * 10 + (line[i] - '0');
  }
  if (line.size() > 12 && line[12] != ' ') return 0;
  return status >= 100 && status <= 599 ? status : 0;
}

// A decimal Content-Length value, or -1.
int64_t DecimalLength(const std::string &value) {
  if (value.empty() || value.size() > kMaxLengthDigits) return -1;
  int64_t n = 0;
  for (char c : value) {
    if (!isdigit(static_cast<unsigned char>(c))) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The size of a chunk-size line ("1a;ext=1"), or -1.
int64_t ChunkSize(const std::string &line) {
  size_t i = 0;
  int64_t n = 0;
  while (i < line.size() && isxdigit(static_cast<unsigned char>(line[i]))) {
    if (i >= 15) return -1;
    char c = static_cast<char>(tolower(static_cast<unsigned char>(line[i])));
    n = n * 16 + (isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
    ++i;
  }
  if (i == 0) return -1;
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i == line.size() || line[i] == ';' ? n : -1;
}

bool LastTokenIsChunked(const std::string &value) {
  size_t comma = value.rfind(',');
  std::string last = Trim(comma == std::string::npos ? value : value.substr(comma + 1));
  return NoCaseEquals(last, "chunked");
}

}  // namespace

bool NoCaseEquals(const std::string &a, const char *b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

HttpResponseReader::State HttpResponseReader::Fail() {
  m_eState = State::Failed;
  m_Pending.clear();
  return m_eState;
}

const std::string *HttpResponseReader::Header(const char *name) const {
  for (const HttpHeader &h : m_Headers) {
    if (NoCaseEquals(h.name, name)) return &h.value;
  }
  return nullptr;
}

std::vector<std::string> HttpResponseReader::HeaderValues(const char *name) const {
  std::vector<std::string> values;
  for (const HttpHeader &h : m_Headers) {
    if (NoCaseEquals(h.name, name)) values.push_back(h.value);
  }
  return values;
}

HttpResponseReader::State HttpResponseReader::Push(const char *data, size_t length,
                                                   std::string *body) {
  while (length > 0 && m_eState == State::Head) {
    const char *nl = static_cast<const char *>(memchr(data, '\n', length));
    size_t take = nl != nullptr ? static_cast<size_t>(nl - data) + 1 : length;
    m_nHeadBytes += take;
    if (m_nHeadBytes > kMaxResponseHead) return Fail();
    m_Pending.append(data, nl != nullptr ? take - 1 : take);
    data += take;
    length -= take;
    if (nl == nullptr) return m_eState;
    std::string line;
    line.swap(m_Pending);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ParseHeadLine(line);
  }
  if (m_eState == State::Body && length > 0) return PushBody(data, length, body);
  return m_eState;
}

HttpResponseReader::State HttpResponseReader::ParseHeadLine(const std::string &line) {
  if (m_bStatusLine) {
    m_nStatus = StatusOf(line);
    if (m_nStatus == 0) return Fail();
    m_bStatusLine = false;
    return m_eState;
  }
  if (line.empty()) return EndOfHead();
  if (IsBlank(line[0])) {  // an obsolete folded continuation of the previous header
    if (m_Headers.empty()) return Fail();
    std::string more = Trim(line);
    if (!more.empty()) m_Headers.back().value += " " + more;
    return m_eState;
  }
  size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return Fail();
  for (size_t i = 0; i < colon; ++i) {
    if (!IsTokenChar(line[i])) return Fail();
  }
  if (m_Headers.size() >= kMaxHeaders) return Fail();
  m_Headers.push_back({line.substr(0, colon), Trim(line.substr(colon + 1))});
  return m_eState;
}

HttpResponseReader::State HttpResponseReader::EndOfHead() {
  if (m_nStatus < 200 && m_nStatus != 101) {
    // An interim response (100 Continue): the real one follows.
    m_Headers.clear();
    m_bStatusLine = true;
    m_nStatus = 0;
    return m_eState;
  }
  bool empty = m_nStatus == 101 || m_nStatus == 204 || m_nStatus == 304 ||
               (m_bNoBody && m_nStatus / 100 == 2);
  if (empty) {
    m_eState = State::Done;
    return m_eState;
  }
  std::vector<std::string> te = HeaderValues("Transfer-Encoding");
  if (!te.empty()) {
    m_eFraming = LastTokenIsChunked(te.back()) ? Framing::Chunked : Framing::ToClose;
    m_eState = State::Body;
    return m_eState;
  }
  std::vector<std::string> lengths = HeaderValues("Content-Length");
  if (lengths.empty()) {
    m_eFraming = Framing::ToClose;
    m_eState = State::Body;
    return m_eState;
  }
  for (const std::string &v : lengths) {
    // Differing lengths leave the body's end unknown: refuse rather than guess.
    if (DecimalLength(v) < 0 || v != lengths[0]) return Fail();
  }
  m_nContentLength = DecimalLength(lengths[0]);
  m_nRemaining = static_cast<uint64_t>(m_nContentLength);
  m_eFraming = Framing::Sized;
  m_eState = m_nRemaining == 0 ? State::Done : State::Body;
  return m_eState;
}

HttpResponseReader::State HttpResponseReader::PushBody(const char *data, size_t length,
                                                       std::string *body) {
  switch (m_eFraming) {
    case Framing::Sized: {
      size_t take = length < m_nRemaining ? length : static_cast<size_t>(m_nRemaining);
      body->append(data, take);
      m_nBodyBytes += take;
      m_nRemaining -= take;
      if (m_nRemaining == 0) m_eState = State::Done;
      return m_eState;
    }
    case Framing::ToClose:
      body->append(data, length);
      m_nBodyBytes += length;
      return m_eState;
    case Framing::Chunked:
      PushChunked(data, length, body);
      return m_eState;
    case Framing::None:
      break;
  }
  return Fail();
}

// Collects a chunk-size, chunk-end or trailer line. True when *line is complete (the bytes
// through its LF consumed); false when the input ran out first or the line grew too long
// (then the reader has failed).
bool HttpResponseReader::ChunkLine(std::string *line, const char **data, size_t *length,
                                   size_t limit) {
  const char *nl = static_cast<const char *>(memchr(*data, '\n', *length));
  size_t take = nl != nullptr ? static_cast<size_t>(nl - *data) + 1 : *length;
  if (m_Pending.size() + take > limit) {
    Fail();
    return false;
  }
  m_Pending.append(*data, nl != nullptr ? take - 1 : take);
  *data += take;
  *length -= take;
  if (nl == nullptr) return false;
  line->swap(m_Pending);
  m_Pending.clear();
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

size_t HttpResponseReader::PushChunked(const char *data, size_t length, std::string *body) {
  size_t start = length;
  std::string line;
  while (length > 0 && m_eState == State::Body) {
    switch (m_eChunk) {
      case Chunk::Size: {
        if (!ChunkLine(&line, &data, &length, kMaxChunkLine)) break;
        int64_t size = ChunkSize(line);
        if (size < 0) return Fail(), start - length;
        m_nRemaining = static_cast<uint64_t>(size);
        m_eChunk = size == 0 ? Chunk::Trailer : Chunk::Data;
        break;
      }
      case Chunk::Data: {
        size_t take = length < m_nRemaining ? length : static_cast<size_t>(m_nRemaining);
        body->append(data, take);
        m_nBodyBytes += take;
        data += take;
        length -= take;
        m_nRemaining -= take;
        if (m_nRemaining == 0) m_eChunk = Chunk::DataEnd;
        break;
      }
      case Chunk::DataEnd:
        if (!ChunkLine(&line, &data, &length, 2)) break;
        if (!line.empty()) return Fail(), start - length;
        m_eChunk = Chunk::Size;
        break;
      case Chunk::Trailer: {
        size_t before = length;
        bool complete = ChunkLine(&line, &data, &length, kMaxChunkLine);
        m_nTrailerBytes += before - length;
        if (m_nTrailerBytes > kMaxTrailers) return Fail(), start - length;
        if (complete && line.empty()) m_eState = State::Done;
        break;
      }
    }
  }
  return start - length;
}

HttpResponseReader::State HttpResponseReader::PushEnd() {
  if (m_eState == State::Body && m_eFraming == Framing::ToClose) {
    m_eState = State::Done;
    return m_eState;
  }
  if (m_eState == State::Head || m_eState == State::Body) return Fail();
  return m_eState;
}

// ---- Challenges ------------------------------------------------------------------------

const std::string *AuthChallenge::Param(const char *name) const {
  for (const auto &p : params) {
    if (NoCaseEquals(p.first, name)) return &p.second;
  }
  return nullptr;
}

namespace {

class ChallengeScanner {
 public:
  explicit ChallengeScanner(const std::string &s) : m_s(s) {}

  void SkipBlanks() {
    while (m_i < m_s.size() && IsBlank(m_s[m_i])) ++m_i;
  }
  void SkipSeparators() {
    while (m_i < m_s.size() && (IsBlank(m_s[m_i]) || m_s[m_i] == ',')) ++m_i;
  }
  bool AtEnd() const { return m_i >= m_s.size(); }
  bool Token(std::string *out) {
    size_t b = m_i;
    while (m_i < m_s.size() && IsTokenChar(m_s[m_i])) ++m_i;
    *out = m_s.substr(b, m_i - b);
    return !out->empty();
  }
  // True when a parameter ("name=") starts here; a token68 ("abc==") or a scheme does not.
  bool ParamAhead() const {
    size_t j = m_i;
    while (j < m_s.size() && IsTokenChar(m_s[j])) ++j;
    if (j == m_i) return false;
    while (j < m_s.size() && IsBlank(m_s[j])) ++j;
    return j < m_s.size() && m_s[j] == '=' && (j + 1 >= m_s.size() || m_s[j + 1] != '=');
  }
  bool Value(std::string *out) {
    SkipBlanks();
    if (m_i < m_s.size() && m_s[m_i] == '"') return Quoted(out);
    return Token(out);
  }
  bool Expect(char c) {
    SkipBlanks();
    if (m_i >= m_s.size() || m_s[m_i] != c) return false;
    ++m_i;
    return true;
  }
  void SkipToken68() {
    while (m_i < m_s.size() && (IsTokenChar(m_s[m_i]) || m_s[m_i] == '=' || m_s[m_i] == '/')) ++m_i;
  }

 private:
  bool Quoted(std::string *out) {
    out->clear();
    for (++m_i; m_i < m_s.size(); ++m_i) {
      char c = m_s[m_i];
      if (c == '"') {
        ++m_i;
        return true;
      }
      if (c == '\\' && m_i + 1 < m_s.size()) c = m_s[++m_i];
      *out += c;
    }
    return false;  // no closing quote
  }

  const std::string &m_s;
  size_t m_i = 0;
};

}  // namespace

std::vector<AuthChallenge> ParseAuthChallenges(const std::string &value) {
  std::vector<AuthChallenge> out;
  ChallengeScanner scan(value);
  for (;;) {
    scan.SkipSeparators();
    if (scan.AtEnd()) return out;
    AuthChallenge challenge;
    if (!scan.Token(&challenge.scheme)) return out;
    scan.SkipBlanks();
    if (!scan.ParamAhead()) scan.SkipToken68();
    for (;;) {
      scan.SkipSeparators();
      if (!scan.ParamAhead()) break;
      std::string name, v;
      scan.Token(&name);
      if (!scan.Expect('=') || !scan.Value(&v)) {
        out.push_back(challenge);
        return out;
      }
      challenge.params.emplace_back(name, v);
    }
    out.push_back(challenge);
  }
}

}  // namespace ncwin
