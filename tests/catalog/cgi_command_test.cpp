// Kavrel_GetCGICommand through the shared library: the paths of the line-up by model name
// and by friendly name, the size query, and the refusals.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "kavrel.h"

namespace {

std::string Path(const char *name, uint32_t command, uint32_t *result) {
  char buffer[64] = "unchanged";
  uint32_t length = sizeof(buffer) - 1;
  *result = Kavrel_GetCGICommand(name, command, &length, buffer);
  if (*result == 0) {
    EXPECT_EQ(strlen(buffer), length) << name;
  }
  return buffer;
}

}  // namespace

TEST(CgiCommand, PathsOfTheLineUp) {
  struct Case {
    const char *name;
    const char *paths[5];  // PTZ, recall, preset, get DI, set DO
  } cases[] = {
      {"KM2401", {"/cgi-bin/camctrl.cgi", "/cgi-bin/recall.cgi", "/cgi-bin/preset.cgi",
                  "/cgi-bin/getdi.cgi", "/cgi-bin/setdo.cgi"}},
      {"QB3101-V1.0.2", {"/setup/camctrl.cgi", "/cgi-bin/recall.cgi", "/setup/preset.cgi",
                         "/cgi-bin/getdi.cgi", "/setup/setdo.cgi"}},
      {"RZ7161-V9", {"/cgi-bin/camctrl/camctrl.cgi", "/cgi-bin/recall.cgi",
                     "/cgi-bin/admin/preset.cgi", "/cgi-bin/dido/getdi.cgi",
                     "/cgi-bin/dido/setdo.cgi"}},
      {"KM6211", {"/cgi-bin/camctrl/camctrl.cgi", "", "", "/cgi-bin/dido/getdi.cgi",
                  "/cgi-bin/dido/setdo.cgi"}},
      {"RQ48x3", {"/cgi-bin/camctrl/camctrl.cgi", "/cgi-bin/recall.cgi",
                  "/cgi-bin/admin/preset.cgi", "/cgi-bin/dido/getdi.cgi",
                  "/cgi-bin/dido/setdo.cgi"}},
      // Known only by its mapping: the paths of the model it maps to (KM4130).
      {"KM5120", {"", "", "", "/cgi-bin/dido/getdi.cgi", "/cgi-bin/dido/setdo.cgi"}},
  };
  for (const Case &c : cases) {
    for (uint32_t command = 0; command < 5; command++) {
      uint32_t result = 1;
      EXPECT_EQ(c.paths[command], Path(c.name, command, &result)) << c.name << " " << command;
      EXPECT_EQ(0u, result) << c.name << " " << command;
    }
  }
}

TEST(CgiCommand, SizeQueryAndRefusals) {
  uint32_t length = 0;
  EXPECT_EQ(0x80000003u, Kavrel_GetCGICommand("KM2401", KAVREL_CGI_PTZ, &length, nullptr));
  EXPECT_EQ(strlen("/cgi-bin/camctrl.cgi"), length) << "a length of 0 asks for the size";
  length = 0;
  EXPECT_EQ(0u, Kavrel_GetCGICommand("KM6211", KAVREL_CGI_RECALL, &length, nullptr))
      << "an empty path fits any buffer";
  EXPECT_EQ(0u, length);

  char buffer[64];
  memset(buffer, 'z', sizeof(buffer));
  length = (uint32_t)strlen("/cgi-bin/camctrl.cgi") - 1;
  EXPECT_EQ(0x80000003u, Kavrel_GetCGICommand("KM2401", KAVREL_CGI_PTZ, &length, buffer));
  EXPECT_EQ(strlen("/cgi-bin/camctrl.cgi"), length) << "one short: the size needed";
  EXPECT_EQ('z', buffer[0]) << "nothing written";
  EXPECT_EQ(0u, Kavrel_GetCGICommand("KM2401", KAVREL_CGI_PTZ, &length, buffer));
  EXPECT_STREQ("/cgi-bin/camctrl.cgi", buffer) << "exactly the length fits, with its NUL";

  length = sizeof(buffer) - 1;
  EXPECT_EQ(0x80060305u, Kavrel_GetCGICommand("KM2401", 5, &length, buffer));
  EXPECT_EQ(0x80060305u, Kavrel_GetCGICommand("KM2401", 0xFFFFFFFFu, &length, buffer));
  EXPECT_EQ(0x8006030Au, Kavrel_GetCGICommand("XX9999", 0, &length, buffer));
  EXPECT_EQ(0x8006030Au, Kavrel_GetCGICommand("", 0, &length, buffer));
  EXPECT_EQ(0x80000003u, Kavrel_GetCGICommand(nullptr, 0, &length, buffer));
  EXPECT_EQ(0x80000003u, Kavrel_GetCGICommand("KM2401", 0, nullptr, buffer));
  EXPECT_EQ(0x80000003u, Kavrel_GetCGICommand("KM2401", 0, &length, nullptr));
}
