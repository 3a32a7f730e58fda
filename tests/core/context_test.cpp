// Library context: version handshake, argument order, worker life, several contexts.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "core/context.h"
#include "core/device.h"
#include "kavrel.h"
#include "test_logger.h"
#include "test_paths.h"

namespace {

struct VersionCase {
  uint32_t word;
  bool accepted;
};

TEST(Context, VersionWords) {
  const VersionCase cases[] = {
      {0x03000306, true},  {0x00000306, true},  {0xFF000006, true},  {0x00000006, true},
      {0x00000406, false}, {0x00000007, false}, {0x00010306, false}, {0x03000305, false},
  };
  for (const VersionCase &c : cases) {
    kvtest::TestLogger logger;
    kvtest::ScopedLogger installed(logger);
    KavrelHandle handle = nullptr;
    uint32_t rc = Kavrel_InitialEx(&handle, 2, 0, c.word);
    if (c.accepted) {
      EXPECT_EQ(rc, 0u) << std::hex << c.word;
      ASSERT_NE(handle, nullptr);
      EXPECT_EQ(Kavrel_Release(&handle), 0u);
      continue;
    }
    EXPECT_EQ(rc, 0x80000005u) << std::hex << c.word;
    EXPECT_EQ(handle, nullptr);
    auto records = logger.records();
    ASSERT_EQ(records.size(), 1u) << std::hex << c.word;
    EXPECT_FALSE(records[0].located);
    EXPECT_EQ(records[0].code, 0x2102u);
    EXPECT_EQ(records[0].format, "Version Invalid. Mine = %X, Given = %X\n");
    char expected[80];
    snprintf(expected, sizeof(expected), "Version Invalid. Mine = 3000306, Given = %X\n", c.word);
    EXPECT_EQ(records[0].message, expected);
  }
}

TEST(Context, InitialArgumentsInOrder) {
  // The version is checked before the out pointer.
  EXPECT_EQ(Kavrel_InitialEx(nullptr, 16, 0, 0x7), 0x80000005u);
  EXPECT_EQ(Kavrel_InitialEx(nullptr, 16, 0, KAVREL_VERSION_NUMBER), 0x80000003u);
  // A count of 0 clears the handle the host passed in.
  KavrelHandle handle = reinterpret_cast<KavrelHandle>(0x1234);
  EXPECT_EQ(Kavrel_InitialEx(&handle, 0, 0, KAVREL_VERSION_NUMBER), 0x80000003u);
  EXPECT_EQ(handle, nullptr);
}

TEST(Context, InitialMakesSixteenRecordsWithPrivateDirectories) {
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER), 0u);
  ASSERT_EQ(handle->max_devices, 16u);
  std::set<std::string> dirs;
  for (uint32_t i = 0; i < handle->max_devices; ++i) {
    std::string dir = handle->devices[i].directory;
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0) << dir;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // Windows keeps access in ACLs, not in these bits.
    if (!kvtest::BuiltForWindows()) {
      EXPECT_EQ(st.st_mode & 077, 0u) << "directory readable by others: " << dir;
    }
    EXPECT_EQ(std::string(handle->devices[i].config_path), dir + "/config.ini");
    EXPECT_EQ(handle->devices[i].http_port, 80);
    EXPECT_EQ(handle->devices[i].timeout_ms, 60000u);
    dirs.insert(dir);
  }
  EXPECT_EQ(dirs.size(), 16u) << "device directories must not be shared";
  ASSERT_EQ(Kavrel_Release(&handle), 0u);
  EXPECT_EQ(handle, nullptr);
  for (const std::string &dir : dirs) {
    struct stat st;
    EXPECT_NE(stat(dir.c_str(), &st), 0) << "left behind: " << dir;
  }
}

TEST(Context, ReleaseTwice) {
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER), 0u);
  EXPECT_EQ(Kavrel_Release(&handle), 0u);
  EXPECT_EQ(Kavrel_Release(&handle), 0x80000001u);
  EXPECT_EQ(Kavrel_Release(nullptr), 0x80000001u);
}

struct HandledNodes {
  std::atomic<int> count{0};
  std::atomic<bool> on_worker{true};
};
HandledNodes g_handled;

void CountingHandler(KavrelContext *, EventNode *) {
  g_handled.count++;
  if (OsThreadSelf() == nullptr) g_handled.on_worker = false;
}

EventNode *NewNode() { return static_cast<EventNode *>(calloc(1, sizeof(EventNode))); }

TEST(Context, WorkerHandlesQueuedNodesAndEndsOnRelease) {
  g_handled.count = 0;
  g_handled.on_worker = true;
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&handle, 1, 0, KAVREL_VERSION_NUMBER), 0u);
  Context_SetHandler(handle, CountingHandler);
  for (int i = 0; i < 3; ++i) Context_Enqueue(handle, NewNode());
  EXPECT_TRUE(kvtest::WaitUntil([] { return g_handled.count.load() == 3; }, 5000));
  EXPECT_TRUE(g_handled.on_worker.load()) << "nodes must be handled on the worker thread";

  // Nodes still queued at release are freed unhandled (ASan reports a leak otherwise).
  for (int i = 0; i < 50; ++i) Context_Enqueue(handle, NewNode());
  std::atomic<bool> released{false};
  std::thread releaser([&] {
    EXPECT_EQ(Kavrel_Release(&handle), 0u);
    released = true;
  });
  // A hang is the fault; the bound is far above one poll interval.
  bool ended = kvtest::WaitUntil([&] { return released.load(); }, 10000);
  releaser.join();
  EXPECT_TRUE(ended);
  EXPECT_LT(g_handled.count.load(), 53);
}

TEST(Context, TwoContextsReleasedInEitherOrder) {
  for (int order = 0; order < 2; ++order) {
    g_handled.count = 0;
    g_handled.on_worker = true;
    KavrelHandle a = nullptr, b = nullptr;
    ASSERT_EQ(Kavrel_InitialEx(&a, 2, 0, KAVREL_VERSION_NUMBER), 0u);
    ASSERT_EQ(Kavrel_InitialEx(&b, 2, 0, KAVREL_VERSION_NUMBER), 0u);
    KavrelHandle &first = order == 0 ? a : b;
    KavrelHandle &second = order == 0 ? b : a;
    ASSERT_EQ(Kavrel_Release(&first), 0u);
    // The survivor's worker still finds its own thread object: the process-wide slot
    // outlives the first release.
    Context_SetHandler(second, CountingHandler);
    Context_Enqueue(second, NewNode());
    EXPECT_TRUE(kvtest::WaitUntil([] { return g_handled.count.load() == 1; }, 5000));
    EXPECT_TRUE(g_handled.on_worker.load());
    ASSERT_EQ(Kavrel_Release(&second), 0u);
  }
}

TEST(Context, VersionInfo) {
  uint8_t v[4] = {};
  EXPECT_EQ(Kavrel_GetVersionInfo(&v[0], &v[1], &v[2], &v[3]), 0u);
  EXPECT_EQ(v[0], 6);
  EXPECT_EQ(v[1], 3);
  EXPECT_EQ(v[2], 0);
  EXPECT_EQ(v[3], 3);
  EXPECT_EQ(Kavrel_GetVersionInfo(nullptr, &v[1], &v[2], &v[3]), 0x80000003u);
  EXPECT_EQ(Kavrel_GetVersionInfo(&v[0], &v[1], &v[2], nullptr), 0x80000003u);
}

TEST(Context, ResultListNamesEveryCodeOnce) {
  EXPECT_STREQ(KavrelResult_Name(0x80060303u), "KAVREL_E_BUSY");
  EXPECT_STREQ(KavrelResult_Text(0x80070071u), "transfer ended normally");
  EXPECT_STREQ(KavrelResult_Name(0x80040212u), "KAVREL_NC_E_ABORTING");
  EXPECT_EQ(KavrelResult_Name(0x12345678u), nullptr);
}

}  // namespace
