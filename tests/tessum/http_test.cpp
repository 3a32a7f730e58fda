// Tessum's HTTP requests against scripted loopback servers and a real proxy (tinyproxy):
// credentials (Basic, Digest MD5 and SHA-256), statuses, bodies, refused paths, time-outs,
// withdrawal, and replies that are broken in every way a device or a network can break them.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

#include "child_process.h"
#include "recorder.h"
#include "script_server.h"
#include "tessum.h"
#include "test_hash.h"
#include "test_paths.h"
#include "test_socket.h"
#include "tinyproxy_fixture.h"

namespace {

using tstest::Conn;
using tstest::HeaderOf;
using tstest::Recorder;
using tstest::ScriptServer;

std::string Reply(int code, const std::string &headers, const std::string &body) {
  return "HTTP/1.0 " + std::to_string(code) + " X\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Hex(kvtest::Hash md, const std::string &s) { return kvtest::HashHex(md, s); }

// name=value and name="value" pairs of an Authorization: Digest header.
std::map<std::string, std::string> DigestParams(const std::string &header) {
  std::map<std::string, std::string> out;
  size_t i = header.find(' ');
  while (i != std::string::npos && i < header.size()) {
    while (i < header.size() && (header[i] == ' ' || header[i] == ',')) ++i;
    size_t eq = header.find('=', i);
    if (eq == std::string::npos) break;
    std::string name = header.substr(i, eq - i), value;
    i = eq + 1;
    if (i < header.size() && header[i] == '"') {
      for (++i; i < header.size() && header[i] != '"'; ++i) {
        if (header[i] == '\\') ++i;
        value += header[i];
      }
      ++i;
    } else {
      size_t end = header.find(',', i);
      value = header.substr(i, end == std::string::npos ? std::string::npos : end - i);
      i = end;
    }
    out[name] = value;
  }
  return out;
}

// The device's own check of a Digest answer, written independently of Tessum.
bool DigestValid(const std::string &request, const std::string &method, kvtest::Hash md,
                 const std::string &user, const std::string &password) {
  std::string auth = HeaderOf(request, "Authorization");
  if (auth.rfind("Digest ", 0) != 0) return false;
  auto p = DigestParams(auth);
  std::string ha1 = Hex(md, p["username"] + ":" + p["realm"] + ":" + password);
  std::string ha2 = Hex(md, method + ":" + p["uri"]);
  std::string want =
      Hex(md, ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":" + p["qop"] + ":" + ha2);
  return p["username"] == user && p["nonce"] == "n0nce" && p["qop"] == "auth" &&
         p["opaque"] == "op" && p["response"] == want;
}

struct Result {
  uint32_t status = 0;  // the request's completion
  uint64_t value = 0;
  std::string body;
  uint32_t end = 0;  // the status that ended the body reads
};

class TessumHttp : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SCHEAGENT_Initialize(&agent_, 1), TESSUM_OK); }
  void TearDown() override { EXPECT_EQ(SCHEAGENT_Release(&agent_), TESSUM_OK); }

  static TessumHttpRequest Request(uint16_t port, const char *path) {
    TessumHttpRequest r{};
    EXPECT_EQ(SMO_HttpRequest_SetConn(&r.conn, 0, nullptr, 0, "127.0.0.1", port), TESSUM_OK);
    std::strcpy(r.path, path);
    r.timeout_ms = 10000;
    return r;
  }

  // Runs the request, then reads the body in pieces of `piece` bytes until it ends.
  Result Fetch(const TessumHttpRequest &request, uint32_t piece = 512) {
    Result out;
    Recorder r;
    TessumHandle h = nullptr;
    EXPECT_EQ(STATOKEN_TouchToken(&r.token), TESSUM_OK);
    EXPECT_EQ(SMO_HttpRequest_InitEx(agent_, &r.token, Recorder::Callback, &r, &request, &h, 0),
              TESSUM_OK);
    EXPECT_TRUE(r.Wait());
    out.status = r.status();
    out.value = r.value();
    std::vector<char> buf(piece);
    for (int i = 0; out.status == TESSUM_OK && i < 100000; ++i) {
      Recorder rd;
      EXPECT_EQ(COMMON_TI_ReadData(h, &rd.token, Recorder::Callback, &rd, piece, buf.data(), 1),
                TESSUM_OK);
      EXPECT_TRUE(rd.Wait());
      if (rd.status() != TESSUM_OK) {
        out.end = rd.status();
        break;
      }
      out.body.append(buf.data(), rd.value());
    }
    EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
    return out;
  }

  TessumAgent *agent_ = nullptr;
};

TEST_F(TessumHttp, BasicCredentials) {
  ScriptServer device([](Conn &c) {
    std::string req = c.ReadRequest();
    if (HeaderOf(req, "Authorization") == "Basic YWRtaW46c2VjcmV0") {
      c.Send(Reply(200, "", "ok-body"));
    } else {
      c.Send(Reply(401, "WWW-Authenticate: Basic realm=\"cam\"\r\n", "no"));
    }
  });
  const struct {
    const char *password;
    uint32_t status;
    uint64_t value;
  } cases[] = {{"secret", TESSUM_OK, 200}, {"wrong", TESSUM_E_HTTP_AUTH, 401}};
  for (const auto &c : cases) {
    TessumHttpRequest req = Request(device.port(), "/cgi-bin/getdi.cgi?di=1");
    std::strcpy(req.user, "admin");
    std::strcpy(req.password, c.password);
    Result r = Fetch(req);
    EXPECT_EQ(r.status, c.status) << c.password;
    EXPECT_EQ(r.value, c.value) << c.password;
    if (c.status == TESSUM_OK) {
      EXPECT_EQ(r.body, "ok-body");
      EXPECT_EQ(r.end, TESSUM_S_CLOSED);
    }
  }
  TessumHttpRequest by_name = Request(device.port(), "/named");
  std::strcpy(by_name.conn.host, "localhost");
  std::strcpy(by_name.user, "admin");
  std::strcpy(by_name.password, "secret");
  EXPECT_EQ(Fetch(by_name).status, TESSUM_OK);
  std::string first = device.Requests().at(0);
  EXPECT_EQ(first.substr(0, first.find("\r\n")), "GET /cgi-bin/getdi.cgi?di=1 HTTP/1.0");
  EXPECT_EQ(HeaderOf(first, "Connection"), "close");
  EXPECT_EQ(HeaderOf(first, "Host"), "127.0.0.1:" + std::to_string(device.port()));
}

// A device that asks for Digest gets one Digest answer on a new connection; a refused
// answer ends with 0x80070082, never with another try in Basic.
TEST_F(TessumHttp, DigestMd5AndSha256) {
  const struct {
    const char *algorithm;
    kvtest::Hash md;
    const char *password;
    uint32_t status;
  } cases[] = {
      {"MD5", kvtest::Hash::kMd5, "secret", TESSUM_OK},
      {"MD5", kvtest::Hash::kMd5, "wrong", TESSUM_E_HTTP_AUTH},
      {"SHA-256", kvtest::Hash::kSha256, "secret", TESSUM_OK},
      {"SHA-256", kvtest::Hash::kSha256, "wrong", TESSUM_E_HTTP_AUTH},
  };
  for (const auto &c : cases) {
    ScriptServer device([&c](Conn &conn) {
      std::string req = conn.ReadRequest();
      if (DigestValid(req, "GET", c.md, "admin", "secret")) {
        conn.Send(Reply(200, "", "digest-ok"));
        return;
      }
      conn.Send(Reply(401,
                      std::string("WWW-Authenticate: Digest realm=\"cam\", nonce=\"n0nce\", "
                                  "qop=\"auth\", opaque=\"op\", algorithm=") +
                          c.algorithm + "\r\n",
                      ""));
    });
    TessumHttpRequest req = Request(device.port(), "/cgi-bin/admin/param.cgi?a=1");
    std::strcpy(req.user, "admin");
    std::strcpy(req.password, c.password);
    Result r = Fetch(req);
    EXPECT_EQ(r.status, c.status) << c.algorithm << " " << c.password;
    if (c.status == TESSUM_OK) {
      EXPECT_EQ(r.body, "digest-ok");
    }
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 2u) << c.algorithm << " " << c.password;
    std::string second = HeaderOf(requests[1], "Authorization");
    EXPECT_EQ(second.rfind("Digest ", 0), 0u) << second;
    EXPECT_NE(second.find(std::string("algorithm=") + c.algorithm), std::string::npos);
    EXPECT_NE(second.find("uri=\"/cgi-bin/admin/param.cgi?a=1\""), std::string::npos);
  }
}

TEST_F(TessumHttp, PostSendsTheFormBody) {
  ScriptServer device([](Conn &c) {
    std::string req = c.ReadRequest();
    c.Send(Reply(200, "", req.substr(req.find("\r\n\r\n") + 4)));
  });
  TessumHttpRequest req = Request(device.port(), "/cgi-bin/admin/setparam.cgi");
  req.method = TESSUM_HTTP_POST;
  const char body[] = "system_hostname=cam1&system_date=2026/12/10";
  req.body = body;
  req.body_length = sizeof body - 1;
  Result r = Fetch(req);
  EXPECT_EQ(r.status, TESSUM_OK);
  EXPECT_EQ(r.body, body);
  std::string sent = device.Requests().at(0);
  EXPECT_EQ(sent.substr(0, sent.find("\r\n")), "POST /cgi-bin/admin/setparam.cgi HTTP/1.0");
  EXPECT_EQ(HeaderOf(sent, "Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(HeaderOf(sent, "Content-Length"), std::to_string(sizeof body - 1));
}

// As for the socket handles: a process the host starts must not keep a device's connection.
TEST_F(TessumHttp, TheConnectionIsNotInheritedByChildProcesses) {
  ScriptServer device([](Conn &c) {
    c.ReadRequest();
    c.Send(Reply(200, "", "x"));
  });
  for (const char *host : {"127.0.0.1", "localhost"}) {  // by address, and through a name
    TessumHttpRequest req = Request(device.port(), "/x");
    ASSERT_EQ(SMO_HttpRequest_SetConn(&req.conn, 0, nullptr, 0, host, device.port()), TESSUM_OK);
    Recorder r;
    TessumHandle h = nullptr;
    ASSERT_EQ(SMO_HttpRequest_InitEx(agent_, &r.token, Recorder::Callback, &r, &req, &h, 0),
              TESSUM_OK);
    ASSERT_TRUE(r.Wait());
    EXPECT_EQ(r.status(), TESSUM_OK) << host;
    EXPECT_FALSE(kvtest::InheritedByChildren(static_cast<int>(h->socket))) << host;
    EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
  }
}

TEST_F(TessumHttp, StatusesOfTheReply) {
  const struct {
    int code;
    uint32_t status;
  } cases[] = {{200, TESSUM_OK},         {204, TESSUM_OK},        {404, TESSUM_E_HTTP_404},
               {401, TESSUM_E_HTTP_AUTH}, {500, TESSUM_E_HTTP},    {302, TESSUM_E_HTTP}};
  for (const auto &c : cases) {
    ScriptServer device([&c](Conn &conn) {
      conn.ReadRequest();
      conn.Send(Reply(c.code, "", "x"));
    });
    Result r = Fetch(Request(device.port(), "/x"));
    EXPECT_EQ(r.status, c.status) << c.code;
    EXPECT_EQ(r.value, static_cast<uint64_t>(c.code));
  }
}

// A path that would split the request line or smuggle a header is refused before anything
// is sent: the device never even sees a connection.
TEST_F(TessumHttp, PathsThatCouldInjectAreRefusedBeforeSending) {
  ScriptServer device([](Conn &c) { c.ReadRequest(); });
  const char *paths[] = {"/a\r\nX-Injected: 1", "/a\nb", "/a b", "/a\tb", "", "noslash"};
  for (const char *path : paths) {
    TessumHttpRequest req = Request(device.port(), path);
    Recorder r;
    TessumHandle h = nullptr;
    EXPECT_EQ(SMO_HttpRequest_InitEx(agent_, &r.token, Recorder::Callback, &r, &req, &h, 0),
              TESSUM_E_INVALIDARG)
        << path;
    EXPECT_EQ(h, nullptr);
  }
  TessumHttpRequest full = Request(device.port(), "/");
  std::memset(full.path, 'a', sizeof full.path);  // no terminating NUL
  Recorder r;
  TessumHandle h = nullptr;
  EXPECT_EQ(SMO_HttpRequest_InitEx(agent_, &r.token, Recorder::Callback, &r, &full, &h, 0),
            TESSUM_E_INVALIDARG);
  TessumHttpRequest bad_user = Request(device.port(), "/");
  std::strcpy(bad_user.user, "admin\r\nX: 1");
  EXPECT_EQ(SMO_HttpRequest_InitEx(agent_, &r.token, Recorder::Callback, &r, &bad_user, &h, 0),
            TESSUM_E_INVALIDARG);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(device.Connections(), 0);
  EXPECT_EQ(r.count(), 0);
}

TEST_F(TessumHttp, SilentDeviceTimesOut) {
  ScriptServer device([](Conn &c) { c.WaitForStop(); });
  TessumHttpRequest req = Request(device.port(), "/silent");
  req.timeout_ms = 300;
  auto start = std::chrono::steady_clock::now();
  Result r = Fetch(req);
  EXPECT_EQ(r.status, TESSUM_E_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // not a hang
}

TEST_F(TessumHttp, TheTokensTimeOutServesWhenTheRequestHasNone) {
  ScriptServer device([](Conn &c) { c.WaitForStop(); });
  TessumHttpRequest req = Request(device.port(), "/silent");
  req.timeout_ms = 0;
  Recorder r(300);
  TessumHandle h = nullptr;
  ASSERT_EQ(SMO_HttpRequest_InitEx(agent_, &r.token, Recorder::Callback, &r, &req, &h, 0), TESSUM_OK);
  ASSERT_TRUE(r.Wait());
  EXPECT_EQ(r.status(), TESSUM_E_TIMEOUT);
  COMMON_TI_Release(&h);
}

TEST_F(TessumHttp, WithdrawnRequestCompletesOnceAndItsHandleIsStillReleasable) {
  ScriptServer device([](Conn &c) { c.WaitForStop(); });
  TessumHttpRequest req = Request(device.port(), "/slow");
  auto r = std::make_unique<Recorder>(0);
  TessumHandle h = nullptr;
  ASSERT_EQ(SMO_HttpRequest_InitEx(agent_, &r->token, Recorder::Callback, r.get(), &req, &h, 0),
            TESSUM_OK);
  ASSERT_TRUE(kvtest::WaitUntil([&] { return device.Connections() == 1; }, 5000));
  EXPECT_EQ(SCHEAGENT_RemoveToken(agent_, 2, &r->token), TESSUM_OK);
  ASSERT_TRUE(r->Wait());
  EXPECT_EQ(r->status(), TESSUM_E_WITHDRAWN);
  EXPECT_NE(r->thread(), std::this_thread::get_id());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(r->count(), 1);
  r.reset();  // a late touch of the token would now be a use after free
  EXPECT_EQ(COMMON_TI_Release(&h), TESSUM_OK);
}

// Bodies: the bytes that came with the head go to the first read; a declared length ends
// the body (extra bytes are dropped); without one the close does.
TEST_F(TessumHttp, BodyReads) {
  const std::string big(100000, 'b');
  const struct {
    const char *name;
    std::string reply;
    std::string body;
    uint32_t piece;
  } cases[] = {
      {"with the head", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello", 512},
      {"extra after length", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", "abc", 512},
      {"until close", "HTTP/1.0 200 OK\r\n\r\nno length given", "no length given", 4},
      {"large", Reply(200, "", big), big, 1000},
      {"empty", Reply(200, "", ""), "", 512},
  };
  for (const auto &c : cases) {
    ScriptServer device([&c](Conn &conn) {
      conn.ReadRequest();
      conn.Send(c.reply);
    });
    Result r = Fetch(Request(device.port(), "/body"), c.piece);
    EXPECT_EQ(r.status, TESSUM_OK) << c.name;
    EXPECT_EQ(r.body, c.body) << c.name;
    EXPECT_EQ(r.end, TESSUM_S_CLOSED) << c.name;
  }
}

// Broken replies fail, never hang, never crash, and never look like a complete reply.
TEST_F(TessumHttp, BrokenRepliesFail) {
  const struct {
    const char *name;
    std::function<void(Conn &)> peer;
    uint32_t status;  // of the request
    uint32_t end;     // of the body reads when the request succeeded
  } cases[] = {
      {"not http", [](Conn &c) { c.Send("garbage\r\n\r\n"); }, TESSUM_E_HTTP, 0},
      {"bad status", [](Conn &c) { c.Send("HTTP/1.0 2000 OK\r\n\r\n"); }, TESSUM_E_HTTP, 0},
      {"close before any reply", [](Conn &) {}, TESSUM_E_HTTP, 0},
      {"close mid-header", [](Conn &c) { c.Send("HTTP/1.0 200 OK\r\nContent-Le"); },
       TESSUM_E_HTTP, 0},
      {"endless headers",
       [](Conn &c) {
         c.Send("HTTP/1.0 200 OK\r\n");
         for (int i = 0; i < 3000 && kvtest::SendBytes(c.fd(), "X-Pad: yyyyyyyy\r\n", 17) > 0; ++i) {
         }
         c.WaitForStop();
       },
       TESSUM_E_HTTP, 0},
      {"short body",
       [](Conn &c) { c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789"); },
       TESSUM_OK, TESSUM_E_HTTP},
      {"chunked", [](Conn &c) { c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"); },
       TESSUM_E_HTTP, 0},
      {"reset", [](Conn &c) {
         kvtest::SetResetOnClose(c.fd());
       },
       TESSUM_E_SOCKET, 0},
  };
  for (const auto &c : cases) {
    ScriptServer device([&c](Conn &conn) {
      conn.ReadRequest();
      c.peer(conn);
    });
    Result r = Fetch(Request(device.port(), "/broken"));
    EXPECT_EQ(r.status, c.status) << c.name;
    if (c.status == TESSUM_OK) {
      EXPECT_EQ(r.end, c.end) << c.name;
    }
  }
}

using kvtest::Tinyproxy;

TEST_F(TessumHttp, ThroughAProxy) {
  ScriptServer device([](Conn &c) {
    std::string req = c.ReadRequest();
    if (req.empty()) return;
    c.Send(Reply(HeaderOf(req, "Authorization") == "Basic YWRtaW46c2VjcmV0" ? 200 : 401, "",
                 "via-proxy"));
  });
  Tinyproxy open_proxy, auth_proxy;
  ASSERT_TRUE(open_proxy.Start());
  ASSERT_TRUE(auth_proxy.Start("puser", "ppass"));
  const struct {
    const char *name;
    uint16_t proxy_port;
    const char *proxy_password;
    uint32_t status;
  } cases[] = {
      {"open proxy", open_proxy.port(), "", TESSUM_OK},
      {"proxy credentials", auth_proxy.port(), "ppass", TESSUM_OK},
      {"wrong proxy credentials", auth_proxy.port(), "nope", TESSUM_E_HTTP_AUTH},
  };
  size_t reached = 0;
  for (const auto &c : cases) {
    TessumHttpRequest req{};
    ASSERT_EQ(SMO_HttpRequest_SetConn(&req.conn, 1, "127.0.0.1", c.proxy_port, "127.0.0.1",
                                      device.port()),
              TESSUM_OK);
    std::strcpy(req.path, "/cgi-bin/sysinfo.cgi");
    std::strcpy(req.user, "admin");
    std::strcpy(req.password, "secret");
    if (*c.proxy_password != '\0') {
      std::strcpy(req.proxy_user, "puser");
      std::strcpy(req.proxy_password, c.proxy_password);
    }
    req.timeout_ms = 10000;
    Result r = Fetch(req);
    EXPECT_EQ(r.status, c.status) << c.name;
    if (c.status == TESSUM_OK) {
      EXPECT_EQ(r.body, "via-proxy") << c.name;
      ++reached;
    } else {
      // tinyproxy refuses plain requests with 401 (407 only for tunnels); both mean refused.
      EXPECT_TRUE(r.value == 401u || r.value == 407u) << c.name << " " << r.value;
    }
    // Only requests the proxy let through reach the device.
    EXPECT_EQ(device.Requests().size(), reached) << c.name;
  }
  std::string seen = device.Requests().at(0);
  EXPECT_EQ(seen.substr(0, seen.find("\r\n")).rfind("GET /cgi-bin/sysinfo.cgi HTTP/1.", 0), 0u)
      << seen;
  EXPECT_EQ(HeaderOf(seen, "Proxy-Authorization"), "");  // the proxy keeps its credentials
}

TEST_F(TessumHttp, SetConnFillsTheRecord) {
  TessumHttpConn conn;
  ASSERT_EQ(SMO_HttpRequest_SetConn(&conn, 1, "10.0.0.1", 3128, "cam.local", 8080), TESSUM_OK);
  EXPECT_EQ(conn.use_proxy, 1u);
  EXPECT_STREQ(conn.proxy_host, "10.0.0.1");
  EXPECT_EQ(conn.proxy_port, 3128u);
  EXPECT_STREQ(conn.host, "cam.local");
  EXPECT_EQ(conn.port, 8080u);
  ASSERT_EQ(SMO_HttpRequest_SetConn(&conn, 1, "", 3128, "cam", 80), TESSUM_OK);
  EXPECT_EQ(conn.use_proxy, 0u);  // an empty proxy host means no proxy
  std::string long_host(300, 'h');
  EXPECT_EQ(SMO_HttpRequest_SetConn(&conn, 0, nullptr, 0, long_host.c_str(), 80),
            TESSUM_E_INVALIDARG);
  EXPECT_EQ(SMO_HttpRequest_SetConn(&conn, 0, nullptr, 0, nullptr, 80), TESSUM_E_INVALIDARG);
}

}  // namespace
