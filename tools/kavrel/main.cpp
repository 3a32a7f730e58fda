// kavrel: every exported function of the library reachable from a shell.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "kavrel.h"
#include "output.h"

namespace {

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

// ---- Logger: the library's records on stderr with --verbose -------------------------------

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
void PrintRecord(const char *file, uint32_t line, uint32_t code, const char *format, va_list args) {
  char message[2048];
  vsnprintf(message, sizeof(message), format, args);
  size_t n = strlen(message);
  if (n && message[n - 1] == '\n') message[n - 1] = '\0';
  if (file) {
    const char *base = strrchr(file, '/');
    fprintf(stderr, "[kavrel %04X] %s (%s:%u)\n", code, message, base ? base + 1 : file, line);
  } else {
    fprintf(stderr, "[kavrel %04X] %s\n", code, message);
  }
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

void LogPlain(void *, uint32_t code, uint32_t, const char *format, va_list args) {
  PrintRecord(nullptr, 0, code, format, args);
}

void LogLocated(void *, uint32_t code, uint32_t, const char *file, uint32_t line,
                const char *format, va_list args) {
  PrintRecord(file, line, code, format, args);
}

KavrelLogger g_logger;

void InstallLogger() {
  static int context;
  g_logger.context = &context;
  g_logger.plain_enabled = &context;
  g_logger.located_enabled = &context;
  g_logger.plain = LogPlain;
  g_logger.located = LogLocated;
  Kavrel_LogInit(&g_logger);
}

// ---- Asynchronous completion ------------------------------------------------------------

struct Completion {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  uint32_t operation = 0;
  uint32_t status = 0;
  uintptr_t value = 0;
  uint32_t inputs[4] = {0, 0, 0, 0};
};

void OnComplete(DeviceHandle, void *context, uint32_t operation, uint32_t status, uintptr_t value) {
  Completion *c = static_cast<Completion *>(context);
  std::lock_guard<std::mutex> hold(c->mutex);
  c->operation = operation;
  c->status = status;
  c->value = value;
  // The input levels are valid only during this call.
  if (operation == 103 && status == 0 && value) memcpy(c->inputs, reinterpret_cast<void *>(value), 16);
  c->done = true;
  c->cv.notify_all();
}

bool WaitFor(Completion &c, unsigned timeout_ms) {
  std::unique_lock<std::mutex> hold(c.mutex);
  return c.cv.wait_for(hold, std::chrono::milliseconds(timeout_ms + 5000), [&] { return c.done; });
}

// ---- A session: library context and one device --------------------------------------------

class Session {
 public:
  explicit Session(const Settings &settings) : settings_(settings) {}
  ~Session() {
    if (device_) Kavrel_DeleteDevice(device_);
    if (handle_) Kavrel_Release(&handle_);
  }

  // Opens the library and describes the device. 0 or a result code (printed already).
  uint32_t Open(Output &out) {
    const DeviceOptions &d = settings_.device;
    if (d.host.empty()) return out.Usage("no device host: give --host or set KAVREL_HOST");
    uint32_t rc = Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER);
    if (rc) return out.Failure("Kavrel_Initial", rc);
    rc = Kavrel_CreateDevice(handle_, &device_);
    if (rc) return out.Failure("Kavrel_CreateDevice", rc);
    KavrelDeviceProperty p{};
    p.address = d.host.c_str();
    p.user = d.user.c_str();
    p.password = d.password.c_str();
    p.server_type = d.type.empty() ? nullptr : d.type.c_str();
    p.http_port = d.http_port;
    p.ftp_port = d.ftp_port;
    p.timeout_ms = d.timeout_ms;
    p.callback = OnComplete;
    p.callback_context = &completion_;
    if (d.type.empty()) {
      rc = Kavrel_SetDevicePropertyHttp(device_, &p);
      if (rc) return out.Failure("Kavrel_SetDevicePropertyHttp", rc);
      return 0;
    }
    rc = Kavrel_SetDevicePropertyLite(device_, &p);
    if (rc) return out.Failure("Kavrel_SetDevicePropertyLite (unknown --type?)", rc);
    return 0;
  }

  DeviceHandle device() const { return device_; }
  int async() const { return settings_.async ? 1 : 0; }

  // Waits for the callback of an asynchronous command. 0 or a result code (printed).
  uint32_t Await(Output &out, const char *what) {
    if (!settings_.async) return 0;
    if (!WaitFor(completion_, settings_.device.timeout_ms)) {
      return out.Failure(what, KAVREL_E_TIMEOUT);
    }
    out.Callback(completion_.operation, completion_.status, completion_.value);
    return 0;
  }
  const Completion &completion() const { return completion_; }

 private:
  const Settings &settings_;
  KavrelHandle handle_ = nullptr;
  DeviceHandle device_ = nullptr;
  Completion completion_;
};

// ---- Commands ----------------------------------------------------------------------------

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

int RunDi(const Settings &s, Output &out) {
  Session session(s);
  uint32_t rc = session.Open(out);
  if (rc) return 1;
  uint32_t in[4] = {0, 0, 0, 0};
  rc = Kavrel_GetDIStatus(session.device(), &in[0], &in[1], &in[2], &in[3], session.async());
  if (rc) return out.Failure("Kavrel_GetDIStatus", rc), 1;
  if (session.Await(out, "Kavrel_GetDIStatus")) return 1;
  if (s.async) {
    if (session.completion().status != 0) return out.Failure("digital inputs", session.completion().status), 1;
    memcpy(in, session.completion().inputs, sizeof(in));
  }
  out.Inputs(in, LevelName);
  return 0;
}

int RunDo(const Settings &s, Output &out, const std::vector<std::string> &levels_text) {
  std::vector<uint32_t> levels;
  for (const std::string &t : levels_text) {
    uint32_t level = 0;
    if (!ParseLevel(t, &level)) {
      out.Usage("bad level \"" + t + "\": use high, low or keep (or 300, 301, 0)");
      return 2;
    }
    levels.push_back(level);
  }
  Session session(s);
  if (session.Open(out)) return 1;
  uint32_t rc = Kavrel_SetDOLevelEx(session.device(), levels.data(),
                                    static_cast<int32_t>(levels.size()), session.async());
  if (rc) return out.Failure("Kavrel_SetDOLevelEx", rc), 1;
  if (session.Await(out, "Kavrel_SetDOLevelEx")) return 1;
  if (s.async && session.completion().status) return out.Failure("outputs", session.completion().status), 1;
  out.Done("outputs set");
  return 0;
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

int RunHttp(const Settings &s, Output &out, const std::string &path, bool post, bool read,
            unsigned size) {
  Session session(s);
  if (session.Open(out)) return 1;
  if (!read) {
    uint32_t rc = Kavrel_HttpOperation(session.device(), path.c_str(), post ? 1 : 0, session.async());
    if (rc) return out.Failure("Kavrel_HttpOperation", rc), 1;
    if (session.Await(out, "Kavrel_HttpOperation")) return 1;
    if (s.async && session.completion().status) return out.Failure("request", session.completion().status), 1;
    out.Done("request accepted");
    return 0;
  }
  std::vector<char> buffer(size < 2 ? 2 : size);
  uint32_t length = static_cast<uint32_t>(buffer.size());
  uint32_t rc = Kavrel_HttpOperationRead(session.device(), path.c_str(), buffer.data(), &length,
                                         post ? 1 : 0, session.async());
  if (!ReadSucceeded(rc)) return out.Failure("Kavrel_HttpOperationRead", rc), 1;
  if (session.Await(out, "Kavrel_HttpOperationRead")) return 1;
  uint32_t status = s.async ? session.completion().status : rc;
  if (!ReadSucceeded(status)) return out.Failure("request", status), 1;
  if (s.async) length = static_cast<uint32_t>(session.completion().value);
  out.Data(buffer.data(), length, status);
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

int main(int argc, char **argv) {
  CLI::App app{
      "kavrel: drive a network camera or video server through the Kavrel library.\n"
      "The device is given by options or by the environment variables KAVREL_HOST,\n"
      "KAVREL_HTTP_PORT, KAVREL_FTP_PORT, KAVREL_USER, KAVREL_PASSWORD, KAVREL_TYPE and\n"
      "KAVREL_TIMEOUT. Example:\n"
      "  kavrel --host 192.0.2.10 --user admin --password secret --type KM3111 di\n",
      "kavrel"};
  app.require_subcommand(1);
  Settings s;
  app.add_option("--host", s.device.host, "device address")->envname("KAVREL_HOST");
  app.add_option("--http-port", s.device.http_port, "device HTTP port, default 80")
      ->envname("KAVREL_HTTP_PORT");
  app.add_option("--ftp-port", s.device.ftp_port, "device FTP port, default 21")
      ->envname("KAVREL_FTP_PORT");
  app.add_option("--user", s.device.user, "user name")->envname("KAVREL_USER");
  app.add_option("--password", s.device.password, "password")
      ->envname("KAVREL_PASSWORD");
  app.add_option("--type", s.device.type,
                 "model server type, e.g. KM3111; without it only 'http' works")
      ->envname("KAVREL_TYPE");
  app.add_option("--timeout", s.device.timeout_ms, "request time-out in ms, default 10000")
      ->envname("KAVREL_TIMEOUT");
  app.add_flag("--async", s.async, "run the command through the library's callback and wait for it");
  app.add_flag("--json", s.json, "print machine-readable JSON");
  app.add_flag("--verbose,-v", s.verbose, "show the library's log records on stderr");

  Output out;

  auto *version = app.add_subcommand("version", "print the library's version");

  auto *info = app.add_subcommand("info", "describe the model given by --type");

  auto *di = app.add_subcommand("di", "read the digital inputs");

  std::vector<std::string> levels;
  auto *dout = app.add_subcommand("do", "set the digital outputs: one level per output, in order");
  dout->add_option("levels", levels, "high|low|keep (or 300|301|0), output 1 first")->required();

  auto *uart = app.add_subcommand("uart", "exchange data with a serial port");
  uart->require_subcommand(1);
  unsigned port = 1;
  std::string data;
  auto *uw = uart->add_subcommand("write", "send data to a port");
  uw->add_option("port", port, "port number")->required();
  uw->add_option("data", data, "data text, as the device expects it in a query value")->required();
  unsigned size = 256, wait = 0;
  bool flush = false;
  std::string read_data;
  auto *ur = uart->add_subcommand("read", "read from a port");
  ur->add_option("port", port, "port number")->required();
  ur->add_option("--size", size, "buffer size in bytes (data is at most size - 2), default 256");
  ur->add_option("--wait", wait, "let the device wait this many ms for data");
  ur->add_flag("--flush", flush, "empty the port's buffer after reading");
  auto *rd = ur->add_option("--data", read_data, "write this first, then read");

  auto *http = app.add_subcommand("http", "send any CGI request to the device");
  http->require_subcommand(1);
  std::string path;
  bool read = false;
  unsigned http_size = 4096;
  for (const char *method : {"get", "post"}) {
    bool post = strcmp(method, "post") == 0;  // the method is told apart after parsing
    auto *m = http->add_subcommand(method, post ? "POST the path (its query becomes the body)"
                                                : "GET the path");
    m->add_option("path", path, "path beginning with '/', e.g. /cgi-bin/sysinfo.cgi")->required();
    m->add_flag("--read", read, "print the reply body");
    m->add_option("--size", http_size, "reply buffer size, default 4096");
  }

  std::string model;
  unsigned command = 0;
  auto *cgi = app.add_subcommand("cgi", "print a model's CGI path for a command number");
  cgi->add_option("model", model, "model or friendly name, e.g. KM3111 or KM3111-V1.0.2")->required();
  cgi->add_option("command", command, "command number")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    return app.exit(e);
  }
  out.SetJson(s.json);
  if (s.verbose) InstallLogger();
  if (version->parsed()) return RunVersion(out);
  if (info->parsed()) return RunInfo(s, out);
  if (di->parsed()) return RunDi(s, out);
  if (dout->parsed()) return RunDo(s, out, levels);
  if (uw->parsed()) return RunUartWrite(s, out, port, data);
  if (ur->parsed()) return RunUartRead(s, out, port, size, wait, flush, read_data, rd->count() > 0);
  if (cgi->parsed()) return RunCgi(out, model, command);
  for (CLI::App *m : http->get_subcommands()) {
    if (m->parsed()) return RunHttp(s, out, path, m->get_name() == "post", read, http_size);
  }
  return 2;
}
