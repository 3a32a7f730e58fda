// Pan, tilt, zoom, presets and camera movement. Every command of Kavrel_SendPTZCommand is a
// row of one table: which of the model's paths it goes to, the text of its query, whether it
// names the camera, its method, what it does with the argument, and whether the model must
// take speed commands (Flag bit 0).
#include <stdio.h>
#include <string.h>

#include "commands/request.h"
#include "core/operation.h"
#include "platform/log.h"

namespace {

constexpr size_t kRequestMax = 260;
constexpr uint32_t kParamPresets = 275;  // "CAMERA CONTROL" / "presets"
constexpr int kPresetEntries = 20;

enum class Base : uint8_t { kPtz, kPreset, kRecall };

enum class Arg : uint8_t {
  kNone,        // the argument is not read
  kFragment,    // optional: "&" and the argument, a fragment of further query fields
  kField,       // required: the value of the row's field
  kFieldTwice,  // required: the value of the row's field and of its second field
  kSpeed,       // the value of the field; a NULL or empty one means there is no request
  kMayBeEmpty,  // the value of the field; NULL is refused, an empty one is sent
};

struct PtzCommand {
  uint32_t code;
  Base base;
  bool cam;          // "cam=N&" before the fields
  bool post;         // the preset list changes by POST
  bool speed_flag;   // the model needs Flag bit 0
  Arg arg;
  const char *text;  // the first field, with its value when it has a fixed one
  const char *second = nullptr;  // kFieldTwice: the second field's name
};

const PtzCommand kCommands[] = {
    {KAVREL_PTZ_UP, Base::kPtz, true, false, false, Arg::kNone, "move=up"},
    {KAVREL_PTZ_DOWN, Base::kPtz, true, false, false, Arg::kNone, "move=down"},
    {KAVREL_PTZ_LEFT, Base::kPtz, true, false, false, Arg::kNone, "move=left"},
    {KAVREL_PTZ_RIGHT, Base::kPtz, true, false, false, Arg::kNone, "move=right"},
    {KAVREL_PTZ_HOME, Base::kPtz, true, false, false, Arg::kNone, "move=home"},
    {KAVREL_PTZ_ZOOM_TELE, Base::kPtz, true, false, false, Arg::kFragment, "zoom=tele"},
    {KAVREL_PTZ_ZOOM_WIDE, Base::kPtz, true, false, false, Arg::kFragment, "zoom=wide"},
    {KAVREL_PTZ_FOCUS_NEAR, Base::kPtz, true, false, false, Arg::kNone, "focus=near"},
    {KAVREL_PTZ_FOCUS_FAR, Base::kPtz, true, false, false, Arg::kNone, "focus=far"},
    {KAVREL_PTZ_FOCUS_AUTO, Base::kPtz, true, false, false, Arg::kNone, "focus=auto"},
    {KAVREL_PTZ_PRESET_ADD, Base::kPreset, true, true, false, Arg::kField, "addpos="},
    {KAVREL_PTZ_PRESET_DEL, Base::kPreset, true, true, false, Arg::kField, "delpos="},
    {KAVREL_PTZ_RECALL, Base::kRecall, true, false, false, Arg::kField, "recall="},
    {KAVREL_PTZ_PAN_SPEED, Base::kPtz, true, false, true, Arg::kFieldTwice, "panspeed=",
     "&speedpan="},
    {KAVREL_PTZ_TILT_SPEED, Base::kPtz, true, false, true, Arg::kFieldTwice, "tiltspeed=",
     "&speedtilt="},
    {KAVREL_PTZ_AUTO_PAN, Base::kPtz, true, false, false, Arg::kNone, "auto=pan"},
    {KAVREL_PTZ_AUTO_STOP, Base::kPtz, true, false, false, Arg::kNone, "auto=stop"},
    {KAVREL_PTZ_AUTO_PATROL, Base::kPtz, true, false, false, Arg::kNone, "auto=patrol"},
    {KAVREL_PTZ_IRIS_OPEN, Base::kPtz, true, false, false, Arg::kNone, "iris=open"},
    {KAVREL_PTZ_IRIS_CLOSE, Base::kPtz, true, false, false, Arg::kNone, "iris=close"},
    {KAVREL_PTZ_IRIS_AUTO, Base::kPtz, true, false, false, Arg::kNone, "iris=auto"},
    {KAVREL_PTZ_ZOOM_SPEED, Base::kPtz, true, false, false, Arg::kSpeed, "speedzoom="},
    {KAVREL_PTZ_HOME_DEFINE, Base::kPtz, false, false, false, Arg::kNone, "sethome=define"},
    {KAVREL_PTZ_HOME_DEFAULT, Base::kPtz, false, false, false, Arg::kNone, "sethome=default"},
    {KAVREL_PTZ_FOCUS_SPEED, Base::kPtz, true, false, false, Arg::kMayBeEmpty, "speedfocus="},
};

const PtzCommand *FindCommand(uint32_t code) {
  for (const PtzCommand &c : kCommands) {
    if (c.code == code) return &c;
  }
  return nullptr;
}

const char *BasePath(const KavrelDevice *device, Base base) {
  switch (base) {
    case Base::kPreset:
      return device->param.PresetUrl;
    case Base::kRecall:
      return device->param.RecallUrl;
    case Base::kPtz:
      break;
  }
  return device->param.PtzUrl;
}

uint32_t Refuse(OperationSlot *slot, uint32_t result, const char *message) {
  ReleaseOperationSlot(slot);
  if (message) KV_FAIL("%s", message);
  return result;
}

// The camera number above the model's count is refused (signed, as hosts pass -1 for "the
// default camera" to models that take it). A single-camera model is sent camera 0, except
// where `keep_single` says the model numbers its one camera as the caller does.
bool CameraNumber(const KavrelDevice *device, int32_t camera, bool keep_single, int32_t *sent) {
  if (camera > device->param.CamNum) {
    KV_FAIL("cam incorrect: %d, %d\n", camera, device->param.CamNum);
    return false;
  }
  *sent = device->param.CamNum == 1 && !keep_single ? 0 : camera;
  return true;
}

// Series-2 video servers and the "KM7150" number their single camera as the host does.
bool KeepsSingleCamera(const KavrelDevice *device) {
  const char *type = device->server_type;
  return (strnlen(type, 3) == 3 && type[2] == '2') || strncmp(type, "KM7150", 6) == 0;
}

// The argument's presence and bytes, by the row's use of it. 0 or 0x80000003.
uint32_t CheckArgument(const PtzCommand &c, const char *argument) {
  switch (c.arg) {
    case Arg::kNone:
      return KAVREL_OK;
    case Arg::kFragment:
      return !argument || Request_FragmentIsSafe(argument) ? KAVREL_OK : KAVREL_E_INVALIDARG;
    case Arg::kSpeed:
      return !argument || Request_FieldIsSafe(argument) ? KAVREL_OK : KAVREL_E_INVALIDARG;
    case Arg::kField:
    case Arg::kFieldTwice:
    case Arg::kMayBeEmpty:
      break;
  }
  return argument && Request_FieldIsSafe(argument) ? KAVREL_OK : KAVREL_E_INVALIDARG;
}

// The index of the preset `name` in the local preset list (parameter 275, entries 0 to 19;
// an entry's name is the text after its last ','). Entries missing from the file are
// skipped; any other read failure, an empty name and a name no entry carries are refused,
// so that an unknown name never deletes preset 0.
uint32_t FindPresetIndex(KavrelDevice *device, const char *name, int *index) {
  if (!name[0] || Device_EnsureDirectory(device) != KAVREL_OK) return KAVREL_E_INVALIDARG;
  char value[KAVREL_VALUE_MAX];
  for (int i = 0; i < kPresetEntries; ++i) {
    uint32_t rc = Kavrel_GetSysInfoByID(device, value, kParamPresets, i);
    if (rc == KAVREL_E_CATALOG) continue;
    if (rc != KAVREL_OK) return KAVREL_E_INVALIDARG;
    const char *comma = strrchr(value, ',');
    if (strcmp(comma ? comma + 1 : value, name) == 0) {
      *index = i;
      return KAVREL_OK;
    }
  }
  KV_FAIL("preset not found: %s\n", name);
  return KAVREL_E_INVALIDARG;
}

// Builds the row's request; false when it does not fit.
bool BuildRequest(const PtzCommand &c, const char *base, int32_t cam, const char *argument,
                  int preset_index, char *request) {
  request[0] = '\0';
  bool ok = Request_Append(request, kRequestMax, "%s?", base);
  if (ok && c.cam) ok = Request_Append(request, kRequestMax, "cam=%d&", cam);
  if (!ok) return false;
  if (preset_index >= 0) return Request_Append(request, kRequestMax, "%s%d", c.text, preset_index);
  switch (c.arg) {
    case Arg::kNone:
      return Request_Append(request, kRequestMax, "%s", c.text);
    case Arg::kFragment:
      return argument && argument[0]
                 ? Request_Append(request, kRequestMax, "%s&%s", c.text, argument)
                 : Request_Append(request, kRequestMax, "%s", c.text);
    case Arg::kFieldTwice:
      return Request_Append(request, kRequestMax, "%s%s%s%s", c.text, argument, c.second,
                            argument);
    case Arg::kField:
    case Arg::kSpeed:
    case Arg::kMayBeEmpty:
      break;
  }
  return Request_Append(request, kRequestMax, "%s%s", c.text, argument);
}

// Sends a built request in kind `kind`; the slot is settled as every command settles it.
uint32_t Send(OperationSlot *slot, uint32_t kind, const char *request, bool post) {
  slot->kind = kind;
  slot->sub_state = SUB_STATE_REQUEST;
  KV_LOG(KAVREL_LOG_SOCKET, "send command(%s) with %s\n", KV_MASKED(request), post ? "POST" : "GET");
  bool async = slot->async != 0;
  uint32_t rc = Operation_Submit(slot, request, 0, post ? 1 : 0);
  if (!async && (rc == 0 || rc == KAVREL_S_BUFFER_FULL)) KV_LOG(KAVREL_LOG_SOCKET, "Send ok\n");
  return rc;
}

uint32_t SendCommand(DeviceHandle device, int32_t camera, uint32_t code, const char *argument,
                     int32_t async) {
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, KIND_PTZ, &slot);
  if (rc != KAVREL_OK) return rc;
  int32_t cam = 0;
  if (!CameraNumber(device, camera, KeepsSingleCamera(device), &cam)) {
    return Refuse(slot, KAVREL_E_INVALIDARG, nullptr);
  }
  const PtzCommand *c = FindCommand(code);
  if (!c) {
    ReleaseOperationSlot(slot);
    KV_FAIL("unknown cmd: %d\n", static_cast<int>(code));
    return KAVREL_E_INVALIDARG;
  }
  if (CheckArgument(*c, argument) != KAVREL_OK) {
    return Refuse(slot, KAVREL_E_INVALIDARG,
                  c->arg == Arg::kMayBeEmpty && !argument ? nullptr : "Invalid Arg\n");
  }
  int preset_index = -1;
  if (code == KAVREL_PTZ_PRESET_DEL && Device_Series(device) == '3' &&
      FindPresetIndex(device, argument, &preset_index) != KAVREL_OK) {
    return Refuse(slot, KAVREL_E_INVALIDARG, nullptr);
  }
  const char *base = BasePath(device, c->base);
  bool no_speed = c->speed_flag && !(device->param.Flag & 1);
  bool no_value = c->arg == Arg::kSpeed && (!argument || !argument[0]);
  if (!base[0] || no_speed || no_value) {
    return Refuse(slot, KAVREL_E_NOT_AVAILABLE, "unknown url\n");
  }
  char request[kRequestMax];
  if (!BuildRequest(*c, base, cam, argument, preset_index, request)) {
    return Refuse(slot, KAVREL_E_INVALIDARG, "request too long\n");
  }
  return Send(slot, KIND_PTZ, request, c->post);
}

bool IsNumberedPresetModel(const KavrelDevice *device) {
  return strstr(device->server_type, "RQ48x3") != nullptr;
}

// The numbered preset form: "presetnumber=N", and the name when there is one.
uint32_t SendNumberedPreset(OperationSlot *slot, const char *argument, uint32_t number) {
  const char *base = slot->device->param.PresetUrl;
  if (!base[0]) return Refuse(slot, KAVREL_E_NOT_AVAILABLE, "unknown url\n");
  if (argument && !Request_FieldIsSafe(argument)) {
    return Refuse(slot, KAVREL_E_INVALIDARG, "Invalid Arg\n");
  }
  // Signed on the wire, as the device reads it: 0xFFFFFFFF is preset -1.
  int32_t signed_number = static_cast<int32_t>(number);
  char request[kRequestMax] = {0};
  bool ok = argument && argument[0]
                ? Request_Append(request, kRequestMax, "%s?presetnumber=%d&presetname=%s", base,
                                 signed_number, argument)
                : Request_Append(request, kRequestMax, "%s?presetnumber=%d", base, signed_number);
  if (!ok) return Refuse(slot, KAVREL_E_INVALIDARG, "request too long\n");
  return Send(slot, KIND_PTZ, request, true);
}

}  // namespace

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SendPTZCommand(DeviceHandle device, uint32_t camera,
                                                         uint32_t command, const char *argument,
                                                         int32_t async) {
  return SendCommand(device, static_cast<int32_t>(camera), command, argument, async);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_SendPTZCommandEx(DeviceHandle device, int32_t camera,
                                                           uint32_t command, const char *argument,
                                                           uint32_t preset_number, int32_t async) {
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, KIND_PTZ, &slot);
  if (rc != KAVREL_OK) return rc;
  int32_t cam = 0;
  if (!CameraNumber(device, camera, false, &cam)) return Refuse(slot, KAVREL_E_INVALIDARG, nullptr);
  if (IsNumberedPresetModel(device)) {
    if (command == KAVREL_PTZ_PRESET_ADD) return SendNumberedPreset(slot, argument, preset_number);
    if (command == KAVREL_PTZ_PRESET_DEL || command == KAVREL_PTZ_PAN_SPEED ||
        command == KAVREL_PTZ_TILT_SPEED) {
      return Refuse(slot, KAVREL_E_NOT_AVAILABLE, nullptr);
    }
  }
  ReleaseOperationSlot(slot);
  return SendCommand(device, cam, command, argument, async);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_MoveCamera(DeviceHandle device, uint32_t camera,
                                                     int32_t x, int32_t y, int32_t async) {
  OperationSlot *slot = nullptr;
  uint32_t rc = Operation_Begin(device, KAVREL_LEVEL_MODEL, async, KIND_MOVE, &slot);
  if (rc != KAVREL_OK) return rc;
  int32_t cam = 0;
  if (!CameraNumber(device, static_cast<int32_t>(camera), false, &cam)) {
    return Refuse(slot, KAVREL_E_INVALIDARG, nullptr);
  }
  if (!device->param.PtzUrl[0]) return Refuse(slot, KAVREL_E_NOT_AVAILABLE, "unknown url\n");
  char request[kRequestMax] = {0};
  if (!Request_Append(request, kRequestMax, "%s?cam=%d&x=%d&y=%d", device->param.PtzUrl, cam, x,
                      y)) {
    return Refuse(slot, KAVREL_E_INVALIDARG, "request too long\n");
  }
  slot->kind = KIND_MOVE;
  return Operation_Submit(slot, request, 0, 0);
}

}  // extern "C"
