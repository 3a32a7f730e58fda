// The kavrel command's shared pieces: global settings, the session (library context and one
// device), the asynchronous completion, and the registry through which each family of
// subcommands (one source file per family) adds itself.
#pragma once

#include <stdint.h>

#include <CLI/CLI.hpp>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config_values.h"
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

// ---- Device calls: the commands that `kavrel CMD` runs on one device and `kavrel fleet CMD`
// on every device of an inventory. Each is defined once, in its family's file: its options,
// their check, and its library call on any device.

// What one device's call leaves behind.
struct CallResult {
  // What a synchronous call read (a value, a model); on a failure, the library function that
  // failed when it is not the call's own.
  std::string detail;
  // What an asynchronous call reads into: kept alive until its callback.
  std::shared_ptr<void> buffers;
  // Runs inside the callback of a success: the callback's value (valid only then) as text.
  std::function<std::string(uintptr_t value)> on_value;
  // The status of the success: 0, or one of the call's other successes.
  uint32_t status = 0;
};

struct DeviceCall {
  std::string call;  // the library function, named in a failure
  std::string done;  // what a single device's success prints, unless `print` is given
  // The device is described with its whole configuration first: a configuration transfer,
  // which a fleet runs --parallel at a time on threads of its own. Otherwise the device is
  // described by its type alone and a fleet has every call in flight at once.
  bool configured = false;
  // With async 1 the callback brings the outcome; false for calls that never call back.
  bool calls_back = true;
  // The results and callback statuses that mean success; 0 alone when not given.
  bool (*succeeded)(uint32_t status) = nullptr;
  bool Succeeded(uint32_t status) const { return succeeded ? succeeded(status) : status == 0; }
  // Makes the call on `device`.
  std::function<uint32_t(DeviceHandle device, int async, CallResult *result)> run;
  // Prints a single device's success; by default out.Done(done).
  std::function<void(Output &out, const CallResult &result)> print;
};

// A subcommand whose parsed options make its call: 0, or the exit status 2 after a usage
// message (nothing has been sent then).
struct CallCommand {
  CLI::App *app;
  std::function<int(Output &out, DeviceCall *call)> make;
};
using CallCommands = std::vector<CallCommand>;

// Each family adds its calls under `parent` (kavrel itself or kavrel fleet). Their options
// live in static storage of the family's file, shared by both trees: one run parses one.
void DefineIoCalls(CLI::App *parent, CallCommands *calls);       // di, do, http get|post
void DefinePtzCalls(CLI::App *parent, CallCommands *calls);      // ptz, move, preset
void DefineParamCalls(CLI::App *parent, CallCommands *calls);    // setparam
void DefineMotionCalls(CLI::App *motion, CallCommands *calls);   // motion get
// open under `parent`; push, get and set under `config`.
void DefineConfigCalls(CLI::App *parent, CLI::App *config, CallCommands *calls);

// Runs `call` on the one device of the options: opens the session (describing the device
// with its configuration when the call needs it), waits for the callback with --async, and
// prints the success or the failure. The exit status.
int RunDeviceCall(const Settings &s, Output &out, const DeviceCall &call);

// The single-device commands of `calls`, run by RunDeviceCall.
void AddSingleDeviceCalls(const CallCommands &calls, const Settings &s, Output &out,
                          Commands &commands);

// The device's local configuration as the library holds it (level 0). 0 or a result code.
uint32_t ConfigReadLocal(DeviceHandle device, std::string *text);


// Writes `values` into the device's local configuration (level 0), then stores it on the
// device (synchronously). On a failure `detail` names the step and the file's line. 0 or a
// result code.
uint32_t ConfigRestore(DeviceHandle device, const std::vector<ConfigValue> &values,
                       std::string *detail);
