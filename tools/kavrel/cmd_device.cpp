// The first family of subcommands: version, model information, digital I/O, serial ports,
// generic CGI requests.
#include <string.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace {

const char *LevelName(uint32_t level) {
  return level == KAVREL_LEVEL_HIGH ? "high" : level == KAVREL_LEVEL_LOW ? "low" : "?";
}

bool ParseLevel(const std::string &text, uint32_t *level) {
  static const struct {
    const char *name;
    uint32_t level;
  } kNames[] = {{"high", 300}, {"on", 300}, {"300", 300}, {"low", 301}, {"off", 301},
                {"301", 301},  {"keep", 0}, {"-", 0},     {"0", 0}};
  for (const auto &n : kNames) {
    if (text == n.name) {
      *level = n.level;
      return true;
    }
  }
  return false;
}

std::string InputsText(const uint32_t in[4]) {
  std::string text;
  for (int i = 0; i < 4; ++i) text += std::string(i ? " " : "") + LevelName(in[i]);
  return text;
}

int RunUartWrite(const Settings &s, Output &out, unsigned port, const std::string &data) {
  Session session(s);
  if (session.Open(out)) return 1;
  uint32_t rc = Kavrel_UartWrite(session.device(), port, data.c_str(), session.async());
  if (rc) return out.Failure("Kavrel_UartWrite", rc), 1;
  if (session.Await(out, "Kavrel_UartWrite")) return 1;
  if (s.async && session.completion().status) return out.Failure("serial write", session.completion().status), 1;
  out.Done("written");
  return 0;
}

// A read's end statuses: the normal end of the body and a full buffer are successes.
bool ReadSucceeded(uint32_t status) {
  return status == 0 || status == KAVREL_S_BUFFER_FULL || status == KAVREL_T_CLOSED;
}

int RunUartRead(const Settings &s, Output &out, unsigned port, unsigned size, unsigned wait,
                bool flush, const std::string &data, bool has_data) {
  Session session(s);
  if (session.Open(out)) return 1;
  std::vector<char> buffer(size < 2 ? 2 : size);
  uint32_t rc = Kavrel_UartReadAFWrite(session.device(), port, has_data ? data.c_str() : nullptr,
                                       buffer.data(), size, flush ? 1 : 0, wait, session.async());
  if (!ReadSucceeded(rc)) return out.Failure("Kavrel_UartRead", rc), 1;
  if (session.Await(out, "Kavrel_UartRead")) return 1;
  uint32_t status = s.async ? session.completion().status : rc;
  if (!ReadSucceeded(status)) return out.Failure("serial read", status), 1;
  out.Data(buffer.data(), strlen(buffer.data()), status);
  return 0;
}

// The model's CGI paths, by command number; needs no device.
int RunInfo(const Settings &s, Output &out) {
  if (s.device.type.empty()) {
    out.Usage("info needs the model: give --type or set KAVREL_TYPE");
    return 2;
  }
  static const char *const kCommands[] = {"ptz", "recall", "preset", "get-di", "set-do"};
  std::vector<std::pair<std::string, std::string>> paths;
  for (uint32_t command = 0; command < 5; ++command) {
    char buffer[64] = {0};
    uint32_t length = sizeof(buffer) - 1;
    uint32_t rc = Kavrel_GetCGICommand(s.device.type.c_str(), command, &length, buffer);
    if (rc) return out.Failure("Kavrel_GetCGICommand (unknown --type?)", rc), 1;
    paths.emplace_back(kCommands[command], buffer);
  }
  out.Model(s.device.type, paths);
  return 0;
}

int RunVersion(Output &out) {
  uint8_t v[4];
  Kavrel_GetVersionInfo(&v[0], &v[1], &v[2], &v[3]);
  out.Version(v);
  return 0;
}

int RunCgi(Output &out, const std::string &model, unsigned command) {
  uint32_t length = 0;
  uint32_t rc = Kavrel_GetCGICommand(model.c_str(), command, &length, nullptr);
  if (rc != 0 && rc != KAVREL_E_INVALIDARG) return out.Failure("Kavrel_GetCGICommand", rc), 1;
  std::vector<char> buffer(length + 1);
  length = static_cast<uint32_t>(buffer.size());
  rc = Kavrel_GetCGICommand(model.c_str(), command, &length, buffer.data());
  if (rc) return out.Failure("Kavrel_GetCGICommand", rc), 1;
  out.Path(model, command, buffer.data());
  return 0;
}

}  // namespace

// A reply read into the result's buffer; asynchronously its length comes with the callback.
struct HttpReply {
  std::vector<char> data;
  uint32_t length = 0;
  std::string Text() const { return std::string(data.data(), length); }
};

void DefineHttpCalls(CLI::App *parent, CallCommands *calls) {
  static std::string path;
  static bool read = false;
  static unsigned size = 4096;
  auto *http = parent->add_subcommand("http", "send any CGI request to the device");
  http->require_subcommand(1);
  for (bool post : {false, true}) {
    auto *m = http->add_subcommand(post ? "post" : "get", post ? "POST the path (its query becomes the body)"
                                                            : "GET the path");
    m->add_option("path", path, "path beginning with '/', e.g. /cgi-bin/sysinfo.cgi")->required();
    m->add_flag("--read", read, "print the reply body");
    m->add_option("--size", size, "reply buffer size, default 4096");
    calls->push_back({m, [post](Output &, DeviceCall *call) {
                        if (!read) {
                          *call = {"Kavrel_HttpOperation", "request accepted"};
                          call->run = [post](DeviceHandle device, int async, CallResult *) {
                            return Kavrel_HttpOperation(device, path.c_str(), post ? 1 : 0, async);
                          };
                          return 0;
                        }
                        *call = {"Kavrel_HttpOperationRead", ""};
                        call->succeeded = ReadSucceeded;
                        call->run = [post](DeviceHandle device, int async, CallResult *result) {
                          auto reply = std::make_shared<HttpReply>();
                          reply->data.resize(size < 2 ? 2 : size);
                          reply->length = static_cast<uint32_t>(reply->data.size());
                          result->buffers = reply;
                          result->on_value = [reply](uintptr_t value) {
                            reply->length = static_cast<uint32_t>(value);
                            return reply->Text();
                          };
                          uint32_t rc = Kavrel_HttpOperationRead(device, path.c_str(), reply->data.data(),
                                                                 &reply->length, post ? 1 : 0, async);
                          if (ReadSucceeded(rc) && !async) result->detail = reply->Text();
                          return rc;
                        };
                        call->print = [](Output &out, const CallResult &result) {
                          const auto *reply = static_cast<const HttpReply *>(result.buffers.get());
                          out.Data(reply->data.data(), reply->length, result.status);
                        };
                        return 0;
                      }});
  }
}

void DefineIoCalls(CLI::App *parent, CallCommands *calls) {
  DefineHttpCalls(parent, calls);
  auto *di = parent->add_subcommand("di", "read the digital inputs");
  calls->push_back({di, [](Output &, DeviceCall *call) {
                      *call = {"Kavrel_GetDIStatus", ""};
                      // The levels land in the result's buffer: written there by a synchronous
                      // call, copied from the callback's value (valid only then) otherwise.
                      call->run = [](DeviceHandle device, int async, CallResult *result) {
                        auto in = std::make_shared<std::array<uint32_t, 4>>();
                        result->buffers = in;
                        result->on_value = [in](uintptr_t value) {
                          if (value) memcpy(in->data(), reinterpret_cast<const void *>(value), sizeof(*in));
                          return InputsText(in->data());
                        };
                        uint32_t *l = in->data();
                        uint32_t rc = Kavrel_GetDIStatus(device, &l[0], &l[1], &l[2], &l[3], async);
                        if (!rc && !async) result->detail = InputsText(l);
                        return rc;
                      };
                      call->print = [](Output &out, const CallResult &result) {
                        out.Inputs(static_cast<const uint32_t *>(result.buffers.get()), LevelName);
                      };
                      return 0;
                    }});

  static std::vector<std::string> levels_text;
  auto *dout = parent->add_subcommand("do", "set the digital outputs: one level per output, in order");
  dout->add_option("levels", levels_text, "high|low|keep (or 300|301|0), output 1 first")->required();
  calls->push_back({dout, [](Output &out, DeviceCall *call) {
                      std::vector<uint32_t> levels;
                      for (const std::string &t : levels_text) {
                        uint32_t level = 0;
                        if (!ParseLevel(t, &level)) {
                          out.Usage("bad level \"" + t + "\": use high, low or keep (or 300, 301, 0)");
                          return 2;
                        }
                        levels.push_back(level);
                      }
                      *call = {"Kavrel_SetDOLevelEx", "outputs set"};
                      call->run = [levels](DeviceHandle device, int async, CallResult *) {
                        return Kavrel_SetDOLevelEx(device, levels.data(),
                                                   static_cast<int32_t>(levels.size()), async);
                      };
                      return 0;
                    }});
}

void AddDeviceCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static unsigned port = 1;
  static std::string data;
  static unsigned size = 256, wait = 0;
  static bool flush = false;
  static std::string read_data;
  static std::string model;
  static unsigned command = 0;

  auto *version = app.add_subcommand("version", "print the library's version");
  commands.push_back({version, [&out] { return RunVersion(out); }});

  auto *info = app.add_subcommand("info", "describe the model given by --type");
  commands.push_back({info, [&s, &out] { return RunInfo(s, out); }});

  CallCommands calls;
  DefineIoCalls(&app, &calls);
  AddSingleDeviceCalls(calls, s, out, commands);

  auto *uart = app.add_subcommand("uart", "exchange data with a serial port");
  uart->require_subcommand(1);
  auto *uw = uart->add_subcommand("write", "send data to a port");
  uw->add_option("port", port, "port number")->required();
  uw->add_option("data", data, "data text, as the device expects it in a query value")->required();
  commands.push_back({uw, [&s, &out] { return RunUartWrite(s, out, port, data); }});
  auto *ur = uart->add_subcommand("read", "read from a port");
  ur->add_option("port", port, "port number")->required();
  ur->add_option("--size", size, "buffer size in bytes (data is at most size - 2), default 256");
  ur->add_option("--wait", wait, "let the device wait this many ms for data");
  ur->add_flag("--flush", flush, "empty the port's buffer after reading");
  auto *rd = ur->add_option("--data", read_data, "write this first, then read");
  commands.push_back({ur, [&s, &out, rd] {
                        return RunUartRead(s, out, port, size, wait, flush, read_data, rd->count() > 0);
                      }});

  auto *cgi = app.add_subcommand("cgi", "print a model's CGI path for a command number");
  cgi->add_option("model", model, "model or friendly name, e.g. KM3111 or KM3111-V1.0.2")->required();
  cgi->add_option("command", command, "command number")->required();
  commands.push_back({cgi, [&out] { return RunCgi(out, model, command); }});
}
