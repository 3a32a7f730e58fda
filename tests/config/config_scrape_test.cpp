// The page scraping of the configuration transfer: the FTP port field and the text area.
#include <gtest/gtest.h>

#include <string>

#include "config/config_scrape.h"

namespace {

TEST(ConfigScrape, PortField) {
  struct Case {
    const char *page;
    bool found;
    uint32_t port;
  } cases[] = {
      {R"(<input type="text" name="ftpport" value="2121" size="5">)", true, 2121},
      {R"(<input name=ftpport value=2121>)", true, 2121},
      {R"(<input name=ftpp value="21 ">)", true, 21},
      {R"(<input name="ftpport" value=" 8021">)", true, 8021},
      {R"(<input name="ftpport" value="65535">)", true, 65535},
      {R"(<input name="ftpport" value="65536">)", false, 0},
      {R"(<input name="ftpport" value="99999999999999999999">)", false, 0},
      {R"(<input name="ftpport" value="0">)", false, 0},
      {R"(<input name="ftpport" value="-21">)", false, 0},
      {R"(<input name="ftpport" value="abc">)", false, 0},
      {R"(<input name="ftpport" value="">)", false, 0},
      {R"(<input name="ftpport" value="2121)", false, 0},  // the value never ends
      {R"(<input name="ftpport">)", false, 0},
      {R"(<input name="httpport" value="80">)", false, 0},
      {R"(<input name="port" value="1"><input name="ftppt" value="7">)", true, 7},
      {"", false, 0},
  };
  for (const Case &c : cases) {
    uint32_t port = 4242;
    EXPECT_EQ(ConfigScrape_Port(c.page, strlen(c.page), &port), c.found) << c.page;
    EXPECT_EQ(port, c.found ? c.port : 4242u) << c.page;
  }
}

TEST(ConfigScrape, PortFieldIsBoundedByTheLengthGiven) {
  std::string page = R"(<input name="ftpport" value="2121">)";
  uint32_t port = 0;
  EXPECT_FALSE(ConfigScrape_Port(page.data(), page.size() - 6, &port));  // cut in the value
  page.insert(0, std::string("\0\0", 2));  // bytes a C string search would stop at
  EXPECT_TRUE(ConfigScrape_Port(page.data(), page.size(), &port));
  EXPECT_EQ(port, 2121u);
}

TEST(ConfigScrape, TextArea) {
  struct Case {
    const char *page;
    ConfigScrapeArea result;
    const char *text;
  } cases[] = {
      {"<textarea name=\"para\" readonly>[SYSTEM]\r\n<a>\r\n1\r\n</textarea>", CONFIG_AREA_FOUND,
       "[SYSTEM]\r\n<a>\r\n1\r\n"},
      {"<textarea name=p rows=4 readonly></textarea>", CONFIG_AREA_FOUND, ""},
      {"readonly>x</textarea><textarea name=p>", CONFIG_AREA_NO_READONLY, nullptr},
      {"<textarea name=p>[SYSTEM]</textarea>", CONFIG_AREA_NO_READONLY, nullptr},
      {"<textarea name=p readonly>[SYSTEM]", CONFIG_AREA_NO_END, nullptr},
      {"<textarea readonly>[SYSTEM]</textarea>", CONFIG_AREA_NO_TEXTAREA, nullptr},
      {"", CONFIG_AREA_NO_TEXTAREA, nullptr},
  };
  for (const Case &c : cases) {
    size_t offset = 99, count = 99;
    ASSERT_EQ(ConfigScrape_TextArea(c.page, strlen(c.page), &offset, &count), c.result) << c.page;
    if (c.text) {
      EXPECT_EQ(std::string(c.page + offset, count), c.text) << c.page;
    }
  }
}

}  // namespace
