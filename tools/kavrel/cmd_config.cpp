// The device with its whole configuration: open (describe, read the model, bind it), and
// config pull|push|get|set. Every run fetches the configuration first (Kavrel_SetDeviceProperty):
// the library keeps it in a private file only for the life of the session.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "cli.h"

namespace {

void PrintValue(Output &out, const char *key, const std::string &value) {
  if (out.json()) {
    printf("{\"ok\":true,%s:%s}\n", Output::Quote(key).c_str(), Output::Quote(value).c_str());
  } else {
    printf("%s\n", value.c_str());
  }
}

int RunPull(const Settings &s, Output &out, const std::string &file) {
  Session session(s);
  if (session.Describe(out)) return 1;
  std::string text;
  uint32_t rc = ConfigReadLocal(session.device(), &text);
  if (rc) return out.Failure("Kavrel_ReadLocalConfig", rc), 1;
  if (file.empty()) {
    if (out.json()) {
      PrintValue(out, "config", text);
    } else {
      fwrite(text.data(), 1, text.size(), stdout);
    }
    return 0;
  }
  FILE *f = fopen(file.c_str(), "wb");
  bool written = f && fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f && fclose(f) != 0) written = false;
  if (!written) return out.Usage("cannot write " + file), 1;
  if (out.json()) {
    printf("{\"ok\":true,\"file\":%s,\"bytes\":%zu}\n", Output::Quote(file).c_str(), text.size());
  } else {
    printf("configuration written to %s (%zu bytes)\n", file.c_str(), text.size());
  }
  return 0;
}

// Sets one value, then stores the configuration on the device.
uint32_t SetAndPush(DeviceHandle device, int async, CallResult *result, const std::string &section,
                    const std::string &key, const std::string &value, int index) {
  uint32_t rc = Kavrel_SetSysInfo(device, value.c_str(), section.c_str(), key.c_str(), index);
  if (rc) {
    result->detail = "Kavrel_SetSysInfo";
    return rc;
  }
  return Kavrel_UpdateRemoteConfig(device, async);
}

}  // namespace

uint32_t ConfigReadLocal(DeviceHandle device, std::string *text) {
  uint32_t size = 0;
  uint32_t rc = Kavrel_ReadLocalConfig(device, nullptr, &size);
  if (rc != 0 && rc != KAVREL_E_INVALIDARG) return rc;
  std::vector<char> buffer(size + 1);
  size = static_cast<uint32_t>(buffer.size());
  rc = Kavrel_ReadLocalConfig(device, buffer.data(), &size);
  if (rc) return rc;
  text->assign(buffer.data(), size);
  return 0;
}


uint32_t ConfigRestore(DeviceHandle device, const std::vector<ConfigValue> &values,
                       std::string *detail) {
  for (const ConfigValue &v : values) {
    uint32_t rc = Kavrel_SetSysInfo(device, v.value.c_str(), v.section.c_str(), v.key.c_str(), v.index);
    if (rc) {
      *detail = "Kavrel_SetSysInfo, line " + std::to_string(v.line);
      return rc;
    }
  }
  uint32_t rc = Kavrel_UpdateRemoteConfig(device, 0);
  if (rc) *detail = "Kavrel_UpdateRemoteConfig";
  return rc;
}

void DefineConfigCalls(CLI::App *parent, CLI::App *config, CallCommands *calls) {
  static std::string section, key, value;
  static int index = -1;

  auto *open = parent->add_subcommand(
      "open", "describe the device with its configuration, read its model and bind it");
  calls->push_back({open, [](Output &, DeviceCall *call) {
                      *call = {"Kavrel_OpenDevice", "", true, false};
                      call->run = [](DeviceHandle device, int, CallResult *result) {
                        char model[KAVREL_MODEL_MAX];
                        uint32_t rc = Kavrel_GetDeviceModel(device, model);
                        if (rc) return result->detail = "Kavrel_GetDeviceModel", rc;
                        rc = Kavrel_OpenDevice(device, model);
                        if (!rc) result->detail = model;
                        return rc;
                      };
                      call->print = [](Output &out, const CallResult &r) { PrintValue(out, "model", r.detail); };
                      return 0;
                    }});

  auto *push = config->add_subcommand("push", "fetch the configuration and send it back");
  calls->push_back({push, [](Output &, DeviceCall *call) {
                      *call = {"Kavrel_UpdateRemoteConfig", "configuration sent", true};
                      call->run = [](DeviceHandle device, int async, CallResult *) {
                        return Kavrel_UpdateRemoteConfig(device, async);
                      };
                      return 0;
                    }});

  auto *get = config->add_subcommand("get", "print one value of the configuration");
  get->add_option("section", section, "section name, e.g. SYSTEM")->required();
  get->add_option("key", key, "key name, e.g. \"host name\"")->required();
  get->add_option("--index", index, "entry of an indexed list (default: the plain value)");
  calls->push_back({get, [](Output &, DeviceCall *call) {
                      *call = {"Kavrel_GetSysInfo", "", true, false};
                      call->run = [](DeviceHandle device, int, CallResult *result) {
                        char text[KAVREL_VALUE_MAX];
                        uint32_t rc = Kavrel_GetSysInfo(device, text, section.c_str(), key.c_str(), index);
                        if (!rc) result->detail = text;
                        return rc;
                      };
                      call->print = [](Output &out, const CallResult &r) { PrintValue(out, "value", r.detail); };
                      return 0;
                    }});

  auto *set = config->add_subcommand("set", "change one value: fetch, change, send back");
  set->add_option("section", section, "section name")->required();
  set->add_option("key", key, "key name")->required();
  set->add_option("value", value, "the new value")->required();
  set->add_option("--index", index, "entry of an indexed list (default: the plain value)");
  calls->push_back({set, [](Output &, DeviceCall *call) {
                      *call = {"Kavrel_UpdateRemoteConfig",
                               "[" + section + "] <" + key + "> = " + value + " sent to the device",
                               true};
                      call->run = [](DeviceHandle device, int async, CallResult *result) {
                        return SetAndPush(device, async, result, section, key, value, index);
                      };
                      return 0;
                    }});
}

void AddConfigCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static std::string file;
  auto *config = app.add_subcommand("config", "the device's whole configuration file");
  config->require_subcommand(1);
  auto *pull = config->add_subcommand("pull", "fetch the configuration; print it or save it");
  pull->add_option("file", file, "write it to this file instead of printing it");
  commands.push_back({pull, [&s, &out] { return RunPull(s, out, file); }});

  CallCommands calls;
  DefineConfigCalls(&app, config, &calls);
  AddSingleDeviceCalls(calls, s, out, commands);
}
