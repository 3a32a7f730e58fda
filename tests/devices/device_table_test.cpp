// The device table: taking and freeing records, the checks every device function begins
// with, property levels, extra options. No device is contacted here.
#include <gtest/gtest.h>

#include <string>

#include "core/context.h"
#include "core/device.h"
#include "kavrel.h"
#include "core/operation.h"
#include "test_logger.h"

namespace {

class DeviceTable : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Kavrel_Initial(&handle_, KAVREL_VERSION_NUMBER), 0u); }
  void TearDown() override { EXPECT_EQ(Kavrel_Release(&handle_), 0u); }

  KavrelDeviceProperty Property(const char *server_type) {
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "admin";
    p.password = "secret";
    p.server_type = server_type;
    return p;
  }

  KavrelHandle handle_ = nullptr;
};

TEST_F(DeviceTable, SeventeenthCreateFailsAndDeletedRecordComesBackClean) {
  DeviceHandle devices[16];
  for (DeviceHandle &d : devices) ASSERT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
  DeviceHandle extra = nullptr;
  EXPECT_EQ(Kavrel_CreateDevice(handle_, &extra), 0x80060304u);
  EXPECT_EQ(extra, nullptr);

  // Describe record 5 fully, then delete it: the next create gets it back with nothing of
  // the old device.
  KavrelDeviceProperty p = Property("KM3111");
  p.http_port = 8080;
  p.timeout_ms = 1234;
  p.callback = [](DeviceHandle, void *, uint32_t, uint32_t, uintptr_t) {};
  p.callback_context = &p;
  ASSERT_EQ(Kavrel_SetDevicePropertyLite(devices[5], &p), 0u);
  EXPECT_STREQ(devices[5]->param.ServerName, "KM3111");
  ASSERT_EQ(Kavrel_DeleteDevice(devices[5]), 0u);
  DeviceHandle again = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle_, &again), 0u);
  EXPECT_EQ(again, devices[5]);
  EXPECT_EQ(again->property_level, 0);
  EXPECT_EQ(again->param.ServerName[0], '\0');
  EXPECT_EQ(again->server_type[0], '\0');
  EXPECT_EQ(again->address[0], '\0');
  EXPECT_EQ(again->callback, nullptr);
  EXPECT_EQ(again->callback_context, nullptr);
  EXPECT_EQ(again->http_port, 80);
  EXPECT_EQ(again->timeout_ms, 60000u);
  EXPECT_EQ(again->proxy_address, nullptr);
  EXPECT_EQ(again->return_wait_s, 60u);
  EXPECT_EQ(again->reset_after_upgrade, 1u);
  for (DeviceHandle d : devices) EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
}

TEST_F(DeviceTable, DeleteTwiceAndNull) {
  kvtest::TestLogger logger;
  kvtest::ScopedLogger installed(logger);
  DeviceHandle d = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
  EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
  EXPECT_EQ(Kavrel_DeleteDevice(d), 0x80000003u);
  EXPECT_TRUE(logger.Has("Leaving Kavrel_DeleteDevice, device is not used\n"));
  EXPECT_EQ(Kavrel_DeleteDevice(nullptr), 0x80000001u);
  EXPECT_EQ(Kavrel_CreateDevice(nullptr, &d), 0x80000001u);
}

TEST_F(DeviceTable, PropertyLiteChecksServerTypeFirst) {
  KavrelDeviceProperty empty = Property("");
  KavrelDeviceProperty none = Property(nullptr);
  EXPECT_EQ(Kavrel_SetDevicePropertyLite(nullptr, &empty), 0x80000003u);
  EXPECT_EQ(Kavrel_SetDevicePropertyLite(nullptr, &none), 0x80000003u);
  KavrelDeviceProperty good = Property("KM3111");
  EXPECT_EQ(Kavrel_SetDevicePropertyLite(nullptr, &good), 0x80000001u);
  DeviceHandle d = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
  KavrelDeviceProperty unknown = Property("XX9999");
  EXPECT_NE(Kavrel_SetDevicePropertyLite(d, &unknown), 0u);
  // Port and time-out defaults of the copied block.
  KavrelDeviceProperty zero = Property("KM2401");
  ASSERT_EQ(Kavrel_SetDevicePropertyLite(d, &zero), 0u);
  EXPECT_EQ(d->http_port, 80);
  EXPECT_EQ(d->timeout_ms, 60000u);
  EXPECT_EQ(d->param.DiNum, 4);
  EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
}

TEST_F(DeviceTable, PropertyLevelsGateCommands) {
  DeviceHandle d = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
  KavrelDeviceProperty p = Property("KM3111");
  ASSERT_EQ(Kavrel_SetDevicePropertyHttp(d, &p), 0u);
  uint32_t levels[4];
  char buf[16];
  // An HTTP-only device refuses commands...
  EXPECT_EQ(Kavrel_GetDIStatus(d, &levels[0], &levels[1], &levels[2], &levels[3], 0), 0x80060305u);
  EXPECT_EQ(Kavrel_UartRead(d, 1, buf, sizeof(buf), 0, 0, 0), 0x80060305u);
  EXPECT_EQ(Kavrel_UartWrite(d, 1, "x", 0), 0x80060305u);
  // ...and options, which need level 0.
  EXPECT_EQ(Kavrel_SetExtraOptions(d, KAVREL_OPTION_RETURN_WAIT, 10), 0x80060305u);
  ASSERT_EQ(Kavrel_SetDevicePropertyLite(d, &p), 0u);
  EXPECT_EQ(Kavrel_SetExtraOptions(d, KAVREL_OPTION_RETURN_WAIT, 10), 0x80060305u);
  EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
  // A record not in use.
  EXPECT_EQ(Kavrel_UartWrite(d, 1, "x", 0), 0x80000003u);
  EXPECT_EQ(Kavrel_GetDIStatus(nullptr, &levels[0], &levels[1], &levels[2], &levels[3], 0),
            0x80000001u);
}

TEST_F(DeviceTable, ExtraOptionsOnAFreshRecord) {
  DeviceHandle d = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
  const struct {
    uint32_t option;
    uintptr_t value;
    uint32_t rc;
  } cases[] = {
      {KAVREL_OPTION_RETURN_WAIT, 120, 0},
      {KAVREL_OPTION_RETURN_WAIT, 121, 0x80000003u},
      {KAVREL_OPTION_RESET_AFTER_UPGRADE, 0, 0},
      {KAVREL_OPTION_PROXY, 0, 0x80000003u},
      {KAVREL_OPTION_FLASH_ALL, 1, 0x80000003u},  // no series-7 server type
      {KAVREL_OPTION_SKIP_WAIT, 1, 0},
      {KAVREL_OPTION_SKIP_WAIT, 0, 0},
      {12345, 1, 0x80000003u},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Kavrel_SetExtraOptions(d, c.option, c.value), c.rc) << c.option << " " << c.value;
  }
  EXPECT_EQ(d->return_wait_s, 120u);
  EXPECT_EQ(d->reset_after_upgrade, 0u);
  EXPECT_EQ(d->skip_wait, 1u) << "skip-wait cannot be cleared";
  EXPECT_EQ(Kavrel_SetExtraOptions(nullptr, 1, 1), 0x80000001u);
  EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
}

TEST_F(DeviceTable, GenericOperationsCheckThePathBeforeTheHandle) {
  const struct {
    const char *path;
    uint32_t rc;
  } cases[] = {
      {"http://x/cgi-bin/a.cgi", 0x80000003u},
      {"HTTP://x/cgi-bin/a.cgi", 0x80000003u},  // passes the first test, fails the second
      {"cgi-bin/a.cgi", 0x80000003u},
      {"/cgi-bin/a b.cgi", 0x80000003u},
      {"/cgi-bin/a.cgi\r\nX: y", 0x80000003u},
      {nullptr, 0x80000003u},
      {"/cgi-bin/a.cgi", 0x80000001u},  // a good path reaches the handle check
  };
  char buf[32];
  uint32_t size = sizeof(buf);
  for (const auto &c : cases) {
    EXPECT_EQ(Kavrel_HttpOperation(nullptr, c.path, 0, 0), c.rc) << (c.path ? c.path : "NULL");
    EXPECT_EQ(Kavrel_HttpOperationRead(nullptr, c.path, buf, &size, 0, 0), c.rc);
  }
  std::string overlong = "/" + std::string(2000, 'a');
  EXPECT_EQ(Kavrel_HttpOperation(nullptr, overlong.c_str(), 0, 0), 0x80000003u);
}

TEST_F(DeviceTable, AbortOnIdleDeviceLogsNothing) {
  DeviceHandle d = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
  kvtest::TestLogger logger;
  {
    kvtest::ScopedLogger installed(logger);
    EXPECT_EQ(Kavrel_AbortNetworkOper(d), 0u);
  }
  EXPECT_TRUE(logger.records().empty());
  EXPECT_EQ(Kavrel_AbortNetworkOper(nullptr), 0x80000001u);
  EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
  EXPECT_EQ(Kavrel_AbortNetworkOper(d), 0x80000003u);
}

TEST(DigitalInputs, ParseReplies) {
  const struct {
    int32_t di_num;
    const char *reply;
    uint32_t levels[4];
    uint32_t rc;
  } cases[] = {
      {1, "di1=h", {300, 301, 301, 301}, 0},
      {1, "DI=H", {300, 301, 301, 301}, 0},
      {1, "DI1=L", {301, 301, 301, 301}, 0},
      {2, "di1=l\ndi2=h\n", {301, 300, 301, 301}, 0},
      {4, "DI1=H&DI2=L&DI3=H&DI4=H", {300, 301, 300, 300}, 0},
      {2, "DI3=H", {301, 301, 301, 301}, 0},  // inputs beyond the count stay low
      {3, "DI1=H", {301, 301, 301, 301}, 0x80060307u},
      {0, "", {301, 301, 301, 301}, 0x80060307u},
  };
  KavrelDevice device{};
  for (const auto &c : cases) {
    device.param.DiNum = c.di_num;
    uint32_t levels[4] = {0, 0, 0, 0};
    EXPECT_EQ(ParseDIReply(&device, c.reply, levels), c.rc) << c.reply;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(levels[i], c.levels[i]) << c.reply << " input " << i + 1;
  }
}

}  // namespace
