// HTTPS against a local TLS server (http_peer.py with a certificate made by the `openssl`
// command), trusted the documented way (SSL_CERT_FILE names it before the first HTTPS
// request), directly and through a proxy's CONNECT; a certificate that is not trusted, and
// one that is trusted but names another host.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "http_peer.h"
#include "nc_test_util.h"
#include "netclient.h"
#include "test_paths.h"
#include "tinyproxy_fixture.h"

using nctest::Events;
using nctest::HttpPeer;

namespace {

class HttpsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string dir = kvtest::MakeTempDir("netclient-tls");
    ASSERT_TRUE(nctest::MakeCertificate(dir, "trusted")) << dir;
    ASSERT_TRUE(nctest::MakeCertificate(dir, "stranger")) << dir;
    ASSERT_TRUE(nctest::MakeCertificate(dir, "elsewhere", "DNS:elsewhere.example,IP:192.0.2.7")) << dir;
    // The host trusts its own authorities: here the self-signed certificates themselves,
    // one of them issued for another host.
    ASSERT_TRUE(kvtest::WriteFile(dir + "/trust.pem", kvtest::ReadFile(dir + "/trusted.pem") +
                                                          kvtest::ReadFile(dir + "/elsewhere.pem")));
    setenv("SSL_CERT_FILE", (dir + "/trust.pem").c_str(), 1);
    trusted_ = new HttpPeer;
    ASSERT_TRUE(trusted_->Start("tls-trusted", {"--cert", dir + "/trusted.pem", "--key", dir + "/trusted.key"}));
    stranger_ = new HttpPeer;
    ASSERT_TRUE(stranger_->Start("tls-stranger", {"--cert", dir + "/stranger.pem", "--key", dir + "/stranger.key"}));
    elsewhere_ = new HttpPeer;
    ASSERT_TRUE(elsewhere_->Start("tls-elsewhere", {"--cert", dir + "/elsewhere.pem", "--key", dir + "/elsewhere.key"}));
  }
  static void TearDownTestSuite() {
    delete trusted_;
    delete stranger_;
    delete elsewhere_;
  }
  void SetUp() override { ASSERT_EQ(0u, NetClient_Initialize(&context_, NETCLIENT_VERSION_WORD)); }
  void TearDown() override { EXPECT_EQ(0u, NetClient_Release(&context_)); }

  uint32_t Run(const NetClientRequestInfo &info, Events *events) {
    return nctest::RunRequest(context_, &request_, info, events);
  }


  static HttpPeer *trusted_, *stranger_, *elsewhere_;
  NetClientHandle context_ = nullptr;
  NetClientRequestHandle request_ = nullptr;
};

HttpPeer *HttpsTest::trusted_ = nullptr;
HttpPeer *HttpsTest::stranger_ = nullptr;
HttpPeer *HttpsTest::elsewhere_ = nullptr;

TEST_F(HttpsTest, BodiesEndToEnd) {
  struct Case {
    const char *path;
    size_t size;
    uint32_t length;  // Content-Length, 0 when chunked
  } cases[] = {{"/body?size=100000", 100000, 100000}, {"/chunked?size=50000", 50000, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    uint32_t length = 12345;
    NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTPS_GET, trusted_->port(), c.path);
    info.content_length = &length;
    ASSERT_EQ(0u, Run(info, nullptr));
    EXPECT_EQ(c.length, length);
    std::string body;
    ASSERT_TRUE(nctest::ReadBody(request_, 3000, &body));
    EXPECT_TRUE(body == nctest::PeerPattern(c.size)) << body.size();
  }
  NetClientRequestInfo post = nctest::HttpInfo(NETCLIENT_TYPE_HTTPS_POST, trusted_->port(), "/echo");
  snprintf(post.extra, sizeof post.extra, "over TLS");
  Events events;
  ASSERT_EQ(NETCLIENT_EV_HTTP_200, Run(post, &events));
  std::string body;
  ASSERT_TRUE(nctest::ReadBody(request_, 64, &body));
  EXPECT_EQ("over TLS", body);
}

TEST_F(HttpsTest, UntrustedCertificateFails) {
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTPS_GET, stranger_->port(), "/body?size=10");
  EXPECT_EQ(NETCLIENT_E_CONNECT, Run(info, nullptr));
  Events events;
  EXPECT_EQ(NETCLIENT_EV_HTTP_OTHER, Run(info, &events));
  // Nothing reached the server's request handler.
  EXPECT_TRUE(stranger_->Requests().empty());
}

// Trusted, but issued for another host: the name check refuses it as it refuses a stranger.
TEST_F(HttpsTest, TrustedCertificateForAnotherNameFails) {
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTPS_GET, elsewhere_->port(), "/body?size=10");
  EXPECT_EQ(NETCLIENT_E_CONNECT, Run(info, nullptr));
  EXPECT_TRUE(elsewhere_->Requests().empty());
}

TEST_F(HttpsTest, ThroughAProxyTunnel) {
  kvtest::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start("puser", "ppass"));
  NetClientProxyInfo settings = {"127.0.0.1", nullptr, "puser", "ppass", proxy.port()};
  ASSERT_EQ(0u, NetClient_SetProxy(context_, 0, &settings));
  NetClientRequestInfo info = nctest::HttpInfo(NETCLIENT_TYPE_HTTPS_GET, trusted_->port(), "/body?size=5000");
  ASSERT_EQ(0u, Run(info, nullptr));
  std::string body;
  ASSERT_TRUE(nctest::ReadBody(request_, 1000, &body));
  EXPECT_TRUE(body == nctest::PeerPattern(5000));
  EXPECT_NE(std::string::npos, proxy.Log().find("CONNECT"));
}

}  // namespace
