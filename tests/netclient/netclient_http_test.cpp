// HTTP requests against the simulator's HTTP server, waiting and with a callback: bodies
// read in pieces, POST bodies, Basic and Digest challenges, status rules, and proxies (a
// real one that wants credentials, and a scripted one that always answers 407).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "devsim_fixture.h"
#include "http_peer.h"
#include "nc_test_util.h"
#include "netclient.h"
#include "test_paths.h"
#include "tinyproxy_fixture.h"

using nctest::Events;

namespace {

class HttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new kvtest::Devsim;
    ASSERT_TRUE(sim_->Start({{"KM3111", "basic", "basic"},
                             {"KM4130", "md5", "digest"},
                             {"KM4130", "sha", "digest-sha256"}}))
        << sim_->log_path();
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(0u, NetClient_Initialize(&context_, NETCLIENT_VERSION_WORD)); }
  void TearDown() override { EXPECT_EQ(0u, NetClient_Release(&context_)); }

  static int Port(const char *device) { return sim_->Device(device)->http_port; }

  uint32_t Run(const NetClientRequestInfo &info, Events *events) {
    return nctest::RunRequest(context_, &request_, info, events);
  }


  // The statuses the device logged since seq, in ascending order. The simulator logs a request after it has
  // answered it, so the log is read once `expected` entries are there (bounded), and again
  // a little later to catch any request beyond them.
  static std::vector<int> Statuses(const char *device, int since, size_t expected) {
    auto read = [&] {
      std::vector<int> out;
      for (const auto &e : sim_->Log(since, device)) {
        if (e.proto == "http") out.push_back(e.status);
      }
      return out;
    };
    kvtest::WaitUntil([&] { return read().size() >= expected; }, 5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    // The simulator's threads log in the order they finish, not the order of arrival.
    std::vector<int> statuses = read();
    std::sort(statuses.begin(), statuses.end());
    return statuses;
  }
  static int NextSeq() {
    auto all = sim_->Log();
    return all.empty() ? 0 : all.back().seq + 1;
  }

  static kvtest::Devsim *sim_;
  NetClientHandle context_ = nullptr;
  NetClientRequestHandle request_ = nullptr;
};

kvtest::Devsim *HttpTest::sim_ = nullptr;

TEST_F(HttpTest, BodyReadInPiecesEqualsThePage) {
  const int kSize = 30000;
  ASSERT_TRUE(sim_->AddFault("basic", R"({"path": "/cgi-bin/sysinfo.cgi", "oversize": 30000})"));
  std::string page = sim_->SysinfoText("basic");
  page.append(kSize - page.size(), 'x');
  for (uint32_t piece : {2u, 3u, 1000u, 8193u, 100000u}) {
    for (bool async : {false, true}) {
      SCOPED_TRACE("piece " + std::to_string(piece) + (async ? " async" : " waiting"));
      Events events;
      uint32_t length = 0;
      NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port("basic"),
                                                   "/cgi-bin/sysinfo.cgi", "root", "pass");
      info.content_length = &length;
      ASSERT_EQ(async ? NETCLIENT_EV_HTTP_200 : 0u, Run(info, async ? &events : nullptr));
      EXPECT_EQ(static_cast<uint32_t>(kSize), length);
      std::string body;
      std::vector<uint32_t> statuses;
      ASSERT_TRUE(nctest::ReadBody(request_, piece, &body, &statuses));
      EXPECT_TRUE(body == page) << body.size() << " bytes read";
      EXPECT_EQ(NETCLIENT_READ_END, statuses.back());
      // Every pending read that completed was reported to the callback.
      if (async) {
        int pending = static_cast<int>(std::count(statuses.begin(), statuses.end(), NETCLIENT_READ_PENDING));
        EXPECT_EQ(pending > 0, events.Count(NETCLIENT_EV_HTTP_READ) > 0);
      }
    }
  }
  sim_->ClearFaults("basic");
}

TEST_F(HttpTest, PostBodyReachesTheDevice) {
  int since = NextSeq();
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_POST, Port("basic"),
                                               "/cgi-bin/admin/form.cgi", "root", "pass");
  snprintf(info.extra, sizeof info.extra, "name=value&list=a,b");
  ASSERT_EQ(0u, Run(info, nullptr));
  // The answered request, once the simulator has logged it (after its answer).
  kvtest::DevsimLogEntry answered;
  ASSERT_TRUE(kvtest::WaitUntil([&] {
    for (const auto &e : sim_->Log(since, "basic")) {
      if (e.status == 200) answered = e;
    }
    return answered.status == 200;
  }, 5000));
  EXPECT_EQ("POST", answered.method);
  EXPECT_EQ("/cgi-bin/admin/form.cgi", answered.path);
  EXPECT_EQ("name=value&list=a,b", answered.body);
}

// A challenge is answered once: right credentials cost one more request, wrong ones end
// after it with no third request. Basic and Digest are separate tests, as platforms differ in
// which schemes their HTTP service answers.
struct Challenge {
  const char *device, *user, *password;
  uint32_t waiting, event;
  std::vector<int> statuses;
};

class HttpChallengeTest : public HttpTest {
 protected:
  void Check(const std::vector<Challenge> &cases) {
    for (const Challenge &c : cases) {
      for (bool async : {false, true}) {
        SCOPED_TRACE(std::string(c.device) + " " + c.user + "/" + c.password + (async ? " async" : ""));
        int since = NextSeq();
        Events events;
        NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port(c.device),
                                                     "/cgi-bin/sysinfo.cgi", c.user, c.password);
        EXPECT_EQ(async ? c.event : c.waiting, Run(info, async ? &events : nullptr));
        EXPECT_EQ(c.statuses, Statuses(c.device, since, c.statuses.size()));
        if (!async && c.waiting == 0) {
          char user[256], password[256];
          ASSERT_EQ(0u, NetClient_GetCredentials(request_, user, password));
          EXPECT_STREQ(c.user, user);
          EXPECT_STREQ(c.password, password);
        }
      }
    }
  }
};

TEST_F(HttpChallengeTest, BasicIsAnsweredOnce) {
  Check({
      {"basic", "root", "pass", 0, NETCLIENT_EV_HTTP_200, {200, 401}},
      {"basic", "root", "wrong", NETCLIENT_E_AUTH, NETCLIENT_EV_HTTP_401, {401, 401}},
  });
}

TEST_F(HttpChallengeTest, DigestIsAnsweredOnce) {
  Check({
      {"md5", "root", "pass", 0, NETCLIENT_EV_HTTP_200, {200, 401}},
      {"sha", "root", "pass", 0, NETCLIENT_EV_HTTP_200, {200, 401}},
      {"md5", "nobody", "pass", NETCLIENT_E_AUTH, NETCLIENT_EV_HTTP_401, {401, 401}},
      {"sha", "", "", NETCLIENT_E_AUTH, NETCLIENT_EV_HTTP_401, {401}},
  });
}

TEST_F(HttpTest, StatusesOtherThan200) {
  ASSERT_TRUE(sim_->AddFault("basic", R"({"path": "/missing.cgi", "status": 404})"));
  ASSERT_TRUE(sim_->AddFault("basic", R"({"path": "/broken.cgi", "status": 500})"));
  struct Case {
    const char *path;
    uint32_t waiting;
  } cases[] = {{"/missing.cgi", NETCLIENT_E_NOT_FOUND}, {"/broken.cgi", NETCLIENT_E_CONNECT}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    NetClientRequestInfo info =
        nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port("basic"), c.path, "root", "pass");
    EXPECT_EQ(c.waiting, Run(info, nullptr));
    Events events;
    EXPECT_EQ(NETCLIENT_EV_HTTP_OTHER, Run(info, &events));
  }
  sim_->ClearFaults("basic");
}

// A body that breaks off before its declared length ends with a failed read, never with
// the end of the body.
TEST_F(HttpTest, ABodyCutShortFails) {
  ASSERT_TRUE(sim_->AddFault("basic", R"({"path": "/cgi-bin/sysinfo.cgi", "oversize": 40000, "close_after": 20000})"));
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port("basic"),
                                               "/cgi-bin/sysinfo.cgi", "root", "pass");
  ASSERT_EQ(0u, Run(info, nullptr));
  std::string body;
  std::vector<uint32_t> statuses;
  EXPECT_FALSE(nctest::ReadBody(request_, 4096, &body, &statuses));
  EXPECT_EQ(NETCLIENT_READ_FAILED, statuses.back());
  EXPECT_EQ(20000u, body.size());
  sim_->ClearFaults("basic");
}

TEST_F(HttpTest, TinyBuffersAreRefusedWithoutTouchingTheStatus) {
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port("basic"),
                                               "/cgi-bin/sysinfo.cgi", "root", "pass");
  ASSERT_EQ(0u, Run(info, nullptr));
  char buffer[4];
  for (uint32_t size : {0u, 1u}) {
    uint32_t got = 77, status = 77;
    EXPECT_EQ(NETCLIENT_E_INVALIDARG, NetClient_ReadData(request_, buffer, size, &got, &status));
    EXPECT_EQ(77u, status);
  }
  uint32_t got = 0, status = 0;
  EXPECT_EQ(NETCLIENT_E_INVALIDARG, NetClient_ReadData(request_, nullptr, 4, &got, &status));
}

// ---- Proxies -------------------------------------------------------------------------------

// Either way a context gets its proxy: when it is opened, or set on a direct context later.
enum class ProxySetting { kAtOpen, kLater };

void PrintTo(ProxySetting setting, std::ostream *out) {
  *out << (setting == ProxySetting::kAtOpen ? "at open" : "later");
}

class HttpProxyTest : public HttpTest, public ::testing::WithParamInterface<ProxySetting> {
 protected:
  void UseProxy(int port, const char *user, const char *password) {
    if (GetParam() == ProxySetting::kAtOpen && !reopened_) {
      // The address in the form NetClient_SetProxy makes of it, so that the call below only
      // sets the credentials.
      std::string address = "http://127.0.0.1:" + std::to_string(port);
      ASSERT_EQ(0u, NetClient_Release(&context_));
      request_ = nullptr;
      ASSERT_EQ(0u, NetClient_InitializeWithProxy(&context_, address.c_str(), nullptr,
                                                  NETCLIENT_VERSION_WORD));
      reopened_ = true;
    }
    NetClientProxyInfo proxy = {"127.0.0.1", nullptr, user, password, static_cast<uint32_t>(port)};
    ASSERT_EQ(0u, NetClient_SetProxy(context_, 0, &proxy));
  }

 private:
  bool reopened_ = false;
};

INSTANTIATE_TEST_SUITE_P(Proxy, HttpProxyTest,
                         ::testing::Values(ProxySetting::kAtOpen, ProxySetting::kLater),
                         [](const ::testing::TestParamInfo<ProxySetting> &info) {
                           return info.param == ProxySetting::kAtOpen ? "AtOpen" : "Later";
                         });

TEST_P(HttpProxyTest, TinyproxyWithCredentials) {
  kvtest::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start("puser", "ppass"));
  UseProxy(proxy.port(), "puser", "ppass");
  int since = NextSeq();
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port("basic"),
                                               "/cgi-bin/sysinfo.cgi", "root", "pass");
  ASSERT_EQ(0u, Run(info, nullptr));
  std::string body;
  ASSERT_TRUE(nctest::ReadBody(request_, 512, &body));
  EXPECT_EQ(sim_->SysinfoText("basic"), body);
  EXPECT_EQ((std::vector<int>{200, 401}), Statuses("basic", since, 2));
}

// Credentials changed after a request went through are the ones the next request offers:
// tinyproxy refuses wrong ones with 401.
TEST_P(HttpProxyTest, ChangedProxyCredentialsTakeEffect) {
  kvtest::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start("puser", "ppass"));
  UseProxy(proxy.port(), "puser", "ppass");
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port("basic"),
                                               "/cgi-bin/sysinfo.cgi", "root", "pass");
  ASSERT_EQ(0u, Run(info, nullptr));
  UseProxy(proxy.port(), "puser", "nope");
  EXPECT_EQ(NETCLIENT_E_AUTH, Run(info, nullptr));
}

TEST_P(HttpProxyTest, A407IsAnsweredOnce) {
  nctest::HttpPeer proxy;
  ASSERT_TRUE(proxy.Start("proxy407", {"--proxy-407"}));
  UseProxy(proxy.port(), "puser", "ppass");
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTP_GET, Port("basic"),
                                               "/cgi-bin/sysinfo.cgi", "root", "pass");
  EXPECT_EQ(NETCLIENT_E_AUTH, Run(info, nullptr));
  std::vector<std::string> requests = proxy.Requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_NE(std::string::npos, requests[0].find("\"proxy_authorization\": \"\""));
  EXPECT_NE(std::string::npos, requests[1].find("\"proxy_authorization\": \"Basic "));
  EXPECT_NE(std::string::npos, requests[1].find("GET http://127.0.0.1:"));
}

}  // namespace
