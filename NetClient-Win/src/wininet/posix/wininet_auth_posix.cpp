// Answers to HTTP authentication challenges: Basic, and Digest with MD5 or SHA-256 (hashes
// and random client nonces from OpenSSL).
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <stdio.h>
#include <string.h>

#include "wininet_http_posix_internal.h"

namespace ncwin {
namespace {

enum class DigestAlg { Unsupported, Md5, Md5Sess, Sha256, Sha256Sess };

DigestAlg AlgOf(const AuthChallenge &c) {
  const std::string *alg = c.Param("algorithm");
  if (alg == nullptr || NoCaseEquals(*alg, "MD5")) return DigestAlg::Md5;
  if (NoCaseEquals(*alg, "MD5-sess")) return DigestAlg::Md5Sess;
  if (NoCaseEquals(*alg, "SHA-256")) return DigestAlg::Sha256;
  if (NoCaseEquals(*alg, "SHA-256-sess")) return DigestAlg::Sha256Sess;
  return DigestAlg::Unsupported;
}

// True when the challenge offers qop "auth" (set *with_qop), or no qop at all.
bool QopUsable(const AuthChallenge &c, bool *with_qop) {
  const std::string *qop = c.Param("qop");
  *with_qop = false;
  if (qop == nullptr) return true;
  size_t start = 0;
  while (start <= qop->size()) {
    size_t comma = qop->find(',', start);
    std::string item = qop->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.erase(0, 1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
    if (NoCaseEquals(item, "auth")) return *with_qop = true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return false;
}

bool DigestUsable(const AuthChallenge &c) {
  bool with_qop = false;
  return NoCaseEquals(c.scheme, "Digest") && c.Param("nonce") != nullptr &&
         AlgOf(c) != DigestAlg::Unsupported && QopUsable(c, &with_qop);
}

int Rank(const AuthChallenge &c) {
  if (DigestUsable(c)) {
    DigestAlg alg = AlgOf(c);
    return alg == DigestAlg::Sha256 || alg == DigestAlg::Sha256Sess ? 3 : 2;
  }
  return NoCaseEquals(c.scheme, "Basic") ? 1 : 0;
}

std::string Hex(const unsigned char *p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

std::string Hash(DigestAlg alg, const std::string &text) {
  bool sha = alg == DigestAlg::Sha256 || alg == DigestAlg::Sha256Sess;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_Digest(text.data(), text.size(), md, &n, sha ? EVP_sha256() : EVP_md5(), nullptr) != 1) {
    return std::string();
  }
  return Hex(md, n);
}

std::string Base64(const std::string &in) {
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&out[0]),
                          reinterpret_cast<const unsigned char *>(in.data()),
                          static_cast<int>(in.size()));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

std::string ClientNonce() {
  unsigned char bytes[8] = {};
  if (RAND_bytes(bytes, sizeof bytes) != 1) memset(bytes, 0x5a, sizeof bytes);
  return Hex(bytes, sizeof bytes);
}

// A quoted-string value: quotes and backslashes escaped.
std::string Quote(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string AnswerDigest(const AuthChallenge &c, const std::string &user,
                         const std::string &password, const std::string &method,
                         const std::string &uri, uint32_t *nc) {
  DigestAlg alg = AlgOf(c);
  bool with_qop = false;
  QopUsable(c, &with_qop);
  const std::string empty;
  const std::string *realm = c.Param("realm");
  const std::string &nonce = *c.Param("nonce");
  std::string cnonce = ClientNonce();
  std::string ha1 = Hash(alg, user + ":" + (realm != nullptr ? *realm : empty) + ":" + password);
  if (alg == DigestAlg::Md5Sess || alg == DigestAlg::Sha256Sess) {
    ha1 = Hash(alg, ha1 + ":" + nonce + ":" + cnonce);
  }
  std::string ha2 = Hash(alg, method + ":" + uri);
  char count[16];
  snprintf(count, sizeof count, "%08x", ++*nc);
  std::string response = with_qop
                             ? Hash(alg, ha1 + ":" + nonce + ":" + count + ":" + cnonce + ":auth:" + ha2)
                             : Hash(alg, ha1 + ":" + nonce + ":" + ha2);
  std::string out = "Digest username=" + Quote(user) +
                    ", realm=" + Quote(realm != nullptr ? *realm : empty) +
                    ", nonce=" + Quote(nonce) + ", uri=" + Quote(uri);
  const std::string *alg_text = c.Param("algorithm");
  if (alg_text != nullptr) out += ", algorithm=" + *alg_text;
  out += ", response=" + Quote(response);
  if (with_qop) out += ", qop=auth, nc=" + std::string(count) + ", cnonce=" + Quote(cnonce);
  const std::string *opaque = c.Param("opaque");
  if (opaque != nullptr) out += ", opaque=" + Quote(*opaque);
  return out;
}

}  // namespace

bool PickChallenge(const std::vector<std::string> &values, AuthChallenge *out) {
  int best = 0;
  for (const std::string &v : values) {
    for (const AuthChallenge &c : ParseAuthChallenges(v)) {
      int rank = Rank(c);
      if (rank > best) {
        best = rank;
        *out = c;
      }
    }
  }
  return best > 0;
}

std::string AnswerChallenge(const AuthChallenge &challenge, const std::string &user,
                            const std::string &password, const std::string &method,
                            const std::string &uri, uint32_t *nc) {
  if (NoCaseEquals(challenge.scheme, "Basic")) return "Basic " + Base64(user + ":" + password);
  return AnswerDigest(challenge, user, password, method, uri, nc);
}

}  // namespace ncwin
