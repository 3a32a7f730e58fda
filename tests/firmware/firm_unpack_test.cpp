// The unpacker: a package unpacks to the expected tree byte for byte; malformed packages fail
// with their codes; unsafe names and planted links write nothing outside the output
// directory.
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "firm_package_writer.h"
#include "firmware/firm_tools.h"
#include "test_paths.h"

namespace {

using kvtest::FirmPackage;

// Every path below `root` with its content ("<dir>" for directories, "-> target" for links).
void Snapshot(const std::string &root, const std::string &relative,
              std::map<std::string, std::string> *out) {
  FirmDir dir;
  std::string path = relative.empty() ? root : root + "/" + relative;
  if (DirOpen(path.c_str(), &dir) != 0) return;
  for (const char *name; (name = DirRead(&dir)) != nullptr;) {
    std::string n = name;
    if (n == "." || n == "..") continue;
    std::string rel = relative.empty() ? n : relative + "/" + n;
    std::string full = root + "/" + rel;
    struct stat st;
    ASSERT_EQ(lstat(full.c_str(), &st), 0);
    if (S_ISLNK(st.st_mode)) {
      char target[512] = {0};
      ASSERT_GT(readlink(full.c_str(), target, sizeof target - 1), 0);
      (*out)[rel] = std::string("-> ") + target;
    } else if (S_ISDIR(st.st_mode)) {
      (*out)[rel] = "<dir>";
      Snapshot(root, rel, out);
    } else if (!S_ISREG(st.st_mode)) {
      (*out)[rel] = "<special>";  // never opened: a pipe would block the reader
    } else {
      (*out)[rel] = kvtest::ReadFile(full);
    }
  }
  DirClose(&dir);
}

std::map<std::string, std::string> Tree(const std::string &root) {
  std::map<std::string, std::string> out;
  Snapshot(root, "", &out);
  return out;
}

// A sandbox: the output directory "out" among neighbours that must never change.
class FirmUnpack : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_ = kvtest::MakeTempDir("firm-unpack");
    out_ = sandbox_ + "/out";
    ASSERT_TRUE(kvtest::WriteFile(sandbox_ + "/neighbour.txt", "keep me"));
    ASSERT_EQ(mkdir((sandbox_ + "/outside").c_str(), 0700), 0);
    ASSERT_TRUE(kvtest::WriteFile(sandbox_ + "/outside/target", "original"));
    ASSERT_EQ(mkdir(out_.c_str(), 0700), 0);
  }
  uint32_t Unpack(const FirmPackage &package) {
    std::string path = sandbox_ + "/package.bin";
    EXPECT_TRUE(package.Write(path));
    uint32_t rc = FirmUnpack_Package(path.c_str(), out_.c_str());
    unlink(path.c_str());
    return rc;
  }
  // Everything in the sandbox except the output directory.
  std::map<std::string, std::string> Neighbours() {
    std::map<std::string, std::string> all = Tree(sandbox_);
    for (auto it = all.begin(); it != all.end();) {
      bool in_out = it->first == "out" || it->first.compare(0, 4, "out/") == 0;
      it = in_out ? all.erase(it) : std::next(it);
    }
    return all;
  }
  std::string sandbox_, out_;
};

TEST_F(FirmUnpack, PackageUnpacksToTheExpectedTree) {
  std::string image = kvtest::FirmLe32(0xF51614DE) + std::string(5000, '\xAB');
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
  FirmPackage package(0xB80425A3);
  package.Text(1, "KM8111-V2").Tag0(3)
      .Dir("www")
      .File("index.html", "<html></html>")
      .File("app..min.js", "js")
      .Dir("www\\img")  // either separator
      .File("logo.bin", big)
      .File("empty", "")
      .Long(0x8040, "an unknown long record")
      .Short(0x20, "an unknown short record")
      .Nested(0x8001, 0, 0x8C3937BF)
      .Dir("part1/")
      .File("inner.txt", "inside a nested part")
      .Nested(0x8003, 0xFFFFFFFF, 0x51F0ED49)  // a length beyond the file is not used
      .Flash(image)
      .Dir("after")
      .File("after-flash.txt", "a directory record after the image names a real directory")
      .Long(0x8005, std::string("\x01\x02\x03\x04", 4));
  ASSERT_EQ(Unpack(package), FIRM_OK);
  std::map<std::string, std::string> expected = {
      {"www", "<dir>"},
      {"www/index.html", "<html></html>"},
      {"www/app..min.js", "js"},
      {"www/img", "<dir>"},
      {"www/img/logo.bin", big},
      {"www/img/empty", ""},
      {"part1", "<dir>"},
      {"part1/inner.txt", "inside a nested part"},
      {"flash.bin", image},
      {"after", "<dir>"},
      {"after/after-flash.txt", "a directory record after the image names a real directory"},
  };
  EXPECT_EQ(Tree(out_), expected);
  // Unpacking again over the tree replaces the files in place.
  ASSERT_EQ(Unpack(package), FIRM_OK);
  EXPECT_EQ(Tree(out_), expected);
}

TEST_F(FirmUnpack, FileBeforeAnyDirectoryLandsInTheOutputDirectory) {
  ASSERT_EQ(Unpack(FirmPackage(0xF51614DE).File("top.txt", "t")), FIRM_OK);
  EXPECT_EQ(kvtest::ReadFile(out_ + "/top.txt"), "t");
  // The output directory is made when missing.
  out_ = sandbox_ + "/fresh";
  ASSERT_EQ(Unpack(FirmPackage(0x8C3937BF).File("f", "x")), FIRM_OK);
  EXPECT_EQ(kvtest::ReadFile(out_ + "/f"), "x");
}

TEST_F(FirmUnpack, MalformedPackagesFailWithTheirCodes) {
  const FirmPackage base = FirmPackage(0xF51614DE).Dir("d").File("ok.txt", "ok");
  const struct {
    const char *what;
    FirmPackage package;
    uint32_t rc;
  } cases[] = {
      {"tag cut in half", FirmPackage(base).Bytes("\x07"), FIRM_E_SHORT},
      {"file content beyond the end", FirmPackage(base).U16(6).U16(1).Bytes("f").U16(0x8002).U32(100).Bytes("short"), FIRM_E_SHORT},
      {"file length word cut", FirmPackage(base).U16(6).U16(1).Bytes("f").U16(0x8002).Bytes("\x01"), FIRM_E_SHORT},
      {"name beyond the end", FirmPackage(base).U16(7).U16(50).Bytes("abc"), FIRM_E_SHORT},
      {"tag 0 beyond the end", FirmPackage(base).U16(0).U32(0xFFFFFFF0), FIRM_E_SHORT},
      {"text field beyond the end", FirmPackage(base).U16(1).U16(9).Bytes("abc"), FIRM_E_SHORT},
      {"long record beyond the end", FirmPackage(base).U16(0x8044).U32(1u << 30), FIRM_E_SHORT},
      {"flash image beyond the end", FirmPackage(base).U16(0x8000).U32(1000).Bytes("abc"), FIRM_E_SHORT},
      {"nested magic cut", FirmPackage(base).U16(0x8001).U32(8).Bytes("\xBF\x37"), FIRM_E_SHORT},
      {"name length 4096", FirmPackage(base).U16(7).U16(4096).Bytes(std::string(4096, 'n')), FIRM_E_FORMAT},
      {"file name length 65535", FirmPackage(base).U16(6).U16(65535), FIRM_E_FORMAT},
      {"missing 0x8002", FirmPackage(base).U16(6).U16(1).Bytes("f").U16(0x8003).U32(1).Bytes("x"), FIRM_E_FORMAT},
      {"nested 0x8001 magic differs", FirmPackage(base).Nested(0x8001, 8, 0x51F0ED49), FIRM_E_FORMAT},
      {"nested 0x8003 magic differs", FirmPackage(base).Nested(0x8003, 8, 0x8C3937BF), FIRM_E_FORMAT},
      {"header-only package type", FirmPackage(0x27051956).File("x", "y"), FIRM_E_FORMAT},
      {"not a package", FirmPackage(0x01020304), FIRM_E_FORMAT},
      {"subdirectory through a file", FirmPackage(base).Dir("d/ok.txt/sub"), FIRM_E_MKDIR},
      {"file where a directory is", FirmPackage(0xF51614DE).Dir("a/b").Dir("a").File("b", "x"), FIRM_E_WRITE},
      {"file below a missing directory", FirmPackage(base).File("nodir/x", "x"), FIRM_E_WRITE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Unpack(c.package), c.rc);
    // Nothing half-written is left looking complete.
    std::map<std::string, std::string> tree = Tree(out_);
    for (const auto &entry : tree) {
      EXPECT_TRUE(entry.second == "<dir>" || entry.second == "<special>" || entry.second == "ok" || entry.second == "x")
          << entry.first;
    }
    EXPECT_EQ(tree.count("flash.bin"), 0u);
  }
  // Three bytes are not even a magic.
  std::string tiny = sandbox_ + "/tiny";
  ASSERT_TRUE(kvtest::WriteFile(tiny, "abc"));
  EXPECT_EQ(FirmUnpack_Package(tiny.c_str(), out_.c_str()), FIRM_E_FORMAT);
  EXPECT_EQ(FirmUnpack_Package((sandbox_ + "/missing").c_str(), out_.c_str()), FIRM_E_OPEN);
  // An output directory that cannot be made: below a regular file.
  std::string package = sandbox_ + "/p.bin";
  ASSERT_TRUE(FirmPackage(0xF51614DE).File("f", "x").Write(package));
  EXPECT_EQ(FirmUnpack_Package(package.c_str(), (sandbox_ + "/neighbour.txt/out").c_str()),
            FIRM_E_MKDIR);
  unlink(package.c_str());
}

// The image's name becomes the current directory, and nothing can be created under a file: a
// file record right after the image is malformed, and it lands nowhere, neither at the top
// level (where the upgrade would upload it) nor outside.
TEST_F(FirmUnpack, FileRightAfterAnImageIsMalformed) {
  const std::map<std::string, std::string> before = Neighbours();
  for (const char *name : {"app.bin", "www/index.html"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Unpack(FirmPackage(0xB80425A3).Flash("image").File(name, "stray")), FIRM_E_FORMAT);
    std::map<std::string, std::string> inside = Tree(out_);
    inside.erase("flash.bin");
    EXPECT_TRUE(inside.empty());
  }
  EXPECT_EQ(Neighbours(), before);
}

TEST_F(FirmUnpack, UnsafeNamesWriteNothingOutside) {
  const std::map<std::string, std::string> before = Neighbours();
  const std::string names[] = {"../x",        "/etc/kavrel-unpack-test", "C:\\x",
                               "a\\..\\..\\x", "a/./b",                  "",
                               "..",          ".",                       "a/..",
                               "\\x",         "/",                       std::string("a\0b", 3),
                               "../outside/target", "x:stream"};
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Unpack(FirmPackage(0xF51614DE).Dir(name)), FIRM_E_UNSAFE);
    EXPECT_EQ(Unpack(FirmPackage(0xF51614DE).File(name, "evil")), FIRM_E_UNSAFE);
    EXPECT_EQ(Unpack(FirmPackage(0xF51614DE).Dir("d").File(name, "evil")), FIRM_E_UNSAFE);
  }
  struct stat st;
  EXPECT_NE(lstat("/etc/kavrel-unpack-test", &st), 0);
  EXPECT_EQ(Neighbours(), before);
  std::map<std::string, std::string> inside = Tree(out_);
  for (const auto &entry : inside) EXPECT_EQ(entry.second, "<dir>") << entry.first;
}

TEST_F(FirmUnpack, PlantedLinksAreNeverFollowed) {
  ASSERT_EQ(symlink("../outside", (out_ + "/linkdir").c_str()), 0);
  ASSERT_EQ(symlink("../outside/target", (out_ + "/linkfile").c_str()), 0);
  ASSERT_EQ(symlink("../outside/new", (out_ + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((out_ + "/fifo").c_str(), 0600), 0);
  const std::map<std::string, std::string> before = Neighbours();
  const struct {
    const char *what;
    FirmPackage package;
  } cases[] = {
      {"directory record through a link", FirmPackage(0xF51614DE).Dir("linkdir")},
      {"directory below a link", FirmPackage(0xF51614DE).Dir("linkdir/sub")},
      {"file below a link", FirmPackage(0xF51614DE).File("linkdir/x", "evil")},
      {"file in a linked current directory", FirmPackage(0xF51614DE).Dir("linkdir").File("x", "evil")},
      {"file over a link", FirmPackage(0xF51614DE).File("linkfile", "evil")},
      {"file over a dangling link", FirmPackage(0xF51614DE).File("dangling", "evil")},
      {"file over a pipe", FirmPackage(0xF51614DE).File("fifo", "evil")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Unpack(c.package), FIRM_E_UNSAFE);
  }
  EXPECT_EQ(Neighbours(), before);
  EXPECT_EQ(kvtest::ReadFile(sandbox_ + "/outside/target"), "original");
  // A flash image over a planted link is refused the same way.
  ASSERT_EQ(symlink("../outside/flash", (out_ + "/flash.bin").c_str()), 0);
  EXPECT_EQ(Unpack(FirmPackage(0xF51614DE).Flash("image")), FIRM_E_UNSAFE);
  EXPECT_EQ(Neighbours(), before);
}

}  // namespace
