// The request on the caller's thread (SMO_HttpCall_*) against the pool's request
// (SMO_HttpRequest_InitEx) on the same scripted peers: both must send the same bytes and
// end with the same statuses, HTTP code and body, since they share one request builder and
// one reply verdict and only their waiting differs. Also: the call's own argument checks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "recorder.h"
#include "script_server.h"
#include "tessum.h"
#include "test_socket.h"

namespace {

using tstest::Conn;
using tstest::Recorder;
using tstest::ScriptServer;

struct Outcome {
  uint32_t status = 0;
  uint64_t code = 0;
  std::string body;
  uint32_t end = 0;
  std::vector<std::string> requests;
};

TessumHttpRequest Request(uint16_t port, const char *path, bool post) {
  TessumHttpRequest r{};
  EXPECT_EQ(SMO_HttpRequest_SetConn(&r.conn, 0, nullptr, 0, "127.0.0.1", port), TESSUM_OK);
  std::strcpy(r.path, path);
  std::strcpy(r.user, "admin");
  std::strcpy(r.password, "secret");
  r.timeout_ms = 10000;
  if (post) {
    r.method = TESSUM_HTTP_POST;
    r.body = "a=1&b=2";
    r.body_length = 7;
  }
  return r;
}

Outcome ThroughThePool(TessumAgent *agent, const TessumHttpRequest &request, uint32_t piece) {
  Outcome out;
  Recorder r;
  TessumHandle h = nullptr;
  EXPECT_EQ(SMO_HttpRequest_InitEx(agent, &r.token, Recorder::Callback, &r, &request, &h, 0),
            TESSUM_OK);
  EXPECT_TRUE(r.Wait());
  out.status = r.status();
  out.code = r.value();
  std::vector<char> buf(piece);
  while (out.status == TESSUM_OK) {
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

Outcome OnTheCaller(const TessumHttpRequest &request, uint32_t piece) {
  Outcome out;
  TessumCall *call = nullptr;
  EXPECT_EQ(SMO_HttpCall_Create(&call), TESSUM_OK);
  out.status = SMO_HttpCall_Run(call, &request, &out.code);
  std::vector<char> buf(piece);
  while (out.status == TESSUM_OK) {
    uint32_t got = 0;
    uint32_t rc = SMO_HttpCall_Read(call, buf.data(), piece, 10000, &got);
    if (rc != TESSUM_OK) {
      out.end = rc;
      break;
    }
    out.body.append(buf.data(), got);
  }
  EXPECT_EQ(SMO_HttpCall_Release(&call), TESSUM_OK);
  EXPECT_EQ(call, nullptr);
  return out;
}

std::string Reply(int code, const std::string &headers, const std::string &body) {
  return "HTTP/1.0 " + std::to_string(code) + " X\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A device that asks for Digest and takes any Digest answer.
void DigestDevice(Conn &c) {
  std::string auth = tstest::HeaderOf(c.ReadRequest(), "Authorization");
  if (auth.rfind("Digest ", 0) == 0) {
    c.Send(Reply(200, "", "digest-ok"));
    return;
  }
  c.Send(Reply(401,
               "WWW-Authenticate: Digest realm=\"cam\", nonce=\"n0nce\", qop=\"auth\", "
               "algorithm=MD5\r\n",
               ""));
}

// The request bytes a peer can compare: a Digest answer's client nonce and response differ
// from one request to the next.
std::string Comparable(const std::string &request) {
  size_t at = request.find("response=");
  return at == std::string::npos ? request : request.substr(0, at);
}

// Runs the request both ways against one peer script and compares what each saw.
void Compare(const char *name, const std::function<void(Conn &)> &peer, bool post,
             uint32_t piece) {
  TessumAgent *agent = nullptr;
  ASSERT_EQ(SCHEAGENT_Initialize(&agent, 1), TESSUM_OK);
  ScriptServer device([&peer](Conn &conn) { peer(conn); });
  const TessumHttpRequest request = Request(device.port(), "/cgi-bin/x.cgi?a=1", post);
  Outcome pool = ThroughThePool(agent, request, piece);
  pool.requests = device.Requests();
  Outcome caller = OnTheCaller(request, piece);
  caller.requests = device.Requests();
  caller.requests.erase(caller.requests.begin(),
                        caller.requests.begin() + static_cast<long>(pool.requests.size()));
  EXPECT_EQ(caller.status, pool.status) << name;
  EXPECT_EQ(caller.code, pool.code) << name;
  EXPECT_EQ(caller.body, pool.body) << name;
  EXPECT_EQ(caller.end, pool.end) << name;
  EXPECT_EQ(SCHEAGENT_Release(&agent), TESSUM_OK);
  ASSERT_EQ(caller.requests.size(), pool.requests.size()) << name;
  for (size_t i = 0; i < caller.requests.size(); ++i) {
    EXPECT_EQ(Comparable(caller.requests[i]), Comparable(pool.requests[i])) << name;
  }
}

TEST(TessumCall, SameOutcomesAsThePoolsRequest) {
  const std::string big(100000, 'b');
  const struct {
    const char *name;
    std::function<void(Conn &)> peer;
    bool post;
    uint32_t piece;
  } cases[] = {
      {"200", [](Conn &c) { c.ReadRequest(), c.Send(Reply(200, "", "hello")); }, false, 512},
      {"204", [](Conn &c) { c.ReadRequest(), c.Send(Reply(204, "", "")); }, false, 512},
      {"404", [](Conn &c) { c.ReadRequest(), c.Send(Reply(404, "", "x")); }, false, 512},
      {"401 Basic only",
       [](Conn &c) {
         c.ReadRequest(), c.Send(Reply(401, "WWW-Authenticate: Basic realm=\"r\"\r\n", ""));
       },
       false, 512},
      {"407", [](Conn &c) { c.ReadRequest(), c.Send(Reply(407, "", "")); }, false, 512},
      {"500", [](Conn &c) { c.ReadRequest(), c.Send(Reply(500, "", "x")); }, false, 512},
      {"Digest", DigestDevice, false, 512},
      {"POST", [](Conn &c) { c.ReadRequest(), c.Send(Reply(200, "", "posted")); }, true, 512},
      {"extra after length",
       [](Conn &c) { c.ReadRequest(), c.Send("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"); },
       false, 512},
      {"until close, small pieces",
       [](Conn &c) { c.ReadRequest(), c.Send("HTTP/1.0 200 OK\r\n\r\nno length given"); }, false,
       4},
      {"large", [&big](Conn &c) { c.ReadRequest(), c.Send(Reply(200, "", big)); }, false, 1000},
      {"not http", [](Conn &c) { c.ReadRequest(), c.Send("garbage\r\n\r\n"); }, false, 512},
      {"close before any reply", [](Conn &c) { c.ReadRequest(); }, false, 512},
      {"close mid-header",
       [](Conn &c) { c.ReadRequest(), c.Send("HTTP/1.0 200 OK\r\nContent-Le"); }, false, 512},
      {"short body",
       [](Conn &c) {
         c.ReadRequest(), c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
       },
       false, 512},
      {"chunked",
       [](Conn &c) {
         c.ReadRequest(),
             c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n");
       },
       false, 512},
  };
  for (const auto &c : cases) Compare(c.name, c.peer, c.post, c.piece);
}

// Kept apart because Wine reports a reset to a socket waited on with WSAEventSelect as an
// orderly close (tests/wine-exclusions.txt).
TEST(TessumCall, AResetConnectionFailsAsInThePoolsRequest) {
  Compare("reset", [](Conn &c) { c.ReadRequest(), kvtest::SetResetOnClose(c.fd()); }, false,
          512);
}

// Misuse is refused without touching anything; a call aborted before it ran never connects.
TEST(TessumCall, ArgumentsAndAnAbortBeforeTheRun) {
  EXPECT_EQ(SMO_HttpCall_Create(nullptr), TESSUM_E_INVALIDARG);
  TessumCall *call = nullptr;
  ASSERT_EQ(SMO_HttpCall_Create(&call), TESSUM_OK);
  char buf[8];
  uint32_t got = 0;
  EXPECT_EQ(SMO_HttpCall_Read(call, buf, sizeof buf, 0, &got), TESSUM_E_BUSY);
  EXPECT_EQ(SMO_HttpCall_Run(call, nullptr, nullptr), TESSUM_E_INVALIDARG);
  ScriptServer device([](Conn &c) { c.ReadRequest(), c.Send(Reply(200, "", "x")); });
  TessumHttpRequest bad = Request(device.port(), "/a b", false);
  EXPECT_EQ(SMO_HttpCall_Run(call, &bad, nullptr), TESSUM_E_INVALIDARG);
  EXPECT_EQ(SMO_HttpCall_Abort(call), TESSUM_OK);
  TessumHttpRequest good = Request(device.port(), "/a", false);
  EXPECT_EQ(SMO_HttpCall_Run(call, &good, nullptr), TESSUM_E_WITHDRAWN);
  EXPECT_EQ(SMO_HttpCall_Release(&call), TESSUM_OK);
  EXPECT_EQ(device.Connections(), 0);
}

}  // namespace
