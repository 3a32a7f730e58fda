// The version reader: package magics and header fields, language tags, plain images, and
// the exported block with its translated codes.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "firm_package_writer.h"
#include "firmware/firm_tools.h"
#include "kavrel.h"
#include "test_logger.h"
#include "test_paths.h"

namespace {

using kvtest::FirmPackage;

class FirmVersion : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = kvtest::MakeTempDir("firm-version"); }
  std::string Put(const std::string &bytes) {
    std::string path = dir_ + "/f" + std::to_string(count_++);
    EXPECT_TRUE(kvtest::WriteFile(path, bytes));
    return path;
  }
  uint32_t Read(const std::string &bytes, FirmVersionHeader *h) {
    return FirmTools_GetVersion(Put(bytes).c_str(), h);
  }
  std::string dir_;
  int count_ = 0;
};

TEST_F(FirmVersion, EachMagicGivesItsPackageType) {
  const struct {
    uint32_t magic;
    uint32_t type;
  } cases[] = {{0xF51614DE, 0}, {0x8C3937BF, 1}, {0xB80425A3, 2},
               {0x27051956, 3}, {0x30BCD8F4, 3}, {0x76B539A9, 3}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.magic);
    // A tag 0 record first: its size depends on the magic, and the field after it must
    // still be found.
    FirmVersionHeader h;
    ASSERT_EQ(Read(FirmPackage(c.magic).Tag0(5).Text(1, "V1.2.3").bytes(), &h), FIRM_OK);
    EXPECT_EQ(h.package_type, c.type);
    EXPECT_EQ(h.plain_image, 0u);
    EXPECT_STREQ(h.version, "V1.2.3");
  }
}

TEST_F(FirmVersion, HeaderFieldsDescrambledIntoTheirPlaces) {
  std::string thirty_one(31, 'a'), thirty_two(32, 'b');
  // Scrambling wraps modulo 256: a character past 0xFF - 31 - '0' comes back intact.
  std::string high = "\xF0\xF1\x7E";
  FirmVersionHeader h;
  ASSERT_EQ(Read(FirmPackage(0xB80425A3)
                     .Text(1, "KM3111-V1.0.2")
                     .Text(2, thirty_one)
                     .Text(3, thirty_two)  // too long: skipped, stays empty
                     .Text(4, high)
                     .Text(5, "five")
                     .Text(9, "nine")
                     .Text(10, "ten")
                     .Text(13, "thirteen")
                     .Text(11, "not kept")
                     .Text(6 + 0x100, "an unknown short tag")
                     .bytes(),
                 &h),
            FIRM_OK);
  EXPECT_STREQ(h.version, "KM3111-V1.0.2");
  EXPECT_EQ(std::string(h.tag2), thirty_one);
  EXPECT_STREQ(h.tag3, "");
  EXPECT_EQ(std::string(h.tag4), high);
  EXPECT_STREQ(h.tag5, "five");
  EXPECT_STREQ(h.tag9, "nine");
  EXPECT_STREQ(h.tag10, "ten");
  EXPECT_STREQ(h.tag13, "thirteen");
  EXPECT_STREQ(h.language, "");
  EXPECT_EQ(h.part3, 0u);
}

TEST_F(FirmVersion, LanguageTags) {
  const struct {
    std::string tag;
    const char *name;
  } cases[] = {{"en", "English"},         {"ar-ir", "Arabic_Iraq"},
               {"az", "Azeri_Latin"},     {"kk", "kazakh"},
               {"zu", "Zulu"},            {"x-kok", "Konkani"},
               {"EN", "Unknown"},         {"xx-xxxx", "Unknown"},
               {"en-usaa", "Unknown"},    {"en-us-xx", "Unknown"},
               {std::string("en\0x", 4), "English"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.tag);
    FirmVersionHeader h;
    ASSERT_EQ(Read(FirmPackage(0xF51614DE).Text(8, c.tag).bytes(), &h), FIRM_OK);
    EXPECT_STREQ(h.language, c.name);
  }
  EXPECT_EQ(kFirmLanguageCount, 136u);
}

TEST_F(FirmVersion, RecordsAreWalkedToTheFieldsBehindThem) {
  FirmVersionHeader h;
  ASSERT_EQ(Read(FirmPackage(0xF51614DE)
                     .Dir("www")
                     .File("www/index.html", "<html>")
                     .Long(0x8010, "skipped")
                     .Nested(0x8001, 100, 0x8C3937BF)
                     .Nested(0x8005, 8, 0x12345678)  // any magic is accepted here
                     .Nested(0x8003, 100, 0x51F0ED49)
                     .Text(1, "after nesting")
                     .bytes(),
                 &h),
            FIRM_OK);
  EXPECT_STREQ(h.version, "after nesting");
  EXPECT_EQ(h.part3, 1u);
  // A nested magic that differs ends the header; what was read stays.
  ASSERT_EQ(Read(FirmPackage(0xF51614DE)
                     .Text(2, "before")
                     .Nested(0x8000, 4, 0xDEADBEEF)
                     .Text(1, "never read")
                     .bytes(),
                 &h),
            FIRM_OK);
  EXPECT_STREQ(h.tag2, "before");
  EXPECT_STREQ(h.version, "");
  // A record cut short ends it too, without reading past the end.
  ASSERT_EQ(Read(FirmPackage(0xF51614DE).Text(1, "v").U16(2).U16(60000).Bytes("ab").bytes(), &h),
            FIRM_OK);
  EXPECT_STREQ(h.version, "v");
}

// A payload of `size` bytes with `text` at `at`.
std::string Payload(size_t size, size_t at, const std::string &text) {
  std::string p(size, 'x');
  p.replace(at, text.size(), text);
  return p;
}

TEST_F(FirmVersion, PlainImages) {
  const std::string token("\0KM3111-V100-0A1f\0", 18);
  const struct {
    const char *what;
    std::string bytes;
    uint32_t rc;
    const char *version;
  } cases[] = {
      {"version token", kvtest::FirmPlainImage(Payload(600, 300, token)), FIRM_OK,
       "KM3111-V100-0A1f"},
      {"token with one more character", kvtest::FirmPlainImage(Payload(60, 10, std::string("\0KM-abcd-1234b\0", 15))),
       FIRM_OK, "KM-abcd-1234b"},
      {"token across a block boundary", kvtest::FirmPlainImage(Payload(2000, 505, token)),
       FIRM_OK, "KM3111-V100-0A1f"},
      {"marker split across the 512-byte boundary",
       Payload(1500, 507, std::string("_FV_HEAD_:RZ7161-2.0\0", 21)), FIRM_OK, "RZ7161-2.0"},
      {"marker split across a 64 KiB read", Payload(70000, 65530, std::string("_FV_HEAD_:big\0", 14)),
       FIRM_OK, "big"},
      {"marker near the end", Payload(100, 80, "_FV_HEAD_:short"), FIRM_OK, "shortxxxxx"},
      // Nothing follows the marker: an empty version, read without stepping past the file.
      {"marker as the last bytes", Payload(100, 90, "_FV_HEAD_:"), FIRM_OK, ""},
      {"marker text cut at 31", "_FV_HEAD_:" + std::string(40, 'v'), FIRM_OK,
       "vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv"},
      {"N 10, size 15, sum 0, no token", kvtest::FirmPlainImage("0123456789"),
       FIRM_E_NO_VERSION, ""},
      {"N 10, size 16", kvtest::FirmPlainImage("0123456789") + "!", FIRM_E_FORMAT, ""},
      {"N of 16 MiB", std::string("\x01\x00\x00\x00", 4) + "x", FIRM_E_FORMAT, ""},
      {"bad check byte", kvtest::FirmPlainImage(Payload(600, 300, token), false), FIRM_E_SHORT,
       ""},
      {"shorter than a length word", "ab", FIRM_E_FORMAT, ""},
      {"no NUL before the token", kvtest::FirmPlainImage(Payload(60, 10, "KM3111456789-V100-0A1f\0")),
       FIRM_E_NO_VERSION, ""},
      {"token's second part not hexadecimal", kvtest::FirmPlainImage(Payload(60, 10, std::string("\0KM-V100-0A1g\0", 14))),
       FIRM_E_NO_VERSION, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    FirmVersionHeader h;
    EXPECT_EQ(Read(c.bytes, &h), c.rc);
    EXPECT_EQ(h.plain_image, 1u);
    EXPECT_STREQ(h.version, c.version);
  }
  FirmVersionHeader h;
  EXPECT_EQ(FirmTools_GetVersion((dir_ + "/missing").c_str(), &h), FIRM_E_OPEN);
}

TEST_F(FirmVersion, ExportedBlockAndTranslatedCodes) {
  kvtest::TestLogger logger;
  Kavrel_LogInit(logger.table());
  KavrelFirmVersionInfo info;
  EXPECT_EQ(Kavrel_GetFirmVersionInfo(nullptr, &info), 0x80000003u);
  EXPECT_EQ(Kavrel_GetFirmVersionInfo(Put("x").c_str(), nullptr), 0x80000003u);

  std::string max(31, 'M');
  std::string package = FirmPackage(0x8C3937BF)
                            .Text(1, max).Text(2, "two").Text(10, "ten").Text(3, "three")
                            .Text(4, "four").Text(5, "five").Text(9, "nine").Text(8, "fr-ca")
                            .bytes();
  memset(&info, 0x5A, sizeof info);
  ASSERT_EQ(Kavrel_GetFirmVersionInfo(Put(package).c_str(), &info), 0u);
  EXPECT_EQ(std::string(info.FirmwareVersion), max);
  EXPECT_STREQ(info.Tag2, "two");
  EXPECT_STREQ(info.Tag10, "ten");
  EXPECT_STREQ(info.Tag3, "three");
  EXPECT_STREQ(info.Tag4, "four");
  EXPECT_STREQ(info.Tag5, "five");
  EXPECT_STREQ(info.Tag9, "nine");
  EXPECT_STREQ(info.Language, "French_Canadian");
  EXPECT_EQ(info.PlainImage, 0u);
  EXPECT_EQ(info.PackageType, 1u);
  EXPECT_EQ(info.FirmwareVersion[32], '\0');  // zeroed first

  const struct {
    std::string bytes;
    uint32_t rc;
  } failures[] = {
      {kvtest::FirmPlainImage("0123456789") + "!", 0x8006030Bu},
      {kvtest::FirmPlainImage("0123456789", false), 0x8006030Du},
      {kvtest::FirmPlainImage("0123456789"), 0xFFFFFFFFu},
  };
  for (const auto &f : failures) {
    logger.clear();
    memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(Kavrel_GetFirmVersionInfo(Put(f.bytes).c_str(), &info), f.rc);
    EXPECT_EQ(info.FirmwareVersion[0], '\0');
    ASSERT_EQ(logger.records().size(), 1u);
    EXPECT_EQ(logger.records()[0].code, KAVREL_LOG_LOWER);
  }
  EXPECT_EQ(Kavrel_GetFirmVersionInfo((dir_ + "/missing").c_str(), &info), 0x80000003u);
  Kavrel_LogInit(nullptr);
}

TEST(FirmTranslate, ToolCodes) {
  const uint32_t cases[][2] = {{0, 0},
                               {0x80000001, 0x80000003},
                               {0x80000002, 0x80000003},
                               {0x80000003, 0x8006030B},
                               {0x80000004, 0x8006030C},
                               {0x80000005, 0x8006030D},
                               {0x80000006, 0x8006030E},
                               {0x80000007, 0x8006030F},
                               {0x80000008, 0xFFFFFFFF},
                               {0xFFFFFFFF, 0xFFFFFFFF}};
  for (const auto &c : cases) EXPECT_EQ(FirmTools_TranslateCode(c[0]), c[1]) << std::hex << c[0];
}

}  // namespace
