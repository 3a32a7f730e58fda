// The device commands end to end against the simulator, synchronously: results, and the
// exact request each command sent, read from the simulator's request log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devsim_fixture.h"
#include "tinyproxy_fixture.h"
#include "kavrel.h"

namespace {

// One simulator for the suite: starting it costs more than the tests.
class Commands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sim_ = new kvtest::Devsim;
    ASSERT_TRUE(sim_->Start({{"KM2401", "km2401"},
                             {"KM3111", "km3111"},
                             {"KM4130", "km4130"},
                             {"KM8111", "km8111", "digest", "admin", "secret"},
                             {"RZ3120", "rz3120"}}))
        << sim_->log_path();
  }
  static void TearDownTestSuite() {
    delete sim_;
    sim_ = nullptr;
  }

  void SetUp() override { ASSERT_EQ(Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER), 0u); }
  void TearDown() override {
    for (DeviceHandle d : devices_) EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
    EXPECT_EQ(Kavrel_Release(&handle_), 0u);
  }

  // A device of the simulator described by its server type (or HTTP only when type is NULL).
  DeviceHandle Open(const std::string &name, const char *type, const char *password = nullptr) {
    const kvtest::DevsimDevice *dev = sim_->Device(name);
    EXPECT_NE(dev, nullptr) << name;
    if (!dev) return nullptr;
    DeviceHandle d = nullptr;
    EXPECT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
    if (!d) return nullptr;
    devices_.push_back(d);
    user_ = dev->user;
    password_ = password ? password : dev->password;
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = user_.c_str();
    p.password = password_.c_str();
    p.server_type = type;
    p.http_port = dev->http_port;
    p.timeout_ms = 10000;
    uint32_t rc = type ? Kavrel_SetDevicePropertyLite(d, &p) : Kavrel_SetDevicePropertyHttp(d, &p);
    EXPECT_EQ(rc, 0u);
    return d;
  }

  // The requests that reached a device since `since`.
  std::vector<kvtest::DevsimLogEntry> Requests(const std::string &name, int since) {
    return sim_->Log(since, name);
  }
  int Mark() {
    auto all = sim_->Log();
    return all.empty() ? 0 : all.back().seq + 1;  // the index of the next entry
  }
  // The one request since `mark`, as "path?query".
  std::string OnlyRequest(const std::string &name, int mark) {
    auto entries = Requests(name, mark);
    if (entries.size() != 1) return "<" + std::to_string(entries.size()) + " requests>";
    return entries[0].path + (entries[0].query.empty() ? "" : "?" + entries[0].query);
  }

  static kvtest::Devsim *sim_;
  KavrelHandle handle_ = nullptr;
  std::vector<DeviceHandle> devices_;
  std::string user_, password_;
};

kvtest::Devsim *Commands::sim_ = nullptr;

TEST_F(Commands, OutputQueries) {
  DeviceHandle km2401 = Open("km2401", "KM2401");
  DeviceHandle km3111 = Open("km3111", "KM3111");
  const struct {
    const char *device;
    DeviceHandle handle;
    std::vector<uint32_t> levels;  // SetDOLevel with two levels, or Ex with more
    uint32_t rc;
    const char *request;  // NULL: nothing may be sent
  } cases[] = {
      {"km2401", km2401, {0, 301}, 0, "/cgi-bin/setdo.cgi?do2=o&do2=l"},
      {"km2401", km2401, {300, 301}, 0, "/cgi-bin/setdo.cgi?do1=c&do1=h&do2=o&do2=l"},
      {"km3111", km3111, {300, 300}, 0, "/setup/setdo.cgi?do=h&do2=c&do2=h"},
      // The short form names no output: output 2 alone must not switch output 1.
      {"km3111", km3111, {0, 301}, 0, "/setup/setdo.cgi?do2=o&do2=l"},
      {"km2401", km2401, {0, 0}, 0x80000003u, nullptr},
      {"km2401", km2401, {300, 0, 0, 0}, 0, "/cgi-bin/setdo.cgi?do1=c&do1=h"},
      {"km2401", km2401, {300, 0, 301, 0}, 0x80000003u, nullptr},  // beyond DoNum
  };
  for (const auto &c : cases) {
    int mark = Mark();
    uint32_t rc = c.levels.size() == 2
                      ? Kavrel_SetDOLevel(c.handle, c.levels[0], c.levels[1], 0)
                      : Kavrel_SetDOLevelEx(c.handle, c.levels.data(),
                                            static_cast<int32_t>(c.levels.size()), 0);
    EXPECT_EQ(rc, c.rc) << c.device;
    if (c.request) {
      EXPECT_EQ(OnlyRequest(c.device, mark), c.request);
    } else {
      EXPECT_TRUE(Requests(c.device, mark).empty()) << c.device;
    }
  }
  EXPECT_EQ(sim_->DoLevels("km3111"), (std::vector<int>{1, 0}));
}

TEST_F(Commands, InputReplies) {
  DeviceHandle km2401 = Open("km2401", "KM2401");
  DeviceHandle km4130 = Open("km4130", "KM4130");
  uint32_t in[4];
  ASSERT_TRUE(sim_->SetDi("km2401", {1, 0, 1, 0}, "lower"));
  ASSERT_EQ(Kavrel_GetDIStatus(km2401, &in[0], &in[1], &in[2], &in[3], 0), 0u);
  EXPECT_EQ(std::vector<uint32_t>(in, in + 4), (std::vector<uint32_t>{300, 301, 300, 301}));

  // One input, reported in the indexed form and low: input 1 stays low.
  ASSERT_TRUE(sim_->SetDi("km4130", {0}, "upper", "indexed"));
  ASSERT_EQ(Kavrel_GetDIStatus(km4130, &in[0], &in[1], &in[2], &in[3], 0), 0u);
  EXPECT_EQ(std::vector<uint32_t>(in, in + 4), (std::vector<uint32_t>{301, 301, 301, 301}));
  ASSERT_TRUE(sim_->SetDi("km4130", {1}, "upper", "short"));
  int mark = Mark();
  ASSERT_EQ(Kavrel_GetDIStatus(km4130, &in[0], &in[1], &in[2], &in[3], 0), 0u);
  EXPECT_EQ(in[0], 300u);
  EXPECT_EQ(OnlyRequest("km4130", mark), "/cgi-bin/dido/getdi.cgi");
  // NULL outputs are refused before anything is sent.
  mark = Mark();
  EXPECT_EQ(Kavrel_GetDIStatus(km4130, nullptr, &in[1], &in[2], &in[3], 0), 0x80000003u);
  EXPECT_TRUE(Requests("km4130", mark).empty());
}

TEST_F(Commands, SerialReadsAndWrites) {
  DeviceHandle d = Open("km2401", "KM2401");
  ASSERT_TRUE(sim_->UartReceive("km2401", 1, std::string(100, 'x')));
  char buffer[64];
  int mark = Mark();
  // read=64 keeps 62 bytes: the 62nd fills the buffer.
  EXPECT_EQ(Kavrel_UartRead(d, 1, buffer, sizeof(buffer), 0, 0, 0), 0x60301u);
  EXPECT_EQ(std::string(buffer), std::string(62, 'x'));
  EXPECT_EQ(OnlyRequest("km2401", mark), "/cgi-bin/uart.cgi?com=1&read=64");

  mark = Mark();
  EXPECT_EQ(Kavrel_UartReadAFWrite(d, 2, "ab", buffer, sizeof(buffer), 1, 50, 0), 0u);
  EXPECT_EQ(OnlyRequest("km2401", mark), "/cgi-bin/uart.cgi?com=2&read=64&data=ab&wait=50&flush=yes");

  ASSERT_TRUE(sim_->UartReceive("km2401", 2, "reply"));
  EXPECT_EQ(Kavrel_UartRead(d, 2, buffer, sizeof(buffer), 0, 0, 0), 0u);
  EXPECT_STREQ(buffer, "reply");

  mark = Mark();
  EXPECT_EQ(Kavrel_UartWrite(d, 1, "hello%20world", 0), 0u);
  EXPECT_EQ(OnlyRequest("km2401", mark), "/cgi-bin/uart.cgi?com=1&data=hello%20world");
  EXPECT_NE(sim_->UartWritten("km2401", 1).find("hello world"), std::string::npos);

  // Data that would split or cut the request line, and buffers too small for any data.
  mark = Mark();
  EXPECT_EQ(Kavrel_UartWrite(d, 1, "a b", 0), 0x80000003u);
  EXPECT_EQ(Kavrel_UartWrite(d, 1, "a\r\nX: y", 0), 0x80000003u);
  EXPECT_EQ(Kavrel_UartWrite(d, 1, std::string(300, 'a').c_str(), 0), 0x80000003u);
  EXPECT_EQ(Kavrel_UartWrite(d, 1, nullptr, 0), 0x80000003u);
  EXPECT_EQ(Kavrel_UartRead(d, 1, buffer, 1, 0, 0, 0), 0x80000003u);
  EXPECT_EQ(Kavrel_UartRead(d, 1, nullptr, 8, 0, 0, 0), 0x80000001u);
  EXPECT_EQ(Kavrel_UartRead(nullptr, 1, nullptr, 8, 0, 0, 0), 0x80000001u);
  EXPECT_TRUE(Requests("km2401", mark).empty());
  // A model without a serial path.
  DeviceHandle rz = Open("rz3120", "RZ3120");
  EXPECT_EQ(Kavrel_UartWrite(rz, 1, "x", 0), 0x80060305u);
}

TEST_F(Commands, GenericOperations) {
  DeviceHandle d = Open("km3111", nullptr);  // HTTP only: no model needed
  char buffer[512];
  uint32_t size = sizeof(buffer);
  int mark = Mark();
  ASSERT_EQ(Kavrel_HttpOperationRead(d, "/cgi-bin/sysinfo.cgi", buffer, &size, 0, 0), 0u);
  std::string text = sim_->SysinfoText("km3111");
  EXPECT_EQ(std::string(buffer, size), text);
  EXPECT_EQ(size, text.size());
  EXPECT_EQ(OnlyRequest("km3111", mark), "/cgi-bin/sysinfo.cgi");

  // A reply larger than the buffer: capacity - 1 bytes, 0x60301.
  char small[16];
  size = sizeof(small);
  EXPECT_EQ(Kavrel_HttpOperationRead(d, "/cgi-bin/sysinfo.cgi", small, &size, 0, 0), 0x60301u);
  EXPECT_EQ(size, 15u);
  EXPECT_EQ(std::string(small), text.substr(0, 15));

  mark = Mark();
  EXPECT_EQ(Kavrel_HttpOperation(d, "/cgi-bin/admin/set.cgi?a=1&b=2", 1, 0), 0u);
  auto entries = Requests("km3111", mark);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].method, "POST");
  EXPECT_EQ(entries[0].path, "/cgi-bin/admin/set.cgi");
  EXPECT_EQ(entries[0].body, "a=1&b=2");

  ASSERT_TRUE(sim_->AddFault("km3111", R"({"path": "/missing.cgi", "status": 404})"));
  EXPECT_EQ(Kavrel_HttpOperation(d, "/missing.cgi", 0, 0), 0x80070083u);
  size = sizeof(buffer);
  EXPECT_EQ(Kavrel_HttpOperationRead(d, "/missing.cgi", buffer, &size, 0, 0), 0x80070083u);
  EXPECT_EQ(size, sizeof(buffer)) << "a failure leaves the size alone";
  ASSERT_TRUE(sim_->ClearFaults("km3111"));
}

TEST_F(Commands, CredentialsBasicAndDigest) {
  DeviceHandle digest = Open("km8111", "KM8111");
  char buffer[256];
  uint32_t size = sizeof(buffer);
  EXPECT_EQ(Kavrel_HttpOperationRead(digest, "/cgi-bin/sysinfo.cgi", buffer, &size, 0, 0), 0u);
  DeviceHandle wrong = Open("km8111", "KM8111", "wrong");
  EXPECT_EQ(Kavrel_HttpOperation(wrong, "/cgi-bin/sysinfo.cgi", 0, 0), 0x80070082u);
  DeviceHandle basic_wrong = Open("km2401", "KM2401", "wrong");
  uint32_t in[4];
  EXPECT_EQ(Kavrel_GetDIStatus(basic_wrong, &in[0], &in[1], &in[2], &in[3], 0), 0x80070082u);
}

TEST_F(Commands, UnreachableDeviceFails) {
  DeviceHandle d = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
  devices_.push_back(d);
  KavrelDeviceProperty p{};
  p.address = "127.0.0.1";
  p.user = "root";
  p.password = "pass";
  p.http_port = 1;  // nothing listens there
  p.timeout_ms = 5000;
  ASSERT_EQ(Kavrel_SetDevicePropertyHttp(d, &p), 0u);
  EXPECT_EQ(Kavrel_HttpOperation(d, "/x.cgi", 0, 0), 0x80070076u);
}

}  // namespace

namespace {

// The proxy option end to end: set on a created device (level 0), then the device is
// described, then commanded; the request goes through a real proxy that demands its own
// credentials, so only the proxy's user and password let it through.
TEST(ProxyOption, CommandsGoThroughTheProxy) {
  kvtest::Devsim sim;
  ASSERT_TRUE(sim.Start({{"KM2401", "io"}})) << sim.log_path();
  kvtest::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start("puser", "ppass"));
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER), 0u);

  const struct {
    const char *proxy_password;
    uint32_t rc;
  } cases[] = {{"ppass", 0u}, {"wrong", 0x80070082u}};
  for (const auto &c : cases) {
    DeviceHandle d = nullptr;
    ASSERT_EQ(Kavrel_CreateDevice(handle, &d), 0u);
    KavrelProxyInfo info{"127.0.0.1", "puser", c.proxy_password, proxy.port()};
    ASSERT_EQ(Kavrel_SetExtraOptions(d, KAVREL_OPTION_PROXY, reinterpret_cast<uintptr_t>(&info)), 0u);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = "pass";
    p.server_type = "KM2401";
    p.http_port = sim.Device("io")->http_port;
    ASSERT_EQ(Kavrel_SetDevicePropertyLite(d, &p), 0u);
    int before = static_cast<int>(sim.Log().size());
    EXPECT_EQ(Kavrel_SetDOLevel(d, 300, 0, 0), c.rc) << c.proxy_password;
    auto entries = sim.Log(before, "io");
    if (c.rc == 0) {
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].path + "?" + entries[0].query, "/cgi-bin/setdo.cgi?do1=c&do1=h");
      EXPECT_NE(proxy.Log().find("/cgi-bin/setdo.cgi"), std::string::npos) << proxy.Log();
    } else {
      EXPECT_TRUE(entries.empty()) << "the proxy let a request through without its credentials";
    }
    EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
  }
  EXPECT_EQ(Kavrel_Release(&handle), 0u);
}

}  // namespace
