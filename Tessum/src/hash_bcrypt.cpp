// Digest hashes from the system's BCrypt (Windows 10 and later).
#include <windows.h>

#include <bcrypt.h>

#include "hash.h"

namespace tessum {

std::string HashHex(HashKind kind, std::string_view data) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  LPCWSTR id = kind == HashKind::Md5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA256_ALGORITHM;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, id, nullptr, 0))) return std::string();
  UCHAR digest[32];
  ULONG length = kind == HashKind::Md5 ? 16 : 32;
  NTSTATUS st = BCryptHash(alg, nullptr, 0,
                           reinterpret_cast<PUCHAR>(const_cast<char *>(data.data())),
                           static_cast<ULONG>(data.size()), digest, length);
  BCryptCloseAlgorithmProvider(alg, 0);
  if (!BCRYPT_SUCCESS(st)) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (ULONG i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

}  // namespace tessum
