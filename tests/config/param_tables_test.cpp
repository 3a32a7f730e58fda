// Parameter numbers across the model line-up. The expected names are written from the
// description of the tables and their series exceptions, not taken from the code's tables.
#include <string>

#include <gtest/gtest.h>

#include "config/config_store.h"
#include "config/param_tables.h"
#include "config_test_util.h"
#include "kavrel_results.h"
#include "test_paths.h"

namespace {

constexpr uint32_t kEmpty = KAVREL_E_EMPTY;  // 0x80060315

struct Row {
  const char *server_type;
  uint32_t number;
  const char *section;  // NULL: no entry (0x80060315)
  const char *key;
};

// Runs a table; `config_path` is the device's file (may be empty).
void Check(const Row *rows, size_t count, const std::string &config_path) {
  for (size_t i = 0; i < count; ++i) {
    const Row &r = rows[i];
    SCOPED_TRACE(std::string(r.server_type) + " #" + std::to_string(r.number));
    std::string section = "stale", key = "stale";
    uint32_t result =
        ParamTable_Translate(r.server_type, config_path.c_str(), r.number, &section, &key);
    if (!r.section) {
      EXPECT_EQ(result, kEmpty);
      EXPECT_EQ(section, "");
      EXPECT_EQ(key, "");
      continue;
    }
    EXPECT_EQ(result, KAVREL_OK);
    EXPECT_EQ(section, r.section);
    EXPECT_EQ(key, r.key);
    EXPECT_LT(section.size(), static_cast<size_t>(PARAM_SECTION_MAX));
    EXPECT_LT(key.size(), static_cast<size_t>(PARAM_KEY_MAX));
  }
}

TEST(ParamTables, SeriesOfTheLineUp) {
  const std::pair<const char *, char> series[] = {
      {"KM2101", '2'}, {"KM2401", '2'}, {"KM3111", '3'}, {"QB3101", '3'},
      {"RZ3120", '3'}, {"KM4130", '4'}, {"RQ48x3", '4'}, {"KM5120", '5'},
      {"KM6211", '6'}, {"KM7150", '6'}, {"km7150", '6'}, {"RZ7161", '7'},
      {"KM8111", '8'}, {"KM", 0}};
  for (const auto &s : series) EXPECT_EQ(ParamTable_Series(s.first), s.second) << s.first;
}

TEST(ParamTables, SerialPortRule) {
  const std::pair<const char *, bool> ports[] = {
      {"KM2101", true},  {"KM2401", true},  {"KM2400", true},   // series 2 "KM": always
      {"QB2100", false}, {"QB2101", true},                      // other series 2: sixth "1"
      {"KM3111", true},  {"KM3112", true},  {"KM3113", false},  // series 3 "KM": "1" or "2"
      {"QB3101", true},  {"qb3102", false}, {"RZ3120", false},  // "QB": "1"; others none
      {"RZ3121", false}, {"KM4130", false}, {"RQ48x3", false}, {"KM6211", true},
      {"KM7150", false}, {"RZ7161", true},  {"KM8111", true},   {"KM5120", false}};
  for (const auto &p : ports) {
    EXPECT_EQ(ParamTable_HasSerialPorts(p.first), p.second) << p.first;
    std::string section, key;
    uint32_t result = ParamTable_Translate(p.first, "", 482, &section, &key);
    EXPECT_EQ(result == KAVREL_OK, p.second) << p.first;
  }
}

TEST(ParamTables, NumbersAcrossTheLineUp) {
  const Row rows[] = {
      // SYSTEM
      {"RZ7161", 1, "system", "hostname"},
      {"KM3111", 1, "SYSTEM", "host name"},
      {"KM5120", 1, "system", "hostname"},
      {"KM4130", 9, nullptr, nullptr},
      {"KM2101", 8, "SYSTEM", "ptzenabled1"},
      {"KM3111", 8, "SYSTEM", "ptzenabled"},
      {"KM2401", 9, "SYSTEM", "ptzenabled2"},
      {"KM2101", 9, nullptr, nullptr},
      {"RZ3120", 13, "SYSTEM", "demo enabled"},
      {"KM3111", 13, nullptr, nullptr},
      {"QB3101", 13, nullptr, nullptr},
      {"KM2101", 13, "DEMO", "demo enabled"},
      {"KM3111", 17, "NETWORK", "network timing server"},
      {"KM4130", 17, "system", "ntp"},
      {"KM2101", 18, "SYSTEM ADDON", "NTP Update Interval"},
      {"KM3111", 18, "SYSTEM", "NTP Update Interval"},
      {"RZ3120", 16, "CAMERA CONTROL", "I.R. control"},
      {"KM3111", 16, nullptr, nullptr},
      {"KM6211", 16, "system", "enableir"},
      {"KM6211", 14, "security", "username"},
      {"KM3111", 15, "SYSTEM", "user password"},
      {"KM3111", 21, nullptr, nullptr},
      {"KM4130", 21, "system", "modelname"},
      {"KM4130", 22, nullptr, nullptr},
      // NETWORK
      {"KM2101", 70, "NETWORK", "bandwidth limit"},
      {"KM3111", 70, nullptr, nullptr},
      {"KM3111", 71, "NETWORK", "control channel port"},
      {"KM3111", 76, "NETWORK", "low bandwidth environment"},
      {"RZ3120", 76, "AUDIO", "low bandwidth environment"},
      {"QB3101", 77, "NETWORK", "audio channel port"},
      {"KM3111", 78, "NETWORK", "video channel port"},
      {"KM3111", 56, "NETWORK", "ftp port"},
      {"KM2101", 56, "NETWORK", "local ftp port"},
      {"KM4130", 72, "system", "updateinterval"},
      {"KM4130", 75, "system", "ntp"},
      {"KM6211", 76, "audio", "lowbandwidth"},
      {"KM7150", 76, "audio", "lowbandwidth"},
      {"RZ7161", 76, nullptr, nullptr},
      {"RZ7161", 79, "network", "type"},
      {"KM4130", 79, "network", "networktype"},
      {"RZ7161", 82, "network", "rtspport"},
      {"KM4130", 82, "network", "rstpport"},
      {"KM4130", 86, nullptr, nullptr},
      // VIDEO
      {"KM4130", 105, "video", "whitebalance"},
      {"KM6211", 105, nullptr, nullptr},
      {"RZ7161", 105, nullptr, nullptr},
      {"KM4130", 127, "video", "mode"},
      {"KM6211", 127, nullptr, nullptr},
      {"KM4130", 113, "image", "brightness"},
      {"KM6211", 116, "image", "saturation"},
      {"KM4130", 117, "motion", "enabled"},
      {"RZ7161", 113, nullptr, nullptr},
      {"RZ7161", 118, "video", "bitrate"},
      {"RZ7161", 132, "video", "resolution"},
      {"KM4130", 132, nullptr, nullptr},
      {"KM2101", 106, "VIDEO", "default size"},
      {"KM2101", 107, "VIDEO", "overlay timestamp"},
      {"KM2101", 108, nullptr, nullptr},
      {"KM2401", 108, "VIDEO", "default video"},
      {"KM2401", 111, "VIDEO", "video mapped to ID"},
      {"KM3111", 104, "VIDEO", "rate control"},
      {"KM3111", 117, "VIDEO", "motion detect enabled"},
      {"KM3111", 122, "VIDEO", "video size"},
      {"KM3111", 113, "VIDEO", "brightness"},
      {"KM8111", 101, "VIDEO", "caption text"},
      // WIRELESS
      {"KM3111", 159, "WIRELESS", "key format"},
      {"KM4130", 159, "wireless", "keyformat"},
      {"RZ3120", 159, "WIRELESS", "key format"},
      {"RZ3120", 161, "WIRELESS", "key 1"},
      {"RZ3120", 164, "WIRELESS", "key 4"},
      // DDNS and UPNP
      {"KM3111", 191, "DDNS", "enable"},
      {"KM3111", 196, "UPNP", "enable"},
      {"KM3111", 197, nullptr, nullptr},
      {"KM3111", 199, "UPNP", "enable port forwarding"},
      {"KM4130", 197, "upnp", "customenable"},
      {"RZ7161", 197, "ddns", "customenable"},
      {"RZ7161", 199, "upnp", "portforwarding"},
      {"KM6211", 226, "ddnsqxrn", "registerstatus"},
      {"KM7150", 231, "ddnsqxrn", "tempcusomserver"},
      {"RZ7161", 226, nullptr, nullptr},
      {"KM3111", 220, nullptr, nullptr},
      {"KM3111", 242, "FEATURE", "wpa2"},
      {"KM4130", 241, "feature", "event"},
      // CAMERA CONTROL
      {"RZ3120", 271, "CAMERA CONTROL", "pan speed"},
      {"RZ3120", 277, nullptr, nullptr},
      {"KM3111", 271, nullptr, nullptr},
      {"RQ48x3", 271, nullptr, nullptr},
      {"RZ2101", 271, nullptr, nullptr},
      {"RZ7161", 271, "camctrl", "panspeed"},
      {"RZ7161", 277, "camctrl", "axisx"},
      {"RZ4130", 276, "system", "enableir"},
      {"RZ4130", 272, "cameracontrol", "tiltspeed"},
      // LAYOUT
      {"KM2101", 319, "LAYOUT", "layout type"},
      {"KM2401", 318, "LAYOUT", "com1 speedlink name"},
      {"KM2101", 318, "LAYOUT", "com speedlink name"},
      {"KM2401", 320, "LAYOUT", "com2 speedlink name"},
      {"KM2401", 321, "LAYOUT", "button name"},
      {"KM2101", 321, nullptr, nullptr},
      {"KM4130", 311, nullptr, nullptr},
      // ALERT
      {"KM2101", 354, "ALERT", "tenth seconds to snapshot after event"},
      {"KM2101", 362, "ALERT", "script file enabled"},
      {"KM2101", 365, "ALERT", "series snapshot channel enabled"},
      {"KM3111", 354, "ALERT", "seconds to snapshot after event"},
      {"KM3111", 362, nullptr, nullptr},
      {"KM4130", 362, "app", "enablescript"},
      {"KM4130", 351, nullptr, nullptr},
      // DEMO
      {"RZ3120", 391, "DEMO", "PTZ enabled"},
      {"RZ3120", 393, "SYSTEM", "demo enabled"},
      {"KM3111", 391, nullptr, nullptr},
      {"KM2401", 394, "DEMO", "video is open"},
      {"KM2101", 394, nullptr, nullptr},
      {"KM2101", 392, "DEMO", "DO control enabled"},
      {"KM4130", 391, nullptr, nullptr},
      // AUDIO
      {"RZ3120", 421, "AUDIO", "external mic"},
      {"KM3111", 421, nullptr, nullptr},
      {"KM3111", 422, "AUDIO", "mute"},
      {"KM2101", 422, nullptr, nullptr},
      {"RZ3120", 423, "AUDIO", "low bandwidth environment"},
      {"KM3111", 423, nullptr, nullptr},
      {"KM4130", 424, "audio", "enableaec"},
      {"RZ7161", 429, "audio", "type"},
      {"RZ7161", 424, nullptr, nullptr},
      {"KM8111", 422, nullptr, nullptr},
      // security
      {"KM3111", 453, "SYSTEM", "user name"},
      {"KM3111", 451, nullptr, nullptr},
      {"KM4130", 451, "security", "usercount"},
      // SERIAL
      {"KM3111", 482, "SERIAL", "data bits"},
      {"KM6211", 482, "SERIAL", "databit"},
      {"KM6211", 481, nullptr, nullptr},
      {"KM4130", 482, nullptr, nullptr},
      {"RZ3120", 482, nullptr, nullptr},
      {"KM2401", 481, "SERIAL1", "auto detect camera"},
      {"KM2401", 490, "SERIAL2", "data bits"},
      {"KM2401", 497, "SERIAL2", "custom ccd commands"},
      {"KM2401", 498, "SERIAL", "enable camera control"},
      {"KM2101", 481, "SERIAL", "auto detect camera"},
      {"KM2101", 490, nullptr, nullptr},
      {"KM2101", 498, "SERIAL", "enable camera control"},
      {"KM6211", 498, nullptr, nullptr},
      {"KM3111", 488, "SERIAL", "speedlink commands"},
      {"KM3111", 489, "SERIAL", "custom ccd commands"},
      {"QB3101", 488, "SERIAL", "other control commands"},
      {"QB3101", 489, "SERIAL", "PT control commands"},
      {"RZ7161", 499, "SERIAL", "ptzdriver"},
      {"KM8111", 501, "SERIAL", "customcmd"},
      // app
      {"KM2101", 522, "ALERT", "script file enabled"},
      {"KM2101", 521, nullptr, nullptr},
      {"KM3111", 521, nullptr, nullptr},
      {"KM3111", 522, nullptr, nullptr},
      {"KM1101", 521, "app", "scriptname"},
      {"KM4130", 522, "app", "enablescript"},
      // image
      {"KM3111", 551, "VIDEO", "brightness"},
      {"KM2101", 552, "VIDEO", "contrast"},
      {"KM4130", 554, "image", "saturation"},
      // motion
      {"KM3111", 581, "VIDEO", "motion detect enabled"},
      {"KM3111", 589, "VIDEO", "motion detect enabled"},
      {"KM2101", 581, nullptr, nullptr},
      {"KM4130", 589, "motion", "winrenew"},
      {"KM4130", 590, nullptr, nullptr},
      {"KM1101", 582, "motion", "winenabled"},
      // NTP update interval, PTZ presets, multicast, and the ranges every series shares
      {"KM2101", 611, "SYSTEM ADDON", "NTP Update Interval"},
      {"KM3111", 611, "SYSTEM", "NTP Update Interval"},
      {"KM4130", 611, "system", "updateinterval"},
      {"KM3111", 641, nullptr, nullptr},
      {"KM4130", 660, "camctrl", "isptz"},
      {"KM4130", 690, nullptr, nullptr},
      {"KM5120", 690, nullptr, nullptr},
      {"KM6211", 690, "multicast", "ipaddress"},
      {"KM7150", 692, "multicast", "audioport"},
      {"RZ7161", 694, "multicast", "enablem"},
      {"KM3111", 720, "upnpfor", "enable"},
      {"KM4130", 720, "upnpfor", "enable"},
      {"KM3111", 755, "mobile", "amrbitrate"},
      {"KM4130", 786, "ccd", "lowluxmode"},
      {"KM4130", 787, nullptr, nullptr},
      {"KM4130", 0xFFFF, nullptr, nullptr},
  };
  Check(rows, sizeof rows / sizeof rows[0], "");
}

// On the series 3 pan-tilt models the wireless key names follow the device's own file.
TEST(ParamTables, WirelessKeysFollowTheFile) {
  cfgtest::TempConfig cfg = cfgtest::MakeTempConfig("param-wireless");
  ASSERT_TRUE(kvtest::WriteFile(cfg.path,
                                "[WIRELESS]\n<key hex-format>\nYES\n<key 0>\nabc\n<key 1>\n\n"));
  const Row with_file[] = {
      {"RZ3120", 159, "WIRELESS", "key hex-format"},
      {"RZ3120", 161, "WIRELESS", "key 0"},
      {"RZ3120", 164, "WIRELESS", "key 3"},
      {"KM3111", 159, "WIRELESS", "key format"},  // other families never look
      {"KM3111", 161, "WIRELESS", "key 1"},
  };
  Check(with_file, sizeof with_file / sizeof with_file[0], cfg.path);
}

}  // namespace
