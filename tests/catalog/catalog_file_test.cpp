// The catalogue file: entries written whole and read back field for field, the element
// limit, the store's refusals, hand-written files, and writers in several processes.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/wait.h>

#include <memory>
#include <string>
#include <vector>

#include "catalog_test_util.h"
#include "child_process.h"
#include "lock_holder.h"
#include "platform/os.h"
#include "test_paths.h"

using cattest::DataDir;
using cattest::ExpectSameRecord;
using cattest::Lookup;
using cattest::MakeRecord;

namespace {

std::string Key(int i) {
  char key[8];
  snprintf(key, sizeof(key), "KT%04d", i);
  return key;
}

}  // namespace

// Thirteen models fill the catalogue; each reads back exactly; a fourteenth is refused
// whole and leaves the file as it was.
TEST(CatalogFile, ThirteenModelsThenFull) {
  DataDir dir("catalog-full");
  std::vector<ServerParam> stored;
  for (int i = 0; i < 13; i++) {
    stored.push_back(MakeRecord(Key(i), i + 1));
    ASSERT_EQ(0, ModelCatalog_Store(&stored.back())) << i;
  }
  for (int i = 0; i < 13; i++) {
    ServerParam got;
    ASSERT_EQ(0, Lookup(Key(i), &got)) << i;
    ExpectSameRecord(stored[i], got, Key(i));
  }
  const std::string before = kvtest::ReadFile(dir.file());
  ServerParam extra = MakeRecord("KT9999", 99);
  EXPECT_EQ(CATALOG_E_FULL, ModelCatalog_Store(&extra));
  EXPECT_EQ(before, kvtest::ReadFile(dir.file())) << "a refused entry writes nothing";
  ServerParam got;
  EXPECT_EQ(CATALOG_E_ABSENT, Lookup("KT9999", &got));
  for (int i = 0; i < 13; i++) {
    ASSERT_EQ(0, Lookup(Key(i), &got)) << i;
    ExpectSameRecord(stored[i], got, Key(i));
  }
  // The layout: root with its attribute, one element per line, CR LF everywhere.
  EXPECT_EQ(0u, before.rfind("<sysinfodat schemaversion=\"1.0\">\r\n<KT0000>\r\n"
                             "<ServerName>KT0000</ServerName>\r\n<AudioCodec>", 0));
  EXPECT_NE(std::string::npos, before.find("&amp;b=&lt;1&gt;</VideoUrl>\r\n"));
  const std::string tail = "</KT0012>\r\n</sysinfodat>\r\n";
  EXPECT_EQ(tail, before.substr(before.size() - tail.size()));
}

TEST(CatalogFile, SecondStoreLeavesTheFileUnchanged) {
  DataDir dir("catalog-twice");
  ServerParam p = MakeRecord("KM5120", 1);
  snprintf(p.ServerName, sizeof(p.ServerName), "KM5120-V1.0.2");
  ASSERT_EQ(0, ModelCatalog_Store(&p));
  const std::string first = kvtest::ReadFile(dir.file());
  ServerParam changed = MakeRecord("KM5120", 2);
  snprintf(changed.ServerName, sizeof(changed.ServerName), "KM5120-V2.0.0");
  EXPECT_EQ(0, ModelCatalog_Store(&changed)) << "same key: already there";
  EXPECT_EQ(0, ModelCatalog_Store(&p));
  EXPECT_EQ(first, kvtest::ReadFile(dir.file()));
  EXPECT_EQ(1u, first.size() - std::string(first).replace(first.find("<KM5120>"), 1, "").size());
  EXPECT_EQ(std::string::npos, first.find("<KM5120>", first.find("<KM5120>") + 1));
}

TEST(CatalogFile, MissingAndUnparsableFiles) {
  DataDir dir("catalog-bad");
  ServerParam got;
  EXPECT_EQ(CATALOG_E_LOAD, Lookup("KM5120", &got)) << "no file yet";
  for (const char *bad : {"<sysinfodat><KM1111></sysinfodat>", "", "garbage",
                          "<a></b>"}) {
    ASSERT_TRUE(kvtest::WriteFile(dir.file(), bad));
    EXPECT_EQ(CATALOG_E_LOAD, Lookup("KM1111", &got)) << bad;
    ServerParam p = MakeRecord("KM5120", 3);
    ASSERT_EQ(0, ModelCatalog_Store(&p)) << bad;
    ASSERT_EQ(0, Lookup("KM5120", &got)) << bad;
    ExpectSameRecord(p, got, bad);
    std::string text = kvtest::ReadFile(dir.file());
    EXPECT_EQ(0u, text.rfind("<sysinfodat schemaversion=\"1.0\">\r\n<KM5120>\r\n", 0)) << text;
    EXPECT_EQ(std::string::npos, text.find("KM1111")) << "the unparsable file was replaced";
  }
}

// Lookup of a hand-written file: fields out of order, missing, too long, with entities.
TEST(CatalogFile, ReadingHandWrittenEntries) {
  DataDir dir("catalog-hand");
  const std::string long_path(63, 'p');
  ASSERT_TRUE(kvtest::WriteFile(
      dir.file(),
      "<sysinfodat>\n  <KM7777>\n    <ServerName>KM7777</ServerName>\n"
      "    <ComNum>3</ComNum><CamNum>9</CamNum>\n"  // out of the file's order
      "    <DiNum> -12xyz</DiNum><DoNum>junk</DoNum>\n"
      "    <DefaultVSize>1234567890123456</DefaultVSize>\n"
      "    <PtzUrl>" + long_path + "</PtzUrl>\n"
      "    <RecallUrl>/a?x=1&amp;y=&lt;2&gt;</RecallUrl>\n"
      "    <UartUrl><![CDATA[/u?a=<b>]]></UartUrl>\n"
      "  </KM7777>\n</sysinfodat>\n"));
  ServerParam got;
  memset(&got, 0x55, sizeof(got));
  char name[] = "KM7777-V1.2";
  ASSERT_EQ(0, ModelCatalog_Lookup(name, &got));
  EXPECT_STREQ("KM7777", name) << "the caller's name is cut to the key";
  // Fields are read in the file's order, each search going on from the last one found:
  // CamNum is found after ComNum, and ComNum, which comes next in the order, is passed by.
  EXPECT_EQ(9, got.CamNum);
  EXPECT_EQ(0x55555555, got.ComNum);
  EXPECT_EQ(-12, got.DiNum);
  EXPECT_EQ(0, got.DoNum);
  EXPECT_STREQ("12345678901", got.DefaultVSize) << "cut to the field";
  EXPECT_EQ(0x55555555, got.DefaultQuality) << "the field after DefaultVSize is untouched";
  EXPECT_EQ(std::string(39, 'p'), got.PtzUrl);
  EXPECT_EQ(0x55, (unsigned char)got.QuadUrl[0]) << "the field after PtzUrl is untouched";
  EXPECT_STREQ("/a?x=1&y=<2>", got.RecallUrl);
  EXPECT_STREQ("/u?a=<b>", got.UartUrl);
  EXPECT_EQ(CATALOG_E_ABSENT, Lookup("KM777", &got)) << "a shorter name is another key";
  EXPECT_EQ(CATALOG_E_ABSENT, Lookup("KM77 7", &got));
}

TEST(CatalogFile, StoreRefusals) {
  DataDir dir("catalog-refuse");
  // A key that could not be read back as an element name.
  for (const char *bad : {"", "KM 512", "K<5120", "KM&120"}) {
    ServerParam p = MakeRecord("KM5120", 1);
    snprintf(p.ServerName, sizeof(p.ServerName), "%s", bad);
    EXPECT_EQ(CATALOG_E_KEY, ModelCatalog_Store(&p)) << bad;
  }
  EXPECT_FALSE(kvtest::ReadFile(dir.file()).size());

  // Another writer holds the lock beyond the bound: nothing is written.
  ServerParam first = MakeRecord("KM1000", 1);
  ASSERT_EQ(0, ModelCatalog_Store(&first));
  const std::string before = kvtest::ReadFile(dir.file());
  ServerParam second = MakeRecord("KM2000", 2);
  {
    kvtest::LockHolder held(CATALOG_LOCK_NAME, dir.file() + ".lock");
    ASSERT_TRUE(held.held());
    ModelCatalog_SetLockTimeout(300);
    EXPECT_EQ(CATALOG_E_LOCK, ModelCatalog_Store(&second));
  }
  ModelCatalog_SetLockTimeout(0);
  EXPECT_EQ(before, kvtest::ReadFile(dir.file()));
  EXPECT_EQ(0, ModelCatalog_Store(&second)) << "stored once the lock is free";

  // A file larger than any catalogue is not rewritten.
  std::string big = "<sysinfodat>" + std::string(2 << 20, ' ') + "</sysinfodat>";
  ASSERT_TRUE(kvtest::WriteFile(dir.file(), big));
  ServerParam third = MakeRecord("KM3000", 3);
  EXPECT_EQ(CATALOG_E_FILE, ModelCatalog_Store(&third));
  EXPECT_EQ(big.size(), kvtest::ReadFile(dir.file()).size());
}

// Without a catalogue directory (here a path through a regular file) nothing is written
// anywhere, in particular not into the current directory.
TEST(CatalogFile, NoDirectoryNoCatalogue) {
  std::string base = kvtest::MakeTempDir("catalog-nodir");
  ASSERT_TRUE(kvtest::WriteFile(base + "/file", "x"));
  kvtest::SetEnv("KAVREL_DATA_DIR", (base + "/file/sub").c_str());
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
  ASSERT_EQ(0, chdir(base.c_str()));
  ServerParam p = MakeRecord("KM5120", 1);
  EXPECT_EQ(CATALOG_E_FILE, ModelCatalog_Store(&p));
  ServerParam got;
  EXPECT_EQ(CATALOG_E_LOAD, Lookup("KM5120", &got));
  EXPECT_EQ("", kvtest::ReadFile(base + "/Data.xml"));
  ASSERT_EQ(0, chdir(cwd));
  kvtest::UnsetEnv("KAVREL_DATA_DIR");
}

// Four processes store three models each at the same moment: the lock orders them, and
// every model ends up in the file.
TEST(CatalogFile, FourProcessesStoreAtOnce) {
  DataDir dir("catalog-procs");
  std::vector<std::unique_ptr<kvtest::ChildProcess>> children;
  for (int p = 0; p < 4; p++) {
    std::vector<std::string> argv{CATALOG_STORE_HELPER};
    for (int m = 0; m < 3; m++) argv.push_back(Key(p * 3 + m));
    children.push_back(std::make_unique<kvtest::ChildProcess>());
    ASSERT_TRUE(children.back()->Start(argv, dir.path() + "/helper" + std::to_string(p) + ".log",
                                       {"KAVREL_DATA_DIR=" + dir.path()}));
  }
  for (auto &child : children) {
    ASSERT_TRUE(kvtest::WaitUntil([&] { return !child->Running(); }, 60000));
    int status = child->Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << kvtest::ReadFile(child->log_path());
  }
  for (int i = 0; i < 12; i++) {
    ServerParam got;
    ASSERT_EQ(0, Lookup(Key(i), &got)) << Key(i) << "\n" << kvtest::ReadFile(dir.file());
    EXPECT_EQ("/cgi-bin/" + Key(i) + "/ptz.cgi", std::string(got.PtzUrl));
  }
}
