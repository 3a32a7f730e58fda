// Logging: which entries of the host's table receive which records, and with what.
#include <gtest/gtest.h>

#include <string>

#include "kavrel.h"
#include "test_logger.h"

namespace {

// A located record: Kavrel_Release(NULL). A plain record: a refused version word.
void EmitOneOfEach() {
  Kavrel_Release(nullptr);
  KavrelHandle h = nullptr;
  Kavrel_InitialEx(&h, 1, 0, 0x7);
}

TEST(Logging, LocatedRecordCarriesCallSite) {
  kvtest::TestLogger logger;
  kvtest::ScopedLogger installed(logger);
  Kavrel_Release(nullptr);
  auto records = logger.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].located);
  EXPECT_EQ(records[0].code, 0x2101u);
  EXPECT_EQ(records[0].subcode, 0u);
  EXPECT_EQ(records[0].format, "Handle NULL\n");
  EXPECT_NE(records[0].file.find("context.cpp"), std::string::npos) << records[0].file;
  EXPECT_GT(records[0].line, 0u);
}

TEST(Logging, TableEntriesGateRecords) {
  struct Case {
    const char *name;
    bool null_context, null_plain_gate, null_located_gate;
    size_t plain, located;
  };
  const Case cases[] = {
      {"all set", false, false, false, 1, 1},
      {"context NULL", true, false, false, 0, 0},
      {"entry 7 NULL", false, false, true, 1, 0},
      {"entry 6 NULL", false, true, false, 0, 1},
  };
  for (const Case &c : cases) {
    kvtest::TestLogger logger;
    KavrelLogger *table = logger.table();
    if (c.null_context) table->context = nullptr;
    if (c.null_plain_gate) table->plain_enabled = nullptr;
    if (c.null_located_gate) table->located_enabled = nullptr;
    // The functions still point at the recorder (which needs its context), so a NULL
    // context is checked by the gate alone: restore it for the call-through.
    kvtest::ScopedLogger installed(logger);
    if (c.null_context) {
      EmitOneOfEach();
      table->context = &logger;  // would record if the library had called anything
      EXPECT_TRUE(logger.records().empty()) << c.name;
      continue;
    }
    EmitOneOfEach();
    size_t plain = 0, located = 0;
    for (const auto &r : logger.records()) (r.located ? located : plain)++;
    EXPECT_EQ(plain, c.plain) << c.name;
    EXPECT_EQ(located, c.located) << c.name;
  }
}

TEST(Logging, NoLoggerMeansNoCallsAndSameResults) {
  Kavrel_LogInit(nullptr);
  EXPECT_EQ(Kavrel_Release(nullptr), 0x80000001u);
  KavrelHandle h = nullptr;
  EXPECT_EQ(Kavrel_InitialEx(&h, 1, 0, 0x7), 0x80000005u);
}

}  // namespace
