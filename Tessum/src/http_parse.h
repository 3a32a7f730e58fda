// The HTTP reply parser: status line, headers and authentication challenges. Pure functions
// over bytes, so that tests and the fuzzer drive them without sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessum {
namespace http {

constexpr size_t kMaxHead = 16384;

enum class HeadResult { Incomplete, Complete, Malformed, TooLarge };

struct ResponseHead {
  int status = 0;
  int64_t content_length = -1;  // -1: not declared
  bool chunked = false;
  size_t head_length = 0;  // bytes of the status line and headers, blank line included
  std::vector<std::string> www_authenticate;
  std::vector<std::string> proxy_authenticate;
};

// Parses the head at the start of `data` (which may hold body bytes after it). Incomplete
// while no blank line has arrived and fewer than kMaxHead bytes are there.
HeadResult ParseResponseHead(std::string_view data, ResponseHead *out);

struct Challenge {
  std::string scheme;
  std::vector<std::pair<std::string, std::string>> params;  // names as sent, values unquoted
  const std::string *Param(std::string_view name) const;    // case-insensitive
};

// Splits one WWW-Authenticate or Proxy-Authenticate value into its challenges.
bool ParseChallenges(std::string_view value, std::vector<Challenge> *out);

enum class DigestAlg { Md5, Md5Sess, Sha256, Sha256Sess };

struct DigestChallenge {
  DigestAlg alg = DigestAlg::Md5;
  bool qop_auth = false;  // the server offered qop "auth" (else no qop: the old form)
  std::string realm, nonce, opaque;
  bool has_opaque = false;
};

// The Digest challenge to answer among the given header values: SHA-256 before MD5, only
// algorithms and qop values that we can answer. False when there is none.
bool PickDigest(const std::vector<std::string> &headers, DigestChallenge *out);

bool IEquals(std::string_view a, std::string_view b);
std::string Base64(std::string_view data);

}  // namespace http
}  // namespace tessum
