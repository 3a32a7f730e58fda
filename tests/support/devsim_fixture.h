// kavrel-devsim for C++ tests: starts the simulator with its devices on free ports, waits
// until it is ready, talks to its control port, and stops it. The simulator's output goes to
// WORKDIR/devsim.log and it dies with the test (PR_SET_PDEATHSIG and --parent-pid).
//
//   kvtest::Devsim sim;
//   ASSERT_TRUE(sim.Start({{"KM3111"}, {"KM4130", "cam2", "digest"}}));
//   int port = sim.Device("dev1")->http_port;
//   sim.SetDi("dev1", {1, 0});
//   sim.AddFault("dev1", R"({"path": "/cgi-bin/getdi.cgi", "status": 500, "times": 1})");
//   auto entries = sim.Log();
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace kvtest {

// A parsed JSON value (enough for the simulator's answers). Strings hold the bytes that the
// simulator sent as Latin-1 text, one char per code point.
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  // Parses `in`; false on malformed text.
  static bool Parse(const std::string &in, Json *out);
  // A member, or a null value when absent (so lookups chain safely).
  const Json &operator[](const std::string &key) const;
  int Int() const { return static_cast<int>(number); }
};

// What a test asks of one device. Empty fields take the simulator's defaults
// (name devN, Basic authentication, root / pass).
struct DevsimDeviceSpec {
  std::string model;
  std::string name;
  std::string auth;  // basic, digest, digest-sha256, none
  std::string user;
  std::string password;
  std::string version;  // the model name is MODEL-VERSION (default V1.0.2)
  std::string extra;    // further "key=value" items, comma-separated (e.g. "down=1")
};

struct DevsimDevice {
  std::string name, model, model_name, user, password, auth, ftp_root, config_path;
  int http_port = 0;
  int ftp_port = 0;
};

struct DevsimLogEntry {
  int seq = 0;
  int status = 0;  // HTTP status (0 for FTP commands and unanswered requests)
  std::string device, proto, method, path, query, body;
};

struct HttpReply {
  int status = 0;  // 0: no connection or no complete status line
  std::string headers;
  std::string body;
};

// One HTTP/1.0 request to 127.0.0.1:port, with Basic credentials when `user` is not empty.
// `timeout_ms` bounds the whole exchange.
HttpReply HttpRequest(int port, const std::string &method, const std::string &path,
                      const std::string &body = "", const std::string &user = "",
                      const std::string &password = "", int timeout_ms = 10000);

// The simulator's launcher in the source tree.
std::string DevsimScript();

class Devsim {
 public:
  Devsim() = default;
  Devsim(const Devsim &) = delete;
  Devsim &operator=(const Devsim &) = delete;
  ~Devsim() { Stop(); }

  // Starts the devices (a default KM3111 when empty) in a new folder below the build tree's
  // test-tmp, and waits until the simulator is ready (bounded at 20 s). False when it did
  // not start; the log file tells why.
  bool Start(const std::vector<DevsimDeviceSpec> &devices = {});
  // SIGTERM, then SIGKILL after 5 s. Returns the exit status as waitpid gives it.
  int Stop();

  const DevsimDevice *Device(const std::string &name) const;
  const std::vector<DevsimDevice> &devices() const { return devices_; }
  int control_port() const { return control_port_; }
  const std::string &workdir() const { return workdir_; }
  std::string log_path() const { return workdir_ + "/devsim.log"; }

  // The control API (see tools/devsim/README.md). Each returns false / empty on failure.
  bool SetDi(const std::string &device, const std::vector<int> &levels,
             const std::string &letter_case = "", const std::string &form = "");
  std::vector<int> DoLevels(const std::string &device);
  bool AddFault(const std::string &device, const std::string &fault_json);
  bool ClearFaults(const std::string &device);
  bool Restart(const std::string &device, double seconds);
  bool UartReceive(const std::string &device, int port, const std::string &data);
  bool UartEcho(const std::string &device, int port, bool on);
  std::string UartWritten(const std::string &device, int port);
  std::string SysinfoText(const std::string &device);
  std::vector<DevsimLogEntry> Log(int since = 0, const std::string &device = "");
  // A raw control request; the reply's body is JSON (or text for sysinfo).
  HttpReply Control(const std::string &method, const std::string &path,
                    const std::string &body = "");

 private:
  bool ControlOk(const std::string &method, const std::string &path, const std::string &body);

  ChildProcess child_;
  std::string workdir_;
  int control_port_ = 0;
  std::vector<DevsimDevice> devices_;
};

}  // namespace kvtest
