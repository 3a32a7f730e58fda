// Withdrawing a configuration transfer at each of its steps, and deleting the device in the
// middle of one: one end each time (0x80070043 to a waiting caller, one callback with 206),
// every connection released, and the device usable again. Run under ASan and TSan.
#include <atomic>
#include <thread>

#include "transfer_fixture.h"

namespace {

using namespace transfer_test;

class ConfigAbort : public ConfigTransfer {
 protected:
  // True once the device's request log shows `what` ("http PATH" or "ftp COMMAND") since
  // `mark`.
  bool Reached(const std::string &name, int mark, const std::string &what) {
    for (const kvtest::DevsimLogEntry &e : sim_->Log(mark, name)) {
      if (e.proto + " " + (e.proto == "http" ? e.path : e.method) == what) return true;
    }
    return false;
  }
  bool WaitReached(const std::string &name, int mark, const std::string &what) {
    return kvtest::WaitUntil([&] { return Reached(name, mark, what); }, kBoundMs);
  }
};

struct Stage {
  const char *what;
  const char *device;
  bool upload;
  const char *fault;
  const char *reached;
};

const Stage kStages[] = {
    {"CGI request", "cgi", false,
     R"({"path": "/cgi-bin/admin/configfile.cgi", "no_answer": true})",
     "http /cgi-bin/admin/configfile.cgi"},
    {"FTP login", "mail", false, R"({"ftp": "no_answer", "command": "USER"})", "ftp USER"},
    {"RETR", "mail", false, R"({"ftp": "no_answer", "command": "RETR"})", "ftp RETR"},
    {"STOR", "mail", true, R"({"ftp": "no_answer", "command": "STOR"})", "ftp STOR"},
};

uint32_t Transfer(DeviceHandle d, bool upload, int32_t async) {
  return upload ? Kavrel_UpdateRemoteConfig(d, async) : Kavrel_UpdateLocalConfig(d, async);
}

TEST_F(ConfigAbort, EachStageEndsOnce) {
  for (const Stage &s : kStages) {
    SCOPED_TRACE(s.what);
    DeviceHandle d = Described(s.device, DevicePort(s.device));
    const std::string kept = Local(d);
    ASSERT_TRUE(sim_->AddFault(s.device, s.fault));

    // Synchronous: the waiting caller gets 0x80070043.
    int mark = Mark();
    std::atomic<uint32_t> rc{0};
    std::thread caller([&] { rc = Transfer(d, s.upload, 0); });
    ASSERT_TRUE(WaitReached(s.device, mark, s.reached));
    EXPECT_EQ(Kavrel_AbortNetworkOper(d), 0u);
    caller.join();
    EXPECT_EQ(rc.load(), KAVREL_T_WITHDRAWN);

    // Asynchronous: one callback with 206.
    size_t before = callbacks_.Count();
    mark = Mark();
    ASSERT_EQ(Transfer(d, s.upload, 1), 0u);
    ASSERT_TRUE(WaitReached(s.device, mark, s.reached));
    EXPECT_EQ(Kavrel_AbortNetworkOper(d), 0u);
    EXPECT_EQ(callbacks_.Next(before), std::make_pair(s.upload ? 102u : 101u, 206u));
    OsSleep(300);
    EXPECT_EQ(callbacks_.Count(), before + 1);

    // Nothing is held: the next transfer runs.
    ASSERT_TRUE(sim_->ClearFaults(s.device));
    if (!s.upload) {
      EXPECT_EQ(WithoutCr(Local(d)), WithoutCr(kept));
    }
    EXPECT_EQ(Transfer(d, false, 0), 0u);
  }
}

TEST_F(ConfigAbort, DeleteDuringAnAsynchronousFetch) {
  for (bool property : {false, true}) {
    SCOPED_TRACE(property ? "Kavrel_SetDeviceProperty" : "Kavrel_UpdateLocalConfig");
    KavrelDeviceProperty p = Property("mail", DevicePort("mail"));
    DeviceHandle d = property ? Create() : Described("mail", p.ftp_port);
    ASSERT_TRUE(sim_->AddFault("mail", R"({"ftp": "no_answer", "command": "RETR"})"));
    size_t before = callbacks_.Count();
    int mark = Mark();
    if (property) {
      ASSERT_EQ(Kavrel_SetDeviceProperty(d, &p, 1), 0u);
    } else {
      ASSERT_EQ(Kavrel_UpdateLocalConfig(d, 1), 0u);
    }
    ASSERT_TRUE(WaitReached("mail", mark, "ftp RETR"));
    EXPECT_EQ(Kavrel_DeleteDevice(d), 0u);
    devices_.erase(devices_.end() - 1);
    EXPECT_EQ(callbacks_.Count(), before + 1);
    EXPECT_EQ(callbacks_.Next(before), std::make_pair(property ? 100u : 101u, 206u));
    OsSleep(300);
    EXPECT_EQ(callbacks_.Count(), before + 1);
    ASSERT_TRUE(sim_->ClearFaults("mail"));
  }
}

}  // namespace
