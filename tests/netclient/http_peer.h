// The network client's HTTP peers for tests: tests/netclient/http_peer.py (plain or TLS, or
// a proxy that always answers 407) started through kvtest::ChildProcess, certificates made
// with the `openssl` command, and helpers that run a request and read its body.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "nc_test_util.h"
#include "netclient.h"

namespace nctest {

class HttpPeer {
 public:
  // Starts the peer in a new folder; extra arguments as http_peer.py takes them. True once
  // it listens (bounded at 20 s).
  bool Start(const std::string &name, const std::vector<std::string> &extra = {});
  int port() const { return port_; }
  const std::string &dir() const { return dir_; }
  // One JSON object per request received: "line", "authorization", "proxy_authorization".
  std::vector<std::string> Requests() const;

 private:
  kvtest::ChildProcess proc_;
  std::string dir_;
  int port_ = 0;
};

// Makes a self-signed certificate for 127.0.0.1 and localhost with the `openssl` command:
// dir/name.pem and dir/name.key. False when the command failed (its output in dir/name.log).
bool MakeCertificate(const std::string &dir, const std::string &name,
                     const std::string &alt_names = "IP:127.0.0.1,DNS:localhost");

NetClientRequestInfo HttpInfo(uint32_t type, int port, const std::string &path,
                              const char *user = "", const char *password = "",
                              uint32_t timeout_ms = 10000);

// Runs one request on a fresh slot of context (closing *request first when open): waiting
// when events is NULL, else with the callback, and then the result is the first completion
// code (107, 108, 109 or 0x80040205; 0 when none came within bound_ms). The slot stays open
// for reads.
uint32_t RunRequest(NetClientHandle context, NetClientRequestHandle *request,
                    NetClientRequestInfo info, Events *events, int bound_ms = 15000);

// Reads the body of a connected slot to its end in pieces of `piece` bytes (ReadData's size),
// waiting out pending reads (bounded at 20 s). The statuses seen are appended to *statuses
// when given. False when a read failed, the slot closed, or the bound ran out.
bool ReadBody(NetClientRequestHandle request, uint32_t piece, std::string *body,
              std::vector<uint32_t> *statuses = nullptr);

// The bytes /body?size=N and /chunked?size=N of http_peer.py send.
std::string PeerPattern(size_t n);

// A loopback TCP port where nothing listens.
int ClosedPort();

}  // namespace nctest
