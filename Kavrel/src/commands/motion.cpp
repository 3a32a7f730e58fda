// Motion detection windows. Two kinds of device: series 2 (not "KM7150") has one detection
// area whose percentage and sensitivity are read from an HTML setup page and set through
// motion.cgi; every other model has three named windows, read from getmd.cgi and set through
// setmd.cgi. The form page's values can also be copied into the local configuration.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands/device_reply.h"
#include "commands/request.h"
#include "core/operation.h"
#include "platform/log.h"

namespace {

constexpr uint32_t kPageCapacity = 10000;  // the form page's buffer holds one more byte
constexpr size_t kFragmentMax = 120;

// The records hold unsigned fields; the device's forms take signed decimal numbers.
int Signed(uint32_t value) { return static_cast<int>(static_cast<int32_t>(value)); }

// What the completion needs of the caller's call: kept in the slot's argument block.
struct MotionArgs {
  MotionWindow *windows;  // read: the caller's three records
  uint32_t *count;
  uint32_t update_config;
  uint32_t percent;  // set: window 0's values, for the configuration copy
  uint32_t sensitivity;
};

bool IsFormKind(const KavrelDevice *device) {
  const char *type = device->server_type;
  return strncmp(type, "KM7150", 6) != 0 && strnlen(type, 3) == 3 && type[2] == '2';
}

const char *WindowPath(const KavrelDevice *device, bool set) {
  if (Device_Series(device) > '3') return set ? "/cgi-bin/admin/setmd.cgi" : "/cgi-bin/admin/getmd.cgi";
  return set ? "/setup/setmd.cgi" : "/setup/getmd.cgi";
}

// ---- The form page ------------------------------------------------------------------------

// The form values go to the device's local configuration when asked and the device has one.
void CopyToConfig(KavrelDevice *device, uint32_t update_config, uint32_t percent,
                  uint32_t sensitivity) {
  if (!update_config || device->property_level != KAVREL_LEVEL_CONFIG) return;
  if (Device_EnsureDirectory(device) != KAVREL_OK) return;
  char text[16];
  snprintf(text, sizeof(text), "%d", Signed(percent));
  Kavrel_SetSysInfo(device, text, "ALERT", "percentage of object size over screen", -1);
  snprintf(text, sizeof(text), "%d", Signed(sensitivity));
  Kavrel_SetSysInfo(device, text, "ALERT", "percentage of sensitivity", -1);
}

uint32_t ParseFormPage(KavrelDevice *device, const char *page, const MotionArgs &args) {
  // Window 0 is written only once both values are found: a page missing one leaves the
  // host's record as it was.
  uint32_t percent = 0, sensitivity = 0;
  if (!DeviceReply_FormValue(page, "per", &percent)) {
    KV_FAIL("percent not found\n");
    return KAVREL_E_HTML_VALUE;
  }
  if (!DeviceReply_FormValue(page, "sen", &sensitivity)) {
    KV_FAIL("sensitivity not found\n");
    return KAVREL_E_HTML_VALUE;
  }
  MotionWindow *w = &args.windows[0];
  w->percent = percent;
  w->sensitivity = sensitivity;
  w->enabled = 1;
  w->form = 1;
  *args.count = 1;
  CopyToConfig(device, args.update_config, w->percent, w->sensitivity);
  return KAVREL_OK;
}

// ---- getmd ----------------------------------------------------------------------------------

void ParseGetmd(const char *reply, const MotionArgs &args) {
  DeviceReply_ParseGetmd(reply, args.windows);
  *args.count = KAVREL_MOTION_WINDOWS;
}

// ---- setmd ----------------------------------------------------------------------------------

// The name of an enabled window; a disabled one is sent without its name.
bool WindowIsUsable(const MotionWindow &w) {
  return Request_FixedFieldIsTerminated(w.name, sizeof(w.name)) && Request_FieldIsSafe(w.name);
}

// Window number n (1 to 3) as setmd takes it; false when it does not fit its fragment.
bool BuildFragment(const MotionWindow &w, int n, char *fragment) {
  fragment[0] = '\0';
  if (!w.enabled) {
    return Request_Append(fragment, kFragmentMax,
                          "i%d=%d&n%d=&x%d=0&y%d=0&w%d=0&h%d=0&p%d=0&t%d=0", n, n - 1, n, n, n,
                          n, n, n, n);
  }
  // The device reads every number as signed decimal.
  return Request_Append(fragment, kFragmentMax,
                        "i%d=%d&n%d=%s&x%d=%d&y%d=%d&w%d=%d&h%d=%d&p%d=%d&t%d=%d", n, n - 1, n,
                        w.name, n, Signed(w.x), n, Signed(w.y), n, Signed(w.w), n, Signed(w.h), n,
                        Signed(w.percent), n, Signed(w.sensitivity));
}

bool BuildSetRequest(const KavrelDevice *device, const MotionWindow *windows, char *request,
                     size_t size) {
  if (IsFormKind(device)) {
    return Request_Append(request, size, "/cgi-bin/motion.cgi?per=%d&sen=%d",
                          Signed(windows[0].percent), Signed(windows[0].sensitivity));
  }
  char fragments[KAVREL_MOTION_WINDOWS][kFragmentMax];
  for (int n = 1; n <= KAVREL_MOTION_WINDOWS; ++n) {
    const MotionWindow &w = windows[n - 1];
    if ((w.enabled && !WindowIsUsable(w)) || !BuildFragment(w, n, fragments[n - 1])) {
      return false;
    }
  }
  return Request_Append(request, size, "%s?%s&%s&%s", WindowPath(device, true), fragments[0],
                        fragments[1], fragments[2]);
}

uint32_t Refuse(OperationSlot *slot, uint32_t result, const char *message) {
  ReleaseOperationSlot(slot);
  KV_FAIL("%s", message);
  return result;
}

// Takes the slot with its argument block. 0 or a result code (nothing held then).
uint32_t BeginMotion(DeviceHandle device, int32_t async, uint32_t kind, uint32_t update_config,
                     OperationSlot **out, MotionArgs **args) {
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, kind, out);
  if (rc != KAVREL_OK) return rc;
  (*out)->sub_state = SUB_STATE_MOTION;
  *args = static_cast<MotionArgs *>(calloc(1, sizeof(MotionArgs)));
  if (!*args) return Refuse(*out, KAVREL_E_NOMEM, "malloc error\n");
  (*args)->update_config = update_config;
  (*out)->args = *args;  // freed with the slot
  return KAVREL_OK;
}

}  // namespace

uint32_t Motion_ParseReply(OperationSlot *slot, uint32_t *count) {
  const MotionArgs &args = *static_cast<MotionArgs *>(slot->args);
  uint32_t rc = KAVREL_OK;
  if (IsFormKind(slot->device)) {
    rc = ParseFormPage(slot->device, slot->reply_buffer, args);
  } else {
    ParseGetmd(slot->reply_buffer, args);
  }
  *count = *args.count;
  return rc;
}

void Motion_AfterSet(OperationSlot *slot) {
  const MotionArgs &args = *static_cast<MotionArgs *>(slot->args);
  if (IsFormKind(slot->device)) {
    CopyToConfig(slot->device, args.update_config, args.percent, args.sensitivity);
  }
}

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetMotionDetectionInfo(DeviceHandle device,
                                                                 MotionWindow *windows,
                                                                 uint32_t *count,
                                                                 uint32_t update_config,
                                                                 int32_t async) {
  OperationSlot *slot = nullptr;
  MotionArgs *args = nullptr;
  uint32_t rc = BeginMotion(device, async, KIND_MOTION_GET, update_config, &slot, &args);
  if (rc != KAVREL_OK) return rc;
  if (!windows || !count) return Refuse(slot, KAVREL_E_INVALIDARG, "Invalid Arg\n");
  args->windows = windows;
  args->count = count;
  *count = 0;
  const char *path = nullptr;
  if (IsFormKind(device)) {
    memset(windows, 0, sizeof(MotionWindow));
    char *page = static_cast<char *>(calloc(1, kPageCapacity + 1));
    if (!page) return Refuse(slot, KAVREL_E_NOMEM, "malloc error: 10001\n");
    slot->extra_buffer = page;  // freed with the slot
    Operation_UseBuffer(slot, page, kPageCapacity);
    path = "/setup/motion.html";
  } else {
    memset(windows, 0, KAVREL_MOTION_WINDOWS * sizeof(MotionWindow));
    path = WindowPath(device, false);
  }
  if (slot->async) return Operation_Submit(slot, path, 1, 0);
  rc = HttpCommandToServer(device, path, 0, 1, 0, slot);
  if (rc != 0 && rc != KAVREL_S_BUFFER_FULL) {
    KV_LOG(KAVREL_LOG_LOWER, "HttpCommandToServer (%s) failed: %X\n", KV_MASKED(path), rc);
    ReleaseOperationSlot(slot);
    return rc;
  }
  uint32_t windows_read = 0;
  rc = Motion_ParseReply(slot, &windows_read);
  ReleaseOperationSlot(slot);
  return rc;
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SetMotionDetectionInfo(DeviceHandle device,
                                                                 const MotionWindow *windows,
                                                                 uint32_t update_config,
                                                                 int32_t async) {
  OperationSlot *slot = nullptr;
  MotionArgs *args = nullptr;
  uint32_t rc = BeginMotion(device, async, KIND_MOTION_SET, update_config, &slot, &args);
  if (rc != KAVREL_OK) return rc;
  if (!windows) return Refuse(slot, KAVREL_E_INVALIDARG, "Invalid Arg\n");
  args->percent = windows[0].percent;
  args->sensitivity = windows[0].sensitivity;
  char request[KAVREL_SLOT_BUFFER] = {0};
  if (!BuildSetRequest(device, windows, request, sizeof(request))) {
    return Refuse(slot, KAVREL_E_INVALIDARG, "Invalid Arg\n");
  }
  bool form = IsFormKind(device);
  bool async_call = slot->async != 0;
  rc = Operation_Submit(slot, request, 0, form ? 1 : 0);
  if (!async_call && rc == 0 && form) {
    CopyToConfig(device, update_config, windows[0].percent, windows[0].sensitivity);
  }
  return rc;
}

}  // extern "C"
