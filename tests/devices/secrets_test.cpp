// No log record shows a secret: commands that carry the device's credentials, a new password
// or a proxy's credentials fail against devices that answer 500, refuse the login or refuse
// the FTP login, synchronously and asynchronously, with a logger that keeps every record; the
// records still show the requests' paths.
#include <string.h>

#include <string>
#include <vector>

#include "control_fixture.h"
#include "firm_package_writer.h"
#include "test_logger.h"
#include "tinyproxy_fixture.h"

namespace {

using kvtest::CallbackLog;
using kvtest::ControlTest;

std::string Base64(const std::string &text) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < text.size(); i += 3) {
    uint32_t n = (uint8_t)text[i] << 16 | (uint8_t)text[i + 1] << 8 | (uint8_t)text[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += digits[(n >> s) & 63];
  }
  if (i + 1 == text.size()) {
    uint32_t n = (uint8_t)text[i] << 16;
    out += std::string{digits[(n >> 18) & 63], digits[(n >> 12) & 63], '=', '='};
  } else if (i + 2 == text.size()) {
    uint32_t n = (uint8_t)text[i] << 16 | (uint8_t)text[i + 1] << 8;
    out += std::string{digits[(n >> 18) & 63], digits[(n >> 12) & 63], digits[(n >> 6) & 63], '='};
  }
  return out;
}

SetParamRequest NewPassword(const char *password) {
  SetParamRequest r{};
  r.set_host_name = 1;
  snprintf(r.host_name, sizeof(r.host_name), "%s", "cam9");
  r.set_password = 1;
  snprintf(r.password, sizeof(r.password), "%s", password);
  return r;
}

class Secrets : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    Kavrel_LogInit(logger_.table());
  }
  void TearDown() override {
    ControlTest::TearDown();
    Kavrel_LogInit(nullptr);
    for (const auto &d : Devices()) sim_->ClearFaults(d.name);
  }
  // A device whose requests go through `proxy` with the proxy's own credentials.
  DeviceHandle OpenBehindProxy(const std::string &name, const char *type,
                               const KavrelProxyInfo &proxy) {
    DeviceHandle d = nullptr;
    EXPECT_EQ(Kavrel_CreateDevice(handle_, &d), 0u);
    if (!d) return d;
    devices_.push_back(d);
    EXPECT_EQ(Kavrel_SetExtraOptions(d, KAVREL_OPTION_PROXY, reinterpret_cast<uintptr_t>(&proxy)),
              0u);
    KavrelDeviceProperty p{};
    p.address = "127.0.0.1";
    p.user = "root";
    p.password = "pass";
    p.server_type = type;
    p.http_port = sim_->Device(name)->http_port;
    p.timeout_ms = 10000;
    EXPECT_EQ(Kavrel_SetDevicePropertyLite(d, &p), 0u);
    return d;
  }
  // A plain firmware image for `model` in the test's folder.
  static std::string FirmwareImage(const std::string &model) {
    std::string payload(64, 'f');
    std::string token = std::string(1, '\0') + model + "-V200-0A1B" + std::string(1, '\0');
    payload.replace(8, token.size(), token);
    std::string path = kvtest::MakeTempDir("secrets") + "/firmware.bin";
    EXPECT_TRUE(kvtest::WriteFile(path, kvtest::FirmPlainImage(payload)));
    return path;
  }
  // No record holds any of `hidden`.
  void ExpectHiddenFromEveryRecord(const std::vector<std::string> &hidden) {
    auto records = logger_.records();
    ASSERT_FALSE(records.empty());
    for (const auto &r : records) {
      for (const std::string &h : hidden) {
        EXPECT_EQ(r.message.find(h), std::string::npos) << h << " in: " << r.message;
      }
    }
  }
  kvtest::TestLogger logger_;
};

TEST_F(Secrets, NoRecordShowsAPasswordOrCredentials) {
  const std::vector<std::string> secrets = {"N3wSecret1", "S3condSecret", "Wr0ngPassw0rd",
                                            "Fpass9Value"};
  std::vector<std::string> hidden = secrets;
  for (const std::string &s : secrets) hidden.push_back(Base64("root:" + s));
  hidden.push_back(Base64("root:pass"));  // the devices' own credentials

  // Every path of these devices answers 500, except the older generations' password pages
  // alone, so that their first request passes and the second, with the password, fails.
  for (const char *name : {"pw_new", "km4130", "rz3120"}) {
    ASSERT_TRUE(sim_->AddFault(name, R"({"status": 500})"));
  }
  ASSERT_TRUE(sim_->AddFault("pw_s3", R"({"path": "/setup/security.cgi", "status": 500})"));
  ASSERT_TRUE(sim_->AddFault("pw_old", R"({"path": "/cgi-bin/security.cgi", "status": 500})"));
  ASSERT_TRUE(sim_->AddFault("qb3101", R"({"ftp": "refuse_login"})"));
  CallbackLog log;
  DeviceHandle newer = Open("pw_new", "KM7150", &log);
  DeviceHandle series3 = Open("pw_s3", "KM3111", &log);
  DeviceHandle older = Open("pw_old", "KM2101", &log);
  DeviceHandle generic = Open("km4130", "KM4130", &log);
  DeviceHandle camera = Open("rz3120", "RZ3120");
  DeviceHandle refused = Open("km2401", "KM2401", nullptr, "Wr0ngPassw0rd");
  DeviceHandle ftp = OpenWithConfig("qb3101", "QB3101");
  ftp->ftp_port = sim_->Device("qb3101")->ftp_port;

  // Each generation's password setting, synchronously and asynchronously.
  SetParamRequest first = NewPassword("N3wSecret1"), second = NewPassword("S3condSecret");
  for (DeviceHandle d : {newer, series3, older}) {
    EXPECT_EQ(Kavrel_SetParam(d, &first, 0), KAVREL_T_E_HTTP);
    ASSERT_EQ(Kavrel_SetParam(d, &second, 1), 0u);
  }
  // A generic request with a password field; inputs and PTZ refused by the device or failing
  // there.
  const char *ftp_cgi = "/cgi-bin/admin/ftp.cgi?ftppass1=Fpass9Value&ftpuser1=u";
  EXPECT_EQ(Kavrel_HttpOperation(generic, ftp_cgi, 0, 0), KAVREL_T_E_HTTP);
  ASSERT_EQ(Kavrel_HttpOperation(generic, ftp_cgi, 0, 1), 0u);
  uint32_t levels[4];
  for (DeviceHandle d : {camera, refused}) {
    uint32_t rc = d == camera ? KAVREL_T_E_HTTP : KAVREL_T_E_UNAUTHORIZED;
    EXPECT_EQ(Kavrel_GetDIStatus(d, &levels[0], &levels[1], &levels[2], &levels[3], 0), rc);
    EXPECT_EQ(Kavrel_SendPTZCommand(d, 1, 211, "door", 0), rc);
  }
  // The configuration fetch and an upgrade's first step, both refused at the FTP login.
  EXPECT_EQ(Kavrel_UpdateLocalConfig(ftp, 0), KAVREL_E_FTP_AUTH);
  UpgradeRequest upgrade{};
  snprintf(upgrade.path, sizeof(upgrade.path), "%s", FirmwareImage("QB3101").c_str());
  EXPECT_EQ(Kavrel_Upgrade(ftp, &upgrade), KAVREL_NC_E_AUTH);
  EXPECT_EQ(log.WaitFor(4).size(), 4u);  // the asynchronous calls' ends

  ExpectHiddenFromEveryRecord(hidden);
  // The masked requests still show where they went.
  for (const char *message :
       {"HttpCommandToServer (/cgi-bin/admin/setparam.cgi?System_hostname=cam9&"
        "Security_userpass_0=***) failed: 8007007B\n",
        "HttpCommandToServer (/setup/security.cgi?rootpass=***) failed: 8007007B\n",
        "HttpCommandToServer (/cgi-bin/security.cgi?rootpass=***) failed: 8007007B\n",
        "HttpCommandToServer (/cgi-bin/admin/ftp.cgi?ftppass1=***&ftpuser1=u) failed: 8007007B\n",
        "ConnectToServerByFtp auth error\n"}) {
    EXPECT_TRUE(logger_.Has(message)) << message;
  }
}

// The proxy's credentials go with every request through it, and the request is logged when
// the device behind the proxy fails it.
TEST_F(Secrets, NoRecordShowsTheProxysCredentials) {
  kvtest::Tinyproxy proxy;
  ASSERT_TRUE(proxy.Start("puser", "Pr0xySecret"));
  ASSERT_TRUE(sim_->AddFault("km4130", R"({"status": 500})"));
  DeviceHandle proxied =
      OpenBehindProxy("km4130", "KM4130", {"127.0.0.1", "puser", "Pr0xySecret", proxy.port()});
  const char *request = "/cgi-bin/admin/setparam.cgi?Security_userpass_0=N3wSecret1";
  EXPECT_EQ(Kavrel_HttpOperation(proxied, request, 0, 0), KAVREL_T_E_HTTP);
  EXPECT_NE(proxy.Log().find("/cgi-bin/admin/setparam.cgi"), std::string::npos) << proxy.Log();
  ExpectHiddenFromEveryRecord({"Pr0xySecret", Base64("puser:Pr0xySecret"), "N3wSecret1",
                               Base64("root:pass")});
  EXPECT_TRUE(logger_.Has("HttpCommandToServer (/cgi-bin/admin/setparam.cgi?"
                          "Security_userpass_0=***) failed: 8007007B\n"));
}

}  // namespace
