// Digest hashes from OpenSSL's EVP interface.
#include <openssl/evp.h>

#include "hash.h"

namespace tessum {

std::string HashHex(HashKind kind, std::string_view data) {
  const EVP_MD *md = kind == HashKind::Md5 ? EVP_md5() : EVP_sha256();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (md == nullptr || EVP_Digest(data.data(), data.size(), digest, &length, md, nullptr) != 1) {
    return std::string();
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

}  // namespace tessum
