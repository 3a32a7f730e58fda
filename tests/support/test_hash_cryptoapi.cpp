#include <windows.h>

#include <wincrypt.h>

#include "test_hash.h"

namespace kvtest {

std::string HashHex(Hash kind, const std::string &data) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[32];
  DWORD size = sizeof digest;
  std::string out;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return out;
  if (CryptCreateHash(provider, kind == Hash::kMd5 ? CALG_MD5 : CALG_SHA_256, 0, 0, &hash) &&
      CryptHashData(hash, reinterpret_cast<const BYTE *>(data.data()),
                    static_cast<DWORD>(data.size()), 0) &&
      CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
    for (DWORD i = 0; i < size; ++i) {
      out += "0123456789abcdef"[digest[i] >> 4];
      out += "0123456789abcdef"[digest[i] & 15];
    }
  }
  if (hash) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return out;
}

}  // namespace kvtest
