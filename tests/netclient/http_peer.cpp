#include "http_peer.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "test_paths.h"
#include "test_socket.h"

namespace nctest {

bool HttpPeer::Start(const std::string &name, const std::vector<std::string> &extra) {
  dir_ = kvtest::MakeTempDir(name);
  std::string ready = dir_ + "/ready";
  std::vector<std::string> argv = {kvtest::SystemPython(),
                                   kvtest::SourceDir() + "/tests/netclient/http_peer.py",
                                   "--ready-file", ready};
  argv.insert(argv.end(), extra.begin(), extra.end());
  if (!proc_.Start(argv, dir_ + "/peer.log")) return false;
  bool up = kvtest::WaitUntil([&] { return !kvtest::ReadFile(ready).empty(); }, 20000);
  if (!up) return false;
  port_ = atoi(kvtest::ReadFile(ready).c_str());
  return port_ > 0;
}

std::vector<std::string> HttpPeer::Requests() const {
  std::vector<std::string> lines;
  std::istringstream in(kvtest::ReadFile(dir_ + "/ready.log"));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

bool MakeCertificate(const std::string &dir, const std::string &name, const std::string &alt_names) {
  kvtest::ChildProcess openssl;
  std::string base = dir + "/" + name;
  std::string common = alt_names.substr(alt_names.find(':') + 1);
  common = common.substr(0, common.find(','));
  if (!openssl.Start({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                      "-subj", "/CN=" + common, "-addext",
                      "subjectAltName=" + alt_names, "-keyout", base + ".key",
                      "-out", base + ".pem"},
                     base + ".log")) {
    return false;
  }
  if (!kvtest::WaitUntil([&] { return !openssl.Running(); }, 30000)) return false;
  int status = openssl.Stop();
  return status == 0 && !kvtest::ReadFile(base + ".pem").empty();
}

NetClientRequestInfo HttpInfo(uint32_t type, int port, const std::string &path, const char *user,
                              const char *password, uint32_t timeout_ms) {
  NetClientRequestInfo info = {};
  info.type = type;
  info.port = static_cast<uint32_t>(port);
  info.timeout_ms = timeout_ms;
  snprintf(info.host, sizeof info.host, "127.0.0.1");
  snprintf(info.user, sizeof info.user, "%s", user);
  snprintf(info.password, sizeof info.password, "%s", password);
  snprintf(info.path, sizeof info.path, "%s", path.c_str());
  return info;
}

uint32_t RunRequest(NetClientHandle context, NetClientRequestHandle *request,
                    NetClientRequestInfo info, Events *events, int bound_ms) {
  if (*request != nullptr) NetClient_CloseRequest(*request);
  *request = nullptr;
  uint32_t r = NetClient_OpenRequest(context, request);
  if (r != 0) return r;
  if (events != nullptr) {
    info.callback = Events::Callback;
    info.context = events;
  }
  r = NetClient_SetRequestInfo(*request, &info);
  if (r != 0) return r;
  r = NetClient_Connect(*request, events == nullptr ? 1 : 0);
  if (events == nullptr || r != 0) return r;
  return events->WaitAny({NETCLIENT_EV_HTTP_200, NETCLIENT_EV_HTTP_OTHER, NETCLIENT_EV_HTTP_401,
                          NETCLIENT_E_TIMEOUT},
                         bound_ms);
}

bool ReadBody(NetClientRequestHandle request, uint32_t piece, std::string *body,
              std::vector<uint32_t> *statuses) {
  std::vector<char> buffer(piece);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    uint32_t got = 0, status = 0;
    if (NetClient_ReadData(request, buffer.data(), piece, &got, &status) != 0) return false;
    if (statuses != nullptr) statuses->push_back(status);
    if (got > piece - 1) return false;  // never more than size - 1
    switch (status) {
      case NETCLIENT_READ_DATA:
        body->append(buffer.data(), got);
        break;
      case NETCLIENT_READ_PENDING:
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        break;
      case NETCLIENT_READ_END:
        return true;
      case NETCLIENT_READ_RECEIVING:
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        break;
      default:
        return false;
    }
  }
  return false;
}

std::string PeerPattern(size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>((i * 7 + (i >> 8)) & 0xFF);
  return out;
}

int ClosedPort() { return kvtest::FreeLoopbackPort(); }

}  // namespace nctest
