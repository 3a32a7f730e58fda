// Kavrel_Upgrade against the simulator: both routes (the "config.ini" route of series 3 and
// below, the setparam.cgi route of series 4 and up), packages and plain images, the edge
// cases of the procedure, and the device clean-up.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_paths.h"
#include "upgrade_fixture.h"

namespace fwtest {
namespace {

constexpr const char *kSetparam = "/cgi-bin/admin/setparam.cgi";
const std::string kRestoreLow = "[SYSTEM]\n<reset system>\nYES\n[NETWORK]\n<install enabled>\nYES\n";

// The package of the end-to-end runs: two top-level files the device has, a directory the
// device has (with files it has and lacks, nested), and a directory it lacks.
Tree PackageTree() {
  return {{"app.bin", std::string(20000, 'N')},
          {"boot.cfg", "boot=new\n"},
          {"www/index.html", "<html>new index</html>\n"},
          {"www/images/logo.gif", "GIF89a-new-logo"},
          {"www/js/app.js", std::string(9000, 'j')},
          {"tools/bin/diag", "diag-new"}};
}

std::string TopOf(const std::string &path) { return path.substr(0, path.find('/')); }

// The device's files after a whole upgrade with `package`: the package's top-level
// directories hold the package and nothing else; everything else installed stays as it was.
Tree ReplacedTree(const Tree &package) {
  Tree expected = InstalledTree();
  std::vector<std::string> package_dirs;
  for (const auto &e : package) {
    if (e.first.find('/') != std::string::npos) package_dirs.push_back(TopOf(e.first));
  }
  for (auto it = expected.begin(); it != expected.end();) {
    bool in_package_dir = it->first.find('/') != std::string::npos &&
                          std::count(package_dirs.begin(), package_dirs.end(), TopOf(it->first));
    it = in_package_dir ? expected.erase(it) : std::next(it);
  }
  for (const auto &e : package) expected[e.first] = e.second;
  return expected;
}

// The device's files after an upgrade whose clean-up removed only `removed` (step 3's paths):
// the installed files it did not remove, with the package over them.
Tree PartlyReplacedTree(const Tree &package, const std::vector<std::string> &removed) {
  Tree expected = InstalledTree();
  for (std::string gone : removed) {
    if (!gone.empty() && gone[0] == '/') gone.erase(0, 1);
    for (auto it = expected.begin(); it != expected.end();) {
      bool below = it->first == gone || it->first.rfind(gone + "/", 0) == 0;
      it = below ? expected.erase(it) : std::next(it);
    }
  }
  for (const auto &e : package) expected[e.first] = e.second;
  return expected;
}

// Phases of the procedure; the steps of one phase may interleave, the phases may not.
int PhaseOf(uint32_t step) {
  switch (step) {
    case 1: return 0;
    case 2: return 1;
    case 3: return 2;
    case 4: case 5: case 6: case 7: case 16: return 3;
    case 8: return 4;
    case 9: case 10: case 11: return 5;
    case 12: return 6;
    default: return -1;
  }
}

void ExpectStepsInOrder(Recorder &rec) {
  std::vector<uint32_t> steps = rec.numbers();
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.front(), 1u);
  EXPECT_EQ(steps.back(), 12u);
  int phase = 0;
  for (uint32_t step : steps) {
    ASSERT_GE(PhaseOf(step), phase) << "step " << step << " out of order";
    phase = PhaseOf(step);
  }
}

// Step 6 and 16 figures: every file's bytes arrive, and the bytes of all files make the total.
void ExpectSizes(Recorder &rec, uint32_t expected_total) {
  KavrelUpgradeProgress last{};
  uint32_t summed = 0;
  for (const StepRecord &r : rec.steps()) {
    if (r.step == KAVREL_UPGRADE_FILE_ENDED) {
      EXPECT_EQ(r.progress.file_sent, r.progress.file_size) << r.progress.file_name;
      summed += r.progress.file_size;
    }
    if (r.step == KAVREL_UPGRADE_SENDING || r.step == KAVREL_UPGRADE_FILE_ENDED) last = r.progress;
  }
  EXPECT_EQ(last.total_size, expected_total);
  EXPECT_EQ(last.sent, expected_total);
  EXPECT_EQ(summed, expected_total);
}

struct RouteCase {
  const char *name;
  const char *model;
  const char *extra;
  bool package;
};

void PrintTo(const RouteCase &c, std::ostream *os) { *os << c.name; }

class UpgradeRoutes : public UpgradeTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(UpgradeRoutes, EndToEnd) {
  const RouteCase &c = GetParam();
  ASSERT_TRUE(StartSim({{c.model, "dev", "", "", "", "", c.extra}}));
  DeviceHandle device = Bind("dev");
  ASSERT_NE(device, nullptr);
  std::string file = TestFile("firmware.bin");
  Tree tree = PackageTree();
  uint32_t total = 0;
  if (c.package) {
    ASSERT_TRUE(WritePackage(file, kMagicType2, tree));
    for (const auto &e : tree) total += static_cast<uint32_t>(e.second.size());
  } else {
    ASSERT_TRUE(WritePlainImage(file, 30000, c.model));
    total = static_cast<uint32_t>(Slurp(file).size());
  }
  std::string workdir = std::string(device->directory) + "/extupgrade";
  Recorder rec;
  ASSERT_EQ(Upgrade(device, file, &rec), KAVREL_OK);

  ExpectStepsInOrder(rec);
  ExpectSizes(rec, total);
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_PROBING)) << "skip-wait runs no probe";
  EXPECT_FALSE(Exists(workdir));
  EXPECT_EQ(rec.names(KAVREL_UPGRADE_HOST_REMOVED).back(), workdir);

  // Steps 3, 4, 5 and 7 name what reached the device.
  std::vector<std::string> removed = FtpArgs("dev", "DELE");
  for (const std::string &d : FtpArgs("dev", "RMD")) removed.push_back(d);
  std::vector<std::string> reported = rec.names(KAVREL_UPGRADE_REMOVED);
  std::sort(removed.begin(), removed.end());
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, removed);
  EXPECT_EQ(rec.names(KAVREL_UPGRADE_DIR_CREATED), FtpArgs("dev", "MKD"));
  std::vector<std::string> stored = FtpArgs("dev", "STOR");
  stored.erase(std::remove(stored.begin(), stored.end(), "config.ini"), stored.end());
  EXPECT_EQ(rec.names(KAVREL_UPGRADE_FILE_SENT), stored);
  std::vector<std::string> cwd = FtpArgs("dev", "CWD");
  for (const std::string &entered : rec.names(KAVREL_UPGRADE_DIR_ENTERED)) {
    EXPECT_NE(std::find(cwd.begin(), cwd.end(), entered), cwd.end()) << entered;
  }

  Tree device_tree = ReadTree(Root("dev"));
  device_tree.erase("config.ini");
  Tree expected = InstalledTree();
  if (c.package) {
    expected = ReplacedTree(tree);
  } else {
    expected["flash.bin"] = Slurp(file);
  }
  EXPECT_EQ(device_tree, expected);

  // The reset and the restore on the wire.
  bool high = c.model[2] > '3';
  std::vector<std::string> setparam = Queries("dev", kSetparam);
  if (high) {
    ASSERT_EQ(setparam.size(), 3u);
    EXPECT_EQ(setparam[0].rfind("Network_resetip=0", 0), 0u);
    EXPECT_EQ(setparam[1], "System_reset=5");
    EXPECT_EQ(setparam[2], "Network_resetip=1&System_reset=1");
  } else {
    EXPECT_TRUE(setparam.empty());
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "config.ini"), 0);
    std::vector<std::string> all = FtpArgs("dev", "STOR");
    EXPECT_EQ(all.front(), "config.ini") << "the reset's config.ini goes first";
    EXPECT_EQ(all.back(), "config.ini") << "the restore's config.ini goes last";
    EXPECT_TRUE(kvtest::WaitUntil([&] { return Slurp(Root("dev") + "/config.ini") == kRestoreLow; },
                                  10000));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Routes, UpgradeRoutes,
    ::testing::Values(RouteCase{"Series3Package", "KM3111", "install=yes,down=0.3", true},
                      RouteCase{"Series3Image", "KM3111", "install=yes,down=0.3", false},
                      RouteCase{"Series7Package", "RZ7161", "resetip=1,down=0.3", true},
                      RouteCase{"Series7Image", "RZ7161", "resetip=1,down=0.3", false}),
    [](const ::testing::TestParamInfo<RouteCase> &info) { return info.param.name; });

// ---- Every file in its place ------------------------------------------------------------

// New top-level directories the device does not have, beside one it has: each is nothing to
// clean on the device, and none may keep "/www" from being cleaned.
Tree NewDirectoriesTree() {
  Tree tree = {{"www/index.html", "<html>new index</html>\n"}, {"boot.cfg", "boot=new\n"}};
  for (int i = 0; i < 10; ++i) {
    std::string dir = "a" + std::to_string(i);
    tree[dir + "/" + dir + ".txt"] = "new file of " + dir;
  }
  return tree;
}

// The device's network reset switched on again: by setparam.cgi above series 3, by the
// restoring "config.ini" at 3 and below.
void ExpectRestored(const char *model, const std::vector<std::string> &setparam,
                    const std::string &root) {
  if (model[2] > '3') {
    ASSERT_FALSE(setparam.empty());
    EXPECT_EQ(setparam.back(), "Network_resetip=1&System_reset=1");
  } else {
    EXPECT_TRUE(kvtest::WaitUntil([&] { return Slurp(root + "/config.ini") == kRestoreLow; },
                                  10000));
  }
}

struct PlaceCase {
  const char *name;
  const char *model;
  const char *extra;
  const char *fault;  // FTP fault of the device, or ""
  Tree package;
  bool directories_descending;
  uint32_t rc;
};

void PrintTo(const PlaceCase &c, std::ostream *os) { *os << c.name; }

class UpgradePlaces : public UpgradeTest, public ::testing::WithParamInterface<PlaceCase> {};

// Whatever the clean-up meets, no file of the package lands anywhere but its own place; the
// clean-up's failure is the upgrade's result, after the device's network settings came back.
TEST_P(UpgradePlaces, NoFileInAWrongPlace) {
  const PlaceCase &c = GetParam();
  ASSERT_TRUE(StartSim({{c.model, "dev", "", "", "", "", c.extra}}));
  if (c.fault[0]) {
    ASSERT_TRUE(sim_.AddFault("dev", c.fault));
  }
  DeviceHandle device = Bind("dev");
  ASSERT_NE(device, nullptr);
  std::string file = TestFile("firmware.pkg");
  ASSERT_TRUE(WritePackage(file, kMagicType2, c.package, "V2.0.0", c.directories_descending));
  Recorder rec;
  EXPECT_EQ(Upgrade(device, file, &rec), c.rc);

  Tree device_tree = ReadTree(Root("dev"));
  device_tree.erase("config.ini");
  if (c.rc == KAVREL_OK) {
    EXPECT_EQ(device_tree, ReplacedTree(c.package));
  } else {
    EXPECT_EQ(device_tree, PartlyReplacedTree(c.package, rec.names(KAVREL_UPGRADE_REMOVED)));
  }
  std::vector<std::string> setparam = Queries("dev", kSetparam);
  bool reset = std::count(setparam.begin(), setparam.end(), "System_reset=5") > 0;
  EXPECT_EQ(reset, c.rc == KAVREL_OK && c.model[2] > '3') << "no reset after a failure";
  ExpectRestored(c.model, setparam, Root("dev"));
}

INSTANTIATE_TEST_SUITE_P(
    Places, UpgradePlaces,
    ::testing::Values(
        PlaceCase{"RefusedDeleteSeries3", "KM3111", "install=yes,down=0.3",
                  R"({"ftp": "refuse", "command": "DELE", "name": "logo.gif"})", PackageTree(),
                  false, NETCLIENT_E_DELETE},
        PlaceCase{"RefusedDeleteSeries7", "RZ7161", "resetip=1,down=0.3",
                  R"({"ftp": "refuse", "command": "DELE", "name": "logo.gif"})", PackageTree(),
                  false, NETCLIENT_E_DELETE},
        PlaceCase{"NewDirectoriesAscending", "KM3111", "install=yes,down=0.3", "",
                  NewDirectoriesTree(), false, KAVREL_OK},
        PlaceCase{"NewDirectoriesDescending", "RZ7161", "resetip=1,down=0.3", "",
                  NewDirectoriesTree(), true, KAVREL_OK}),
    [](const ::testing::TestParamInfo<PlaceCase> &info) { return info.param.name; });

// Step 14 reached the device, then the FTP login was refused: the login's code, and the
// device's network reset is switched on again.
TEST_F(UpgradeTest, ARefusedLoginAfterTheNetworkResetStillRestores) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "resetip=1,down=0.2"}}));
  ASSERT_TRUE(sim_.AddFault("dev", R"({"ftp": "refuse_login"})"));
  DeviceHandle device = Bind("dev");
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 4000, "RZ7161"));
  Recorder rec;
  EXPECT_EQ(Upgrade(device, file, &rec), NETCLIENT_E_AUTH);
  std::vector<std::string> q = Queries("dev", kSetparam);
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(q[0].rfind("Network_resetip=0", 0), 0u);
  EXPECT_EQ(q[1], "Network_resetip=1&System_reset=1");
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_CONNECTED));
}

// What the series-3 route writes to switch the device's reset off, read from the device while
// the upload runs: "NO", and "No" for the "RZ" models.
TEST_F(UpgradeTest, ResetSwitchedOffInTheModelsOwnWords) {
  const struct {
    const char *model;
    const char *text;
  } cases[] = {
      {"KM3111", "[SYSTEM]\n<reset system>\nNO\n\n[NETWORK]\n<install enabled>\nNO\n"},
      {"RZ3120", "[SYSTEM]\n<reset system>\nNo\n\n[NETWORK]\n<install enabled>\nNo\n"},
  };
  ASSERT_TRUE(StartSim({{cases[0].model, "d0", "", "", "", "", "install=yes,down=0.2"},
                        {cases[1].model, "d1", "", "", "", "", "install=yes,down=0.2"}}));
  for (size_t i = 0; i < 2; ++i) {
    std::string name = "d" + std::to_string(i);
    SCOPED_TRACE(name);
    DeviceHandle device = Bind(name);
    std::string file = TestFile(name + ".bin");
    ASSERT_TRUE(WritePlainImage(file, 4000, cases[i].model));
    Recorder rec;
    bool connected = false;
    std::string seen;
    rec.hook = [&](DeviceHandle, uint32_t step, uintptr_t) {
      if (step == KAVREL_UPGRADE_CONNECTED) {
        connected = true;
      } else if (connected && seen.empty()) {
        seen = Slurp(Root(name) + "/config.ini");
      }
    };
    EXPECT_EQ(Upgrade(device, file, &rec), KAVREL_OK);
    EXPECT_EQ(seen, cases[i].text);
  }
}

// The network reset request names what the device's configuration lacks.
TEST_F(UpgradeTest, NetworkResetQueryForms) {
  struct Form {
    const char *extra;
    const char *query;
  } forms[] = {
      {"subnet=,router=192.0.2.1", "Network_resetip=0&Network_subnet=255.255.255.0"},
      {"router=,ipaddress=192.0.2.7", "Network_resetip=0&Network_router=192.0.2.7"},
      {"router=192.0.2.1,ipaddress=192.0.2.7", "Network_resetip=0"},
  };
  std::vector<kvtest::DevsimDeviceSpec> specs;
  for (size_t i = 0; i < 3; ++i) {
    specs.push_back({"RZ7161", "d" + std::to_string(i), "", "", "", "",
                     std::string("resetip=1,down=0.2,") + forms[i].extra});
  }
  ASSERT_TRUE(StartSim(specs));
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 4000, "RZ7161"));
  for (size_t i = 0; i < 3; ++i) {
    std::string name = "d" + std::to_string(i);
    DeviceHandle device = Bind(name);
    Recorder rec;
    ASSERT_EQ(Upgrade(device, file, &rec), KAVREL_OK) << name;
    std::vector<std::string> q = Queries(name, kSetparam);
    ASSERT_FALSE(q.empty());
    EXPECT_EQ(q.front(), forms[i].query);
  }
}

TEST_F(UpgradeTest, AbortAfterTheDeviceFilesAreTouchedDoesNotStopIt) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "down=0.2"}}));
  DeviceHandle device = Bind("dev");
  std::string file = TestFile("pkg.bin");
  ASSERT_TRUE(WritePackage(file, kMagicType2, PackageTree()));
  Recorder rec;
  bool aborted = false;
  rec.hook = [&](DeviceHandle d, uint32_t step, uintptr_t) {
    if (step == KAVREL_UPGRADE_REMOVED && !aborted) {
      aborted = true;
      EXPECT_EQ(Kavrel_AbortUpgrade(d), KAVREL_OK);
    }
  };
  EXPECT_EQ(Upgrade(device, file, &rec), KAVREL_OK);
  EXPECT_TRUE(aborted);
  EXPECT_EQ(rec.names(KAVREL_UPGRADE_FILE_SENT).size(), PackageTree().size());
  EXPECT_EQ(Queries("dev", kSetparam), std::vector<std::string>{"System_reset=5"});
}

// Type 1 is uploaded whole as flash.pkg and never resets, waits or touches the network.
TEST_F(UpgradeTest, TypeOnePackageNeverResetsOrWaits) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "resetip=1,down=0.2"}}));
  DeviceHandle device = Bind("dev", /*wait=*/true);
  std::string file = TestFile("type1.bin");
  ASSERT_TRUE(WritePackage(file, kMagicType1, {{"x", "payload"}}));
  Recorder rec;
  EXPECT_EQ(Upgrade(device, file, &rec), KAVREL_OK);
  EXPECT_EQ(Slurp(Root("dev") + "/flash.pkg"), Slurp(file));
  EXPECT_TRUE(Queries("dev", kSetparam).empty());
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_RESET));
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_PROBING));
}

// A device on the loopback never stops answering echo, so the wait runs out; the restore
// still reaches the device.
TEST_F(UpgradeTest, AFailedWaitReturnsTheProbeCodeAndStillRestores) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "resetip=1,down=0.2"}}));
  DeviceHandle device = Bind("dev", /*wait=*/true);
  ASSERT_EQ(Kavrel_SetExtraOptions(device, KAVREL_OPTION_RETURN_WAIT, 1), KAVREL_OK);
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 4000, "RZ7161"));
  Recorder rec;
  EXPECT_EQ(Upgrade(device, file, &rec), KAVREL_E_TIMEOUT);
  EXPECT_TRUE(rec.Saw(KAVREL_UPGRADE_PROBING));
  EXPECT_FALSE(rec.Saw(KAVREL_UPGRADE_RETURNED));
  std::vector<std::string> q = Queries("dev", kSetparam);
  ASSERT_FALSE(q.empty());
  EXPECT_EQ(q.back(), "Network_resetip=1&System_reset=1");
}

TEST_F(UpgradeTest, SecondUpgradeIsRefusedWithoutDisturbingTheFirst) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev", "", "", "", "", "down=0.2"}}));
  DeviceHandle device = Bind("dev");
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 20000, "RZ7161"));
  Recorder rec;
  uint32_t second = 0;
  rec.hook = [&](DeviceHandle d, uint32_t step, uintptr_t) {
    if (step != KAVREL_UPGRADE_CONNECTED) return;
    UpgradeRequest request{};
    snprintf(request.path, sizeof request.path, "%s", file.c_str());
    second = Kavrel_Upgrade(d, &request);
  };
  EXPECT_EQ(Upgrade(device, file, &rec), KAVREL_OK);
  EXPECT_EQ(second, KAVREL_E_BUSY);
  EXPECT_EQ(Slurp(Root("dev") + "/flash.bin"), Slurp(file));
  ExpectSizes(rec, static_cast<uint32_t>(Slurp(file).size()));
}

// An image the tools cannot read is refused before the device is touched, unless flash-all
// is set: then it goes whole as flashall.bin, and the device restarts without System_reset.
TEST_F(UpgradeTest, FlashAllAcceptsAnUnreadableImage) {
  ASSERT_TRUE(StartSim({{"RZ7161", "plain", "", "", "", "", "down=0.2"},
                        {"RZ7161", "flashall", "", "", "", "", "down=0.2"}}));
  std::string file = TestFile("odd.bin");
  ASSERT_TRUE(kvtest::WriteFile(file, std::string(1000, '\x42')));

  DeviceHandle plain = Bind("plain");
  Recorder refused;
  EXPECT_EQ(Upgrade(plain, file, &refused), KAVREL_E_PKG_FORMAT);
  EXPECT_TRUE(sim_.Log(0, "plain").empty()) << "nothing reached the device";
  EXPECT_TRUE(refused.steps().empty());

  DeviceHandle device = Bind("flashall");
  ASSERT_EQ(Kavrel_SetExtraOptions(device, KAVREL_OPTION_FLASH_ALL, 1), KAVREL_OK);
  Recorder rec;
  EXPECT_EQ(Upgrade(device, file, &rec), KAVREL_OK);
  EXPECT_EQ(Slurp(Root("flashall") + "/flashall.bin"), Slurp(file));
  EXPECT_TRUE(Queries("flashall", kSetparam).empty());
  EXPECT_TRUE(kvtest::WaitUntil(
      [&] { return sim_.Control("GET", "/devices/flashall/firmware").body.find("ftp-session") !=
                   std::string::npos; },
      10000))
      << "the device restarts when the session that uploaded it ends";
}

TEST_F(UpgradeTest, RefusalsBeforeAnythingStarts) {
  ASSERT_TRUE(StartSim({{"RZ7161", "dev"}}));
  DeviceHandle device = Bind("dev");
  EXPECT_EQ(Kavrel_Upgrade(nullptr, nullptr), KAVREL_E_HANDLE);
  EXPECT_EQ(Kavrel_Upgrade(device, nullptr), KAVREL_E_INVALIDARG);
  UpgradeRequest empty{};
  EXPECT_EQ(Kavrel_Upgrade(device, &empty), KAVREL_E_INVALIDARG);
  UpgradeRequest missing{};
  snprintf(missing.path, sizeof missing.path, "%s", TestFile("absent.bin").c_str());
  EXPECT_EQ(Kavrel_Upgrade(device, &missing), KAVREL_E_INVALIDARG);
  EXPECT_EQ(Kavrel_AbortUpgrade(device), KAVREL_OK) << "nothing runs: nothing to abort";
  // A device described by its server type only has no configuration to upgrade with.
  DeviceHandle lite = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(context_, &lite), KAVREL_OK);
  KavrelDeviceProperty p{};
  p.address = "127.0.0.1";
  p.server_type = "RZ7161";
  ASSERT_EQ(Kavrel_SetDevicePropertyLite(lite, &p), KAVREL_OK);
  EXPECT_EQ(Kavrel_Upgrade(lite, &missing), KAVREL_E_NOT_AVAILABLE);
  EXPECT_EQ(Kavrel_AbortUpgrade(lite), KAVREL_E_NOT_AVAILABLE);
  // A refusal leaves the device free for the next upgrade.
  std::string file = TestFile("image.bin");
  ASSERT_TRUE(WritePlainImage(file, 2000, "RZ7161"));
  Recorder rec;
  EXPECT_EQ(Upgrade(device, file, &rec), KAVREL_OK);
}

// ---- The device clean-up ----------------------------------------------------------------

class CleanupTest : public UpgradeTest {
 protected:
  // A fresh session on `device` (an earlier one closed first).
  void Connect(DeviceHandle device) {
    if (request_) NetClient_CloseRequest(request_);
    request_ = nullptr;
    NetClientHandle client = nullptr;
    ASSERT_EQ(Device_NetClient(device, &client), 0u);
    ASSERT_EQ(NetClient_OpenRequest(client, &request_), 0u);
    NetClientRequestInfo info{};
    info.type = NETCLIENT_TYPE_FTP;
    info.port = device->ftp_port;
    info.timeout_ms = 2000;  // the unanswered change of directory below
    snprintf(info.host, sizeof info.host, "127.0.0.1");
    snprintf(info.user, sizeof info.user, "%s", device->user);
    snprintf(info.password, sizeof info.password, "%s", device->password);
    ASSERT_EQ(NetClient_SetRequestInfo(request_, &info), 0u);
    ASSERT_EQ(NetClient_Connect(request_, 1), 0u);
    device->upgrade_callback = reinterpret_cast<void *>(&Recorder::Callback);
    device->upgrade_context = &rec_;
  }
  void TearDown() override {
    if (request_) NetClient_CloseRequest(request_);
    UpgradeTest::TearDown();
  }
  NetClientRequestHandle request_ = nullptr;
  Recorder rec_;
};

TEST_F(CleanupTest, FilesFirstThenEachDirectoryBeforeItsParent) {
  ASSERT_TRUE(StartSim({{"KM3111", "dev"}}));
  DeviceHandle device = Bind("dev");
  Connect(device);
  ASSERT_EQ(Upgrade_CleanDeviceDirectory(device, request_, "/www"), 0u);
  EXPECT_EQ(rec_.names(KAVREL_UPGRADE_REMOVED),
            (std::vector<std::string>{"/www/index.html", "/www/old.html", "/www/images/logo.gif",
                                      "/www/images/icons/cam.gif", "/www/images/icons",
                                      "/www/images", "/www"}));
  EXPECT_FALSE(Exists(Root("dev") + "/www"));
  EXPECT_EQ(Slurp(Root("dev") + "/cgi/old.cgi"), "#!old\n");
  // A directory the device does not have holds nothing to clean, whatever its name.
  EXPECT_EQ(Upgrade_CleanDeviceDirectory(device, request_, "/www"), 0u);
  EXPECT_EQ(Upgrade_CleanDeviceDirectory(device, request_, "/nothing"), 0u);
}

// Only the server's refusal to enter the start directory means there is nothing to clean. A
// refusal further down, a lost connection or a time-out fails the clean-up with its code.
TEST_F(CleanupTest, OnlyARefusalAtTheStartIsNothingToClean) {
  const struct {
    const char *what;
    const char *fault;
    uint32_t rc;
    std::vector<std::string> removed;
  } cases[] = {
      {"refused at the start", R"({"ftp": "refuse", "command": "CWD", "name": "www"})", 0, {}},
      {"refused below the start", R"({"ftp": "refuse", "command": "CWD", "name": "images"})",
       NETCLIENT_E_CHDIR, {"/www/index.html", "/www/old.html"}},
      {"connection lost at the start", R"({"ftp": "drop", "command": "CWD", "name": "www"})",
       NETCLIENT_E_NO_ANSWER, {}},
      {"no answer at the start", R"({"ftp": "no_answer", "command": "CWD", "times": 1})",
       NETCLIENT_E_TIMEOUT, {}},
  };
  std::vector<kvtest::DevsimDeviceSpec> specs;
  for (size_t i = 0; i < 4; ++i) specs.push_back({"KM3111", "d" + std::to_string(i)});
  ASSERT_TRUE(StartSim(specs));
  for (size_t i = 0; i < 4; ++i) {
    const auto &c = cases[i];
    SCOPED_TRACE(c.what);
    std::string name = "d" + std::to_string(i);
    DeviceHandle device = Bind(name);
    Connect(device);
    ASSERT_TRUE(sim_.AddFault(name, c.fault));
    Recorder rec;
    device->upgrade_context = &rec;
    EXPECT_EQ(Upgrade_CleanDeviceDirectory(device, request_, "/www"), c.rc);
    EXPECT_EQ(rec.names(KAVREL_UPGRADE_REMOVED), c.removed);
    EXPECT_TRUE(Exists(Root(name) + "/www/images/logo.gif"));
  }
}

TEST_F(CleanupTest, ARefusedDeleteEndsItWithItsCode) {
  ASSERT_TRUE(StartSim({{"KM3111", "dev"}}));
  ASSERT_TRUE(sim_.AddFault("dev", R"({"ftp": "refuse", "command": "DELE", "name": "logo.gif"})"));
  DeviceHandle device = Bind("dev");
  Connect(device);
  EXPECT_EQ(Upgrade_CleanDeviceDirectory(device, request_, "/www"), NETCLIENT_E_DELETE);
  EXPECT_EQ(rec_.names(KAVREL_UPGRADE_REMOVED),
            (std::vector<std::string>{"/www/index.html", "/www/old.html"}));
  EXPECT_TRUE(Exists(Root("dev") + "/www/images/logo.gif"));
  EXPECT_TRUE(Exists(Root("dev") + "/www/images/icons/cam.gif"));
}

}  // namespace
}  // namespace fwtest
