// The session of one kavrel run: logger, asynchronous completion, context and device.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <chrono>

#include <fstream>

#include "cli.h"

namespace {

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

void OnComplete(DeviceHandle, void *context, uint32_t operation, uint32_t status, uintptr_t value) {
  Completion *c = static_cast<Completion *>(context);
  std::lock_guard<std::mutex> hold(c->mutex);
  c->operation = operation;
  c->status = status;
  c->value = value;
  if (c->on_callback) c->on_callback(operation, status, value);
  c->done = true;
  c->cv.notify_all();
}

bool WaitFor(Completion &c, unsigned timeout_ms) {
  std::unique_lock<std::mutex> hold(c.mutex);
  return c.cv.wait_for(hold, std::chrono::milliseconds(timeout_ms + 5000), [&] { return c.done; });
}

}  // namespace

namespace {

// The first line of the file, without its line end. False when it cannot be read.
bool ReadFirstLine(const std::string &path, std::string *line) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::getline(in, *line);
  while (!line->empty() && (line->back() == '\r' || line->back() == '\n')) line->pop_back();
  return !in.bad();
}

}  // namespace

CLI::Option *AddSecretOptions(CLI::App *app, CLI::Option *secret, std::string *value,
                              const char *env, const char *file_env) {
  if (env) secret->envname(env);
  std::string name = secret->get_name() + "-file";
  CLI::Option *file = app->add_option_function<std::string>(
      name,
      [value, name](const std::string &path) {
        if (!ReadFirstLine(path, value)) throw CLI::ValidationError(name, "cannot read " + path);
      },
      "read " + secret->get_name() + " from the first line of FILE");
  file->type_name("FILE");
  if (file_env) file->envname(file_env);
  return file;  // defined after the option, so a file given wins over its value
}

void InstallLogger() {
  static int context;
  g_logger.context = &context;
  g_logger.plain_enabled = &context;
  g_logger.located_enabled = &context;
  g_logger.plain = LogPlain;
  g_logger.located = LogLocated;
  Kavrel_LogInit(&g_logger);
}

Session::~Session() {
  if (device_) Kavrel_DeleteDevice(device_);
  if (handle_) Kavrel_Release(&handle_);
}

uint32_t Session::Create(Output &out, KavrelDeviceProperty *p) {
  const DeviceOptions &d = settings_.device;
  if (d.host.empty()) return out.Usage("no device host: give --host or set KAVREL_HOST");
  uint32_t rc = Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER);
  if (rc) return out.Failure("Kavrel_Initial", rc);
  rc = Kavrel_CreateDevice(handle_, &device_);
  if (rc) return out.Failure("Kavrel_CreateDevice", rc);
  *p = KavrelDeviceProperty{};
  p->address = d.host.c_str();
  p->user = d.user.c_str();
  p->password = d.password.c_str();
  p->server_type = d.type.empty() ? nullptr : d.type.c_str();
  p->http_port = d.http_port;
  p->ftp_port = d.ftp_port;
  p->timeout_ms = d.timeout_ms;
  p->callback = OnComplete;
  p->callback_context = &completion_;
  return 0;
}

uint32_t Session::Describe(Output &out) {
  KavrelDeviceProperty p;
  uint32_t rc = Create(out, &p);
  if (rc) return rc;
  rc = Kavrel_SetDeviceProperty(device_, &p, async());
  if (rc) return out.Failure("Kavrel_SetDeviceProperty", rc);
  rc = Await(out, "Kavrel_SetDeviceProperty");
  if (rc) return rc;
  if (settings_.async && completion_.status) {
    return out.Failure("configuration fetch", completion_.status);
  }
  return 0;
}

uint32_t Session::Open(Output &out) {
  const DeviceOptions &d = settings_.device;
  KavrelDeviceProperty p;
  uint32_t rc = Create(out, &p);
  if (rc) return rc;
  if (d.type.empty()) {
    rc = Kavrel_SetDevicePropertyHttp(device_, &p);
    if (rc) return out.Failure("Kavrel_SetDevicePropertyHttp", rc);
    return 0;
  }
  rc = Kavrel_SetDevicePropertyLite(device_, &p);
  if (rc) return out.Failure("Kavrel_SetDevicePropertyLite (unknown --type?)", rc);
  return 0;
}

uint32_t Session::Await(Output &out, const char *what) {
  if (!settings_.async) return 0;
  if (!WaitFor(completion_, settings_.device.timeout_ms)) {
    return out.Failure(what, KAVREL_E_TIMEOUT);
  }
  out.Callback(completion_.operation, completion_.status, completion_.value);
  return 0;
}

int RunDeviceCall(const Settings &s, Output &out, const DeviceCall &call) {
  Session session(s);
  if (call.configured ? session.Describe(out) : session.Open(out)) return 1;
  CallResult result;
  Completion &c = session.completion();
  {
    std::lock_guard<std::mutex> hold(c.mutex);
    c.done = false;  // the description may have used the callback already
    c.on_callback = [&result, &call](uint32_t, uint32_t status, uintptr_t value) {
      if (call.Succeeded(status) && result.on_value) result.detail = result.on_value(value);
    };
  }
  int async = call.calls_back ? session.async() : 0;
  uint32_t rc = call.run(session.device(), async, &result);
  if (!call.Succeeded(rc)) return out.Failure(result.detail.empty() ? call.call : result.detail, rc), 1;
  result.status = rc;
  if (async) {
    if (session.Await(out, call.call.c_str())) return 1;
    if (!call.Succeeded(c.status)) return out.Failure(call.call, c.status), 1;
    result.status = c.status;
  }
  if (call.print) {
    call.print(out, result);
  } else {
    out.Done(call.done.c_str());
  }
  return 0;
}

void AddSingleDeviceCalls(const CallCommands &calls, const Settings &s, Output &out,
                          Commands &commands) {
  for (const CallCommand &c : calls) {
    commands.push_back({c.app, [c, &s, &out] {
                          DeviceCall call;
                          int usage = c.make(out, &call);
                          return usage ? usage : RunDeviceCall(s, out, call);
                        }});
  }
}
