// No log record shows a secret: commands that carry the device's credentials or a new
// password fail against devices that answer 500 or refuse the login, with a logger that keeps
// every record; the records still show the requests' paths.
#include <string.h>

#include <string>
#include <vector>

#include "control_fixture.h"
#include "test_logger.h"

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
  kvtest::TestLogger logger_;
};

TEST_F(Secrets, NoRecordShowsAPasswordOrCredentials) {
  const std::vector<std::string> secrets = {"N3wSecret1", "S3condSecret", "Wr0ngPassw0rd",
                                            "Fpass9Value"};
  std::vector<std::string> hidden = secrets;
  for (const std::string &s : secrets) hidden.push_back(Base64("root:" + s));
  hidden.push_back(Base64("root:pass"));  // the devices' own credentials

  CallbackLog log;
  DeviceHandle newer = Open("pw_new", "KM7150");
  DeviceHandle series3 = Open("pw_s3", "KM3111");
  DeviceHandle older = Open("pw_old", "KM2101", &log);
  DeviceHandle generic = Open("km4130", "KM4130");
  DeviceHandle refused = Open("km2401", "KM2401", nullptr, "Wr0ngPassw0rd");
  for (const char *name : {"pw_new", "pw_s3", "pw_old", "km4130"}) {
    ASSERT_TRUE(sim_->AddFault(name, R"({"status": 500})"));
  }

  // Each generation's password setting, synchronously and asynchronously.
  SetParamRequest first = NewPassword("N3wSecret1"), second = NewPassword("S3condSecret");
  EXPECT_EQ(Kavrel_SetParam(newer, &first, 0), KAVREL_T_E_HTTP);
  EXPECT_EQ(Kavrel_SetParam(series3, &second, 0), KAVREL_T_E_HTTP);
  size_t before = log.Calls().size();
  ASSERT_EQ(Kavrel_SetParam(older, &first, 1), 0u);
  ASSERT_EQ(log.WaitFor(before + 1).size(), before + 1);
  // A generic request with a password field, and commands refused for their credentials.
  EXPECT_EQ(Kavrel_HttpOperation(generic, "/cgi-bin/admin/ftp.cgi?ftppass1=Fpass9Value&ftpuser1=u", 0, 0),
            KAVREL_T_E_HTTP);
  uint32_t levels[4];
  EXPECT_EQ(Kavrel_GetDIStatus(refused, &levels[0], &levels[1], &levels[2], &levels[3], 0),
            KAVREL_T_E_UNAUTHORIZED);
  EXPECT_EQ(Kavrel_SendPTZCommand(refused, 1, 211, "door", 0), KAVREL_T_E_UNAUTHORIZED);

  auto records = logger_.records();
  ASSERT_FALSE(records.empty());
  for (const auto &r : records) {
    for (const std::string &h : hidden) {
      EXPECT_EQ(r.message.find(h), std::string::npos) << h << " in: " << r.message;
    }
  }
  // The masked requests still show where they went.
  EXPECT_TRUE(logger_.Has("HttpCommandToServer (/cgi-bin/admin/setparam.cgi?System_hostname=cam9&"
                          "Security_userpass_0=***) failed: 8007007B\n"));
  EXPECT_TRUE(logger_.Has("HttpCommandToServer (/setup/system.cgi?host=cam9) failed: 8007007B\n"));
  EXPECT_TRUE(logger_.Has("HttpCommandToServer (/cgi-bin/admin/ftp.cgi?ftppass1=***&ftpuser1=u) "
                          "failed: 8007007B\n"));
}

}  // namespace
