// HTTP Digest answers.
#include "digest.h"

#include <random>

#include "hash.h"

namespace tessum {
namespace {

std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

const char *AlgorithmName(http::DigestAlg alg) {
  switch (alg) {
    case http::DigestAlg::Md5: return "MD5";
    case http::DigestAlg::Md5Sess: return "MD5-sess";
    case http::DigestAlg::Sha256: return "SHA-256";
    case http::DigestAlg::Sha256Sess: return "SHA-256-sess";
  }
  return "MD5";
}

}  // namespace

std::string DigestAuthorization(const http::DigestChallenge &c, const DigestInput &in) {
  const bool md5 = c.alg == http::DigestAlg::Md5 || c.alg == http::DigestAlg::Md5Sess;
  const bool sess = c.alg == http::DigestAlg::Md5Sess || c.alg == http::DigestAlg::Sha256Sess;
  const HashKind kind = md5 ? HashKind::Md5 : HashKind::Sha256;
  auto h = [kind](const std::string &s) { return HashHex(kind, s); };
  const std::string nc = "00000001";
  std::string ha1 = h(std::string(in.user) + ":" + c.realm + ":" + std::string(in.password));
  if (sess) ha1 = h(ha1 + ":" + c.nonce + ":" + std::string(in.cnonce));
  std::string ha2 = h(std::string(in.method) + ":" + std::string(in.uri));
  if (ha1.empty() || ha2.empty()) return std::string();
  std::string response =
      c.qop_auth ? h(ha1 + ":" + c.nonce + ":" + nc + ":" + std::string(in.cnonce) + ":auth:" + ha2)
                 : h(ha1 + ":" + c.nonce + ":" + ha2);
  if (response.empty()) return std::string();
  std::string v = "Digest username=" + Quoted(in.user) + ", realm=" + Quoted(c.realm) +
                  ", nonce=" + Quoted(c.nonce) + ", uri=" + Quoted(in.uri) +
                  ", algorithm=" + AlgorithmName(c.alg) + ", response=\"" + response + "\"";
  if (c.qop_auth) v += ", qop=auth, nc=" + nc + ", cnonce=" + Quoted(in.cnonce);
  if (c.has_opaque) v += ", opaque=" + Quoted(c.opaque);
  return v;
}

std::string NewCnonce() {
  static const char kHex[] = "0123456789abcdef";
  std::random_device rd;
  std::string out;
  for (int i = 0; i < 8; ++i) {
    unsigned v = rd();
    for (int j = 0; j < 4; ++j) {
      out += kHex[v & 15];
      v >>= 4;
    }
  }
  return out;
}

}  // namespace tessum
