// Kavrel_SetParam against the simulator: the requests of each generation, the change the
// device shows afterwards (host name, clock, login), and the refusals, which send nothing.
#include <stdio.h>
#include <string.h>

#include <string>

#include "control_fixture.h"

namespace {

using kvtest::ControlTest;

class Params : public ControlTest {};

SetParamRequest Request(const char *host, const char *date, const char *time,
                        const char *password) {
  SetParamRequest r{};
  r.set_host_name = host != nullptr;
  r.set_password = password != nullptr;
  snprintf(r.host_name, sizeof(r.host_name), "%s", host ? host : "");
  snprintf(r.date, sizeof(r.date), "%s", date ? date : "");
  snprintf(r.time, sizeof(r.time), "%s", time ? time : "");
  snprintf(r.password, sizeof(r.password), "%s", password ? password : "");
  return r;
}

TEST_F(Params, RequestsOfEachGeneration) {
  DeviceHandle km2401 = Open("km2401", "KM2401");
  DeviceHandle rz3120 = Open("rz3120", "RZ3120");
  DeviceHandle km4130 = Open("km4130", "KM4130");
  DeviceHandle km7150 = Open("km7150", "KM7150");
  auto set = [](DeviceHandle d, SetParamRequest r) {
    return [=] { return Kavrel_SetParam(d, &r, 0); };
  };
  RunCases({
      {"km2401", set(km2401, Request(nullptr, "", "10:11:12", nullptr)), 0,
       "POST /cgi-bin/system.cgi method=menu&time=10:11:12"},
      {"km2401", set(km2401, Request(nullptr, "2026/12/10", "", nullptr)), 0,
       "POST /cgi-bin/system.cgi method=menu&date=2026/12/10"},
      {"rz3120", set(rz3120, Request("cam3", "", "01:02:03", nullptr)), 0,
       "POST /setup/system.cgi host=cam3&method=menu&time=01:02:03"},
      {"rz3120", set(rz3120, Request("cam3b", "2026/01/02", "01:02:03", nullptr)), 0,
       "POST /setup/system.cgi host=cam3b&method=menu&date=2026/01/02&time=01:02:03"},
      {"km4130", set(km4130, Request("cam4", nullptr, nullptr, nullptr)), 0,
       "POST /cgi-bin/admin/setparam.cgi System_hostname=cam4"},
      {"km7150", set(km7150, Request("cam7", "2026/12/10", "23:59:58", nullptr)), 0,
       "POST /cgi-bin/admin/setparam.cgi "
       "System_hostname=cam7&System_date=2026/12/10&System_time=23:59:58"},
  });
  // The devices show the change: host name in the system information, clock in the
  // configuration file.
  EXPECT_NE(sim_->SysinfoText("km7150").find("hostname=cam7\r\n"), std::string::npos);
  EXPECT_NE(sim_->SysinfoText("rz3120").find("hostname=cam3b\r\n"), std::string::npos);
  std::string config = kvtest::ReadFile(sim_->Device("km7150")->config_path);
  EXPECT_NE(config.find("<date>\r\n2026/12/10\r\n<time>\r\n23:59:58"), std::string::npos);
  // The new generation's page is not there on the older ones.
  EXPECT_EQ(Kavrel_HttpOperation(km2401, "/cgi-bin/admin/setparam.cgi?System_hostname=x", 1, 0),
            0x80070083u);
}

// One full request per generation, password included: the password changes the device's
// login, so each uses a device of its own and logs in again with the new password.
TEST_F(Params, FullRequestsChangeTheLogin) {
  struct {
    const char *device, *type;
    std::vector<std::string> sent;
  } cases[] = {
      {"pw_old", "KM2101",
       {"POST /cgi-bin/system.cgi host=old1&method=menu&date=2026/12/10&time=08:00:00",
        "POST /cgi-bin/security.cgi rootpass=n3w.old"}},
      {"pw_s3", "KM3111",
       {"POST /setup/system.cgi host=s31&method=menu&date=2026/12/10&time=08:00:00",
        "POST /setup/security.cgi rootpass=n3w.old"}},
      {"pw_new", "KM7150",
       {"POST /cgi-bin/admin/setparam.cgi System_hostname=new1&System_date=2026/12/10&"
        "System_time=08:00:00&Security_userpass_0=n3w.old"}},
      // A password alone on the oldest generation is one request.
      {"pw_only", "KM2101", {"POST /cgi-bin/security.cgi rootpass=n3w.old"}},
  };
  const char *hosts[] = {"old1", "s31", "new1", nullptr};
  for (size_t i = 0; i < 4; ++i) {
    DeviceHandle d = Open(cases[i].device, cases[i].type);
    SetParamRequest r = Request(hosts[i], hosts[i] ? "2026/12/10" : "",
                                hosts[i] ? "08:00:00" : "", "n3w.old");
    int mark = Mark();
    EXPECT_EQ(Kavrel_SetParam(d, &r, 0), 0u) << cases[i].device;
    EXPECT_EQ(Sent(mark, cases[i].device), cases[i].sent);
    EXPECT_EQ(Kavrel_HttpOperation(d, "/cgi-bin/sysinfo.cgi", 0, 0), 0x80070082u);
    DeviceHandle again = Open(cases[i].device, cases[i].type, nullptr, "n3w.old");
    EXPECT_EQ(Kavrel_HttpOperation(again, "/cgi-bin/sysinfo.cgi", 0, 0), 0u);
  }
}

TEST_F(Params, RefusalsSendNothing) {
  DeviceHandle d = Open("km3111", "KM3111");
  SetParamRequest unterminated_host = Request("h", "", "", nullptr);
  memset(unterminated_host.host_name, 'h', sizeof(unterminated_host.host_name));
  SetParamRequest unterminated_date = Request(nullptr, "", "", nullptr);
  memset(unterminated_date.date, '1', sizeof(unterminated_date.date));
  SetParamRequest unterminated_time = Request(nullptr, "", "", "p");
  memset(unterminated_time.time, '1', sizeof(unterminated_time.time));
  SetParamRequest unterminated_password = Request(nullptr, "", "", "p");
  memset(unterminated_password.password, 'p', sizeof(unterminated_password.password));
  // The host name field is not read when it is not set.
  SetParamRequest host_not_set = unterminated_host;
  host_not_set.set_host_name = 0;
  const SetParamRequest refused[] = {
      Request(nullptr, "", "", nullptr),  // nothing to set
      host_not_set,
      unterminated_host,
      unterminated_date,
      unterminated_time,
      unterminated_password,
      Request(nullptr, nullptr, nullptr, "a&b"),  // never set shorter
      Request(nullptr, nullptr, nullptr, "a#b"),
      Request(nullptr, nullptr, nullptr, "a b"),
      Request("h\r\nX", nullptr, nullptr, nullptr),
      Request(nullptr, "2026&x=1", nullptr, nullptr),
      Request(nullptr, nullptr, "\x7f", nullptr),
  };
  int mark = Mark();
  for (const SetParamRequest &r : refused) {
    EXPECT_EQ(Kavrel_SetParam(d, &r, 0), 0x80000003u);
    EXPECT_EQ(Kavrel_SetParam(d, &r, 1), 0x80000003u);
  }
  EXPECT_EQ(Kavrel_SetParam(d, nullptr, 0), 0x80000003u);
  EXPECT_TRUE(Sent(mark).empty());
  // The slot came back every time: a request that works still goes out.
  SetParamRequest ok = Request("km3", nullptr, nullptr, nullptr);
  EXPECT_EQ(Kavrel_SetParam(d, &ok, 0), 0u);
  EXPECT_EQ(OnlySent(mark, "km3111"), "POST /setup/system.cgi host=km3");
  // A value the device refuses is a transport failure with the device's status.
  SetParamRequest bad_date = Request(nullptr, "10-12-2026", nullptr, nullptr);
  EXPECT_EQ(Kavrel_SetParam(d, &bad_date, 0), 0x8007007Bu);
}

}  // namespace
