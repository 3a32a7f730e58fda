// MD5 and SHA-256 for tests that check an HTTP Digest answer on their own: OpenSSL on
// Linux, the older CryptoAPI on Windows (not BCrypt, which the code under test uses).
#pragma once

#include <string>

namespace kvtest {

enum class Hash { kMd5, kSha256 };

// The digest of `data` as lower-case hex.
std::string HashHex(Hash kind, const std::string &data);

}  // namespace kvtest
