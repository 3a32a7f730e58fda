// The hashes of HTTP Digest authentication, from the platform's cryptography: OpenSSL on
// Linux (hash_openssl.cpp), BCrypt on Windows (hash_bcrypt.cpp).
#pragma once

#include <string>
#include <string_view>

namespace tessum {

enum class HashKind { Md5, Sha256 };

// The digest of `data` as lower-case hex; empty when the platform could not hash.
std::string HashHex(HashKind kind, std::string_view data);

}  // namespace tessum
