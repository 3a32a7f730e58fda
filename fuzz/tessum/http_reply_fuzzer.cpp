// Feeds arbitrary bytes to the reply parser the way a request sees them: the head in
// pieces as they arrive, then every challenge it carries, then the Digest answer to the one
// a request would pick: a header value that never breaks the request's head.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "digest.h"
#include "http_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace tessum::http;
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  // A split point taken from the input checks that a partial head never completes early.
  size_t split = size > 0 ? data[0] % (size + 1) : 0;
  ResponseHead head;
  HeadResult partial = ParseResponseHead(bytes.substr(0, split), &head);
  HeadResult whole = ParseResponseHead(bytes, &head);
  if (partial == HeadResult::Complete && whole != HeadResult::Complete) __builtin_trap();
  if (whole == HeadResult::Complete) {
    if (head.head_length > size || head.head_length > kMaxHead) __builtin_trap();
    if (head.status < 100 || head.status > 599) __builtin_trap();
    DigestChallenge digest;
    for (const auto *headers : {&head.www_authenticate, &head.proxy_authenticate}) {
      if (!PickDigest(*headers, &digest)) continue;
      tessum::DigestInput in{"GET", "/cgi-bin/a.cgi?x=1", "root", "pass", "0123456789abcdef"};
      std::string answer = tessum::DigestAuthorization(digest, in);
      if (answer.rfind("Digest username=\"root\", realm=", 0) != 0) __builtin_trap();
      if (answer.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    }
  }
  std::vector<Challenge> challenges;
  ParseChallenges(bytes, &challenges);
  return 0;
}
