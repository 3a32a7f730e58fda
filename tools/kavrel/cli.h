// The kavrel command's shared pieces: global settings, the session (library context and one
// device), the asynchronous completion, and the registry through which each family of
// subcommands (one source file per family) adds itself.
#pragma once

#include <stdint.h>

#include <CLI/CLI.hpp>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kavrel.h"
#include "output.h"

struct DeviceOptions {
  std::string host;
  int http_port = 80;
  unsigned ftp_port = 21;
  std::string user;
  std::string password;
  std::string type;
  unsigned timeout_ms = 10000;
};

struct Settings {
  DeviceOptions device;
  bool async = false;
  bool json = false;
  bool verbose = false;
};

// Shows the library's log records on stderr (--verbose).
void InstallLogger();

// A secret need never stand on the command line, where other users' `ps` shows it: beside
// the option `secret` (whose value goes to `value`), NAME-file FILE reads it from the first
// line of FILE, and `file_env`, when given, names the file through the environment. The
// option itself may also take its value from `env`; a file wins over a value. Returns the
// file option.
CLI::Option *AddSecretOptions(CLI::App *app, CLI::Option *secret, std::string *value,
                              const char *env, const char *file_env);

// The one callback of an asynchronous command. `on_callback`, when set, runs on the worker
// thread inside the callback, for results that are valid only during the call.
struct Completion {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  uint32_t operation = 0;
  uint32_t status = 0;
  uintptr_t value = 0;
  uint32_t inputs[4] = {0, 0, 0, 0};
  std::function<void(uint32_t operation, uint32_t status, uintptr_t value)> on_callback;
};

class Session {
 public:
  explicit Session(const Settings &settings) : settings_(settings) {}
  ~Session();
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  // Opens the library and describes the device (by --type, or for HTTP only). 0 or a result
  // code (printed already).
  uint32_t Open(Output &out);

  // Opens the library and describes the device fully (Kavrel_SetDeviceProperty), which fetches
  // its whole configuration; with --async waits for that callback. 0 or a code (printed).
  uint32_t Describe(Output &out);

  DeviceHandle device() const { return device_; }
  KavrelHandle handle() const { return handle_; }
  int async() const { return settings_.async ? 1 : 0; }
  const Settings &settings() const { return settings_; }

  // Waits for the callback of an asynchronous command. 0 or a result code (printed).
  uint32_t Await(Output &out, const char *what);
  Completion &completion() { return completion_; }

 private:
  // Initialises the library, creates the device and fills `p` from the settings.
  uint32_t Create(Output &out, KavrelDeviceProperty *p);

  const Settings &settings_;
  KavrelHandle handle_ = nullptr;
  DeviceHandle device_ = nullptr;
  Completion completion_;
};

// A subcommand and what runs it once parsed. `run` returns the exit status.
struct Command {
  CLI::App *app;
  std::function<int()> run;
};
using Commands = std::vector<Command>;

// Families of subcommands; each adds its own to `app` and `commands`. Options bound to
// variables must outlive parsing: a family keeps them in static storage of its own file.
void AddDeviceCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);
// open, config pull|push|get|set: the device described with its configuration.
void AddConfigCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);
void AddFirmwareCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);
void AddNetClientCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);
void AddPtzCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);
void AddParamCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);
void AddMotionCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);
// fleet: one subcommand over every device of an inventory file.
void AddFleetCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands);

// Opens the session, runs `start`, waits for its callback with --async, and prints `done` or
// the failure. The exit status.
int RunDeviceCall(const Settings &s, Output &out, const char *call, const char *done,
                  const std::function<uint32_t(Session &)> &start);
