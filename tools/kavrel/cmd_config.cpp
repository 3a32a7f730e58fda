// The device with its whole configuration: open (describe, read the model, bind it), and
// config pull|push|get|set. Every run fetches the configuration first (Kavrel_SetDeviceProperty):
// the library keeps it in a private file only for the life of the session.
#include <stdio.h>
#include <string.h>

#include <mutex>
#include <string>
#include <vector>

#include "cli.h"

namespace {

// Runs one more asynchronous step of the session and checks its callback's status.
uint32_t AwaitNext(Session &session, Output &out, const char *what, uint32_t rc) {
  if (rc) return out.Failure(what, rc);
  rc = session.Await(out, what);
  if (rc) return rc;
  Completion &c = session.completion();
  if (session.settings().async && c.status) return out.Failure(what, c.status);
  return 0;
}

void ResetCompletion(Session &session) {
  Completion &c = session.completion();
  std::lock_guard<std::mutex> hold(c.mutex);
  c.done = false;
}

void PrintValue(Output &out, const char *key, const std::string &value) {
  if (out.json()) {
    printf("{\"ok\":true,%s:%s}\n", Output::Quote(key).c_str(), Output::Quote(value).c_str());
  } else {
    printf("%s\n", value.c_str());
  }
}

int RunOpen(const Settings &s, Output &out) {
  Session session(s);
  if (session.Describe(out)) return 1;
  char model[KAVREL_MODEL_MAX];
  uint32_t rc = Kavrel_GetDeviceModel(session.device(), model);
  if (rc) return out.Failure("Kavrel_GetDeviceModel", rc), 1;
  rc = Kavrel_OpenDevice(session.device(), model);
  if (rc) return out.Failure("Kavrel_OpenDevice", rc), 1;
  PrintValue(out, "model", model);
  return 0;
}

// The local configuration as the library holds it.
uint32_t ReadConfig(Session &session, Output &out, std::string *text) {
  uint32_t size = 0;
  uint32_t rc = Kavrel_ReadLocalConfig(session.device(), nullptr, &size);
  if (rc != 0 && rc != KAVREL_E_INVALIDARG) return out.Failure("Kavrel_ReadLocalConfig", rc);
  std::vector<char> buffer(size + 1);
  size = static_cast<uint32_t>(buffer.size());
  rc = Kavrel_ReadLocalConfig(session.device(), buffer.data(), &size);
  if (rc) return out.Failure("Kavrel_ReadLocalConfig", rc);
  text->assign(buffer.data(), size);
  return 0;
}

int RunPull(const Settings &s, Output &out, const std::string &file) {
  Session session(s);
  if (session.Describe(out)) return 1;
  std::string text;
  if (ReadConfig(session, out, &text)) return 1;
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

uint32_t Push(Session &session, Output &out) {
  ResetCompletion(session);
  return AwaitNext(session, out, "Kavrel_UpdateRemoteConfig",
                   Kavrel_UpdateRemoteConfig(session.device(), session.async()));
}

int RunPush(const Settings &s, Output &out) {
  Session session(s);
  if (session.Describe(out)) return 1;
  if (Push(session, out)) return 1;
  out.Done("configuration sent");
  return 0;
}

int RunGet(const Settings &s, Output &out, const std::string &section, const std::string &key,
           int index) {
  Session session(s);
  if (session.Describe(out)) return 1;
  char value[KAVREL_VALUE_MAX];
  uint32_t rc = Kavrel_GetSysInfo(session.device(), value, section.c_str(), key.c_str(), index);
  if (rc) return out.Failure("Kavrel_GetSysInfo", rc), 1;
  PrintValue(out, "value", value);
  return 0;
}

int RunSet(const Settings &s, Output &out, const std::string &section, const std::string &key,
           const std::string &value, int index) {
  Session session(s);
  if (session.Describe(out)) return 1;
  uint32_t rc = Kavrel_SetSysInfo(session.device(), value.c_str(), section.c_str(), key.c_str(),
                                  index);
  if (rc) return out.Failure("Kavrel_SetSysInfo", rc), 1;
  if (Push(session, out)) return 1;
  if (out.json()) {
    out.Done("");
  } else {
    printf("[%s] <%s> = %s sent to the device\n", section.c_str(), key.c_str(), value.c_str());
  }
  return 0;
}

}  // namespace

void AddConfigCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static std::string file, section, key, value;
  static int index = -1;

  auto *open = app.add_subcommand(
      "open", "describe the device with its configuration, read its model and bind it");
  commands.push_back({open, [&s, &out] { return RunOpen(s, out); }});

  auto *config = app.add_subcommand("config", "the device's whole configuration file");
  config->require_subcommand(1);
  auto *pull = config->add_subcommand("pull", "fetch the configuration; print it or save it");
  pull->add_option("file", file, "write it to this file instead of printing it");
  commands.push_back({pull, [&s, &out] { return RunPull(s, out, file); }});

  auto *push = config->add_subcommand("push", "fetch the configuration and send it back");
  commands.push_back({push, [&s, &out] { return RunPush(s, out); }});

  auto *get = config->add_subcommand("get", "print one value of the configuration");
  get->add_option("section", section, "section name, e.g. SYSTEM")->required();
  get->add_option("key", key, "key name, e.g. \"host name\"")->required();
  get->add_option("--index", index, "entry of an indexed list (default: the plain value)");
  commands.push_back({get, [&s, &out] { return RunGet(s, out, section, key, index); }});

  auto *set = config->add_subcommand("set", "change one value: fetch, change, send back");
  set->add_option("section", section, "section name")->required();
  set->add_option("key", key, "key name")->required();
  set->add_option("value", value, "the new value")->required();
  set->add_option("--index", index, "entry of an indexed list (default: the plain value)");
  commands.push_back({set, [&s, &out] { return RunSet(s, out, section, key, value, index); }});
}
