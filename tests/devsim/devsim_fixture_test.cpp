// The C++ fixture drives the simulator as other components' tests will.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "devsim_fixture.h"
#include "test_paths.h"

namespace {

TEST(DevsimFixture, DevicesControlAndLog) {
  kvtest::Devsim sim;
  ASSERT_TRUE(sim.Start({{"KM2401", "cam"}, {"RZ7161", "ptz", "digest", "admin", "pw"}}))
      << kvtest::ReadFile(sim.log_path());
  const kvtest::DevsimDevice *cam = sim.Device("cam");
  const kvtest::DevsimDevice *ptz = sim.Device("ptz");
  ASSERT_NE(cam, nullptr);
  ASSERT_NE(ptz, nullptr);
  EXPECT_NE(cam->http_port, ptz->http_port);
  EXPECT_EQ(ptz->auth, "digest");
  EXPECT_EQ(cam->model_name, "KM2401-V1.0.2");

  ASSERT_TRUE(sim.SetDi("cam", {1, 0, 0, 1}, "lower"));
  kvtest::HttpReply r =
      kvtest::HttpRequest(cam->http_port, "GET", "/cgi-bin/getdi.cgi", "", "root", "pass");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "di1=h\r\ndi2=l\r\ndi3=l\r\ndi4=h\r\n");

  r = kvtest::HttpRequest(cam->http_port, "GET", "/cgi-bin/setdo.cgi?do2=c&do2=h", "", "root",
                          "pass");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(sim.DoLevels("cam"), (std::vector<int>{0, 1}));

  ASSERT_TRUE(sim.UartReceive("cam", 2, "from the head"));
  r = kvtest::HttpRequest(cam->http_port, "GET", "/cgi-bin/uart.cgi?com=2&read=5&data=AB", "",
                          "root", "pass");
  EXPECT_EQ(r.body, "from ");
  EXPECT_EQ(sim.UartWritten("cam", 2), "AB");

  ASSERT_TRUE(sim.AddFault("cam", R"({"path": "/cgi-bin/getdi.cgi", "status": 500, "times": 1})"));
  EXPECT_EQ(kvtest::HttpRequest(cam->http_port, "GET", "/cgi-bin/getdi.cgi", "", "root", "pass")
                .status, 500);
  EXPECT_EQ(kvtest::HttpRequest(cam->http_port, "GET", "/cgi-bin/getdi.cgi", "", "root", "pass")
                .status, 200);
  EXPECT_FALSE(sim.AddFault("cam", R"({"bogus": 1})"));

  // Basic credentials on a Digest-only device are refused.
  EXPECT_EQ(kvtest::HttpRequest(ptz->http_port, "GET", "/", "", "admin", "pw").status, 401);

  std::vector<kvtest::DevsimLogEntry> log = sim.Log(0, "cam");
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log[1].method, "GET");
  EXPECT_EQ(log[1].path, "/cgi-bin/setdo.cgi");
  EXPECT_EQ(log[1].query, "do2=c&do2=h");
  EXPECT_EQ(log[1].status, 200);
  EXPECT_EQ(sim.Log(log.back().seq + 1).size(), 1u);  // the later request to "ptz"

  EXPECT_NE(sim.SysinfoText("ptz").find("model=RZ7161-V1.0.2\r\n"), std::string::npos);

  ASSERT_TRUE(sim.Restart("cam", 1.0));
  EXPECT_TRUE(kvtest::WaitUntil([&] {
    return kvtest::HttpRequest(cam->http_port, "GET", "/", "", "root", "pass", 1000).status == 0;
  }, 10000));
  EXPECT_TRUE(kvtest::WaitUntil([&] {
    return kvtest::HttpRequest(cam->http_port, "GET", "/", "", "root", "pass", 1000).status ==
           200;
  }, 20000));

  int status = sim.Stop();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
