// Host name, clock and administrator password, for the three generations of models. The
// requests go into a 512-byte buffer owned by the slot: the first in its first half, the
// second (the older generations' password request) in its second half, empty when unused;
// the worker sends the second after the first has completed.
#include <stdlib.h>
#include <string.h>

#include "commands/request.h"
#include "core/operation.h"
#include "platform/log.h"

namespace {

constexpr size_t kHalf = 256;
constexpr size_t kBuffer = 2 * kHalf;

enum class Generation { kOld, kSeries3, kNew };

struct GenerationPaths {
  const char *system;
  const char *security;  // NULL: the password goes with the system request
};

Generation GenerationOf(const KavrelDevice *device) {
  const char *type = device->server_type;
  if (strncmp(type, "KM7150", 6) == 0) return Generation::kNew;
  char third = strnlen(type, 3) == 3 ? type[2] : '\0';
  if (third > '3') return Generation::kNew;
  return third == '3' ? Generation::kSeries3 : Generation::kOld;
}

GenerationPaths PathsOf(Generation g) {
  switch (g) {
    case Generation::kNew:
      return {"/cgi-bin/admin/setparam.cgi", nullptr};
    case Generation::kSeries3:
      return {"/setup/system.cgi", "/setup/security.cgi"};
    case Generation::kOld:
      break;
  }
  return {"/cgi-bin/system.cgi", "/cgi-bin/security.cgi"};
}

// A fixed field of the caller's record: its NUL within its width, and a value that stays
// one form field.
bool FieldIsUsable(const char *field, size_t width) {
  return Request_FixedFieldIsTerminated(field, width) && Request_FieldIsSafe(field);
}

bool RequestIsUsable(const SetParamRequest *r) {
  if (r->set_host_name && !FieldIsUsable(r->host_name, sizeof(r->host_name))) return false;
  if (!FieldIsUsable(r->date, sizeof(r->date))) return false;
  if (!FieldIsUsable(r->time, sizeof(r->time))) return false;
  return !r->set_password || FieldIsUsable(r->password, sizeof(r->password));
}

// Appends "key=value", with '?' before the first parameter and '&' before the others.
bool AddParam(char *request, bool *first, const char *key, const char *value) {
  const char *separator = *first ? "?" : "&";
  *first = false;
  return Request_Append(request, kHalf, "%s%s=%s", separator, key, value);
}

// The system request of the generation; `added` tells whether it carries anything.
bool BuildSystemRequest(const SetParamRequest *r, Generation g, char *request, bool *added) {
  bool fresh = g == Generation::kNew;
  bool first = true;
  bool ok = Request_Append(request, kHalf, "%s", PathsOf(g).system);
  if (ok && r->set_host_name) {
    ok = AddParam(request, &first, fresh ? "System_hostname" : "host", r->host_name);
  }
  bool menu = false;
  if (ok && r->date[0]) {
    if (!fresh) ok = AddParam(request, &first, "method", "menu");
    menu = !fresh;
    ok = ok && AddParam(request, &first, fresh ? "System_date" : "date", r->date);
  }
  if (ok && r->time[0]) {
    if (!fresh && !menu) ok = AddParam(request, &first, "method", "menu");
    ok = ok && AddParam(request, &first, fresh ? "System_time" : "time", r->time);
  }
  if (ok && fresh && r->set_password) {
    ok = AddParam(request, &first, "Security_userpass_0", r->password);
  }
  *added = !first;
  return ok;
}

// Fills the slot's buffer with the first and second requests. 0, 0x80000003 when a request
// does not fit or there is nothing to set.
uint32_t BuildRequests(const SetParamRequest *r, Generation g, char *buffer) {
  char *first = buffer;
  char *second = buffer + kHalf;
  bool added = false;
  if (!BuildSystemRequest(r, g, first, &added)) return KAVREL_E_INVALIDARG;
  if (!added) first[0] = '\0';
  const char *security = PathsOf(g).security;
  if (security && r->set_password) {
    char *target = added ? second : first;
    if (!Request_Append(target, kHalf, "%s?rootpass=%s", security, r->password)) {
      return KAVREL_E_INVALIDARG;
    }
  }
  if (!first[0]) {
    KV_FAIL("no arg set\n");
    return KAVREL_E_INVALIDARG;
  }
  return KAVREL_OK;
}

uint32_t Refuse(OperationSlot *slot, uint32_t result) {
  ReleaseOperationSlot(slot);
  return result;
}

uint32_t SubmitSync(OperationSlot *slot, const char *request) {
  uint32_t rc = HttpCommandToServer(slot->device, request, 0, 0, 1, slot);
  if (rc != 0) KV_LOG(KAVREL_LOG_LOWER, "HttpCommandToServer (%s) failed: %X\n", KV_MASKED(request), rc);
  return rc;
}

}  // namespace

const char *Params_SecondRequest(const OperationSlot *slot) {
  const char *buffer = static_cast<const char *>(slot->args);
  return buffer && buffer[kHalf] ? buffer + kHalf : nullptr;
}

extern "C" KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetParam(DeviceHandle device,
                                                              const SetParamRequest *request,
                                                              int32_t async) {
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, KIND_PARAM, &slot);
  if (rc != KAVREL_OK) return rc;
  char *buffer = static_cast<char *>(calloc(1, kBuffer));
  if (!buffer) {
    ReleaseOperationSlot(slot);
    KV_FAIL("malloc error: %d\n", static_cast<int>(kBuffer));
    return KAVREL_E_NOMEM;
  }
  slot->args = buffer;  // freed with the slot
  if (!request || !RequestIsUsable(request)) {
    KV_FAIL("Invalid Arg\n");
    return Refuse(slot, KAVREL_E_INVALIDARG);
  }
  rc = BuildRequests(request, GenerationOf(device), buffer);
  if (rc != KAVREL_OK) return Refuse(slot, rc);
  if (slot->async) return Operation_Submit(slot, buffer, 0, 1);
  rc = SubmitSync(slot, buffer);
  if (rc == 0 && buffer[kHalf]) rc = SubmitSync(slot, buffer + kHalf);
  ReleaseOperationSlot(slot);
  return rc;
}
