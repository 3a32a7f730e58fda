#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "devsim_fixture.h"
#include "morvane.h"
#include "test_paths.h"

namespace {

// The line-up as the design document lists it, written here by hand so that the data file
// is checked against the table, not against itself.
struct Row {
  const char *name;
  int cams, com, di, dout;
  bool ptz, preset, recall;
  int flag;
  bool uart;
};
const Row kLineUp[] = {
    {"KM2101", 1, 1, 1, 1, false, false, false, 0, true},
    {"KM2401", 4, 2, 4, 2, true, true, true, 0, true},
    {"KM3111", 1, 1, 2, 2, false, false, false, 0, true},
    {"QB3101", 4, 1, 4, 1, true, true, true, 0, true},
    {"RZ3120", 1, 0, 1, 1, true, true, true, 1, false},
    {"KM4130", 1, 0, 1, 1, false, false, false, 0, false},
    {"RQ48x3", 1, 0, 1, 1, true, true, true, 1, false},
    {"KM6211", 1, 1, 2, 2, true, false, false, 0, true},
    {"KM7150", 1, 0, 1, 1, false, false, false, 0, false},
    {"RZ7161", 1, 1, 1, 1, true, true, true, 1, true},
    {"KM8111", 2, 1, 4, 2, false, false, false, 0, true},
};

struct Paths {
  const char *ptz, *preset, *recall, *getdi, *setdo, *uart;
};
const Paths kSeries2 = {"/cgi-bin/camctrl.cgi", "/cgi-bin/preset.cgi", "/cgi-bin/recall.cgi",
                        "/cgi-bin/getdi.cgi", "/cgi-bin/setdo.cgi", "/cgi-bin/uart.cgi"};
const Paths kSeries3 = {"/setup/camctrl.cgi", "/setup/preset.cgi", "/cgi-bin/recall.cgi",
                        "/cgi-bin/getdi.cgi", "/setup/setdo.cgi", "/setup/uart.cgi"};
const Paths kSeries4Up = {"/cgi-bin/camctrl/camctrl.cgi", "/cgi-bin/admin/preset.cgi",
                          "/cgi-bin/recall.cgi", "/cgi-bin/dido/getdi.cgi",
                          "/cgi-bin/dido/setdo.cgi", "/cgi-bin/admin/uart.cgi"};

const Paths &PathsOf(const char *name) {
  char series = std::strncmp(name, "KM7150", 6) == 0 ? '6' : name[2];
  return series == '2' ? kSeries2 : series == '3' ? kSeries3 : kSeries4Up;
}

void ExpectRow(const Row &row, const ServerParam &p) {
  const Paths &paths = PathsOf(row.name);
  EXPECT_STREQ(p.ServerName, row.name);
  EXPECT_EQ(p.CamNum, row.cams);
  EXPECT_EQ(p.ComNum, row.com);
  EXPECT_EQ(p.DiNum, row.di);
  EXPECT_EQ(p.DoNum, row.dout);
  EXPECT_STREQ(p.PtzUrl, row.ptz ? paths.ptz : "");
  EXPECT_STREQ(p.PresetUrl, row.preset ? paths.preset : "");
  EXPECT_STREQ(p.RecallUrl, row.recall ? paths.recall : "");
  EXPECT_STREQ(p.GetDiUrl, paths.getdi);
  EXPECT_STREQ(p.SetDoUrl, paths.setdo);
  EXPECT_STREQ(p.UartUrl, row.uart ? paths.uart : "");
  EXPECT_EQ(p.Flag & 1, row.flag);
  EXPECT_EQ(p.MDWinNum, row.name[2] == '2' ? 1 : 3);
}

TEST(MorvaneLineUp, EveryModelByFriendlyNameAndByModelName) {
  for (const Row &row : kLineUp) {
    SCOPED_TRACE(row.name);
    ServerParam by_friendly, by_model;
    ASSERT_EQ(Morvane_GetParamForServerByFriendlyName(row.name, &by_friendly), MORVANE_OK);
    ExpectRow(row, by_friendly);
    for (const std::string version : {"", "-V1.0.2", "-V9.99.1234"}) {
      std::memset(&by_model, 0xAB, sizeof by_model);
      ASSERT_EQ(Morvane_GetParamForServer((row.name + version).c_str(), &by_model), MORVANE_OK);
      EXPECT_EQ(std::memcmp(&by_model, &by_friendly, sizeof by_model), 0);
    }
    char friendly[MORVANE_FRIENDLY_NAME_MAX];
    ASSERT_EQ(Morvane_GetMappingFriendlyName((row.name + std::string("-V1.0.2")).c_str(),
                                             friendly), MORVANE_OK);
    EXPECT_STREQ(friendly, row.name);
  }
}

TEST(MorvaneLineUp, ModelNameResolvesByItsFirstSixCharacters) {
  ServerParam p;
  ASSERT_EQ(Morvane_GetParamForServer("KM3111-V1.0.2", &p), MORVANE_OK);
  EXPECT_STREQ(p.ServerName, "KM3111");
  ASSERT_EQ(Morvane_GetParamForServer("KM3111XYZ", &p), MORVANE_OK);
  // The friendly-name lookup compares the whole name.
  EXPECT_EQ(Morvane_GetParamForServerByFriendlyName("KM3111-V1.0.2", &p), MORVANE_E_UNKNOWN);
}

TEST(MorvaneLineUp, MappedModelIsUnknownByModelNameAndMapsToKM4130) {
  ServerParam p, km4130;
  std::memset(&p, 0xAB, sizeof p);
  ServerParam untouched = p;
  EXPECT_LT(Morvane_GetParamForServer("KM5120-V2.0.1", &p), 0);
  EXPECT_LT(Morvane_GetParamForServer("KM5120", &p), 0);
  EXPECT_EQ(std::memcmp(&p, &untouched, sizeof p), 0) << "record written on failure";

  char friendly[MORVANE_FRIENDLY_NAME_MAX] = {};
  ASSERT_EQ(Morvane_GetMappingFriendlyName("KM5120-V2.0.1", friendly), MORVANE_OK);
  EXPECT_STREQ(friendly, "KM4130");
  ASSERT_EQ(Morvane_GetMappingFriendlyName("KM5120", friendly), MORVANE_OK);
  EXPECT_STREQ(friendly, "KM4130");

  // By friendly name it is the distinct outcome: the record of the model it maps to.
  ASSERT_EQ(Morvane_GetParamForServerByFriendlyName("KM4130", &km4130), MORVANE_OK);
  ASSERT_EQ(Morvane_GetParamForServerByFriendlyName("KM5120", &p), MORVANE_S_MAPPED);
  EXPECT_EQ(std::memcmp(&p, &km4130, sizeof p), 0);
}

TEST(MorvaneLineUp, UnknownNamesAreNegativeAndWriteNothing) {
  const char *names[] = {"", "KM31", "KM311", "km3111-V1.0.2", "XX9999-V1.0", "RQ4813-V1.0",
                         "KM4130 "};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    ServerParam p;
    std::memset(&p, 0x5A, sizeof p);
    char friendly[MORVANE_FRIENDLY_NAME_MAX];
    std::memset(friendly, 0x5A, sizeof friendly);
    if (std::strcmp(name, "KM4130 ") != 0) {  // the model name lookup reads 6 characters
      EXPECT_EQ(Morvane_GetParamForServer(name, &p), MORVANE_E_UNKNOWN);
      EXPECT_EQ(Morvane_GetMappingFriendlyName(name, friendly), MORVANE_E_UNKNOWN);
    }
    EXPECT_EQ(Morvane_GetParamForServerByFriendlyName(name, &p), MORVANE_E_UNKNOWN);
    EXPECT_EQ(static_cast<unsigned char>(p.ServerName[0]), 0x5A);
    EXPECT_EQ(static_cast<unsigned char>(friendly[0]), 0x5A);
  }
  ServerParam p;
  char buf[MORVANE_PATH_MAX];
  EXPECT_EQ(Morvane_GetParamForServer(nullptr, &p), MORVANE_E_ARG);
  EXPECT_EQ(Morvane_GetParamForServer("KM3111", nullptr), MORVANE_E_ARG);
  EXPECT_EQ(Morvane_GetParamForServerByFriendlyName(nullptr, &p), MORVANE_E_ARG);
  EXPECT_EQ(Morvane_GetMappingFriendlyName("KM3111", nullptr), MORVANE_E_ARG);
  EXPECT_EQ(Morvane_GetDataFilePath(nullptr), MORVANE_E_ARG);
  EXPECT_EQ(Morvane_ParseSysInfo(nullptr, reinterpret_cast<SysInfoData *>(buf)), MORVANE_E_ARG);
  EXPECT_EQ(Morvane_ParseSysInfo("model=x", nullptr), MORVANE_E_ARG);
}

// ---- system information ----------------------------------------------------------------

template <typename T>
T At(const SysInfoData &info, size_t offset) {
  T v;
  std::memcpy(&v, reinterpret_cast<const char *>(&info) + offset, sizeof v);
  return v;
}

std::string TextAt(const SysInfoData &info, size_t offset) {
  return std::string(reinterpret_cast<const char *>(&info) + offset);
}

TEST(MorvaneSysInfo, ParsesTheSimulatorsPagesAtTheOffsetsTheLibraryReads) {
  kvtest::Devsim sim;
  ASSERT_TRUE(sim.Start({{"KM5120", "learn"}, {"KM8111", "big", "", "", "", "V3.1.4"}}))
      << kvtest::ReadFile(sim.log_path());
  struct Expect {
    const char *device, *model;
    int cams, di, dout, vcodec, acodec;
    const char *video;
  } cases[] = {{"learn", "KM5120-V1.0.2", 1, 1, 1, 2, 1, "/cgi-bin/viewer/video.jpg"},
               {"big", "KM8111-V3.1.4", 2, 4, 2, 2, 1, "/cgi-bin/viewer/video.jpg"}};
  for (const Expect &e : cases) {
    SCOPED_TRACE(e.device);
    const kvtest::DevsimDevice *d = sim.Device(e.device);
    ASSERT_NE(d, nullptr);
    kvtest::HttpReply r = kvtest::HttpRequest(d->http_port, "GET", "/cgi-bin/sysinfo.cgi", "",
                                              d->user, d->password);
    ASSERT_EQ(r.status, 200);
    EXPECT_LT(r.body.size(), 1022u);
    SysInfoData info;
    ASSERT_EQ(Morvane_ParseSysInfo(r.body.c_str(), &info), MORVANE_OK);
    EXPECT_EQ(TextAt(info, 0), e.model);
    EXPECT_EQ(TextAt(info, 10842), e.video);
    EXPECT_EQ(At<int32_t>(info, 11176), e.cams);
    EXPECT_EQ(At<int32_t>(info, 11184), e.di);
    EXPECT_EQ(At<int32_t>(info, 11188), e.dout);
    EXPECT_EQ(At<int32_t>(info, 11192), e.vcodec);
    EXPECT_EQ(At<int32_t>(info, 11196), e.acodec);
  }
  // The learned model resolves through its mapping, as the catalogue does it.
  SysInfoData info;
  ASSERT_EQ(Morvane_ParseSysInfo(sim.SysinfoText("learn").c_str(), &info), MORVANE_OK);
  char friendly[MORVANE_FRIENDLY_NAME_MAX];
  ASSERT_EQ(Morvane_GetMappingFriendlyName(info.ModelName, friendly), MORVANE_OK);
  EXPECT_STREQ(friendly, "KM4130");
}

TEST(MorvaneSysInfo, TextForms) {
  struct Case {
    std::string text;
    int32_t result;
    const char *model;
    int cams;
  } cases[] = {
      {"model=KM3111-V1\ncameras=3\n", MORVANE_OK, "KM3111-V1", 3},
      {"  MODEL = KM3111-V1 \r\nCameras= 2\r\nunknown=whatever\r\nno equals sign\r\n",
       MORVANE_OK, "KM3111-V1", 2},
      {"model=A\nmodel=B", MORVANE_OK, "B", 0},
      {"cameras=1\n", MORVANE_E_FORMAT, "", 0},
      {"model=\n", MORVANE_E_FORMAT, "", 0},
      {"", MORVANE_E_FORMAT, "", 0},
      {"model=X\ncameras=one\n", MORVANE_E_FORMAT, "", 0},
      {"model=X\ncameras=-1\n", MORVANE_E_FORMAT, "", 0},
      {"model=X\ncameras=256\n", MORVANE_E_FORMAT, "", 0},
      {"model=X\nvideocodec=65536\n", MORVANE_E_FORMAT, "", 0},
      {"model=X\nvideourl=/" + std::string(39, 'v') + "\n", MORVANE_E_FORMAT, "", 0},
      {"model=" + std::string(64, 'm') + "\n", MORVANE_E_FORMAT, "", 0},
      {"model=" + std::string(63, 'm') + "\n", MORVANE_OK, nullptr, 0},
      {"model=X\n" + std::string(1015, '#'), MORVANE_OK, "X", 0},         // 1023 bytes
      {"model=X\n" + std::string(1016, '#'), MORVANE_E_TOOLONG, "", 0},  // 1024 bytes
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    SysInfoData info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(Morvane_ParseSysInfo(c.text.c_str(), &info), c.result);
    if (c.result != MORVANE_OK) {
      EXPECT_EQ(static_cast<unsigned char>(info.ModelName[0]), 0xAB) << "written on failure";
      continue;
    }
    if (c.model) {
      EXPECT_STREQ(info.ModelName, c.model);
    }
    EXPECT_EQ(info.CamNum, c.cams);
    EXPECT_EQ(info.VideoUrl[0], '\0');
  }
}

// ---- the catalogue directory -----------------------------------------------------------

class ScopedEnv {
 public:
  ScopedEnv(const char *name, const char *value) : name_(name) {
    const char *old = ::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      kvtest::SetEnv(name, value);
    else
      kvtest::UnsetEnv(name);
  }
  ~ScopedEnv() {
    if (had_)
      kvtest::SetEnv(name_.c_str(), old_.c_str());
    else
      kvtest::UnsetEnv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

bool IsDir(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(MorvaneDataDir, KavrelDataDirIsCreatedAndEndsWithASeparator) {
  std::string base = kvtest::MakeTempDir("morvane-dir");
  for (const std::string &given : {base + "/a/b/c", base + "/d/"}) {
    SCOPED_TRACE(given);
    ScopedEnv env("KAVREL_DATA_DIR", given.c_str());
    char path[MORVANE_PATH_MAX] = {};
    ASSERT_EQ(Morvane_GetDataFilePath(path), MORVANE_OK);
    // Given with a separator, it is kept; else the platform's own is added.
    std::string got = path;
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(kvtest::IsPathSeparator(got.back())) << got;
    std::string want = given.back() == '/' ? given : given + got.back();
    EXPECT_EQ(got, want);
    EXPECT_TRUE(IsDir(want));
    // A second call finds the directory there.
    ASSERT_EQ(Morvane_GetDataFilePath(path), MORVANE_OK);
  }
}

TEST(MorvaneDataDir, DefaultsToTheUsersDataDirectory) {
  if (kvtest::BuiltForWindows()) GTEST_SKIP() << "HOME and XDG_DATA_HOME are Linux's";
  std::string home = kvtest::MakeTempDir("morvane-home");
  ScopedEnv data("KAVREL_DATA_DIR", nullptr);
  ScopedEnv h("HOME", home.c_str());
  {
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    char path[MORVANE_PATH_MAX] = {};
    ASSERT_EQ(Morvane_GetDataFilePath(path), MORVANE_OK);
    EXPECT_EQ(std::string(path), home + "/.local/share/Kavrel/");
    EXPECT_TRUE(IsDir(path));
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", (home + "/xdg").c_str());
    char path[MORVANE_PATH_MAX] = {};
    ASSERT_EQ(Morvane_GetDataFilePath(path), MORVANE_OK);
    EXPECT_EQ(std::string(path), home + "/xdg/Kavrel/");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv no_home("HOME", nullptr);
    char path[MORVANE_PATH_MAX] = {};
    EXPECT_EQ(Morvane_GetDataFilePath(path), MORVANE_E_DIR);
  }
}

TEST(MorvaneDataDir, UnusableDirectoriesFailAndWriteNothing) {
  std::string base = kvtest::MakeTempDir("morvane-bad");
  ASSERT_TRUE(kvtest::WriteFile(base + "/file", "x"));
  struct Case {
    std::string dir;
    int32_t result;
  } cases[] = {
      {base + "/file/sub", MORVANE_E_DIR},  // through a regular file: ENOTDIR
      {base + "/file", MORVANE_E_DIR},      // a file, not a directory
      {base + "/" + std::string(258 - base.size(), 'x'), MORVANE_E_SPACE},  // 259 + '/' + NUL
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.dir);
    ScopedEnv env("KAVREL_DATA_DIR", c.dir.c_str());
    char path[MORVANE_PATH_MAX];
    std::memset(path, 0x5A, sizeof path);
    EXPECT_EQ(Morvane_GetDataFilePath(path), c.result);
    EXPECT_EQ(static_cast<unsigned char>(path[0]), 0x5A);
  }
  // The longest directory that fits: 258 characters, the separator and the NUL.
  std::string fits = base + "/" + std::string(257 - base.size(), 'y');
  ASSERT_EQ(fits.size(), 258u);
  ScopedEnv env("KAVREL_DATA_DIR", fits.c_str());
  char path[MORVANE_PATH_MAX] = {};
  ASSERT_EQ(Morvane_GetDataFilePath(path), MORVANE_OK);
  EXPECT_EQ(std::strlen(path), 259u);
}

}  // namespace
