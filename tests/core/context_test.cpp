// Library context: version handshake, argument order, worker life, several contexts.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

bool Exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A record's private directory is made on first use, not by Kavrel_InitialEx nor by
// Kavrel_CreateDevice.
TEST(Context, InitialMakesSixteenRecordsWithoutDirectories) {
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_Initial(&handle, KAVREL_VERSION_NUMBER), 0u);
  ASSERT_EQ(handle->max_devices, 16u);
  for (uint32_t i = 0; i < handle->max_devices; ++i) {
    DeviceHandle device = nullptr;
    ASSERT_EQ(Kavrel_CreateDevice(handle, &device), 0u);
    ASSERT_EQ(device, &handle->devices[i]);
    EXPECT_STREQ(device->directory, "");
    EXPECT_STREQ(device->config_path, "");
    EXPECT_EQ(device->http_port, 80);
    EXPECT_EQ(device->timeout_ms, 60000u);
  }
  ASSERT_EQ(Kavrel_Release(&handle), 0u);
  EXPECT_EQ(handle, nullptr);
}

TEST(Context, DirectoriesAreMadeOnFirstUseAndRemovedByDeleteAndRelease) {
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&handle, 3, 0, KAVREL_VERSION_NUMBER), 0u);
  DeviceHandle a = nullptr, b = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle, &a), 0u);
  ASSERT_EQ(Kavrel_CreateDevice(handle, &b), 0u);

  // A value written to a new level-0 device creates its directory and file.
  ASSERT_EQ(Kavrel_SetSysInfo(a, "cam1", "SYSTEM", "host name", -1), 0u);
  std::string dir_a = a->directory;
  struct stat st;
  ASSERT_EQ(stat(dir_a.c_str(), &st), 0) << dir_a;
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // Windows keeps access in ACLs, not in these bits.
  if (!kvtest::BuiltForWindows()) {
    EXPECT_EQ(st.st_mode & 077, 0u) << "directory readable by others: " << dir_a;
  }
  EXPECT_EQ(std::string(a->config_path), dir_a + "/config.ini");
  EXPECT_TRUE(Exists(a->config_path));
  // A second use keeps the same directory; another record gets its own.
  ASSERT_EQ(Device_EnsureDirectory(a), 0u);
  EXPECT_EQ(std::string(a->directory), dir_a);
  ASSERT_EQ(Device_EnsureDirectory(b), 0u);
  std::string dir_b = b->directory;
  EXPECT_NE(dir_b, dir_a) << "device directories must not be shared";

  // Delete removes the directory with what is in it; the record's next device starts afresh.
  ASSERT_TRUE(kvtest::WriteFile(dir_a + "/config.ini.tmp", "x"));
  ASSERT_EQ(Kavrel_DeleteDevice(a), 0u);
  EXPECT_FALSE(Exists(dir_a)) << "left behind: " << dir_a;
  EXPECT_STREQ(a->directory, "");
  DeviceHandle again = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle, &again), 0u);
  ASSERT_EQ(again, a);
  char value[64] = "keep";
  EXPECT_NE(Kavrel_GetSysInfo(again, value, "SYSTEM", "host name", -1), 0u);
  EXPECT_STREQ(value, "") << "the deleted device's value must be gone";

  // Release removes the directories of devices still in use.
  ASSERT_EQ(Kavrel_Release(&handle), 0u);
  EXPECT_FALSE(Exists(dir_b)) << "left behind: " << dir_b;
}

TEST(Context, DirectoryThatCannotBeMadeIsAFileError) {
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&handle, 1, 0, KAVREL_VERSION_NUMBER), 0u);
  DeviceHandle device = nullptr;
  ASSERT_EQ(Kavrel_CreateDevice(handle, &device), 0u);
  // A temporary directory through a regular file (root ignores permissions).
  std::string root = kvtest::MakeTempDir("ctx");
  ASSERT_TRUE(kvtest::WriteFile(root + "/file", "x"));
  // TMPDIR on Linux, TMP on Windows.
  std::map<std::string, std::pair<bool, std::string>> saved;
  for (const char *name : {"TMPDIR", "TMP"}) {
    const char *value = getenv(name);
    saved[name] = {value != nullptr, value ? value : ""};
    kvtest::SetEnv(name, root + "/file");
  }
  uint32_t rc = Kavrel_SetSysInfo(device, "cam1", "SYSTEM", "host name", -1);
  for (const auto &v : saved) {
    if (v.second.first) {
      kvtest::SetEnv(v.first, v.second.second);
    } else {
      kvtest::UnsetEnv(v.first);
    }
  }
  EXPECT_EQ(rc, 0x80060308u);
  EXPECT_STREQ(device->directory, "");
  // Once the temporary directory is usable again, so is the device.
  EXPECT_EQ(Kavrel_SetSysInfo(device, "cam1", "SYSTEM", "host name", -1), 0u);
  ASSERT_EQ(Kavrel_Release(&handle), 0u);
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

TEST(Context, WorkerHandlesQueuedNodes) {
  g_handled.count = 0;
  g_handled.on_worker = true;
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&handle, 1, 0, KAVREL_VERSION_NUMBER), 0u);
  Context_SetHandler(handle, CountingHandler);
  for (int i = 0; i < 3; ++i) Context_Enqueue(handle, NewNode());
  EXPECT_TRUE(kvtest::WaitUntil([] { return g_handled.count.load() == 3; }, 5000));
  EXPECT_TRUE(g_handled.on_worker.load()) << "nodes must be handled on the worker thread";
  EXPECT_EQ(Kavrel_Release(&handle), 0u);
}

// What the recording handler saw: the order of the nodes' numbers, and whether two handlers
// ever ran at once or one ran off the worker.
struct Recording {
  std::mutex mutex;
  std::vector<uint32_t> order;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> off_worker{0};
  std::atomic<size_t> count{0};
};
Recording *g_recording = nullptr;

void RecordingHandler(KavrelContext *, EventNode *node) {
  Recording &r = *g_recording;
  if (r.inside.fetch_add(1) != 0) r.overlaps++;
  if (OsThreadSelf() == nullptr) r.off_worker++;
  {
    std::lock_guard<std::mutex> hold(r.mutex);
    r.order.push_back(node->event);
  }
  if (r.order.size() % 64 == 0) std::this_thread::yield();  // let the producers run ahead
  r.inside--;
  r.count++;
}

// Nodes queued from several threads come out one at a time in the order they were queued:
// exactly, when the producers take turns, and per producer when they race.
TEST(Context, QueueIsFirstInFirstOut) {
  constexpr int kThreads = 4;
  constexpr uint32_t kPerThread = 2000;
  for (bool take_turns : {true, false}) {
    Recording recording;
    g_recording = &recording;
    KavrelHandle handle = nullptr;
    ASSERT_EQ(Kavrel_InitialEx(&handle, 1, 0, KAVREL_VERSION_NUMBER), 0u);
    Context_SetHandler(handle, RecordingHandler);
    std::mutex turn;
    std::vector<uint32_t> queued;  // the exact order, when the producers take turns
    std::vector<std::thread> producers;
    for (uint32_t t = 0; t < kThreads; ++t) {
      producers.emplace_back([&, t] {
        for (uint32_t i = 0; i < kPerThread; ++i) {
          EventNode *node = NewNode();
          node->event = t << 16 | i;
          if (!take_turns) {
            Context_Enqueue(handle, node);
            continue;
          }
          std::lock_guard<std::mutex> hold(turn);
          queued.push_back(node->event);
          Context_Enqueue(handle, node);
        }
      });
    }
    for (std::thread &p : producers) p.join();
    const size_t total = kThreads * kPerThread;
    ASSERT_TRUE(kvtest::WaitUntil([&] { return recording.count.load() == total; }, 20000));
    EXPECT_EQ(Kavrel_Release(&handle), 0u);
    EXPECT_EQ(recording.overlaps.load(), 0) << "two nodes handled at once";
    EXPECT_EQ(recording.off_worker.load(), 0);
    ASSERT_EQ(recording.order.size(), total);
    if (take_turns) {
      EXPECT_EQ(recording.order, queued);
      continue;
    }
    uint32_t next[kThreads] = {};
    for (uint32_t event : recording.order) {
      uint32_t t = event >> 16;
      ASSERT_EQ(event & 0xFFFF, next[t]) << "producer " << t << " out of order";
      next[t]++;
    }
  }
  g_recording = nullptr;
}

// A handler held at a gate keeps the queue full while the context is released.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened_cv;
  bool opened = false;
  std::atomic<bool> entered{false};
  std::atomic<int> handled{0};
};
Gate *g_gate = nullptr;

void GatedHandler(KavrelContext *, EventNode *) {
  Gate &g = *g_gate;
  g.entered = true;
  std::unique_lock<std::mutex> hold(g.mutex);
  g.opened_cv.wait(hold, [&] { return g.opened; });
  g.handled++;
}

// After Kavrel_Release has set the stop flag, the node being handled finishes and no other
// is handled; the queued nodes are freed (allocated ones) or left to their slots (embedded
// ones), without a leak or a touch of freed memory (ASan), and the release returns.
TEST(Context, ReleaseWithAFullQueueHandlesNothingMore) {
  Gate gate;
  g_gate = &gate;
  KavrelHandle handle = nullptr;
  ASSERT_EQ(Kavrel_InitialEx(&handle, 2, 0, KAVREL_VERSION_NUMBER), 0u);
  KavrelContext *context = handle;
  Context_SetHandler(context, GatedHandler);
  Context_Enqueue(context, NewNode());
  ASSERT_TRUE(kvtest::WaitUntil([&] { return gate.entered.load(); }, 5000));
  for (int i = 0; i < 1000; ++i) {
    Context_Enqueue(context, NewNode());
    if (i % 50 != 0) continue;
    // Interleave the nodes embedded in the records' slots.
    KavrelDevice &device = context->devices[(i / 50) % 2];
    EventNode *embedded = &device.slots[(i / 100) % KAVREL_SLOT_COUNT].node;
    embedded->embedded = 1;
    embedded->slot = &device.slots[(i / 100) % KAVREL_SLOT_COUNT];
    Context_Enqueue(context, embedded);
  }
  std::atomic<bool> released{false};
  std::thread releaser([&] {
    EXPECT_EQ(Kavrel_Release(&handle), 0u);
    released = true;
  });
  // The context stays alive while its worker is held at the gate.
  EXPECT_TRUE(kvtest::WaitUntil([&] { return context->stop.load() != 0; }, 10000));
  {
    std::lock_guard<std::mutex> hold(gate.mutex);
    gate.opened = true;
  }
  gate.opened_cv.notify_all();
  // A hang is the fault; the bound is generous.
  bool ended = kvtest::WaitUntil([&] { return released.load(); }, 10000);
  releaser.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(gate.handled.load(), 1) << "a queued node was handled after the stop";
  g_gate = nullptr;
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
  // Generated from the build's one version; hosts compare this word, so it never drifts.
  static_assert(KAVREL_VERSION_NUMBER == 0x03000306u, "the version word hosts check");
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
