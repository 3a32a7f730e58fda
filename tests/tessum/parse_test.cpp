// The reply parser and the Digest answer, without sockets.
#include <gtest/gtest.h>

#include "digest.h"
#include "http_parse.h"

namespace tessum {
namespace {

using http::HeadResult;

struct HeadCase {
  const char *name;
  std::string data;
  HeadResult result;
  int status;
  int64_t length;
};

TEST(TessumParse, ResponseHeads) {
  const HeadCase cases[] = {
      {"plain", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello", HeadResult::Complete, 200, 5},
      {"no reason", "HTTP/1.1 404\r\n\r\n", HeadResult::Complete, 404, -1},
      {"bare LF", "HTTP/1.0 200 OK\nServer: x\n\n", HeadResult::Complete, 200, -1},
      {"folded", "HTTP/1.0 401 No\r\nWWW-Authenticate: Digest realm=\"r\",\r\n nonce=\"n\"\r\n\r\n",
       HeadResult::Complete, 401, -1},
      {"partial", "HTTP/1.0 200 OK\r\nContent-Le", HeadResult::Incomplete, 0, 0},
      {"not http", "garbage\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"status 4 digits", "HTTP/1.0 2000 OK\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"status out of range", "HTTP/1.0 099 X\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"no colon", "HTTP/1.0 200 OK\r\nbroken line\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"space in name", "HTTP/1.0 200 OK\r\nBad Name: 1\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"bad length", "HTTP/1.0 200 OK\r\nContent-Length: 12x\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"negative length", "HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"two lengths", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
       HeadResult::Malformed, 0, 0},
      {"NUL", std::string("HTTP/1.0 200 OK\r\nX: a\0b\r\n\r\n", 27), HeadResult::Malformed, 0, 0},
      {"bare CR", "HTTP/1.0 200 OK\r\nX: a\rb\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"leading fold", "HTTP/1.0 200 OK\r\n folded\r\n\r\n", HeadResult::Malformed, 0, 0},
      {"endless", "HTTP/1.0 200 OK\r\n" + std::string(20000, 'a'), HeadResult::TooLarge, 0, 0},
      {"head over bound", "HTTP/1.0 200 OK\r\nX: " + std::string(16400, 'a') + "\r\n\r\n",
       HeadResult::TooLarge, 0, 0},
  };
  for (const HeadCase &c : cases) {
    http::ResponseHead head;
    EXPECT_EQ(http::ParseResponseHead(c.data, &head), c.result) << c.name;
    if (c.result == HeadResult::Complete) {
      EXPECT_EQ(head.status, c.status) << c.name;
      EXPECT_EQ(head.content_length, c.length) << c.name;
    }
  }
}

TEST(TessumParse, HeadKeepsBodyOutAndCollectsChallenges) {
  std::string reply =
      "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
      "WWW-Authenticate: Digest realm=\"a\", nonce=\"n\"\r\nTransfer-Encoding: gzip, chunked\r\n\r\nBODY";
  http::ResponseHead head;
  ASSERT_EQ(http::ParseResponseHead(reply, &head), HeadResult::Complete);
  EXPECT_EQ(reply.substr(head.head_length), "BODY");
  EXPECT_EQ(head.www_authenticate.size(), 2u);
  EXPECT_TRUE(head.chunked);
}

TEST(TessumParse, ChallengesSplitIntoSchemesAndParams) {
  std::vector<http::Challenge> c;
  ASSERT_TRUE(http::ParseChallenges(
      "Basic realm=\"x, y\", Digest realm=\"r\\\"q\", nonce=abc, qop=\"auth,auth-int\"", &c));
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].scheme, "Basic");
  EXPECT_EQ(*c[0].Param("REALM"), "x, y");
  EXPECT_EQ(*c[1].Param("realm"), "r\"q");
  EXPECT_EQ(*c[1].Param("nonce"), "abc");
  EXPECT_FALSE(http::ParseChallenges("Digest realm=\"unterminated", &c));
  EXPECT_FALSE(http::ParseChallenges("realm=x", &c));
}

TEST(TessumParse, PickDigestPrefersSha256AndSkipsWhatItCannotAnswer) {
  http::DigestChallenge d;
  EXPECT_TRUE(http::PickDigest({"Digest realm=\"r\", nonce=\"1\", algorithm=MD5, qop=\"auth\"",
                                "Digest realm=\"r\", nonce=\"2\", algorithm=SHA-256, qop=\"auth\""},
                               &d));
  EXPECT_EQ(d.alg, http::DigestAlg::Sha256);
  EXPECT_EQ(d.nonce, "2");
  EXPECT_TRUE(d.qop_auth);
  EXPECT_FALSE(http::PickDigest({"Digest realm=\"r\", nonce=\"1\", qop=\"auth-int\""}, &d));
  EXPECT_FALSE(http::PickDigest({"Digest realm=\"r\", nonce=\"1\", algorithm=SHA-512"}, &d));
  EXPECT_FALSE(http::PickDigest({"Basic realm=\"r\""}, &d));
  EXPECT_FALSE(http::PickDigest({"Digest realm=\"r\""}, &d));  // no nonce
}

// The worked examples of the Digest standard (RFC 7616, section 3.9.1).
TEST(TessumParse, DigestAnswersMatchTheStandardsExamples) {
  const struct {
    const char *algorithm;
    const char *response;
  } cases[] = {
      {"MD5", "8ca523f5e9506fed4657c9700eebdbec"},
      {"SHA-256", "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
  };
  for (const auto &c : cases) {
    http::DigestChallenge d;
    ASSERT_TRUE(http::PickDigest(
        {std::string("Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=") +
         c.algorithm +
         ", nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
         "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""},
        &d));
    std::string auth = DigestAuthorization(
        d, DigestInput{"GET", "/dir/index.html", "Mufasa", "Circle of Life",
                       "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ"});
    EXPECT_NE(auth.find(std::string("response=\"") + c.response + "\""), std::string::npos)
        << auth;
    EXPECT_NE(auth.find("opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""),
              std::string::npos);
    EXPECT_NE(auth.find("qop=auth, nc=00000001"), std::string::npos);
  }
}

TEST(TessumParse, Base64) {
  EXPECT_EQ(http::Base64(""), "");
  EXPECT_EQ(http::Base64("f"), "Zg==");
  EXPECT_EQ(http::Base64("fo"), "Zm8=");
  EXPECT_EQ(http::Base64("foo"), "Zm9v");
  EXPECT_EQ(http::Base64("admin:secret"), "YWRtaW46c2VjcmV0");
}

}  // namespace
}  // namespace tessum
