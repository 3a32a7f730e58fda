// Against the simulator: the system information fetch, learning a model the resource
// library does not know, and resolving a device's record by model name and by server type.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "catalog_test_util.h"
#include "devsim_fixture.h"
#include "kavrel.h"
#include "sched/sysinfo_fetch.h"
#include "test_logger.h"
#include "test_paths.h"

using cattest::DataDir;
using cattest::ExpectSameRecord;
using cattest::Lookup;

namespace {

int SysinfoRequests(kvtest::Devsim &sim) {
  int n = 0;
  for (const kvtest::DevsimLogEntry &e : sim.Log()) n += e.path == SYSINFO_PATH;
  return n;
}

// A device's record fields as the resolution sees them.
struct DeviceFields {
  ServerParam param;
  char model_name[CATALOG_DEVICE_STRING];
  char server_type[CATALOG_DEVICE_STRING];
  const char *series = nullptr;
  CatalogDevice view;

  DeviceFields(const char *model, const char *type, const kvtest::DevsimDevice *dev) {
    memset(&param, 0, sizeof(param));
    snprintf(model_name, sizeof(model_name), "%s", model);
    snprintf(server_type, sizeof(server_type), "%s", type);
    view = {&param, model_name, server_type, &series,
            {dev ? "127.0.0.1" : "", dev ? (uint32_t)dev->http_port : 80u,
             dev ? dev->user.c_str() : "", dev ? dev->password.c_str() : "", nullptr, 10000}};
  }
};

class SysinfoFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.Start({{"KM5120"}, {"KM3111", "digestdev", "digest"}}));
  }
  uint32_t Fetch(const char *device, SysInfoData *info, uint32_t timeout_ms = 10000,
                 const char *password = nullptr) {
    const kvtest::DevsimDevice *dev = sim_.Device(device);
    SysInfoFetchTarget target{"127.0.0.1", (uint32_t)dev->http_port, dev->user.c_str(),
                              password ? password : dev->password.c_str(), nullptr, timeout_ms};
    memset(info, 0, sizeof(*info));
    return SysInfo_Fetch(&target, info);
  }
  kvtest::Devsim sim_;
};

}  // namespace

TEST_F(SysinfoFetch, PagesUpToTheBufferAreParsed) {
  SysInfoData info;
  ASSERT_EQ(0u, Fetch("dev1", &info));
  EXPECT_STREQ("KM5120-V1.0.2", info.ModelName);
  EXPECT_EQ(1, info.CamNum);
  auto log = sim_.Log();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ("GET", log[0].method);
  EXPECT_EQ(SYSINFO_PATH, log[0].path);

  // The page padded to 500 bytes, and to 1,021 (the most the buffer keeps), still parses.
  for (int size : {500, 1021}) {
    ASSERT_TRUE(sim_.AddFault("dev1", "{\"path\": \"/cgi-bin/sysinfo.cgi\", \"oversize\": " +
                                          std::to_string(size) + ", \"times\": 1}"));
    EXPECT_EQ(0u, Fetch("dev1", &info)) << size;
    EXPECT_STREQ("KM5120-V1.0.2", info.ModelName) << size;
    EXPECT_EQ(size, (int)strlen(info.RawText)) << size;
  }
  // Digest authentication on a device that asks for it.
  ASSERT_EQ(0u, Fetch("digestdev", &info));
  EXPECT_STREQ("KM3111-V1.0.2", info.ModelName);
}

TEST_F(SysinfoFetch, Failures) {
  SysInfoData info;
  for (int size : {1022, 1023, 4000}) {
    ASSERT_TRUE(sim_.AddFault("dev1", "{\"path\": \"/cgi-bin/sysinfo.cgi\", \"oversize\": " +
                                          std::to_string(size) + ", \"times\": 1}"));
    EXPECT_EQ(0x60301u, Fetch("dev1", &info)) << size;
    EXPECT_STREQ("", info.ModelName) << "not parsed";
  }
  ASSERT_TRUE(sim_.AddFault("dev1", R"({"path": "/cgi-bin/sysinfo.cgi", "no_answer": 1, "times": 1})"));
  EXPECT_EQ(0x80070042u, Fetch("dev1", &info, 500)) << "a device that never answers";
  ASSERT_TRUE(sim_.AddFault("dev1", R"({"path": "/cgi-bin/sysinfo.cgi", "status": 500, "times": 1})"));
  EXPECT_EQ(0x8007007Bu, Fetch("dev1", &info));
  ASSERT_TRUE(sim_.AddFault("dev1", R"({"path": "/cgi-bin/sysinfo.cgi", "close_after": 10, "times": 1})"));
  EXPECT_EQ(0x8007007Bu, Fetch("dev1", &info)) << "closed before the declared length";
  EXPECT_EQ(0x80070082u, Fetch("dev1", &info, 10000, "wrong"));
  EXPECT_EQ(0x80070082u, Fetch("digestdev", &info, 10000, "wrong"));
  // A port where nothing listens.
  SysInfoFetchTarget closed{"127.0.0.1", 1, "root", "pass", nullptr, 5000};
  EXPECT_EQ(0x80070076u, SysInfo_Fetch(&closed, &info));
  std::string long_user(65, 'u');
  SysInfoFetchTarget bad{"127.0.0.1", 1, long_user.c_str(), "pass", nullptr, 5000};
  EXPECT_EQ(0x80000003u, SysInfo_Fetch(&bad, &info));
}

// "KM5120" is unknown to the resource library by model name: the device is asked once, the
// record is stored, and the next resolution finds it in the file without a request.
TEST(CatalogDevice, LearnsOnceThenReadsTheFile) {
  DataDir dir("catalog-learn");
  kvtest::Devsim sim;
  ASSERT_TRUE(sim.Start({{"KM5120"}}));
  const kvtest::DevsimDevice *dev = sim.Device("dev1");

  DeviceFields first("KM5120-V1.0.2", "", dev);
  ASSERT_EQ(0, ModelCatalog_ResolveDevice(&first.view, CATALOG_BY_MODEL_NAME));
  EXPECT_EQ(1, SysinfoRequests(sim));
  EXPECT_STREQ("KM5120", first.server_type);
  EXPECT_STREQ("KM5120-V1.0.2", first.model_name) << "no file yet: the lookup stopped early";

  // The record: KM4130's (the mapped friendly name) with the device's own report on top.
  ServerParam expected;
  ASSERT_EQ(0, Morvane_GetParamForServerByFriendlyName("KM4130", &expected));
  SysInfoData report;
  ASSERT_EQ(0, Morvane_ParseSysInfo(sim.SysinfoText("dev1").c_str(), &report));
  snprintf(expected.ServerName, sizeof(expected.ServerName), "KM5120");
  snprintf(expected.VideoUrl, sizeof(expected.VideoUrl), "%s", report.VideoUrl);
  expected.CamNum = report.CamNum;
  expected.DiNum = report.DiNum;
  expected.DoNum = report.DoNum;
  if (report.VideoCodec) expected.VideoCodec = report.VideoCodec;
  if (report.AudioCodec) expected.AudioCodec = report.AudioCodec;
  ExpectSameRecord(expected, first.param, "learned");

  const std::string file = kvtest::ReadFile(dir.file());
  EXPECT_NE(std::string::npos, file.find("<KM5120>\r\n<ServerName>KM5120</ServerName>"));

  DeviceFields second("KM5120-V1.0.2", "", dev);
  ASSERT_EQ(0, ModelCatalog_ResolveDevice(&second.view, CATALOG_BY_MODEL_NAME));
  EXPECT_EQ(1, SysinfoRequests(sim)) << "found in the file, the device was not asked";
  ExpectSameRecord(expected, second.param, "from the file");
  EXPECT_EQ(file, kvtest::ReadFile(dir.file()));
  EXPECT_STREQ("KM5120", second.model_name) << "the lookup cut the model name to its key";

  // A known model never reaches the catalogue or the device.
  DeviceFields known("KM3111-V1.0.2", "", dev);
  ASSERT_EQ(0, ModelCatalog_ResolveDevice(&known.view, CATALOG_BY_MODEL_NAME));
  EXPECT_STREQ("KM3111", known.server_type);
  EXPECT_EQ(1, SysinfoRequests(sim));
}

TEST(CatalogDevice, LearningFailures) {
  DataDir dir("catalog-learn-fail");
  kvtest::TestLogger logger;
  Kavrel_LogInit(logger.table());
  kvtest::Devsim sim;
  ASSERT_TRUE(sim.Start({{"KM5120"}}));
  const kvtest::DevsimDevice *dev = sim.Device("dev1");

  // The device reports another model in the first 6 characters: nothing is stored.
  DeviceFields other("KM5121-V1.0.2", "", dev);
  EXPECT_EQ(-1, ModelCatalog_ResolveDevice(&other.view, CATALOG_BY_MODEL_NAME));
  EXPECT_EQ(1, SysinfoRequests(sim));
  EXPECT_EQ("", kvtest::ReadFile(dir.file()));
  EXPECT_TRUE(logger.Has("Morvane_GetParamForServer (KM5121-V1.0.2) error: FFFFFFFF\n"));

  // The fetch's status comes back unchanged.
  ASSERT_TRUE(sim.AddFault("dev1", R"({"path": "/cgi-bin/sysinfo.cgi", "status": 404, "times": 1})"));
  DeviceFields missing("KM5120-V1.0.2", "", dev);
  EXPECT_EQ((int32_t)0x80070083u, ModelCatalog_ResolveDevice(&missing.view, CATALOG_BY_MODEL_NAME));

  // Without a host the lookup's failure is the answer: no file (-1).
  DeviceFields nohost("KM5120-V1.0.2", "", nullptr);
  EXPECT_EQ(CATALOG_E_LOAD, ModelCatalog_ResolveDevice(&nohost.view, CATALOG_BY_MODEL_NAME));
  DeviceFields empty("", "", nullptr);
  EXPECT_NE(0, ModelCatalog_ResolveDevice(&empty.view, CATALOG_BY_MODEL_NAME));
  EXPECT_TRUE(logger.Has("Morvane_GetParamForServer (NULL) error: FFFFFFFF\n"));
  Kavrel_LogInit(nullptr);
}

TEST(CatalogDevice, ResolveByServerType) {
  struct Case {
    const char *server_type;
    int32_t result;
    const char *model_after, *type_after, *record_name;
  } cases[] = {
      {"KM3111", 0, "", "KM3111", "KM3111"},
      {"RQ48x3", 0, "", "RQ48x3", "RQ48x3"},
      // Mapped: the server type moves to the model name, its mapping becomes the type.
      {"KM5120", 0, "KM5120", "KM4130", "KM4130"},
      {"XX0000", -1, "", "XX0000", ""},
  };
  for (const Case &c : cases) {
    DeviceFields d("", c.server_type, nullptr);
    EXPECT_EQ(c.result, ModelCatalog_ResolveDevice(&d.view, CATALOG_BY_SERVER_TYPE)) << c.server_type;
    EXPECT_STREQ(c.model_after, d.model_name) << c.server_type;
    EXPECT_STREQ(c.type_after, d.server_type) << c.server_type;
    EXPECT_STREQ(c.record_name, d.param.ServerName) << c.server_type;
    if (strcmp(c.server_type, "KM5120") == 0) {
      EXPECT_EQ(d.server_type, d.series) << "the second query gave 0: the type names the series";
    }
  }
}
