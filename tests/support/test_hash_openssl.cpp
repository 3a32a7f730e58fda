#include <openssl/evp.h>

#include <cstdio>

#include "test_hash.h"

namespace kvtest {

std::string HashHex(Hash kind, const std::string &data) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned n = 0;
  EVP_Digest(data.data(), data.size(), d, &n, kind == Hash::kMd5 ? EVP_md5() : EVP_sha256(),
             nullptr);
  std::string out;
  char b[3];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", d[i]);
    out += b;
  }
  return out;
}

}  // namespace kvtest
