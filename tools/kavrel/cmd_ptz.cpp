// Camera movement: ptz, move and preset.
#include <stdlib.h>

#include <string>

#include "cli.h"

namespace {

const struct {
  const char *name;
  uint32_t code;
} kPtzNames[] = {
    {"up", KAVREL_PTZ_UP},           {"down", KAVREL_PTZ_DOWN},
    {"left", KAVREL_PTZ_LEFT},       {"right", KAVREL_PTZ_RIGHT},
    {"home", KAVREL_PTZ_HOME},       {"tele", KAVREL_PTZ_ZOOM_TELE},
    {"wide", KAVREL_PTZ_ZOOM_WIDE},  {"near", KAVREL_PTZ_FOCUS_NEAR},
    {"far", KAVREL_PTZ_FOCUS_FAR},   {"focus-auto", KAVREL_PTZ_FOCUS_AUTO},
    {"pan-speed", KAVREL_PTZ_PAN_SPEED}, {"tilt-speed", KAVREL_PTZ_TILT_SPEED},
    {"auto-pan", KAVREL_PTZ_AUTO_PAN}, {"auto-stop", KAVREL_PTZ_AUTO_STOP},
    {"patrol", KAVREL_PTZ_AUTO_PATROL}, {"iris-open", KAVREL_PTZ_IRIS_OPEN},
    {"iris-close", KAVREL_PTZ_IRIS_CLOSE}, {"iris-auto", KAVREL_PTZ_IRIS_AUTO},
    {"zoom-speed", KAVREL_PTZ_ZOOM_SPEED}, {"home-define", KAVREL_PTZ_HOME_DEFINE},
    {"home-default", KAVREL_PTZ_HOME_DEFAULT}, {"focus-speed", KAVREL_PTZ_FOCUS_SPEED},
};

// A command by name or by number (201 to 225; other numbers go to the library as given).
bool ParsePtzCode(const std::string &text, uint32_t *code) {
  for (const auto &n : kPtzNames) {
    if (text == n.name) {
      *code = n.code;
      return true;
    }
  }
  char *end = nullptr;
  unsigned long number = strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end || number > 0xFFFFFFFFul) return false;
  *code = static_cast<uint32_t>(number);
  return true;
}

std::string PtzNames() {
  std::string names;
  for (const auto &n : kPtzNames) names += std::string(names.empty() ? "" : ", ") + n.name;
  return names;
}

}  // namespace

void DefinePtzCalls(CLI::App *parent, CallCommands *calls) {
  static unsigned cam = 1;
  static std::string code_text, argument, action, name;
  static int x = 0, y = 0;
  static unsigned number = 0;

  auto *ptz = parent->add_subcommand("ptz", "pan, tilt, zoom, focus, iris, auto modes and home");
  ptz->add_option("cam", cam, "camera number (a single-camera model gets 0)")->required();
  ptz->add_option("code", code_text, "command: " + PtzNames() + ", or its number 201-225")
      ->required();
  auto *arg = ptz->add_option("arg", argument,
                              "speed, preset name, or the zoom's extra query fragment");
  calls->push_back({ptz, [arg](Output &out, DeviceCall *call) {
                      uint32_t code = 0;
                      if (!ParsePtzCode(code_text, &code)) {
                        out.Usage("unknown PTZ command \"" + code_text + "\": use " + PtzNames());
                        return 2;
                      }
                      bool given = arg->count() > 0;
                      *call = {"Kavrel_SendPTZCommand", "sent"};
                      call->run = [code, given](DeviceHandle device, int async, CallResult *) {
                        return Kavrel_SendPTZCommand(device, cam, code,
                                                     given ? argument.c_str() : nullptr, async);
                      };
                      return 0;
                    }});

  auto *move = parent->add_subcommand("move", "move a camera to a coordinate");
  move->add_option("cam", cam, "camera number")->required();
  move->add_option("x", x, "x coordinate")->required();
  move->add_option("y", y, "y coordinate")->required();
  calls->push_back({move, [](Output &, DeviceCall *call) {
                      *call = {"Kavrel_MoveCamera", "moved"};
                      call->run = [](DeviceHandle device, int async, CallResult *) {
                        return Kavrel_MoveCamera(device, cam, x, y, async);
                      };
                      return 0;
                    }});

  auto *preset = parent->add_subcommand("preset", "add, delete or recall a preset position");
  preset->add_option("action", action, "add, delete or recall")
      ->required()
      ->check(CLI::IsMember({"add", "delete", "recall"}));
  preset->add_option("cam", cam, "camera number")->required();
  preset->add_option("name", name, "preset name")->required();
  preset->add_option("--number", number, "preset number, for models that number presets (RQ48x3)");
  calls->push_back({preset, [](Output &, DeviceCall *call) {
                      uint32_t code = action == "add"      ? KAVREL_PTZ_PRESET_ADD
                                      : action == "delete" ? KAVREL_PTZ_PRESET_DEL
                                                           : KAVREL_PTZ_RECALL;
                      *call = {"Kavrel_SendPTZCommandEx",
                               "preset " + name + (action == "add"      ? " added"
                                                   : action == "delete" ? " deleted"
                                                                        : " recalled")};
                      call->run = [code](DeviceHandle device, int async, CallResult *) {
                        return Kavrel_SendPTZCommandEx(device, static_cast<int32_t>(cam), code,
                                                       name.c_str(), number, async);
                      };
                      return 0;
                    }});
}

void AddPtzCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  CallCommands calls;
  DefinePtzCalls(&app, &calls);
  AddSingleDeviceCalls(calls, s, out, commands);
}
