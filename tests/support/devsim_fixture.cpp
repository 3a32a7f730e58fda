#include "devsim_fixture.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "test_paths.h"
#include "test_socket.h"

namespace kvtest {

// ---- JSON ----------------------------------------------------------------------------

namespace {

class JsonReader {
 public:
  explicit JsonReader(const std::string &s) : s_(s) {}

  bool Document(Json *out) {
    if (!Value(out, 0)) return false;
    Skip();
    return pos_ == s_.size();
  }

 private:
  void Skip() {
    while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_])) ++pos_;
  }
  bool Eat(char c) {
    Skip();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(const char *w) {
    size_t n = std::strlen(w);
    if (s_.compare(pos_, n, w) != 0) return false;
    pos_ += n;
    return true;
  }
  bool Value(Json *out, int depth) {
    if (depth > 64) return false;
    Skip();
    if (pos_ >= s_.size()) return false;
    char c = s_[pos_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out->kind = Json::kString;
      return String(&out->text);
    }
    if (Word("true") || Word("false")) {
      out->kind = Json::kBool;
      out->boolean = (c == 't');
      return true;
    }
    if (Word("null")) return true;
    char *end = nullptr;
    out->number = std::strtod(s_.c_str() + pos_, &end);
    if (end == s_.c_str() + pos_) return false;
    out->kind = Json::kNumber;
    pos_ = static_cast<size_t>(end - s_.c_str());
    return true;
  }
  bool Object(Json *out, int depth) {
    out->kind = Json::kObject;
    ++pos_;
    if (Eat('}')) return true;
    do {
      std::string key;
      Skip();
      if (pos_ >= s_.size() || s_[pos_] != '"' || !String(&key) || !Eat(':')) return false;
      if (!Value(&out->members[key], depth + 1)) return false;
    } while (Eat(','));
    return Eat('}');
  }
  bool Array(Json *out, int depth) {
    out->kind = Json::kArray;
    ++pos_;
    if (Eat(']')) return true;
    do {
      out->items.emplace_back();
      if (!Value(&out->items.back(), depth + 1)) return false;
    } while (Eat(','));
    return Eat(']');
  }
  bool String(std::string *out) {
    ++pos_;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      char c = s_[pos_++];
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) return false;
      char e = s_[pos_++];
      static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
      const char *hit = std::strchr(kFrom, e);
      if (hit && e) {
        out->push_back(kTo[hit - kFrom]);
      } else if (e == 'u' && pos_ + 4 <= s_.size()) {
        // The simulator writes Latin-1 text, so every code point fits one byte.
        out->push_back(static_cast<char>(std::strtol(s_.substr(pos_, 4).c_str(), nullptr, 16)));
        pos_ += 4;
      } else {
        return false;
      }
    }
    return Eat('"');
  }

  const std::string &s_;
  size_t pos_ = 0;
};

}  // namespace

bool Json::Parse(const std::string &in, Json *out) {
  Json parsed;
  if (!JsonReader(in).Document(&parsed)) return false;
  *out = std::move(parsed);
  return true;
}

const Json &Json::operator[](const std::string &key) const {
  static const Json kNone;
  auto it = members.find(key);
  return it == members.end() ? kNone : it->second;
}

// ---- HTTP ----------------------------------------------------------------------------

namespace {

std::string Base64(const std::string &in) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t n = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) n |= static_cast<uint8_t>(in[i + 1]) << 8;
    if (i + 2 < in.size()) n |= static_cast<uint8_t>(in[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < in.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::string JsonQuote(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

struct Socket {
  int fd = -1;
  ~Socket() { CloseSocket(fd); }
};

}  // namespace

HttpReply HttpRequest(int port, const std::string &method, const std::string &path,
                      const std::string &body, const std::string &user,
                      const std::string &password, int timeout_ms) {
  HttpReply reply;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  Socket s;
  s.fd = ConnectLoopback(static_cast<uint16_t>(port));
  if (s.fd < 0) return reply;
  std::string req = method + " " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  if (!user.empty()) req += "Authorization: Basic " + Base64(user + ":" + password) + "\r\n";
  req += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  if (SendBytes(s.fd, req.data(), req.size()) != static_cast<long>(req.size())) return reply;
  std::string all;
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !WaitReadable(s.fd, static_cast<int>(left))) return reply;
    long n = RecvBytes(s.fd, buf, sizeof buf);
    if (n <= 0) break;
    all.append(buf, static_cast<size_t>(n));
  }
  size_t end = all.find("\r\n\r\n");
  if (end == std::string::npos || all.compare(0, 5, "HTTP/") != 0) return reply;
  size_t sp = all.find(' ');
  reply.status = std::atoi(all.c_str() + sp + 1);
  reply.headers = all.substr(0, end);
  reply.body = all.substr(end + 4);
  return reply;
}

std::string DevsimScript() { return SourceDir() + "/tools/devsim/kavrel-devsim"; }

// ---- the simulator ---------------------------------------------------------------------

namespace {

std::string SpecText(const DevsimDeviceSpec &d) {
  std::string s = "model=" + d.model;
  auto add = [&s](const char *key, const std::string &v) {
    if (!v.empty()) s += std::string(",") + key + "=" + v;
  };
  add("name", d.name);
  add("auth", d.auth);
  add("user", d.user);
  add("password", d.password);
  add("version", d.version);
  if (!d.extra.empty()) s += "," + d.extra;
  return s;
}

}  // namespace

bool Devsim::Start(const std::vector<DevsimDeviceSpec> &devices) {
  if (child_.pid() > 0) return false;
  workdir_ = MakeTempDir("devsim");
  if (workdir_.empty()) return false;
  std::string ready = workdir_ + "/ready.json";
  std::vector<std::string> argv = {"/bin/sh", DevsimScript(), "--workdir", workdir_,
                                   "--ready-file", ready, "--parent-pid",
                                   std::to_string(ChildProcess::WatchPid())};
  for (const DevsimDeviceSpec &d : devices) {
    argv.push_back("--device");
    argv.push_back(SpecText(d));
  }
  if (!child_.Start(argv, log_path())) return false;
  Json info;
  bool up = WaitUntil([&] { return !child_.Running() || Json::Parse(ReadFile(ready), &info); },
                      20000);
  if (!up || info.kind != Json::kObject) {
    child_.Stop();
    return false;
  }
  control_port_ = info["control"].Int();
  devices_.clear();
  for (const Json &d : info["devices"].items) {
    DevsimDevice dev;
    dev.name = d["name"].text;
    dev.model = d["model"].text;
    dev.model_name = d["model_name"].text;
    dev.user = d["user"].text;
    dev.password = d["password"].text;
    dev.auth = d["auth"].text;
    dev.ftp_root = d["ftp_root"].text;
    dev.config_path = d["config"].text;
    dev.http_port = d["http"].Int();
    dev.ftp_port = d["ftp"].Int();
    devices_.push_back(dev);
  }
  return true;
}

int Devsim::Stop() { return child_.Stop(); }

const DevsimDevice *Devsim::Device(const std::string &name) const {
  for (const DevsimDevice &d : devices_)
    if (d.name == name) return &d;
  return nullptr;
}

HttpReply Devsim::Control(const std::string &method, const std::string &path,
                          const std::string &body) {
  return HttpRequest(control_port_, method, path, body);
}

bool Devsim::ControlOk(const std::string &method, const std::string &path,
                       const std::string &body) {
  return Control(method, path, body).status == 200;
}

bool Devsim::SetDi(const std::string &device, const std::vector<int> &levels,
                   const std::string &letter_case, const std::string &form) {
  std::string body = "{\"levels\": [";
  for (size_t i = 0; i < levels.size(); ++i) body += (i ? ", " : "") + std::to_string(levels[i]);
  body += "]";
  if (!letter_case.empty()) body += ", \"case\": " + JsonQuote(letter_case);
  if (!form.empty()) body += ", \"form\": " + JsonQuote(form);
  return ControlOk("POST", "/devices/" + device + "/di", body + "}");
}

std::vector<int> Devsim::DoLevels(const std::string &device) {
  Json j;
  std::vector<int> levels;
  if (!Json::Parse(Control("GET", "/devices/" + device + "/do").body, &j)) return levels;
  for (const Json &v : j["levels"].items) levels.push_back(v.Int());
  return levels;
}

bool Devsim::AddFault(const std::string &device, const std::string &fault_json) {
  return ControlOk("POST", "/devices/" + device + "/faults", fault_json);
}

bool Devsim::ClearFaults(const std::string &device) {
  return ControlOk("DELETE", "/devices/" + device + "/faults", "");
}

bool Devsim::Restart(const std::string &device, double seconds) {
  return ControlOk("POST", "/devices/" + device + "/restart",
                   "{\"seconds\": " + std::to_string(seconds) + "}");
}

bool Devsim::UartReceive(const std::string &device, int port, const std::string &data) {
  return ControlOk("POST", "/devices/" + device + "/uart/" + std::to_string(port),
                   "{\"receive\": " + JsonQuote(data) + "}");
}

bool Devsim::UartEcho(const std::string &device, int port, bool on) {
  return ControlOk("POST", "/devices/" + device + "/uart/" + std::to_string(port),
                   std::string("{\"echo\": ") + (on ? "true" : "false") + "}");
}

std::string Devsim::UartWritten(const std::string &device, int port) {
  Json j;
  if (!Json::Parse(Control("GET", "/devices/" + device + "/uart/" + std::to_string(port)).body,
                   &j))
    return std::string();
  return j["written"].text;
}

std::string Devsim::SysinfoText(const std::string &device) {
  HttpReply r = Control("GET", "/devices/" + device + "/sysinfo");
  return r.status == 200 ? r.body : std::string();
}

std::vector<DevsimLogEntry> Devsim::Log(int since, const std::string &device) {
  std::vector<DevsimLogEntry> out;
  std::string path = "/log?since=" + std::to_string(since);
  if (!device.empty()) path += "&device=" + device;
  Json j;
  if (!Json::Parse(Control("GET", path).body, &j)) return out;
  for (const Json &e : j["entries"].items) {
    DevsimLogEntry entry;
    entry.seq = e["seq"].Int();
    entry.status = e["status"].Int();
    entry.device = e["device"].text;
    entry.proto = e["proto"].text;
    entry.method = e["method"].text;
    entry.path = e["path"].text;
    entry.query = e["query"].text;
    entry.body = e["body"].text;
    out.push_back(entry);
  }
  return out;
}

}  // namespace kvtest
