// The directory walker and its enumeration primitives.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "firmware/firm_tools.h"
#include "test_paths.h"

namespace {

struct Visit {
  std::vector<std::string> seen;
  size_t stop_after = 0;  // 0: never stop
};

int Record(void *context, const char *, const char *relative, int is_file) {
  Visit *v = static_cast<Visit *>(context);
  v->seen.push_back(std::string(is_file ? "f:" : "d:") + relative);
  return v->stop_after == 0 || v->seen.size() < v->stop_after;
}

class DirWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = kvtest::MakeTempDir("dirwalk");
    ASSERT_EQ(mkdir((root_ + "/a").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root_ + "/a/b").c_str(), 0700), 0);
    ASSERT_TRUE(kvtest::WriteFile(root_ + "/a/b/c.txt", "c"));
    ASSERT_TRUE(kvtest::WriteFile(root_ + "/top.txt", "t"));
    ASSERT_TRUE(kvtest::WriteFile(root_ + "/a/a.txt", "a"));
  }
  std::vector<std::string> Walk(int order, const char *start = "") {
    Visit v;
    EXPECT_EQ(DirWalk(root_.c_str(), start, Record, &v, order), 0);
    return v.seen;
  }
  std::string root_;
};

TEST_F(DirWalkTest, Orders) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Walk(DIRWALK_CHILDREN_FIRST),
            (V{"f:top.txt", "f:a/a.txt", "f:a/b/c.txt", "d:a/b", "d:a"}));
  EXPECT_EQ(Walk(DIRWALK_PARENT_FIRST),
            (V{"f:top.txt", "d:a", "f:a/a.txt", "d:a/b", "f:a/b/c.txt"}));
  EXPECT_EQ(Walk(DIRWALK_NO_DESCENT), (V{"f:top.txt", "d:a"}));
  EXPECT_EQ(Walk(DIRWALK_CHILDREN_FIRST, "a"), (V{"f:a/a.txt", "f:a/b/c.txt", "d:a/b"}));
}

// The file system lists a directory in an order of its own (newest first, by hash); the walk
// does not follow it.
TEST_F(DirWalkTest, EntriesInByteOrderWhateverTheListing) {
  std::string root = kvtest::MakeTempDir("dirwalk-order");
  for (const char *name : {"m", "b", "z", "a0", "A"}) {
    ASSERT_EQ(mkdir((root + "/" + name).c_str(), 0700), 0);
    ASSERT_TRUE(kvtest::WriteFile(root + "/" + name + ".txt", name));
  }
  Visit v;
  ASSERT_EQ(DirWalk(root.c_str(), "", Record, &v, DIRWALK_NO_DESCENT), 0);
  EXPECT_EQ(v.seen, (std::vector<std::string>{"f:A.txt", "f:a0.txt", "f:b.txt", "f:m.txt",
                                              "f:z.txt", "d:A", "d:a0", "d:b", "d:m", "d:z"}));
}

TEST_F(DirWalkTest, CallbackStopsTheWalk) {
  for (size_t stop = 1; stop <= 5; ++stop) {
    Visit v;
    v.stop_after = stop;
    EXPECT_EQ(DirWalk(root_.c_str(), "", Record, &v, DIRWALK_CHILDREN_FIRST), -1) << stop;
    EXPECT_EQ(v.seen.size(), stop);
  }
}

TEST_F(DirWalkTest, MissingStartAndLinks) {
  Visit v;
  EXPECT_EQ(DirWalk(root_.c_str(), "missing", Record, &v, 0), 1);
  EXPECT_EQ(DirWalk(root_.c_str(), "top.txt", Record, &v, 0), 1);
  EXPECT_TRUE(v.seen.empty());
  // A link to a directory is reported, never walked into: it may lead anywhere.
  ASSERT_EQ(symlink("a", (root_ + "/link").c_str()), 0);
  std::vector<std::string> seen = Walk(DIRWALK_PARENT_FIRST);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "f:link"), 1);
  for (const std::string &s : seen) EXPECT_EQ(s.find("link/"), std::string::npos) << s;
}

TEST(DirPrimitives, MarkerGuardsTheHandle) {
  std::string root = kvtest::MakeTempDir("dirprim");
  ASSERT_TRUE(kvtest::WriteFile(root + "/only", "x"));
  FirmDir dir;
  ASSERT_EQ(DirOpen(root.c_str(), &dir), 0);
  EXPECT_EQ(dir.marker, FIRM_DIR_MARKER);
  std::vector<std::string> first, second;
  for (const char *n; (n = DirRead(&dir)) != nullptr;) first.push_back(n);
  ASSERT_EQ(DirRewind(&dir), 0);
  for (const char *n; (n = DirRead(&dir)) != nullptr;) second.push_back(n);
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::count(first.begin(), first.end(), "only"), 1);
  EXPECT_EQ(DirClose(&dir), 0);
  EXPECT_EQ(DirRead(&dir), nullptr);
  EXPECT_EQ(DirRewind(&dir), -1);
  EXPECT_EQ(DirClose(&dir), -1);
  EXPECT_EQ(DirOpen((root + "/only").c_str(), &dir), -1);
  EXPECT_EQ(DirOpen((root + "/missing").c_str(), &dir), -1);
}

}  // namespace
