// The HTTP reply parser. Everything here is bounded by the input: no allocation grows past
// a few times the input, nothing reads past it.
#include "http_parse.h"

#include <cctype>

namespace tessum {
namespace http {
namespace {

bool IsTchar(char c) {
  if (std::isalnum(static_cast<unsigned char>(c))) return true;
  switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
      return true;
    default:
      return false;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The blank line that ends the head: the offset just after it, or npos.
size_t FindHeadEnd(std::string_view data) {
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] != '\n') continue;
    if (i + 1 < data.size() && data[i + 1] == '\n') return i + 2;
    if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
  }
  return std::string_view::npos;
}

bool ParseStatusLine(std::string_view line, int *status) {
  // "HTTP/d.d SSS" then nothing or a space and a reason phrase.
  if (line.size() < 12 || line.substr(0, 5) != "HTTP/") return false;
  if (!IsDigit(line[5]) || line[6] != '.' || !IsDigit(line[7]) || line[8] != ' ') return false;
  if (!IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11])) return false;
  if (line.size() > 12 && line[12] != ' ') return false;
  *status = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  return *status >= 100 && *status <= 599;
}

bool ParseLength(std::string_view value, int64_t *length) {
  if (value.empty() || value.size() > 18) return false;
  int64_t n = 0;
  for (char c : value) {
    if (!IsDigit(c)) return false;
    n = n * 10 + (c - '0');
  }
  *length = n;
  return true;
}

bool ContainsToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view item = Trim(list.substr(0, comma));
    if (IEquals(item, token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

bool ApplyHeader(std::string_view name, std::string_view value, ResponseHead *out) {
  if (IEquals(name, "Content-Length")) {
    int64_t length = 0;
    if (!ParseLength(value, &length)) return false;
    if (out->content_length >= 0 && out->content_length != length) return false;
    out->content_length = length;
  } else if (IEquals(name, "Transfer-Encoding")) {
    if (ContainsToken(value, "chunked")) out->chunked = true;
  } else if (IEquals(name, "WWW-Authenticate")) {
    out->www_authenticate.emplace_back(value);
  } else if (IEquals(name, "Proxy-Authenticate")) {
    out->proxy_authenticate.emplace_back(value);
  }
  return true;
}

// Splits the head into logical header lines, joining folded continuation lines.
bool SplitLines(std::string_view head, std::vector<std::string> *lines) {
  while (!head.empty()) {
    size_t nl = head.find('\n');
    std::string_view line = head.substr(0, nl);
    head.remove_prefix(nl == std::string_view::npos ? head.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (line.find('\r') != std::string_view::npos) return false;  // a bare CR
    if (line.front() == ' ' || line.front() == '\t') {
      if (lines->size() < 2) return false;  // nothing to continue (the status line can't be)
      lines->back().append(" ").append(Trim(line));
    } else {
      lines->emplace_back(line);
    }
  }
  return !lines->empty();
}

class ChallengeScanner {
 public:
  explicit ChallengeScanner(std::string_view s) : s_(s) {}

  bool Run(std::vector<Challenge> *out) {
    while (true) {
      SkipSpacesAndCommas();
      if (pos_ >= s_.size()) return true;
      std::string token = Token();
      if (token.empty()) return false;
      SkipSpaces();
      if (pos_ < s_.size() && s_[pos_] == '=') {
        ++pos_;
        // token68 ("Basic abc==") ends in '=': no value follows.
        if (out->empty()) return false;
        SkipSpaces();
        std::string value;
        if (!Value(&value)) return false;
        out->back().params.emplace_back(std::move(token), std::move(value));
      } else {
        out->push_back(Challenge{std::move(token), {}});
      }
    }
  }

 private:
  void SkipSpaces() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  void SkipSpacesAndCommas() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == ',')) ++pos_;
  }
  std::string Token() {
    size_t start = pos_;
    while (pos_ < s_.size() && IsTchar(s_[pos_])) ++pos_;
    return std::string(s_.substr(start, pos_ - start));
  }
  bool Value(std::string *value) {
    if (pos_ >= s_.size() || s_[pos_] != '"') {
      *value = Token();
      return true;
    }
    ++pos_;
    while (pos_ < s_.size()) {
      char c = s_[pos_++];
      if (c == '"') return true;
      if (c == '\\') {
        if (pos_ >= s_.size()) return false;
        c = s_[pos_++];
      }
      value->push_back(c);
    }
    return false;  // unterminated
  }

  std::string_view s_;
  size_t pos_ = 0;
};

bool AlgorithmOf(const std::string *name, DigestAlg *alg) {
  if (name == nullptr || IEquals(*name, "MD5")) {
    *alg = DigestAlg::Md5;
  } else if (IEquals(*name, "MD5-sess")) {
    *alg = DigestAlg::Md5Sess;
  } else if (IEquals(*name, "SHA-256")) {
    *alg = DigestAlg::Sha256;
  } else if (IEquals(*name, "SHA-256-sess")) {
    *alg = DigestAlg::Sha256Sess;
  } else {
    return false;
  }
  return true;
}

int Rank(DigestAlg alg) {
  switch (alg) {
    case DigestAlg::Sha256: return 4;
    case DigestAlg::Sha256Sess: return 3;
    case DigestAlg::Md5: return 2;
    case DigestAlg::Md5Sess: return 1;
  }
  return 0;
}

bool FromChallenge(const Challenge &c, DigestChallenge *out) {
  if (!IEquals(c.scheme, "Digest")) return false;
  const std::string *realm = c.Param("realm");
  const std::string *nonce = c.Param("nonce");
  if (realm == nullptr || nonce == nullptr || nonce->empty()) return false;
  DigestChallenge d;
  if (!AlgorithmOf(c.Param("algorithm"), &d.alg)) return false;
  if (const std::string *qop = c.Param("qop")) {
    if (!ContainsToken(*qop, "auth")) return false;  // auth-int alone: cannot answer
    d.qop_auth = true;
  }
  d.realm = *realm;
  d.nonce = *nonce;
  if (const std::string *opaque = c.Param("opaque")) {
    d.opaque = *opaque;
    d.has_opaque = true;
  }
  *out = std::move(d);
  return true;
}

}  // namespace

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

HeadResult ParseResponseHead(std::string_view data, ResponseHead *out) {
  size_t end = FindHeadEnd(data.substr(0, std::min(data.size(), kMaxHead + 1)));
  if (end == std::string_view::npos) {
    return data.size() > kMaxHead ? HeadResult::TooLarge : HeadResult::Incomplete;
  }
  if (end > kMaxHead) return HeadResult::TooLarge;
  std::string_view head = data.substr(0, end);
  if (head.find('\0') != std::string_view::npos) return HeadResult::Malformed;
  std::vector<std::string> lines;
  ResponseHead result;
  if (!SplitLines(head, &lines) || !ParseStatusLine(lines[0], &result.status)) {
    return HeadResult::Malformed;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return HeadResult::Malformed;
    std::string_view name = line.substr(0, colon);
    for (char c : name) {
      if (!IsTchar(c)) return HeadResult::Malformed;
    }
    if (!ApplyHeader(name, Trim(line.substr(colon + 1)), &result)) return HeadResult::Malformed;
  }
  result.head_length = end;
  *out = std::move(result);
  return HeadResult::Complete;
}

const std::string *Challenge::Param(std::string_view name) const {
  for (const auto &p : params) {
    if (IEquals(p.first, name)) return &p.second;
  }
  return nullptr;
}

bool ParseChallenges(std::string_view value, std::vector<Challenge> *out) {
  out->clear();
  return ChallengeScanner(value).Run(out);
}

bool PickDigest(const std::vector<std::string> &headers, DigestChallenge *out) {
  bool found = false;
  std::vector<Challenge> challenges;
  for (const std::string &header : headers) {
    if (!ParseChallenges(header, &challenges)) continue;
    for (const Challenge &c : challenges) {
      DigestChallenge d;
      if (!FromChallenge(c, &d)) continue;
      if (!found || Rank(d.alg) > Rank(out->alg)) *out = std::move(d);
      found = true;
    }
  }
  return found;
}

std::string Base64(std::string_view data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t v = (uint8_t(data[i]) << 16) | (uint8_t(data[i + 1]) << 8) | uint8_t(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    uint32_t v = uint8_t(data[i]) << 16;
    if (i + 1 < data.size()) v |= uint8_t(data[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace http
}  // namespace tessum
