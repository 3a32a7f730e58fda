// The parameter tables as data: the ranges of parameter numbers with their sections and key
// tables per layout, and the exceptions of the model series as an ordered list of rules.
// The first rule that fits a number and a device decides; when none fits, the range's own
// table for the device's layout answers.
#include "config/param_tables.h"

#include <string.h>

#include "config/config_store.h"
#include "kavrel_results.h"

namespace {

// ---- Key tables -------------------------------------------------------------------------------

struct KeyAt {
  uint8_t position;
  const char *key;
};

// A key table: a dense list from position 0, or a sparse one of numbered entries. A
// position without a key means that the series has no such setting.
struct Keys {
  const char *const *dense;
  size_t dense_count;
  const KeyAt *sparse;
  size_t sparse_count;

  const char *At(long position) const {
    if (position < 0) return nullptr;
    if (dense) return static_cast<size_t>(position) < dense_count ? dense[position] : nullptr;
    for (size_t i = 0; i < sparse_count; ++i) {
      if (sparse[i].position == position) return sparse[i].key;
    }
    return nullptr;
  }
};

template <size_t N>
constexpr Keys Dense(const char *const (&keys)[N]) {
  return Keys{keys, N, nullptr, 0};
}
template <size_t N>
constexpr Keys Sparse(const KeyAt (&keys)[N]) {
  return Keys{nullptr, 0, keys, N};
}

constexpr KeyAt kSystemOld[] = {
    {0, "reset system"}, {1, "host name"},   {2, "serial number"},        {3, "current date"},
    {4, "current time"}, {5, "time zone"},   {6, "software version"},     {7, "language"},
    {8, "ptzenabled"},   {14, "user name"},  {15, "user password"},       {18, "NTP Update Interval"}};
constexpr KeyAt kSystemNew[] = {
    {0, "reset"},          {1, "hostname"},   {2, "serialnumber"},           {3, "date"},
    {4, "time"},           {5, "timezone"},   {6, "firmwareversion"},        {7, "language"},
    {8, "ptzenabled"},     {10, "supportscriptversion"}, {11, "scriptversion"}, {12, "ledoff"},
    {16, "enableir"},      {17, "ntp"},       {18, "updateinterval"},        {19, "webpageversion"},
    {20, "viewmode"},      {21, "modelname"}};
constexpr KeyAt kNetworkOld[] = {
    {0, "install enabled"}, {1, "host ip"}, {2, "subnet mask"}, {3, "gateway ip"},
    {4, "primary name server"}, {5, "secondary name server"}, {6, "smtp mail server"},
    {7, "mail recipient address"}, {8, "smtp account name"}, {9, "smtp password"},
    {10, "backup smtp mail server"}, {11, "backup mail recipient address"},
    {12, "backup smtp account name"}, {13, "backup smtp pass"}, {14, "mail return address"},
    {15, "local ftp port"}, {16, "ftp server"}, {17, "ftp port"}, {18, "ftp username"},
    {19, "ftp password"}, {20, "ftp init path"}, {21, "ftp passive"},
    {22, "backup ftp server"}, {23, "backup ftp port"}, {24, "bacup ftp username"},
    {25, "backup ftp password"}, {26, "backup ftp init path"}, {27, "backup ftp passive"},
    {28, "http server port"}, {31, "ntp enabled"}, {32, "ppp enabled"},
    {33, "ethernet address"}, {34, "network timing server"}};
#define KAVREL_NETWORK_NEW_COMMON_                                                           \
  {0, "resetip"}, {1, "ipaddress"}, {2, "subnet"}, {3, "router"}, {4, "dns1"}, {5, "dns2"},  \
      {6, "smtp1"}, {7, "mailto1"}, {8, "mailuser1"}, {9, "mailpass1"}, {10, "smtp2"},      \
      {11, "mailto2"}, {12, "mailuser2"}, {13, "mailpass2"}, {14, "returnemail"},           \
      {15, "localftpport"}, {16, "ftp1"}, {17, "ftpport1"}, {18, "ftpuser1"},              \
      {19, "ftppass1"}, {20, "ftpfolder1"}, {21, "ftppasvmode1"}, {22, "ftp2"},            \
      {23, "ftpport2"}, {24, "ftpuser2"}, {25, "ftppass2"}, {26, "ftpfolder2"},            \
      {27, "ftppasvmode2"}, {28, "httpport"}, {29, "bandwidth"}, {36, "audioport"},        \
      {37, "videoport"}, {39, "pppoeuser"}, {40, "pppoepass"}, {42, "accessname"}
constexpr KeyAt kNetworkNew[] = {KAVREL_NETWORK_NEW_COMMON_, {38, "networktype"}, {41, "rstpport"}};
constexpr KeyAt kNetworkNew7[] = {KAVREL_NETWORK_NEW_COMMON_, {38, "type"}, {41, "rtspport"}};
#undef KAVREL_NETWORK_NEW_COMMON_
constexpr KeyAt kVideoOld[] = {
    {0, "caption text"}, {1, "colored video"}, {2, "video quality"}, {11, "camera modulation"},
    {12, "brightness"},  {13, "contrast"},     {14, "hue"},          {15, "saturation"},
    {23, "keyinterval"}};
constexpr KeyAt kVideoNew[] = {
    {0, "text"},       {1, "color"},     {2, "quant"},        {3, "quality"},
    {4, "whitebalance"}, {11, "modulation"}, {17, "bitrate"},  {18, "maxframe"},
    {19, "flip"},      {20, "mirror"},   {21, "size"},        {22, "codectype"},
    {23, "keyinterval"}, {24, "udpslowstart"}, {25, "actualmodulation"}, {26, "mode"},
    {27, "defaultsource"}, {29, "imprinttimestamp"}, {30, "imageoverlay"}};
constexpr KeyAt kVideoNew7[] = {
    {0, "text"},     {2, "quant"},  {3, "quality"}, {4, "whitebalance"}, {17, "bitrate"},
    {18, "maxframe"}, {19, "flip"}, {20, "mirror"}, {21, "size"},        {22, "codectype"},
    {23, "keyinterval"}, {29, "imprinttimestamp"}, {31, "resolution"}};
constexpr const char *kWirelessOld[] = {
    "SSID",     "wireless mode", "channel", "Tx rate", "preamble", "data encryption",
    "authentication mode", "key length", "key format", "key select", "key 1", "key 2",
    "key 3",    "key 4",         "domain",  "pre shared key", "algorithm"};
constexpr const char *kWirelessNew[] = {
    "ssid",      "wlmode",    "channel", "txrate", "preamble", "encrypt", "authmode",
    "keylength", "keyformat", "keyselect", "key1", "key2",     "key3",    "key4",
    "domain",    "presharedkey", "algorithm"};
constexpr KeyAt kDdnsOld[] = {{0, "enable"},         {1, "provider"},     {2, "hostname"},
                              {3, "username/email"}, {4, "password/key"}, {5, "enable"},
                              {8, "enable port forwarding"}};
constexpr const char *kDdnsNew[] = {"enable",      "provider", "hostname",
                                    "usernameemail", "passwordkey", "enable",
                                    "customenable", "servername", "portforwarding"};
constexpr const char *kQxrn[] = {"email",           "key",           "hostname",
                                 "servername",      "domainname",    "customserver",
                                 "registerstatus",  "requestkeystatus", "temphostnameonly",
                                 "tempservername",  "tempdomainname", "tempcusomserver"};
constexpr const char *kFeature[] = {"event", "wpa2"};
constexpr const char *kCamCtrlOld[] = {"pan speed",     "tilt speed", "pan/patrol speed",
                                       "dwelling time", "presets",    "I.R. control"};
constexpr KeyAt kCamCtrlNew[] = {{0, "panspeed"}, {1, "tiltspeed"}, {2, "autospeed"},
                                 {3, "dwelling"}, {6, "axisx"},     {7, "axisy"}};
constexpr const char *kLayoutOld[] = {"font color",   "background color",  "logo type",
                                      "background type", "logo source",   "background source",
                                      "logo link",    "com speedlink name"};
constexpr const char *kAlertOld[] = {
    "application mode",         "upload method",
    "file with time suffix",    "seconds to snapshot after event",
    "seconds delay before next event", "seconds to snapshot periodically",
    "time to start snapshot",   "time to stop snapshot"};
constexpr KeyAt kAlertNew[] = {{11, "enablescript"}};
constexpr const char *kDemoKeys[] = {"PTZ enabled", "DO control enabled", "demo enabled"};
constexpr const char *kAudioOld[] = {"external mic", "mute", "low bandwidth environment"};
constexpr KeyAt kAudioNew[] = {{2, "lowbandwidth"}, {3, "enableaec"}, {4, "sendclientaudio"},
                               {5, "bitrate"},      {6, "transfermode"}, {7, "source"}};
constexpr KeyAt kAudioNew7[] = {{6, "transfermode"}, {8, "type"}, {9, "aacbitrate"},
                                {10, "amrbitrate"}};
constexpr const char *kSecurity[] = {"usercount", "userattr", "username", "userpass"};
constexpr const char *kSerialOld[] = {
    "auto detect camera", "data bits",   "stop bits",          "parity bits",
    "baud rate",          "ccd model",   "uart mode",          "speedlink commands",
    "custom ccd commands", "enable camera control", "other control commands",
    "PT control commands"};
constexpr KeyAt kSerialNew[] = {{1, "databit"},     {2, "stopbit"},        {3, "paritybit"},
                                {4, "baudrate"},    {6, "uartmode"},       {7, "speedlinkcmd"},
                                {18, "ptzdriver"},  {19, "speedlinkname"}, {20, "customcmd"}};
constexpr const char *kApp[] = {"scriptname", "enablescript"};
constexpr const char *kImage[] = {"brightness", "contrast", "hue", "saturation"};
constexpr const char *kMotion[] = {"enabled",   "winenabled", "winleft",
                                   "wintop",    "winwidth",   "winheight",
                                   "winobjsize", "winsensitivity", "winrenew"};
constexpr const char *kNtpOld[] = {"NTP Update Interval"};
constexpr const char *kCamCtrlP[] = {
    "presetname", "presetpan", "presettilt", "patrolname", "autospeed", "zoomspeed",
    "focusspeed", "panspeed",  "tiltspeed",  "axisx",      "axisy",     "dwelling",
    "osdzoom",    "homex",     "homey",      "defaulthome", "drivers",  "serial",
    "cameraid",   "isptz"};
constexpr const char *kMulticast[] = {"ipaddress", "videoport", "audioport", "ttl", "enablem"};
constexpr const char *kEnable[] = {"enable"};
constexpr const char *kMobile[] = {"accessname", "resolution", "maxframe",
                                   "keyinterval", "bitrate",   "amrbitrate"};
constexpr const char *kCcd[] = {"autoiris",  "irislevel",   "autoelectronicshutter",
                                "whitebalancemode", "autotrackingwhitebalance",
                                "whitebalancecontrol", "lowluxmode", "obwlowluxmode"};
// The series-specific lists of the older layout.
constexpr const char *kVideoSeries2[] = {"default size",  "overlay timestamp",
                                         "default video", "video is open",
                                         "video mapped to COM port", "video mapped to ID"};
constexpr const char *kVideoSeries3[] = {"rate control", "motion detect enabled", "bit rate",
                                         "frame rate",   "flip", "mirror", "video size"};
constexpr const char *kAlertSeries2[] = {
    "tenth seconds to snapshot after event", "visual alert",
    "percentage of object size over screen", "percentage of sensitivity",
    "script file enabled",                  "motion detection channel enabled",
    "snapshot channel enabled",             "series snapshot channel enabled"};
constexpr const char *kLayoutSeries2Com[] = {"com2 speedlink name", "button name"};
constexpr const char *kKeyHexFormat[] = {"key hex-format"};
constexpr const char *kKeyFormat[] = {"key format"};
constexpr const char *kKeysFromZero[] = {"key 0", "key 1", "key 2", "key 3"};
constexpr const char *kKeysFromOne[] = {"key 1", "key 2", "key 3", "key 4"};

constexpr Keys kTSystemOld = Sparse(kSystemOld), kTSystemNew = Sparse(kSystemNew),
               kTNetworkOld = Sparse(kNetworkOld), kTNetworkNew = Sparse(kNetworkNew),
               kTNetworkNew7 = Sparse(kNetworkNew7), kTVideoOld = Sparse(kVideoOld),
               kTVideoNew = Sparse(kVideoNew), kTVideoNew7 = Sparse(kVideoNew7),
               kTWirelessOld = Dense(kWirelessOld), kTWirelessNew = Dense(kWirelessNew),
               kTDdnsOld = Sparse(kDdnsOld), kTDdnsNew = Dense(kDdnsNew), kTQxrn = Dense(kQxrn),
               kTFeature = Dense(kFeature), kTCamCtrlOld = Dense(kCamCtrlOld),
               kTCamCtrlNew = Sparse(kCamCtrlNew), kTLayoutOld = Dense(kLayoutOld),
               kTAlertOld = Dense(kAlertOld), kTAlertNew = Sparse(kAlertNew),
               kTDemo = Dense(kDemoKeys), kTAudioOld = Dense(kAudioOld),
               kTAudioNew = Sparse(kAudioNew), kTAudioNew7 = Sparse(kAudioNew7),
               kTSecurity = Dense(kSecurity), kTSerialOld = Dense(kSerialOld),
               kTSerialNew = Sparse(kSerialNew), kTApp = Dense(kApp), kTImage = Dense(kImage),
               kTMotion = Dense(kMotion), kTNtpOld = Dense(kNtpOld),
               kTCamCtrlP = Dense(kCamCtrlP), kTMulticast = Dense(kMulticast),
               kTEnable = Dense(kEnable), kTMobile = Dense(kMobile), kTCcd = Dense(kCcd),
               kTVideoSeries2 = Dense(kVideoSeries2), kTVideoSeries3 = Dense(kVideoSeries3),
               kTAlertSeries2 = Dense(kAlertSeries2), kTLayoutSeries2Com = Dense(kLayoutSeries2Com),
               kTKeyHexFormat = Dense(kKeyHexFormat), kTKeyFormat = Dense(kKeyFormat),
               kTKeysFromZero = Dense(kKeysFromZero), kTKeysFromOne = Dense(kKeysFromOne);

// ---- Ranges ---------------------------------------------------------------------------------

struct Range {
  uint16_t first, last;
  const char *old_section;  // NULL: the older layout has no such range
  const Keys *old_keys;
  const char *new_section;  // NULL: the newer layout has no such range
  const Keys *new_keys;
  bool old_above_7;  // series above '7' use the older layout in this range
};

constexpr Range kRanges[] = {
    {0, 21, "SYSTEM", &kTSystemOld, "system", &kTSystemNew, false},
    {41, 85, "NETWORK", &kTNetworkOld, "network", &kTNetworkNew, false},
    {101, 132, "VIDEO", &kTVideoOld, "video", &kTVideoNew, true},
    {151, 167, "WIRELESS", &kTWirelessOld, "wireless", &kTWirelessNew, false},
    {191, 199, "DDNS", &kTDdnsOld, "ddns", &kTDdnsNew, false},
    {220, 231, "ddnsqxrn", &kTQxrn, "ddnsqxrn", &kTQxrn, false},
    {241, 242, "FEATURE", &kTFeature, "feature", &kTFeature, false},
    {271, 278, "CAMERA CONTROL", &kTCamCtrlOld, "cameracontrol", &kTCamCtrlNew, false},
    {311, 323, "LAYOUT", &kTLayoutOld, nullptr, nullptr, false},
    {351, 365, "ALERT", &kTAlertOld, "app", &kTAlertNew, false},
    {391, 394, "DEMO", &kTDemo, nullptr, nullptr, false},
    {421, 431, "AUDIO", &kTAudioOld, "audio", &kTAudioNew, true},
    {451, 454, nullptr, nullptr, "security", &kTSecurity, false},
    {481, 501, "SERIAL", &kTSerialOld, "SERIAL", &kTSerialNew, false},
    {521, 522, "app", &kTApp, "app", &kTApp, false},
    {551, 554, nullptr, nullptr, "image", &kTImage, false},
    {581, 590, "motion", &kTMotion, "motion", &kTMotion, false},
    {611, 611, "SYSTEM ADDON", &kTNtpOld, nullptr, nullptr, false},
    {641, 660, nullptr, nullptr, "camctrl", &kTCamCtrlP, false},
    {690, 694, nullptr, nullptr, "multicast", &kTMulticast, false},
    {720, 720, "upnpfor", &kTEnable, "upnpfor", &kTEnable, false},
    {750, 755, "mobile", &kTMobile, "mobile", &kTMobile, false},
    {780, 786, "ccd", &kTCcd, "ccd", &kTCcd, false},
};

// ---- Rules ------------------------------------------------------------------------------------

enum Layout : uint8_t { kAnyLayout, kOld, kNew };
enum Family : uint8_t {
  kAnyFamily,
  kPanTilt,     // server type beginning with "RZ"
  kNotPanTilt,
  kDemo,        // a model with a demo mode
  kNotDemo,
  kNoSerial,    // a device without serial ports
  kVideoServer, // server type beginning with "QB"
};

// Which devices a rule applies to. Characters are those of the server type (0: any).
struct Cond {
  Layout layout = kAnyLayout;
  char series_low = 0, series_high = 0;  // inclusive range of series characters
  char c4 = 0, c5 = 0, c6 = 0;
  Family family = kAnyFamily;

  constexpr Cond S(char low, char high = 0) const {
    Cond c = *this;
    c.series_low = low;
    c.series_high = high ? high : low;
    return c;
  }
  constexpr Cond F(Family f) const {
    Cond c = *this;
    c.family = f;
    return c;
  }
  constexpr Cond C4(char ch) const {
    Cond c = *this;
    c.c4 = ch;
    return c;
  }
  constexpr Cond C5(char ch) const {
    Cond c = *this;
    c.c5 = ch;
    return c;
  }
  constexpr Cond C6(char ch) const {
    Cond c = *this;
    c.c6 = ch;
    return c;
  }
};
constexpr Cond Any() { return Cond{}; }
constexpr Cond Old() { return Cond{kOld}; }
constexpr Cond New() { return Cond{kNew}; }

enum Act : uint8_t {
  kBase,    // the range's table for the layout (at `position` when `fixed`)
  kKey,     // one fixed key
  kList,    // a list of its own, from `position` at the rule's first number
  kAlias,   // answered as another number: `position` + `step` * (number - rule's first)
  kNone,    // no entry for this device
  kProbe,   // `keys` when the device's file has the key `probe` in "WIRELESS", else `other`
};

struct Outcome {
  Act act;
  const char *section = nullptr;  // NULL: the range's section for the layout
  const char *key = nullptr;
  const Keys *keys = nullptr;
  const Keys *other = nullptr;
  const char *probe = nullptr;
  uint16_t position = 0;
  uint8_t step = 0;
  bool fixed = false;
};

constexpr Outcome Base(const char *section = nullptr) { return Outcome{kBase, section}; }
constexpr Outcome BaseAt(uint16_t position) {
  Outcome o{kBase};
  o.position = position;
  o.fixed = true;
  return o;
}
constexpr Outcome Key(const char *key, const char *section = nullptr) {
  Outcome o{kKey, section};
  o.key = key;
  return o;
}
constexpr Outcome List(const Keys &keys, uint16_t from, const char *section = nullptr) {
  Outcome o{kList, section};
  o.keys = &keys;
  o.position = from;
  return o;
}
constexpr Outcome Alias(uint16_t number, uint8_t step = 0) {
  Outcome o{kAlias};
  o.position = number;
  o.step = step;
  return o;
}
constexpr Outcome None() { return Outcome{kNone}; }
constexpr Outcome Probe(const char *probe, const Keys &present, const Keys &absent) {
  Outcome o{kProbe};
  o.probe = probe;
  o.keys = &present;
  o.other = &absent;
  return o;
}

struct Rule {
  uint16_t first, last;
  Cond cond;
  Outcome outcome;
};

// The series exceptions, in the order they are tried.
const Rule kRules[] = {
    // SYSTEM
    {8, 8, Old().S('2'), Key("ptzenabled1")},
    {9, 9, Old().C4('4'), Key("ptzenabled2")},
    {13, 13, Old().S('3').F(kDemo), Key("demo enabled")},
    {13, 13, Old().S('2'), Alias(393)},
    {16, 16, Old().F(kPanTilt), Alias(276)},
    {17, 17, Old(), Key("network timing server", "NETWORK")},
    {18, 18, Old().S('2'), Alias(611)},
    {14, 15, New(), Alias(453, 1)},
    // NETWORK
    {70, 70, Old().S('2'), Key("bandwidth limit")},
    {56, 56, Old().S('3'), Key("ftp port")},
    {71, 71, Old().S('3'), Key("control channel port")},
    {76, 76, Old().S('3').F(kPanTilt), Alias(423)},
    {76, 76, Old().S('3'), Key("low bandwidth environment")},
    {77, 77, Old().S('3'), Key("audio channel port")},
    {78, 78, Old().S('3'), Key("video channel port")},
    {72, 72, New(), Alias(18)},
    {75, 75, New(), Alias(17)},
    {76, 76, New(), Alias(423)},
    {41, 85, New().S('7'), List(kTNetworkNew7, 0)},
    // VIDEO
    {105, 105, Any().C5('3'), Base()},
    {105, 105, Any(), None()},
    {127, 127, Any().S('4', '6').C5('3'), Base()},
    {127, 127, Any().S('4', '6'), None()},
    {113, 116, Any().S('4', '6'), Alias(551, 1)},
    {117, 117, Any().S('4', '6'), Alias(581)},
    {106, 111, Old().S('2').C4('4'), List(kTVideoSeries2, 0)},
    {106, 107, Old().S('2'), List(kTVideoSeries2, 0)},
    {104, 104, Old().S('3'), List(kTVideoSeries3, 0)},
    {117, 122, Old().S('3'), List(kTVideoSeries3, 1)},
    {101, 132, New().S('7'), List(kTVideoNew7, 0)},
    // WIRELESS
    {159, 159, Old().S('3').F(kPanTilt), Probe("key hex-format", kTKeyHexFormat, kTKeyFormat)},
    {161, 164, Old().S('3').F(kPanTilt), Probe("key 0", kTKeysFromZero, kTKeysFromOne)},
    // DDNS / UPNP
    {196, 199, Old(), Base("UPNP")},
    {197, 198, New().S('7'), Base()},
    {196, 199, New(), Base("upnp")},
    // ddnsqxrn
    {220, 231, Any().S('6'), Base()},
    {220, 231, Any(), None()},
    // CAMERA CONTROL
    {271, 278, Any().F(kNotPanTilt), None()},
    {271, 278, Any().S('2'), None()},
    {276, 276, Any().S('4', '6'), Alias(16)},
    {271, 278, New().S('7'), Base("camctrl")},
    // LAYOUT
    {318, 318, Old().S('2').C4('4'), Key("com1 speedlink name")},
    {319, 319, Old().S('2'), Key("layout type")},
    {320, 321, Old().S('2').C4('4'), List(kTLayoutSeries2Com, 0)},
    // ALERT
    {354, 354, Old().S('2'), List(kTAlertSeries2, 0)},
    {359, 365, Old().S('2'), List(kTAlertSeries2, 1)},
    // DEMO
    {393, 393, Old().S('3').F(kDemo), Alias(13)},
    {391, 394, Old().S('3').F(kNotDemo), None()},
    {394, 394, Old().S('2').C4('4'), Key("video is open")},
    // AUDIO
    {421, 421, Old().F(kNotPanTilt), None()},
    {423, 423, Old().F(kNotPanTilt), None()},
    {422, 422, Old().S('3'), Base()},
    {422, 422, Old(), None()},
    {421, 431, New().S('7'), List(kTAudioNew7, 0)},
    // security
    {453, 454, Old(), Alias(14, 1)},
    // SERIAL
    {481, 501, Any().F(kNoSerial), None()},
    {498, 498, Any(), BaseAt(9)},
    {490, 497, Old().S('2').C4('4'), List(kTSerialOld, 1, "SERIAL2")},
    {481, 501, Old().S('2').C4('4'), Base("SERIAL1")},
    {490, 497, Any(), None()},
    {488, 489, Old().S('3').F(kVideoServer).C6('1'), List(kTSerialOld, 10)},
    // app
    {522, 522, Old().S('2'), Alias(362)},
    {521, 522, Old().S('2', '3'), None()},
    // image
    {551, 554, Old(), Alias(113, 1)},
    // motion
    {581, 590, Old().S('3'), Alias(117)},
    {581, 590, Old().S('2'), None()},
    // NTP update interval
    {611, 611, Old().S('3'), Alias(18)},
    {611, 611, New(), Alias(18)},
    // multicast
    {690, 694, Any().S('6', '\x7f'), Base()},
    {690, 694, Any(), None()},
};

// ---- The device -----------------------------------------------------------------------------

bool PrefixNoCase(const char *text, const char *prefix) {
  for (; *prefix; ++text, ++prefix) {
    char a = *text, b = *prefix;
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (a != b) return false;  // prefixes are given in upper case
  }
  return true;
}

// The character at `position` of the server type, or 0 past its end.
char CharAt(const char *text, size_t position) {
  for (size_t i = 0; i < position; ++i) {
    if (!text[i]) return 0;
  }
  return text[position];
}

struct Device {
  const char *server_type;
  const char *config_path;
  char series;
};

bool IsPanTilt(const Device &d) { return PrefixNoCase(d.server_type, "RZ"); }

// The models that carry a demo mode (see the header).
bool HasDemoMode(const Device &d) { return IsPanTilt(d); }

bool FamilyMatches(Family family, const Device &d) {
  switch (family) {
    case kAnyFamily:
      return true;
    case kPanTilt:
      return IsPanTilt(d);
    case kNotPanTilt:
      return !IsPanTilt(d);
    case kDemo:
      return HasDemoMode(d);
    case kNotDemo:
      return !HasDemoMode(d);
    case kNoSerial:
      return !ParamTable_HasSerialPorts(d.server_type);
    case kVideoServer:
      return PrefixNoCase(d.server_type, "QB");
  }
  return false;
}

bool CondMatches(const Cond &c, const Device &d, bool old_layout) {
  if (c.layout == kOld && !old_layout) return false;
  if (c.layout == kNew && old_layout) return false;
  if (c.series_low && (d.series < c.series_low || d.series > c.series_high)) return false;
  if (c.c4 && CharAt(d.server_type, 3) != c.c4) return false;
  if (c.c5 && CharAt(d.server_type, 4) != c.c5) return false;
  if (c.c6 && CharAt(d.server_type, 5) != c.c6) return false;
  return FamilyMatches(c.family, d);
}

const Range *FindRange(uint32_t number) {
  for (const Range &range : kRanges) {
    if (number >= range.first && number <= range.last) return &range;
  }
  return nullptr;
}

const Rule *FindRule(uint32_t number, const Device &d, bool old_layout) {
  for (const Rule &rule : kRules) {
    if (number >= rule.first && number <= rule.last && CondMatches(rule.cond, d, old_layout)) {
      return &rule;
    }
  }
  return nullptr;
}

bool FileHasWirelessKey(const Device &d, const char *key) {
  if (!d.config_path || !d.config_path[0]) return false;
  char value[CONFIG_VALUE_MAX];
  return ConfigStore_Get(d.config_path, "WIRELESS", key, value, "", -1) == KAVREL_OK;
}

// Aliases lead at most two steps on; the bound only guards against a table mistake.
constexpr int kMaxAliasSteps = 4;

}  // namespace

char ParamTable_Series(const char *server_type) {
  if (!server_type) return 0;
  if (PrefixNoCase(server_type, "KM7150")) return '6';
  return CharAt(server_type, 2);
}

bool ParamTable_HasSerialPorts(const char *server_type) {
  if (!server_type) return false;
  char series = ParamTable_Series(server_type);
  char sixth = CharAt(server_type, 5);
  bool km = PrefixNoCase(server_type, "KM");
  if (series == '3') {
    if (km) return sixth == '1' || sixth == '2';
    return PrefixNoCase(server_type, "QB") && sixth == '1';
  }
  if (series == '2' && km) return true;
  return sixth == '1';
}

uint32_t ParamTable_Translate(const char *server_type, const char *config_path, uint32_t number,
                              std::string *section, std::string *key) {
  section->clear();
  key->clear();
  Device d{server_type ? server_type : "", config_path, ParamTable_Series(server_type)};
  for (int step = 0; step <= kMaxAliasSteps; ++step) {
    const Range *range = FindRange(number);
    if (!range) return KAVREL_E_EMPTY;
    bool old_layout = d.series < '4' || (range->old_above_7 && d.series > '7');
    const Rule *rule = FindRule(number, d, old_layout);
    Outcome out = rule ? rule->outcome : Base();
    // Positions count from the rule's first number, except in the range's own table.
    long offset = static_cast<long>(number) - (rule ? rule->first : range->first);
    long range_offset = static_cast<long>(number) - range->first;
    if (out.act == kAlias) {
      number = out.position + out.step * static_cast<uint32_t>(offset);
      continue;
    }
    const char *range_section = old_layout ? range->old_section : range->new_section;
    const Keys *table = old_layout ? range->old_keys : range->new_keys;
    const char *name = out.section ? out.section : range_section;
    const char *entry = nullptr;
    switch (out.act) {
      case kBase:
        entry = table ? table->At(out.fixed ? out.position : range_offset) : nullptr;
        break;
      case kKey:
        entry = out.key;
        break;
      case kList:
        entry = out.keys->At(out.position + offset);
        break;
      case kProbe:
        entry = (FileHasWirelessKey(d, out.probe) ? out.keys : out.other)->At(offset);
        break;
      case kAlias:
      case kNone:
        break;
    }
    if (!name || !name[0] || !entry || !entry[0]) return KAVREL_E_EMPTY;
    *section = name;
    *key = entry;
    return KAVREL_OK;
  }
  return KAVREL_E_EMPTY;
}
