// Windows has no network namespaces: a pair is never made, and a test that needs one skips
// with the reason that Create() gives.
#include "netns_fixture.h"

namespace kvtest {

namespace {
const char kNone[] = "network namespaces are Linux's own";
}  // namespace

void NetnsPair::RemoveStale() {}

bool NetnsPair::Ip(const std::string &) { return false; }

bool NetnsPair::Create(std::string *why) {
  if (why != nullptr) *why = kNone;
  return false;
}

void NetnsPair::Remove() {}

bool NetnsPair::SetLink(Side, bool) { return false; }

bool NetnsPair::RouteAwayToTheOtherEnd(Side) { return false; }

bool NetnsPair::RunIn(Side, const std::function<void()> &, std::string *why) {
  if (why != nullptr) *why = kNone;
  return false;
}

NetnsEnter::NetnsEnter(const std::string &, std::string *why) {
  if (why != nullptr) *why = kNone;
}

NetnsEnter::~NetnsEnter() {}

}  // namespace kvtest
