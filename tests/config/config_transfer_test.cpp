// The whole-configuration transfer and the device binding against the simulator: every way
// a device serves its configuration, synchronously and asynchronously, the order of the
// attempts in the request log, the round trip, and the failures that must keep the local file.
#include "transfer_fixture.h"

namespace {

using namespace transfer_test;

// Each way of serving the configuration, fetched by Kavrel_SetDeviceProperty synchronously
// and asynchronously (operation 100) and by Kavrel_UpdateLocalConfig asynchronously (101).
TEST_F(ConfigTransfer, EachSourceInOrderSyncAndAsync) {
  struct Case {
    const char *name;
    bool port_given;  // the host gives the device's FTP port; else 0
    std::vector<std::string> attempts;
  };
  const std::string cgi404 = std::string(kCgi) + " 404", para404 = std::string(kParafile) + " 404";
  const std::vector<Case> cases = {
      {"cgi", false, {std::string(kCgi) + " 200"}},
      {"area", false, {cgi404, std::string(kParafile) + " 200"}},
      {"net", false,
       {cgi404, para404, std::string(kNetwork) + " 200", "USER root", "RETR config.ini"}},
      {"mail", false,
       {cgi404, para404, std::string(kNetwork) + " 404", std::string(kMailFtp) + " 200",
        "USER root", "RETR config.ini"}},
      {"mail", true, {cgi404, para404, "USER root", "RETR config.ini"}},
  };
  bool port21_free = !PortOpen(21);
  for (const Case &c : cases) {
    if (!c.port_given && !port21_free && c.attempts.size() > 2) {
      ADD_FAILURE() << "something listens on 127.0.0.1:21; the port search cannot be shown";
      continue;
    }
    for (int mode = 0; mode < 3; ++mode) {  // 0 sync, 1 async property, 2 async local update
      SCOPED_TRACE(std::string(c.name) + (c.port_given ? " port given" : "") + " mode " +
                   std::to_string(mode));
      DeviceHandle d = Create();
      KavrelDeviceProperty p = Property(c.name, c.port_given ? DevicePort(c.name) : 0);
      size_t before = callbacks_.Count();
      int mark = Mark();
      if (mode == 2) {
        ASSERT_EQ(Kavrel_SetDeviceProperty(d, &p, 0), 0u);
        d->ftp_port = p.ftp_port;  // forget the port the first fetch learned
        mark = Mark();
        ASSERT_EQ(Kavrel_UpdateLocalConfig(d, 1), 0u);
        EXPECT_EQ(callbacks_.Next(before), std::make_pair(101u, 0u));
      } else {
        ASSERT_EQ(Kavrel_SetDeviceProperty(d, &p, mode), 0u);
        if (mode == 1) {
          EXPECT_EQ(callbacks_.Next(before), std::make_pair(100u, 0u));
        }
      }
      EXPECT_EQ(Attempts(c.name, mark), c.attempts);
      // Stored in the platform's text form, whatever line ends the device sent.
      EXPECT_EQ(Local(d), kvtest::TextForm(WithoutCr(DeviceConfig(c.name))));
      EXPECT_EQ(d->ftp_port, DevicePort(c.name));  // learned from the page or the file
    }
  }
}

// A value changed on the host reaches the device with CR LF line ends, over the FTP port
// the fetch learned from network.html; and it reads back through a new fetch.
TEST_F(ConfigTransfer, RoundTripSyncAndAsync) {
  const std::string original = DeviceConfig("net");
  if (PortOpen(21)) GTEST_SKIP() << "something listens on 127.0.0.1:21";
  DeviceHandle d = Described("net", 0);
  ASSERT_EQ(Kavrel_SetSysInfo(d, "roundtrip-1", "SYSTEM", "host name", -1), 0u);
  int mark = Mark();
  ASSERT_EQ(Kavrel_UpdateRemoteConfig(d, 0), 0u);
  EXPECT_EQ(Attempts("net", mark), (std::vector<std::string>{"USER root", "STOR config.ini"}));
  std::string stored = DeviceConfig("net");
  EXPECT_NE(stored.find("\r\n<host name>\r\nroundtrip-1\r\n"), std::string::npos) << stored;
  EXPECT_TRUE(AllLineEndsCrLf(stored)) << stored;

  ASSERT_EQ(Kavrel_SetSysInfo(d, "roundtrip-2", "SYSTEM", "host name", -1), 0u);
  ASSERT_EQ(Kavrel_UpdateRemoteConfig(d, 1), 0u);
  EXPECT_EQ(callbacks_.Next(0), std::make_pair(102u, 0u));
  stored = DeviceConfig("net");
  EXPECT_NE(stored.find("\r\nroundtrip-2\r\n"), std::string::npos) << stored;
  EXPECT_TRUE(AllLineEndsCrLf(stored));

  ASSERT_EQ(Kavrel_UpdateLocalConfig(d, 0), 0u);
  char value[KAVREL_VALUE_MAX];
  ASSERT_EQ(Kavrel_GetSysInfo(d, value, "SYSTEM", "host name", -1), 0u);
  EXPECT_STREQ(value, "roundtrip-2");
  ASSERT_TRUE(kvtest::WriteFile(sim_->Device("net")->config_path, original));
}

// A configuration that fills the buffer, a body cut off, and a RETR cut off all fail and
// keep the previous local file whole.
TEST_F(ConfigTransfer, CutOrOversizedFetchKeepsThePreviousFile) {
  DeviceHandle cgi = Described("cgi", 0);
  DeviceHandle mail = Described("mail", DevicePort("mail"));
  const std::string kept_cgi = Local(cgi), kept_mail = Local(mail);
  ASSERT_FALSE(kept_cgi.empty());
  struct Case {
    DeviceHandle device;
    const char *name;
    std::string fault;
    uint32_t sync_rc;  // 0: any failure
    uint32_t async_status;
    const std::string *kept;
  } cases[] = {
      {cgi, "cgi", R"({"path": "/cgi-bin/admin/configfile.cgi", "oversize": 30000})",
       KAVREL_E_CONFIG_CUT, 205, &kept_cgi},
      {cgi, "cgi", R"({"path": "/cgi-bin/admin/configfile.cgi", "close_after": 20})", 0, 202,
       &kept_cgi},
      {mail, "mail", R"({"ftp": "close_data", "close_after": 5})", 0, 205, &kept_mail},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(sim_->AddFault(c.name, c.fault));
    uint32_t rc = Kavrel_UpdateLocalConfig(c.device, 0);
    if (c.sync_rc) {
      EXPECT_EQ(rc, c.sync_rc);
    } else {
      EXPECT_NE(rc, 0u);
      EXPECT_EQ(rc & 0x80000000u, 0x80000000u) << std::hex << rc;
    }
    EXPECT_EQ(Local(c.device), *c.kept);
    size_t before = callbacks_.Count();
    ASSERT_EQ(Kavrel_UpdateLocalConfig(c.device, 1), 0u);
    EXPECT_EQ(callbacks_.Next(before), std::make_pair(101u, c.async_status));
    EXPECT_EQ(Local(c.device), *c.kept);
    ASSERT_TRUE(sim_->ClearFaults(c.name));
  }
  // No temporary file is left beside the configuration.
  for (DeviceHandle d : {cgi, mail}) {
    EXPECT_EQ(FilesIn(d->directory), 1u) << d->directory;
  }
}

// An upload that cannot reach the device's FTP keeps the local file; a refused STOR is a
// failure in both modes.
TEST_F(ConfigTransfer, FailedUploadKeepsTheLocalFile) {
  DeviceHandle d = Described("cgi", 0);
  ASSERT_EQ(Kavrel_SetSysInfo(d, "unsent", "system", "hostname", -1), 0u);
  const std::string local = WithoutCr(Local(d));
  const std::string device_config = DeviceConfig("cgi");
  uint32_t learned = d->ftp_port;
  d->ftp_port = static_cast<uint32_t>(ClosedPort());
  EXPECT_EQ(Kavrel_UpdateRemoteConfig(d, 0), KAVREL_T_E_CONNECT);
  EXPECT_EQ(WithoutCr(Local(d)), local);
  ASSERT_EQ(Kavrel_UpdateRemoteConfig(d, 1), 0u);
  EXPECT_EQ(callbacks_.Next(0), std::make_pair(102u, 200u));
  EXPECT_EQ(WithoutCr(Local(d)), local);

  d->ftp_port = learned;
  ASSERT_TRUE(sim_->AddFault("cgi", R"({"ftp": "refuse_stor"})"));
  EXPECT_EQ(Kavrel_UpdateRemoteConfig(d, 0), KAVREL_T_E_TRANSFER);
  ASSERT_EQ(Kavrel_UpdateRemoteConfig(d, 1), 0u);
  EXPECT_EQ(callbacks_.Next(1), std::make_pair(102u, 200u));
  EXPECT_EQ(DeviceConfig("cgi"), device_config);
  EXPECT_EQ(WithoutCr(Local(d)), local);

  ASSERT_TRUE(sim_->ClearFaults("cgi"));
  ASSERT_TRUE(sim_->AddFault("cgi", R"({"ftp": "refuse_login", "times": 1})"));
  EXPECT_EQ(Kavrel_UpdateRemoteConfig(d, 0), KAVREL_E_FTP_AUTH);
  EXPECT_TRUE(logger_.Has("ConnectToServerByFtp auth error\n"));
}

// A missing local file is reported before any connection.
TEST_F(ConfigTransfer, UploadWithoutLocalFile) {
  DeviceHandle d = Create();
  EXPECT_EQ(Kavrel_UpdateRemoteConfig(d, 0), KAVREL_E_FILE);
  EXPECT_EQ(Kavrel_UpdateRemoteConfig(d, 1), KAVREL_E_FILE);
  EXPECT_EQ(callbacks_.Count(), 0u);
}

TEST_F(ConfigTransfer, ModelOfAnUnknownModelIsLearnedIntoTheCatalogue) {
  DeviceHandle d = Described("learn", 0);
  char model[KAVREL_MODEL_MAX];
  ASSERT_EQ(Kavrel_GetDeviceModel(d, model), 0u);
  EXPECT_STREQ(model, "KM5120-V1.0.2");
  int mark = Mark();
  ASSERT_EQ(Kavrel_OpenDevice(d, model), 0u);
  EXPECT_EQ(Attempts("learn", mark), std::vector<std::string>{"/cgi-bin/sysinfo.cgi 200"});
  std::string catalogue = kvtest::ReadFile(*data_dir_ + "/Data.xml");
  EXPECT_NE(catalogue.find("<KM5120>"), std::string::npos) << catalogue;
  EXPECT_STREQ(d->param.ServerName, "KM5120");
  EXPECT_EQ(d->param.CamNum, 1);
  // Known now: a second device of the model is bound without asking it.
  DeviceHandle again = Described("learn", 0);
  mark = Mark();
  ASSERT_EQ(Kavrel_OpenDevice(again, model), 0u);
  EXPECT_TRUE(Attempts("learn", mark).empty());
}

// Learning a model asks the device: a device that fails the question is not an unknown
// model, and the host gets the fetch's own code.
TEST_F(ConfigTransfer, OpenTellsAFailedLearningFromAnUnknownModel) {
  DeviceHandle d = Described("learn", 0);
  char model[KAVREL_MODEL_MAX];
  ASSERT_EQ(Kavrel_GetDeviceModel(d, model), 0u);
  ASSERT_TRUE(sim_->AddFault("learn", R"({"path": "/cgi-bin/sysinfo.cgi", "status": 500, "times": 1})"));
  EXPECT_EQ(Kavrel_OpenDevice(d, model), KAVREL_T_E_HTTP);

  // A version that neither the model library, the catalogue nor the device's own system
  // information names.
  ASSERT_EQ(kvtest::WriteFile(d->config_path, "[SYSTEM]\n<software version>\nZX9999-V1.0\n"), true);
  ASSERT_EQ(Kavrel_GetDeviceModel(d, model), 0u);
  EXPECT_EQ(Kavrel_OpenDevice(d, model), KAVREL_E_UNKNOWN_DEVICE);
}

TEST_F(ConfigTransfer, ModelChecks) {
  // Only level 0 reads the model.
  DeviceHandle http = Create();
  KavrelDeviceProperty p = Property("area", 0);
  ASSERT_EQ(Kavrel_SetDevicePropertyHttp(http, &p), 0u);
  char model[KAVREL_MODEL_MAX] = "untouched";
  EXPECT_EQ(Kavrel_GetDeviceModel(http, model), KAVREL_E_NOT_AVAILABLE);
  EXPECT_TRUE(logger_.Has("Oper not available: 0, 9999, 2\n"));
  EXPECT_STREQ(model, "untouched");

  // A difference in case only is another model; the options are set either way.
  DeviceHandle area = Described("area", 0);
  ASSERT_EQ(Kavrel_SetExtraOptions(area, KAVREL_OPTION_RETURN_WAIT, 5), 0u);
  ASSERT_EQ(Kavrel_SetExtraOptions(area, KAVREL_OPTION_RESET_AFTER_UPGRADE, 0), 0u);
  ASSERT_EQ(Kavrel_GetDeviceModel(area, model), 0u);
  EXPECT_STREQ(model, "KM3111-V1.0.2");
  EXPECT_EQ(Kavrel_OpenDevice(area, "km3111-v1.0.2"), KAVREL_E_UNKNOWN_DEVICE);
  EXPECT_TRUE(logger_.Has("unknown server: KM3111-V1.0.2\n"));
  EXPECT_EQ(area->return_wait_s, 60u);
  EXPECT_EQ(area->reset_after_upgrade, 1u);
  EXPECT_EQ(Kavrel_OpenDevice(area, model), 0u);

  // Series 4 and up name only "firmwareversion".
  DeviceHandle cgi = Described("cgi", 0);
  ASSERT_EQ(Kavrel_GetDeviceModel(cgi, model), 0u);
  EXPECT_STREQ(model, "KM4130-V1.0.2");
  EXPECT_EQ(Kavrel_OpenDevice(cgi, model), 0u);

  // Neither key: the lookup's code.
  ASSERT_EQ(kvtest::WriteFile(cgi->config_path, "[system]\n<hostname>\ncam\n"), true);
  EXPECT_EQ(Kavrel_GetDeviceModel(cgi, model), KAVREL_E_CATALOG);
  EXPECT_TRUE(logger_.Has("Could not find software version or firmwareversion\n"));
}

// Flash-all is a series-7 option: accepted once the opened device is known to be one.
TEST_F(ConfigTransfer, FlashAllOnAnOpenedSeriesSevenDevice) {
  DeviceHandle d = Described("seven", 0);
  char model[KAVREL_MODEL_MAX];
  ASSERT_EQ(Kavrel_GetDeviceModel(d, model), 0u);
  EXPECT_EQ(Kavrel_SetExtraOptions(d, KAVREL_OPTION_FLASH_ALL, 1), KAVREL_E_INVALIDARG);
  ASSERT_EQ(Kavrel_OpenDevice(d, model), 0u);
  EXPECT_EQ(Kavrel_SetExtraOptions(d, KAVREL_OPTION_FLASH_ALL, 1), 0u);
  EXPECT_EQ(d->flash_all, 1u);
}

TEST_F(ConfigTransfer, SecondPropertyWhileAFetchRuns) {
  ASSERT_TRUE(sim_->AddFault("cgi", R"({"path": "/cgi-bin/admin/configfile.cgi", "delay_ms": 800, "times": 1})"));
  DeviceHandle d = Create();
  KavrelDeviceProperty p = Property("cgi", 0);
  ASSERT_EQ(Kavrel_SetDeviceProperty(d, &p, 1), 0u);
  EXPECT_EQ(Kavrel_SetDeviceProperty(d, &p, 1), KAVREL_E_BUSY);
  EXPECT_TRUE(logger_.Has("Too many async\n"));
  EXPECT_EQ(Kavrel_UpdateLocalConfig(d, 0), KAVREL_E_BUSY);
  EXPECT_EQ(callbacks_.Next(0), std::make_pair(100u, 0u));
  EXPECT_EQ(Kavrel_SetDeviceProperty(d, &p, 0), 0u);
}

// Pages that end or lack things in ways the fetch must take as a device does: a body that
// ends with the connection and declares no length is whole; a text area without its
// "readonly>" and a network page without the port field are passed over for the next source.
TEST_F(ConfigTransfer, BodiesWithoutLengthAndPagesWithoutTheirMarkers) {
  const std::string cgi404 = std::string(kCgi) + " 404", para404 = std::string(kParafile) + " 404";
  struct Case {
    const char *name;
    const char *fault;
    bool port_given;
    uint32_t rc;
    std::vector<std::string> attempts;
  };
  const std::vector<Case> cases = {
      {"cgi", R"({"path": "/cgi-bin/admin/configfile.cgi", "no_length": 1})", false, 0,
       {std::string(kCgi) + " 200"}},
      {"area", R"({"path": "/setup/parafile.html", "remove": "readonly"})", true, 0,
       {cgi404, std::string(kParafile) + " 200", "USER root", "RETR config.ini"}},
      {"net", R"({"path": "/setup/network.html", "remove": "name=\"ftpport\""})", false,
       KAVREL_E_UNKNOWN_DEVICE,
       {cgi404, para404, std::string(kNetwork) + " 200", std::string(kMailFtp) + " 404"}},
  };
  for (const Case &c : cases) {
    if (!c.port_given && c.rc != 0 && PortOpen(21)) {
      ADD_FAILURE() << "something listens on 127.0.0.1:21; the port search cannot be shown";
      continue;
    }
    ASSERT_TRUE(sim_->AddFault(c.name, c.fault));
    for (int async = 0; async < 2; ++async) {
      SCOPED_TRACE(std::string(c.name) + (async ? " async" : " sync"));
      DeviceHandle d = Create();
      KavrelDeviceProperty p = Property(c.name, c.port_given ? DevicePort(c.name) : 0);
      size_t before = callbacks_.Count();
      int mark = Mark();
      if (async) {
        ASSERT_EQ(Kavrel_SetDeviceProperty(d, &p, 1), 0u);
        EXPECT_EQ(callbacks_.Next(before), std::make_pair(100u, c.rc ? 200u : 0u));
      } else {
        EXPECT_EQ(Kavrel_SetDeviceProperty(d, &p, 0), c.rc);
      }
      EXPECT_EQ(Attempts(c.name, mark), c.attempts);
      EXPECT_EQ(Local(d), c.rc ? std::string() : kvtest::TextForm(WithoutCr(DeviceConfig(c.name))));
    }
    ASSERT_TRUE(sim_->ClearFaults(c.name));
  }
}

// The device's secrets are its owner's alone: the private directory, and on POSIX the local
// configuration in it after a fetch, a value written and a second fetch (0700 and 0600). On
// Windows the directory's access list keeps everyone else out of what is inside; Wine reports
// a file's access from its Unix mode, so the files are not checked there.
TEST_F(ConfigTransfer, PrivateDirectoryAndFileAreTheOwnersAlone) {
  DeviceHandle d = Described("cgi", 0);
  std::string why;
  EXPECT_TRUE(kvtest::OnlyOwnerMayAccess(d->directory, &why)) << why;
  if (kvtest::BuiltForWindows()) return;
  EXPECT_TRUE(kvtest::OnlyOwnerMayAccess(d->config_path, &why)) << why;
  ASSERT_EQ(Kavrel_SetSysInfo(d, "lobby", "system", "hostname", -1), 0u);
  EXPECT_TRUE(kvtest::OnlyOwnerMayAccess(d->config_path, &why)) << why;
  ASSERT_EQ(Kavrel_UpdateLocalConfig(d, 0), 0u);
  EXPECT_TRUE(kvtest::OnlyOwnerMayAccess(d->config_path, &why)) << why;
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(d->directory).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(d->config_path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

// The failures of the fetch that end it rather than moving on.
TEST_F(ConfigTransfer, FailuresThatEndTheFetch) {
  DeviceHandle d = Described("cgi", 0);
  const std::string kept = Local(d);
  ASSERT_TRUE(sim_->AddFault("cgi", R"({"path": "/cgi-bin/admin/configfile.cgi", "status": 500})"));
  int mark = Mark();
  EXPECT_EQ(Kavrel_UpdateLocalConfig(d, 0), KAVREL_T_E_HTTP);
  EXPECT_EQ(Attempts("cgi", mark), std::vector<std::string>{std::string(kCgi) + " 500"});
  ASSERT_EQ(Kavrel_UpdateLocalConfig(d, 1), 0u);
  EXPECT_EQ(callbacks_.Next(0), std::make_pair(101u, 200u));
  EXPECT_EQ(Local(d), kept);

  // Wrong credentials: refused, 201.
  DeviceHandle wrong = Create();
  KavrelDeviceProperty p = Property("area", 0);
  p.password = "wrong";
  EXPECT_EQ(Kavrel_SetDeviceProperty(wrong, &p, 0), KAVREL_T_E_UNAUTHORIZED);
  ASSERT_EQ(Kavrel_SetDeviceProperty(wrong, &p, 1), 0u);
  EXPECT_EQ(callbacks_.Next(1), std::make_pair(100u, 201u));

  // An FTP-only device whose port cannot be found.
  if (!PortOpen(21)) {
    ASSERT_TRUE(sim_->AddFault("net", R"({"path": "/setup/network.html", "status": 404})"));
    DeviceHandle net = Create();
    KavrelDeviceProperty q = Property("net", 0);
    EXPECT_EQ(Kavrel_SetDeviceProperty(net, &q, 0), KAVREL_E_UNKNOWN_DEVICE);
    EXPECT_TRUE(logger_.Has("unknown server\n"));
    ASSERT_EQ(Kavrel_SetDeviceProperty(net, &q, 1), 0u);
    EXPECT_EQ(callbacks_.Next(2), std::make_pair(100u, 200u));
  }
}

}  // namespace
