// HTTP Digest answers (qop "auth" or none; MD5, SHA-256 and their -sess forms).
#pragma once

#include <string>
#include <string_view>

#include "http_parse.h"

namespace tessum {

struct DigestInput {
  std::string_view method, uri, user, password, cnonce;
};

// The Authorization header's value answering `challenge` (nonce count 00000001); empty when
// hashing failed.
std::string DigestAuthorization(const http::DigestChallenge &challenge, const DigestInput &in);

// A fresh client nonce: 16 random bytes as hex.
std::string NewCnonce();

}  // namespace tessum
