// The configuration store: the line grammar as reading sees it, the rewrite of one value,
// the refusals, the line-end conversions, file errors, and a writer killed half-way.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "config/config_store.h"
#include "config_test_util.h"
#include "kavrel_results.h"
#include "test_paths.h"

namespace {

constexpr uint32_t kOk = KAVREL_OK;
constexpr uint32_t kNotFound = KAVREL_E_CATALOG;  // 0x8006030A
constexpr uint32_t kFileError = KAVREL_E_FILE;    // 0x80060308
constexpr uint32_t kRefused = KAVREL_E_INVALIDARG;

class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { cfg_ = cfgtest::MakeTempConfig("config-store"); }

  std::string Get(const std::string &section, const std::string &key, int32_t index,
                  uint32_t *result) {
    char out[CONFIG_VALUE_MAX];
    memset(out, 'x', sizeof out);
    *result = ConfigStore_Get(path(), section.c_str(), key.c_str(), out, "DEF", index);
    return out;
  }

  const char *path() const { return cfg_.path.c_str(); }
  cfgtest::TempConfig cfg_;
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

struct ReadCase {
  const char *name;
  std::string text;
  const char *section;
  const char *key;
  int32_t index;
  uint32_t result;
  std::string value;
};

TEST_F(ConfigStoreTest, ReadsByTheLineGrammar) {
  const std::string serial = "[SERIAL1]\n<PT control commands>\nHOME\nx1\nUP\nx2\n";
  const ReadCase cases[] = {
      {"names ignore case", "[NETWORK]\n<host name>\ncam1\n", "network", "Host Name", -1, kOk,
       "cam1"},
      {"missing index", "[S]\n<k>\n(0)a\n(1)b\n(3)d\n", "S", "k", 2, kNotFound, "DEF"},
      {"index 3", "[S]\n<k>\n(0)a\n(1)b\n(3)d\n", "S", "k", 3, kOk, "d"},
      {"index text compared as text", "[S]\n<k>\n(01)a\n", "S", "k", 1, kNotFound, "DEF"},
      {"parentheses in a value", "[S]\n<k>\n(1)a(b)c\n", "S", "k", 1, kOk, "a(b)c"},
      {"plain line is index 0", "[S]\n<k>\nplain\n", "S", "k", 0, kOk, "plain"},
      {"plain line is no index 1", "[S]\n<k>\nplain\n", "S", "k", 1, kNotFound, "DEF"},
      {"plain value keeps brackets", "[S]\n<k>\n(0)x\n", "S", "k", -1, kOk, "(0)x"},
      {"a [..] line ends the section", "[S]\n<k>\n(0)a\nsee [note]\n(1)b\n", "S", "k", 1,
       kNotFound, "DEF"},
      {"next key ends the values", "[S]\n<a>\n(0)1\n<b>\n(1)2\n", "S", "a", 1, kNotFound, "DEF"},
      {"second section", "[A]\n<k>\n1\n[B]\n<k>\n2\n", "B", "k", -1, kOk, "2"},
      {"key before any section", "<k>\nv\n[S]\n<j>\n1\n", "S", "k", -1, kNotFound, "DEF"},
      {"CR LF lines", "[S]\r\n<k>\r\nv\r\n", "S", "k", -1, kOk, "v"},
      {"empty value", "[S]\n<k>\n\n<j>\n", "S", "k", -1, kOk, ""},
      {"serial HOME", serial, "SERIAL1", "PT control commands", 0, kOk, "x1"},
      {"serial UP", serial, "SERIAL1", "PT control commands", 1, kOk, "x2"},
      {"serial DOWN missing", serial, "SERIAL1", "PT control commands", 2, kNotFound, "DEF"},
      {"serial value named like a command",
       "[SERIAL2]\n<custom ccd commands 1>\nHOME\nUP\nUP\nreal\n", "SERIAL2",
       "custom ccd commands 1", 1, kOk, "real"},
      {"serial indices above 8 are indexed", "[SERIAL1]\n<PT control commands>\n(9)n\n",
       "SERIAL1", "PT control commands", 9, kOk, "n"},
      {"long line read in pieces", "[S]\n<k>\n" + Repeat('a', 300) + "\n", "S", "k", -1, kOk,
       Repeat('a', CONFIG_LINE_MAX)},
  };
  for (const ReadCase &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(kvtest::WriteFile(cfg_.path, c.text));
    uint32_t result = 0;
    EXPECT_EQ(Get(c.section, c.key, c.index, &result), c.value);
    EXPECT_EQ(result, c.result);
  }
}

struct WriteCase {
  const char *name;
  std::string before;
  const char *section;
  const char *key;
  const char *value;
  int32_t index;
  std::string after;
};

TEST_F(ConfigStoreTest, WritesOneValueWhereReadingFindsIt) {
  const std::string list = "[S]\n<k>\n(0)a\n(1)b\n(3)d\n";
  const std::string pt = "[SERIAL1]\n<PT control commands>\n";
  const std::string other_long = "[L]\n<long>\n" + Repeat('z', 300) + "\n";
  const WriteCase cases[] = {
      {"empty file", "", "S", "k", "v", -1, "[S]\n<k>\nv\n"},
      {"missing section at the end", "[A]\n<x>\n1\n", "B", "k", "v", 0,
       "[A]\n<x>\n1\n\n[B]\n<k>\n(0)v\n"},
      {"missing key before the next section", "[A]\n<x>\n1\n[B]\n<y>\n2\n", "A", "k", "v", -1,
       "[A]\n<x>\n1\n<k>\nv\n\n[B]\n<y>\n2\n"},
      {"missing key before a blank line", "[A]\n<x>\n1\n\n[B]\n", "A", "k", "v", -1,
       "[A]\n<x>\n1\n<k>\nv\n\n[B]\n"},
      {"missing key at the end of the file", "[A]\n<x>\n1\n", "a", "k", "v", -1,
       "[A]\n<x>\n1\n<k>\nv\n"},
      {"replace a plain value", "[S]\n<k>\nold\n<z>\n1\n", "S", "k", "new", -1,
       "[S]\n<k>\nnew\n<z>\n1\n"},
      {"names ignore case", "[NETWORK]\n<host name>\nold\n", "network", "HOST NAME", "new", -1,
       "[NETWORK]\n<host name>\nnew\n"},
      {"index between 1 and 3", list, "S", "k", "v", 2,
       "[S]\n<k>\n(0)a\n(1)b\n(2)v\n(3)d\n"},
      {"replace index 1", list, "S", "k", "v", 1, "[S]\n<k>\n(0)a\n(1)v\n(3)d\n"},
      {"append at the end of the file", list, "S", "k", "v", 5,
       "[S]\n<k>\n(0)a\n(1)b\n(3)d\n(5)v\n"},
      {"append before the next key", "[S]\n<k>\n(0)a\n<z>\n1\n", "S", "k", "v", 1,
       "[S]\n<k>\n(0)a\n(1)v\n<z>\n1\n"},
      {"list ends with a blank line", "[S]\n<k>\n(0)a\n\n[T]\n<z>\n1\n", "S", "k", "v", 1,
       "[S]\n<k>\n(0)a\n(1)v\n\n[T]\n<z>\n1\n"},
      {"list runs into the next section", "[S]\n<k>\n(0)a\n[T]\n", "S", "k", "v", 1,
       "[S]\n<k>\n(0)a\n(1)v\n[T]\n"},
      {"list ends with a plain line", "[S]\n<k>\n(0)a\njunk\n[T]\n", "S", "k", "v", 1,
       "[S]\n<k>\n(0)a\n(1)v\njunk\n[T]\n"},
      {"plain value and a new index", "[S]\n<k>\nplain\n\n[T]\n", "S", "k", "v", 2,
       "[S]\n<k>\nplain\n(2)v\n\n[T]\n"},
      {"index 0 over a plain value", "[S]\n<k>\nold\n", "S", "k", "v", 0, "[S]\n<k>\n(0)v\n"},
      {"index 0 keeps the blank line", "[S]\n<k>\n\n[T]\n", "S", "k", "v", 0,
       "[S]\n<k>\n(0)v\n\n[T]\n"},
      {"value with parentheses", "[S]\n<k>\n(0)a\n", "S", "k", "x(y)z", 1,
       "[S]\n<k>\n(0)a\n(1)x(y)z\n"},
      {"serial command replaced", pt + "HOME\nx1\nUP\nx2\n", "SERIAL1", "PT control commands",
       "y2", 1, pt + "HOME\nx1\nUP\ny2\n"},
      {"serial command added", pt + "HOME\nx1\n\n[T]\n", "SERIAL1", "PT control commands", "d",
       2, pt + "HOME\nx1\nDOWN\nd\n\n[T]\n"},
      {"serial value is no command name", pt + "HOME\nUP\n", "SERIAL1", "PT control commands",
       "u", 1, pt + "HOME\nUP\nUP\nu\n"},
      {"serial command in a new key", "[SERIAL1]\n", "SERIAL1", "custom ccd commands", "r", 4,
       "[SERIAL1]\n<custom ccd commands>\nRIGHT\nr\n"},
      {"serial command after a name without value", pt + "HOME\nx1\nUP\n[T]\n", "SERIAL1",
       "PT control commands", "n", 7, pt + "HOME\nx1\nNEAR\nn\nUP\n[T]\n"},
      {"serial command without a value", pt + "FAR\n<next>\n1\n", "SERIAL1",
       "PT control commands", "f", 8, pt + "FAR\nf\n<next>\n1\n"},
      {"CR LF lines rewritten with LF", "[S]\r\n<k>\r\nold\r\n", "S", "k", "new", -1,
       "[S]\n<k>\nnew\n"},
      {"long line of another key kept whole", other_long + "[S]\n<k>\n1\n", "S", "k", "2", -1,
       other_long + "[S]\n<k>\n2\n"},
      {"blank before a new section kept", "[A]\n<x>\n1\n\n", "B", "k", "v", -1,
       "[A]\n<x>\n1\n\n[B]\n<k>\nv\n"},
  };
  for (const WriteCase &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(kvtest::WriteFile(cfg_.path, c.before));
    ASSERT_EQ(ConfigStore_Set(path(), c.section, c.key, c.value, c.index, 0), kOk);
    EXPECT_EQ(kvtest::ReadFile(cfg_.path), kvtest::TextForm(c.after));
    uint32_t result = 0;
    EXPECT_EQ(Get(c.section, c.key, c.index, &result), c.value);
    EXPECT_EQ(result, kOk);
  }
  // Nothing but the configuration is left in its directory.
  EXPECT_EQ(cfgtest::ListDir(cfg_.dir), "config.ini;");
}

TEST_F(ConfigStoreTest, InsertAtTopPutsTheKeyRightAfterTheHeader) {
  ASSERT_TRUE(kvtest::WriteFile(cfg_.path, "[image0]\n<a>\n1\n"));
  ASSERT_EQ(ConfigStore_Set(path(), "image0", "mode", "save", -1, 1), kOk);
  EXPECT_EQ(kvtest::ReadFile(cfg_.path), kvtest::TextForm("[image0]\n<mode>\nsave\n<a>\n1\n"));
}

TEST_F(ConfigStoreTest, RefusesWhatWouldNotReadBack) {
  const std::string before = "[S]\n<k>\nold\n";
  struct Refusal {
    const char *name;
    std::string section, key, value;
    int32_t index;
  };
  const Refusal refused[] = {
      {"LF in a value", "S", "k", "a\nb", -1},
      {"CR in a section", "S\r", "k", "v", -1},
      {"LF in a key", "S", "k\n", "v", -1},
      {"empty section", "", "k", "v", -1},
      {"empty key", "S", "", "v", -1},
      {"] in a section", "a]b", "k", "v", -1},
      {"> in a key", "S", "k>x", "v", -1},
      {"[..] in a key", "S", "a[b]", "v", -1},
      {"[..] in a value", "S", "k", "see [note]", -1},
      {"[] in a value", "S", "k", "a[]b", 0},
      {"<..> in a value", "S", "k", "a<bc>", 2},
      {"value line of 260", "S", "k", Repeat('v', 260), -1},
      {"indexed line of 260", "S", "k", Repeat('v', 257), 0},
      {"section line of 260", Repeat('s', 258), "k", "v", -1},
      {"key line of 260", "S", Repeat('k', 258), "v", -1},
  };
  for (const Refusal &r : refused) {
    SCOPED_TRACE(r.name);
    ASSERT_TRUE(kvtest::WriteFile(cfg_.path, before));
    EXPECT_EQ(ConfigStore_Set(path(), r.section.c_str(), r.key.c_str(), r.value.c_str(),
                              r.index, 0),
              kRefused);
    EXPECT_EQ(kvtest::ReadFile(cfg_.path), before);
  }
  EXPECT_EQ(ConfigStore_Set(nullptr, "S", "k", "v", -1, 0), kRefused);
  EXPECT_EQ(ConfigStore_Set(path(), "S", "k", nullptr, -1, 0), kRefused);

  // Near misses that read back as written.
  const Refusal accepted[] = {
      {"adjacent <>", "S", "k", "a<>b", -1},
      {"] before [", "S", "k", "a]b[c", -1},
      {"[ in a section", "a[b", "k", "v", -1},
      {"< in a key", "S", "a<b", "v", -1},
      {"longest value line", "S", "k", Repeat('v', 259), -1},
      {"longest indexed line", "S", "k", Repeat('v', 256), 0},
      {"longest section line", Repeat('s', 257), "k", "v", -1},
  };
  for (const Refusal &a : accepted) {
    SCOPED_TRACE(a.name);
    ASSERT_TRUE(kvtest::WriteFile(cfg_.path, before));
    ASSERT_EQ(ConfigStore_Set(path(), a.section.c_str(), a.key.c_str(), a.value.c_str(),
                              a.index, 0),
              kOk);
    uint32_t result = 0;
    EXPECT_EQ(Get(a.section, a.key, a.index, &result), a.value);
    EXPECT_EQ(result, kOk);
  }
}

TEST_F(ConfigStoreTest, LineEndConversions) {
  const std::string mixed = "[S]\r\n<k>\r\r\nv\r\n\n" + Repeat('q', 300) + "\r\nlast";
  const std::string lf = "[S]\n<k>\nv\n\n" + Repeat('q', 300) + "\nlast\n";
  const std::string crlf = "[S]\r\n<k>\r\nv\r\n\r\n" + Repeat('q', 300) + "\r\nlast\r\n";
  ASSERT_TRUE(kvtest::WriteFile(cfg_.path, mixed));
  ASSERT_EQ(ConfigStore_Normalize(path()), kOk);
  EXPECT_EQ(kvtest::ReadFile(cfg_.path), kvtest::TextForm(lf));
  ASSERT_EQ(ConfigStore_ToCrLf(path()), kOk);
  EXPECT_EQ(kvtest::ReadFile(cfg_.path), crlf);
  ASSERT_EQ(ConfigStore_Normalize(path()), kOk);
  EXPECT_EQ(kvtest::ReadFile(cfg_.path), kvtest::TextForm(lf));
  EXPECT_EQ(cfgtest::ListDir(cfg_.dir), "config.ini;");

  // A missing file normalises to an empty one; there is nothing to convert to CR LF.
  ASSERT_EQ(unlink(path()), 0);
  EXPECT_EQ(ConfigStore_ToCrLf(path()), kFileError);
  EXPECT_EQ(ConfigStore_Normalize(path()), kOk);
  EXPECT_EQ(kvtest::ReadFile(cfg_.path), "");
}

TEST_F(ConfigStoreTest, UnreadablePathsGiveTheFileErrorAndTheDefault) {
  // Root ignores permissions: a path through a regular file fails for everyone (ENOTDIR).
  const std::string blocker = cfg_.dir + "/plain-file";
  ASSERT_TRUE(kvtest::WriteFile(blocker, "x"));
  const std::string through_file = blocker + "/config.ini";
  const std::string missing = cfg_.dir + "/missing.ini";
  const std::string missing_dir = cfg_.dir + "/no-such-dir/config.ini";
  for (const std::string &p : {missing, through_file, missing_dir, cfg_.dir}) {
    SCOPED_TRACE(p);
    char out[CONFIG_VALUE_MAX] = "junk";
    EXPECT_EQ(ConfigStore_Get(p.c_str(), "S", "k", out, "fallback", -1), kFileError);
    EXPECT_STREQ(out, "fallback");
  }
  for (const std::string &p : {through_file, missing_dir, cfg_.dir}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(ConfigStore_Set(p.c_str(), "S", "k", "v", -1, 0), kFileError);
    EXPECT_EQ(ConfigStore_Normalize(p.c_str()), kFileError);
    EXPECT_EQ(ConfigStore_ToCrLf(p.c_str()), kFileError);
  }
  EXPECT_EQ(kvtest::ReadFile(blocker), "x");
  // A NULL default reads as empty.
  char out[CONFIG_VALUE_MAX] = "junk";
  EXPECT_EQ(ConfigStore_Get(missing.c_str(), "S", "k", out, nullptr, -1), kFileError);
  EXPECT_STREQ(out, "");
}

// ---- A writer killed half-way leaves the old file or the new one -------------------------------

class KilledWriterTest : public ConfigStoreTest {
 protected:
  void StartWriter(kvtest::ChildProcess *child, const std::vector<std::string> &env) {
    ASSERT_TRUE(child->Start({CONFIG_WRITER_PATH, cfg_.path, "NETWORK3", "setting number 5",
                              "changed", "-1"},
                             cfg_.dir + "/../" + "config-writer.log", env));
  }
};

TEST_F(KilledWriterTest, PausedBeforeReplacingLeavesTheOldFile) {
  const std::string old_text = cfgtest::RealisticConfig(2000);
  ASSERT_TRUE(kvtest::WriteFile(cfg_.path, old_text));
  const std::string marker = cfg_.dir + ".paused";
  kvtest::ChildProcess child;
  StartWriter(&child, {"CONFIG_WRITER_PAUSE=" + marker});
  ASSERT_TRUE(kvtest::WaitUntil([&] { return access(marker.c_str(), F_OK) == 0; }, 20000));
  child.Signal(SIGKILL);
  child.Stop();
  EXPECT_EQ(kvtest::ReadFile(cfg_.path), old_text);
  // The next write goes through, whatever the killed one left beside the file.
  ASSERT_EQ(ConfigStore_Set(path(), "NETWORK3", "setting number 5", "changed", -1, 0), kOk);
  char out[CONFIG_VALUE_MAX];
  EXPECT_EQ(ConfigStore_Get(path(), "NETWORK3", "setting number 5", out, "", -1), kOk);
  EXPECT_STREQ(out, "changed");
}

TEST_F(KilledWriterTest, KilledAtAnyMomentLeavesOldOrNew) {
  const std::string old_text = cfgtest::RealisticConfig(2000);
  ASSERT_TRUE(kvtest::WriteFile(cfg_.path, old_text));
  ASSERT_EQ(ConfigStore_Set(path(), "NETWORK3", "setting number 5", "changed", -1, 0), kOk);
  const std::string new_text = kvtest::ReadFile(cfg_.path);
  ASSERT_NE(new_text, old_text);

  std::mt19937 random(12345);
  int saw_old = 0, saw_new = 0;
  for (int round = 0; round < 30; ++round) {
    ASSERT_TRUE(kvtest::WriteFile(cfg_.path, old_text));
    kvtest::ChildProcess child;
    StartWriter(&child, {});
    usleep(static_cast<useconds_t>(random() % 8000));
    child.Signal(SIGKILL);
    child.Stop();
    std::string now = kvtest::ReadFile(cfg_.path);
    ASSERT_TRUE(now == old_text || now == new_text) << "round " << round << ": " << now.size();
    (now == old_text ? saw_old : saw_new)++;
  }
  // Not a requirement, only a report of how often each outcome came up.
  std::printf("killed writers: %d left the old file, %d the new one\n", saw_old, saw_new);
}

}  // namespace
