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

int RunDeviceCall(const Settings &s, Output &out, const char *call, const char *done,
                  const std::function<uint32_t(Session &)> &start) {
  Session session(s);
  if (session.Open(out)) return 1;
  uint32_t rc = start(session);
  if (rc) return out.Failure(call, rc), 1;
  if (session.Await(out, call)) return 1;
  if (s.async && session.completion().status) return out.Failure(call, session.completion().status), 1;
  out.Done(done);
  return 0;
}

void AddPtzCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static unsigned cam = 1;
  static std::string code_text, argument, action, name;
  static int x = 0, y = 0;
  static unsigned number = 0;

  auto *ptz = app.add_subcommand("ptz", "pan, tilt, zoom, focus, iris, auto modes and home");
  ptz->add_option("cam", cam, "camera number (a single-camera model gets 0)")->required();
  ptz->add_option("code", code_text, "command: " + PtzNames() + ", or its number 201-225")
      ->required();
  auto *arg = ptz->add_option("arg", argument,
                              "speed, preset name, or the zoom's extra query fragment");
  commands.push_back({ptz, [&s, &out, arg] {
                        uint32_t code = 0;
                        if (!ParsePtzCode(code_text, &code)) {
                          out.Usage("unknown PTZ command \"" + code_text + "\": use " + PtzNames());
                          return 2;
                        }
                        const char *a = arg->count() ? argument.c_str() : nullptr;
                        return RunDeviceCall(s, out, "Kavrel_SendPTZCommand", "sent",
                                             [&](Session &session) {
                                               return Kavrel_SendPTZCommand(session.device(), cam,
                                                                            code, a, session.async());
                                             });
                      }});

  auto *move = app.add_subcommand("move", "move a camera to a coordinate");
  move->add_option("cam", cam, "camera number")->required();
  move->add_option("x", x, "x coordinate")->required();
  move->add_option("y", y, "y coordinate")->required();
  commands.push_back({move, [&s, &out] {
                        return RunDeviceCall(s, out, "Kavrel_MoveCamera", "moved", [](Session &session) {
                          return Kavrel_MoveCamera(session.device(), cam, x, y, session.async());
                        });
                      }});

  auto *preset = app.add_subcommand("preset", "add, delete or recall a preset position");
  preset->add_option("action", action, "add, delete or recall")
      ->required()
      ->check(CLI::IsMember({"add", "delete", "recall"}));
  preset->add_option("cam", cam, "camera number")->required();
  preset->add_option("name", name, "preset name")->required();
  preset->add_option("--number", number, "preset number, for models that number presets (RQ48x3)");
  commands.push_back({preset, [&s, &out] {
                        uint32_t code = action == "add"      ? KAVREL_PTZ_PRESET_ADD
                                        : action == "delete" ? KAVREL_PTZ_PRESET_DEL
                                                             : KAVREL_PTZ_RECALL;
                        std::string done = "preset " + name + (action == "add" ? " added"
                                                               : action == "delete" ? " deleted"
                                                                                    : " recalled");
                        return RunDeviceCall(s, out, "Kavrel_SendPTZCommandEx", done.c_str(),
                                             [code](Session &session) {
                                               return Kavrel_SendPTZCommandEx(
                                                   session.device(), static_cast<int32_t>(cam),
                                                   code, name.c_str(), number, session.async());
                                             });
                      }});
}
