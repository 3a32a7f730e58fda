#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "model_table.h"
#include "morvane.h"
#include "test_paths.h"

namespace {

using morvane::ModelTable;
using morvane::ModelTable_Parse;

TEST(ModelTableParse, ReadsSectionsFieldsAndMappings) {
  const std::string text =
      "# comment\r\n"
      "\r\n"
      "[AB1234]\r\n"
      "CamNum = 2\r\n"
      "  PtzUrl=/a.cgi  \r\n"
      "UartUrl =\r\n"
      "DefaultVSize = 12345678901\r\n"
      "Flag = -1\r\n"
      "ConfigBy = textarea\r\n"
      "[Friendly name]\n"
      "MapsTo = AB1234\n";
  ModelTable t;
  std::string error;
  ASSERT_TRUE(ModelTable_Parse(text, &t, &error)) << error;
  ASSERT_EQ(t.models.size(), 2u);
  const morvane::ModelEntry *m = t.ByModelName("AB1234-V7");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->param.CamNum, 2);
  EXPECT_STREQ(m->param.PtzUrl, "/a.cgi");
  EXPECT_STREQ(m->param.UartUrl, "");
  EXPECT_STREQ(m->param.DefaultVSize, "12345678901");
  EXPECT_EQ(m->param.Flag, -1);
  ASSERT_NE(t.ByFriendlyName("Friendly name"), nullptr);
  EXPECT_EQ(t.ByFriendlyName("Friendly name")->maps_to, "AB1234");
  // Only six-character server types are model-name keys.
  EXPECT_EQ(t.ByModelName("Friend"), nullptr);
}

TEST(ModelTableParse, RejectsBrokenFilesWhole) {
  const std::string ok = "[AB1234]\nCamNum = 1\n";
  struct Case {
    const char *why;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"field before a model", "CamNum = 1\n" + ok},
      {"unknown key", ok + "Colour = red\n"},
      {"ServerName is the section", ok + "ServerName = X\n"},
      {"not a number", ok + "DiNum = two\n"},
      {"number too large", ok + "DiNum = 99999999999\n"},
      {"path too long", ok + "PtzUrl = /" + std::string(39, 'p') + "\n"},
      {"size text too long", ok + "DefaultVSize = 123456789012\n"},
      {"no equals sign", ok + "CamNum 1\n"},
      {"unterminated section", ok + "[XY\n"},
      {"empty section name", ok + "[]\n"},
      {"name of 24 characters", ok + "[" + std::string(24, 'n') + "]\n"},
      {"model twice", ok + ok},
      {"mapping to nowhere", ok + "[CD5678]\nMapsTo = ZZ0000\n"},
      {"mapping to a mapping", ok + "[CD5678]\nMapsTo = AB1234\n[EF9012]\nMapsTo = CD5678\n"},
      {"unknown config kind", ok + "ConfigBy = carrier pigeon\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    ModelTable t;
    t.models.emplace_back();
    std::string error;
    EXPECT_FALSE(ModelTable_Parse(c.text, &t, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(t.models.size(), 1u) << "table changed on failure";
  }
}

TEST(ModelTableParse, TheShippedFileParses) {
  ModelTable t;
  std::string error;
  std::string text = kvtest::ReadFile(kvtest::SourceDir() + "/Morvane/data/morvane-models.ini");
  ASSERT_TRUE(ModelTable_Parse(text, &t, &error)) << error;
  EXPECT_EQ(t.models.size(), 12u);
}

TEST(ModelTableLookup, EnvironmentFileComesFirst) {
  std::string dir = kvtest::MakeTempDir("morvane-env");
  kvtest::SetEnv("MORVANE_MODELS_FILE", (dir + "/m.ini").c_str());
  std::vector<std::string> files = morvane::ModelTable_Candidates();
  kvtest::UnsetEnv("MORVANE_MODELS_FILE");
  ASSERT_GE(files.size(), 3u);
  EXPECT_EQ(files[0], dir + "/m.ini");
  // Then beside the library, then the installed layout; never a path of the source tree.
  EXPECT_NE(files[1].find("morvane-models.ini"), std::string::npos);
  std::string installed = files[2];
  for (char &c : installed) c = kvtest::IsPathSeparator(c) ? '/' : c;
  EXPECT_NE(installed.find("/share/kavrel/morvane-models.ini"), std::string::npos) << files[2];
  for (const std::string &f : files) EXPECT_EQ(f.find(kvtest::SourceDir() + "/Morvane"), std::string::npos) << f;
}

// The first calls race to load the table; every thread must see the same whole table.
TEST(MorvaneConcurrency, FirstUseFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([i, &failures] {
      for (int k = 0; k < 200; ++k) {
        ServerParam p;
        char friendly[MORVANE_FRIENDLY_NAME_MAX];
        if (Morvane_GetParamForServer("KM3111-V1.0.2", &p) != MORVANE_OK || p.DiNum != 2 ||
            Morvane_GetMappingFriendlyName("KM5120-V1", friendly) != MORVANE_OK)
          ++failures[i];
      }
    });
  }
  for (std::thread &t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
