// The exported value functions, through the public API.
#include <stdio.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "core/context.h"
#include "core/device.h"
#include "kavrel.h"
#include "test_paths.h"

namespace {

class SysInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Kavrel_InitialEx(&context_, 4, 0, KAVREL_VERSION_NUMBER), KAVREL_OK);
  }
  void TearDown() override { Kavrel_Release(&context_); }

  // A device in use, at `level`, of model `server_type`, made through the public calls:
  // created (level 0), described by server type (level 1) or for HTTP only (level 2). A
  // level-0 device with a model is what describing it with its fetched configuration
  // leaves; that call does not exist yet, so its two fields are set here.
  DeviceHandle DescribeDevice(int index, int32_t level, const char *server_type) {
    KavrelDevice *device = &context_->devices[index];
    if (!device->in_use.load()) {
      DeviceHandle created = nullptr;
      EXPECT_EQ(Kavrel_CreateDevice(context_, &created), KAVREL_OK);
      EXPECT_EQ(created, device) << "devices are created in table order";
    }
    KavrelDeviceProperty property{};
    property.address = "127.0.0.1";
    property.server_type = server_type;
    if (level == 1) {
      EXPECT_EQ(Kavrel_SetDevicePropertyLite(device, &property), KAVREL_OK);
    } else if (level == 2) {
      EXPECT_EQ(Kavrel_SetDevicePropertyHttp(device, &property), KAVREL_OK);
    } else if (server_type[0]) {
      snprintf(device->server_type, sizeof device->server_type, "%s", server_type);
      device->property_level = 0;
    }
    return device;
  }
  DeviceHandle Unused() { return &context_->devices[3]; }

  static void WriteConfig(DeviceHandle device, const std::string &text) {
    ASSERT_EQ(Device_EnsureDirectory(device), KAVREL_OK);
    ASSERT_TRUE(kvtest::WriteFile(device->config_path, text));
  }

  KavrelHandle context_ = nullptr;
};

TEST_F(SysInfoTest, HandleChecksComeFirst) {
  char value[KAVREL_VALUE_MAX] = "keep";
  char section[KAVREL_SECTION_MAX + 5] = "keep";
  char key[KAVREL_KEY_MAX] = "keep";
  for (DeviceHandle device : {static_cast<DeviceHandle>(nullptr), Unused()}) {
    uint32_t expected = device ? KAVREL_E_INVALIDARG : KAVREL_E_HANDLE;
    EXPECT_EQ(Kavrel_GetSysInfo(device, value, "S", "k", -1), expected);
    EXPECT_EQ(Kavrel_SetSysInfo(device, "v", "S", "k", -1), expected);
    EXPECT_EQ(Kavrel_GetSysInfoSecEntry(device, 1, section, key), expected);
    EXPECT_EQ(Kavrel_GetSysInfoByID(device, value, 1, -1), expected);
    EXPECT_EQ(Kavrel_SetSysInfoByID(device, "v", 1, -1), expected);
  }
  EXPECT_STREQ(value, "keep");
  EXPECT_STREQ(section, "keep");
  EXPECT_STREQ(key, "keep");
}

// A device that is created but not yet described is at level 0, so its (still missing)
// configuration may be read and written.
TEST_F(SysInfoTest, GetAndSetOnALevelZeroDevice) {
  DeviceHandle device = DescribeDevice(0, 0, "");
  char value[KAVREL_VALUE_MAX] = "junk";
  EXPECT_EQ(Kavrel_GetSysInfo(device, value, "NETWORK", "host ip", -1), KAVREL_E_FILE);
  EXPECT_STREQ(value, "");

  ASSERT_EQ(Kavrel_SetSysInfo(device, "10.0.0.2", "NETWORK", "host ip", -1), KAVREL_OK);
  ASSERT_EQ(Kavrel_SetSysInfo(device, "b", "NETWORK", "list", 1), KAVREL_OK);
  EXPECT_EQ(Kavrel_GetSysInfo(device, value, "network", "HOST IP", -1), KAVREL_OK);
  EXPECT_STREQ(value, "10.0.0.2");
  EXPECT_EQ(Kavrel_GetSysInfo(device, value, "NETWORK", "list", 0), KAVREL_E_CATALOG);
  EXPECT_STREQ(value, "");

  // Image sections get their "mode" first, once.
  ASSERT_EQ(Kavrel_SetSysInfo(device, "50", "image0", "brightness", -1), KAVREL_OK);
  ASSERT_EQ(Kavrel_SetSysInfo(device, "40", "image0", "contrast", -1), KAVREL_OK);
  EXPECT_EQ(kvtest::ReadFile(device->config_path),
            kvtest::TextForm("[NETWORK]\n<host ip>\n10.0.0.2\n<list>\n(1)b\n\n"
            "[image0]\n<mode>\nsave\n<brightness>\n50\n<contrast>\n40\n"));

  // A refused value leaves the file (and the image section's mode) as it was.
  const std::string before = kvtest::ReadFile(device->config_path);
  EXPECT_EQ(Kavrel_SetSysInfo(device, "a\nb", "image1", "x", -1), KAVREL_E_INVALIDARG);
  EXPECT_EQ(kvtest::ReadFile(device->config_path), before);
}

TEST_F(SysInfoTest, GetAndSetNeedTheFullConfiguration) {
  for (int32_t level : {1, 2}) {
    DeviceHandle device = DescribeDevice(0, level, "KM3111");
    char value[KAVREL_VALUE_MAX] = "keep";
    EXPECT_EQ(Kavrel_GetSysInfo(device, value, "S", "k", -1), KAVREL_E_NOT_AVAILABLE);
    EXPECT_EQ(Kavrel_SetSysInfo(device, "v", "S", "k", -1), KAVREL_E_NOT_AVAILABLE);
    EXPECT_STREQ(value, "keep");
  }
}

TEST_F(SysInfoTest, SectionAndKeyOfAModelDescribedByServerType) {
  struct Case {
    const char *server_type;
    uint32_t id;
    uint32_t result;
    const char *section, *key;
  } cases[] = {
      {"RZ7161", 1, KAVREL_OK, "system", "hostname"},
      {"KM3111", 1, KAVREL_OK, "SYSTEM", "host name"},
      {"KM6211", (2u << 16) | 482, KAVREL_OK, "SERIAL2", "databit"},
      {"KM6211", (2u << 16) | 481, KAVREL_E_EMPTY, "", ""},
      {"KM6211", 22, KAVREL_E_EMPTY, "", ""},
      // Series 2 with a second port: "SERIAL1" gives up its "1" to the instance.
      {"KM2401", (2u << 16) | 482, KAVREL_OK, "SERIAL2", "data bits"},
      {"KM2401", (1u << 16) | 490, KAVREL_OK, "SERIAL21", "data bits"},
      {"KM2401", (1u << 16) | 1, KAVREL_OK, "SYSTEM1", "host name"},
      {"KM2101", (2u << 16) | 481, KAVREL_OK, "SERIAL2", "auto detect camera"},
      {"KM2101", (65535u << 16) | 271, KAVREL_E_EMPTY, "", ""},
      {"RZ3120", (65535u << 16) | 271, KAVREL_OK, "CAMERA CONTROL65535", "pan speed"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.server_type) + " " + std::to_string(c.id));
    DeviceHandle device = DescribeDevice(0, 1, c.server_type);
    char section[KAVREL_SECTION_MAX + 5] = "junk";
    char key[KAVREL_KEY_MAX] = "junk";
    EXPECT_EQ(Kavrel_GetSysInfoSecEntry(device, c.id, section, key), c.result);
    EXPECT_STREQ(section, c.section);
    EXPECT_STREQ(key, c.key);
  }
  DeviceHandle http_only = DescribeDevice(1, 2, "KM3111");
  char section[KAVREL_SECTION_MAX + 5] = "keep";
  char key[KAVREL_KEY_MAX] = "keep";
  EXPECT_EQ(Kavrel_GetSysInfoSecEntry(http_only, 1, section, key), KAVREL_E_NOT_AVAILABLE);
  EXPECT_STREQ(section, "keep");
}

TEST_F(SysInfoTest, ByIdOnALevelOneDevice) {
  DeviceHandle device = DescribeDevice(0, 1, "KM3111");
  char value[KAVREL_VALUE_MAX] = "keep";
  // A translatable number reaches the level check of the read.
  EXPECT_EQ(Kavrel_GetSysInfoByID(device, value, 1, -1), KAVREL_E_NOT_AVAILABLE);
  EXPECT_EQ(Kavrel_SetSysInfoByID(device, "cam", 1, -1), KAVREL_E_NOT_AVAILABLE);
  // One without an entry fails before it, and leaves the value alone.
  EXPECT_EQ(Kavrel_GetSysInfoByID(device, value, 22, -1), KAVREL_E_EMPTY);
  EXPECT_STREQ(value, "keep");
}

TEST_F(SysInfoTest, ByIdReadsAndWritesTheSeriesNames) {
  DeviceHandle device = DescribeDevice(0, 0, "KM3111");
  WriteConfig(device, "[SYSTEM]\n<host name>\nold\n");
  ASSERT_EQ(Kavrel_SetSysInfoByID(device, "cam7", 1, -1), KAVREL_OK);
  char value[KAVREL_VALUE_MAX];
  ASSERT_EQ(Kavrel_GetSysInfoByID(device, value, 1, -1), KAVREL_OK);
  EXPECT_STREQ(value, "cam7");
  ASSERT_EQ(Kavrel_SetSysInfoByID(device, "9600", (1u << 16) | 485, -1), KAVREL_OK);
  EXPECT_EQ(kvtest::ReadFile(device->config_path),
            kvtest::TextForm("[SYSTEM]\n<host name>\ncam7\n\n[SERIAL1]\n<baud rate>\n9600\n"));
}

TEST_F(SysInfoTest, WirelessKeyFormatIsTranslated) {
  // The series 3 pan-tilt family names the key "key hex-format" and says YES or NO.
  DeviceHandle pan_tilt = DescribeDevice(0, 0, "RZ3120");
  WriteConfig(pan_tilt, "[WIRELESS]\n<key hex-format>\nYES\n");
  char value[KAVREL_VALUE_MAX];
  ASSERT_EQ(Kavrel_GetSysInfoByID(pan_tilt, value, 159, -1), KAVREL_OK);
  EXPECT_STREQ(value, "HEX");
  char ascii[] = "ascii";
  ASSERT_EQ(Kavrel_SetSysInfoByID(pan_tilt, ascii, 159, -1), KAVREL_OK);
  EXPECT_STREQ(ascii, "ascii");  // the caller's text is not changed
  EXPECT_EQ(kvtest::ReadFile(pan_tilt->config_path),
            kvtest::TextForm("[WIRELESS]\n<key hex-format>\nNo\n"));
  ASSERT_EQ(Kavrel_GetSysInfoByID(pan_tilt, value, 159, -1), KAVREL_OK);
  EXPECT_STREQ(value, "ASCII");
  ASSERT_EQ(Kavrel_SetSysInfoByID(pan_tilt, "hex", 159, -1), KAVREL_OK);
  ASSERT_EQ(Kavrel_GetSysInfo(pan_tilt, value, "WIRELESS", "key hex-format", -1), KAVREL_OK);
  EXPECT_STREQ(value, "Yes");

  // Others keep "key format" and write what they are given.
  DeviceHandle camera = DescribeDevice(1, 0, "KM3111");
  ASSERT_EQ(Kavrel_SetSysInfoByID(camera, "hex", 159, -1), KAVREL_OK);
  EXPECT_EQ(kvtest::ReadFile(camera->config_path),
            kvtest::TextForm("[WIRELESS]\n<key format>\nhex\n"));
  ASSERT_EQ(Kavrel_GetSysInfoByID(camera, value, 159, -1), KAVREL_OK);
  EXPECT_STREQ(value, "hex");
}

TEST(SysInfoParse, NullArgumentsAndAText) {
  SysInfoData data;
  memset(&data, 0, sizeof data);
  EXPECT_EQ(Kavrel_ParseSysInfo(nullptr, &data), KAVREL_E_INVALIDARG);
  EXPECT_EQ(Kavrel_ParseSysInfo("model=KM3111-V1.0.2\n", nullptr), KAVREL_E_INVALIDARG);
  EXPECT_EQ(Kavrel_ParseSysInfo(nullptr, nullptr), KAVREL_E_INVALIDARG);

  const char *text =
      "model=KM5120-V2.0.1\r\nvideourl=/cgi-bin/video.jpg\r\ncameras=1\r\ninputs=1\r\n"
      "outputs=1\r\nvideocodec=2\r\naudiocodec=3\r\n";
  ASSERT_EQ(Kavrel_ParseSysInfo(text, &data), KAVREL_OK);
  EXPECT_STREQ(data.ModelName, "KM5120-V2.0.1");
  EXPECT_STREQ(data.VideoUrl, "/cgi-bin/video.jpg");
  EXPECT_EQ(data.CamNum, 1);
  EXPECT_EQ(data.DiNum, 1);
  EXPECT_EQ(data.DoNum, 1);
  EXPECT_EQ(data.VideoCodec, 2);
  EXPECT_EQ(data.AudioCodec, 3);
  // The parser's own failures come through as they are (negative numbers).
  EXPECT_GE(Kavrel_ParseSysInfo("no model here\n", &data), 0x80000000u);
}

}  // namespace
