// Feeds arbitrary bytes to the response reader in pieces whose sizes come from the input,
// checks that the decoded body agrees with the framing, and answers every challenge found.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "wininet_http_parse_posix.h"
#include "wininet_http_posix_internal.h"

using ncwin::HttpResponseReader;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void AnswerAll(const HttpResponseReader &reader, const char *header) {
  std::vector<std::string> values = reader.HeaderValues(header);
  for (const std::string &v : values) ncwin::ParseAuthChallenges(v);
  ncwin::AuthChallenge challenge;
  if (ncwin::PickChallenge(values, &challenge)) {
    uint32_t nc = 0;
    std::string answer = ncwin::AnswerChallenge(challenge, "user", "pass", "GET", "/x", &nc);
    Check(!answer.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  bool no_body = (data[0] & 1) != 0;
  size_t step = 1 + data[1] % 64;  // piece size: every split point gets its turn
  const char *p = reinterpret_cast<const char *>(data + 2);
  size_t n = size - 2;

  HttpResponseReader reader(no_body);
  std::string body;
  for (size_t at = 0; at < n; at += step) {
    size_t take = n - at < step ? n - at : step;
    HttpResponseReader::State before = reader.state();
    reader.Push(p + at, take, &body);
    // Once finished, input changes nothing.
    if (before == HttpResponseReader::State::Done || before == HttpResponseReader::State::Failed) {
      Check(reader.state() == before);
    }
  }
  if ((data[0] & 2) != 0) reader.PushEnd();

  Check(body.size() == reader.body_bytes());
  if (reader.state() != HttpResponseReader::State::Head) {
    if (reader.status() != 0) Check(reader.status() >= 100 && reader.status() <= 599);
  }
  if (reader.content_length() >= 0 && !reader.chunked()) {
    Check(body.size() <= static_cast<uint64_t>(reader.content_length()));
    if (reader.state() == HttpResponseReader::State::Done) {
      Check(body.size() == static_cast<uint64_t>(reader.content_length()));
    }
  }
  // The same bytes in one piece give the same outcome.
  HttpResponseReader whole(no_body);
  std::string whole_body;
  whole.Push(p, n, &whole_body);
  if ((data[0] & 2) != 0) whole.PushEnd();
  Check(whole.state() == reader.state());
  Check(whole_body == body);

  AnswerAll(reader, "WWW-Authenticate");
  AnswerAll(reader, "Proxy-Authenticate");
  return 0;
}
