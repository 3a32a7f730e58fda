// The network client against a real FTP server (pyftpdlib): login, uploads of the sizes
// around the chunk boundary with their progress reports, download, directories, delete,
// listing; waiting and asynchronous.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "ftp_server.h"
#include "nc_test_util.h"
#include "netclient.h"
#include "test_paths.h"

using nctest::Bytes;
using nctest::Events;
using nctest::FtpInfo;
using nctest::ProgressLog;
using nctest::PyFtpServer;

namespace {

const int kAsyncBoundMs = 60000;

bool Exists(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

class FtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start("netclient-ftp"));
    ASSERT_EQ(0u, NetClient_Initialize(&context_, NETCLIENT_VERSION_WORD));
    ASSERT_EQ(0u, NetClient_OpenRequest(context_, &request_));
  }
  void TearDown() override {
    if (context_ != nullptr) {
      EXPECT_EQ(0u, NetClient_Release(&context_));
    }
  }

  // Describes the slot for the test server; with a callback when events is given.
  void Describe(const char *password, Events *events = nullptr) {
    NetClientRequestInfo info = FtpInfo(server_.port(), PyFtpServer::user(), password);
    if (events != nullptr) {
      info.callback = Events::Callback;
      info.context = events;
    }
    ASSERT_EQ(0u, NetClient_SetRequestInfo(request_, &info));
  }
  void ConnectWaiting() {
    Describe(PyFtpServer::password());
    ASSERT_EQ(0u, NetClient_Connect(request_, 1));
  }
  std::string Local(const std::string &name, const std::string &bytes) {
    std::string path = server_.work() + "/" + name;
    EXPECT_TRUE(kvtest::WriteFile(path, bytes));
    return path;
  }
  std::set<std::string> ListAll(const char *pattern, uint32_t *end_code,
                                std::set<std::string> *dirs = nullptr) {
    std::set<std::string> names;
    NetClientFindEntry entry;
    uint32_t r = NetClient_FTP_FindFirstFile(request_, pattern, &entry, 1);
    while (r == 0) {
      names.insert(entry.name);
      if (dirs != nullptr && entry.is_directory) dirs->insert(entry.name);
      r = NetClient_FTP_FindNextFile(request_, &entry, 1);
    }
    *end_code = r;
    return names;
  }

  PyFtpServer server_;
  NetClientHandle context_ = nullptr;
  NetClientRequestHandle request_ = nullptr;
};

// The progress that an upload of size bytes reports: 230 with the size, then 231 with the
// running total after every chunk of at most 8,192 bytes.
void ExpectProgress(const std::vector<std::pair<uint32_t, uint32_t>> &log, size_t size) {
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(std::make_pair(NETCLIENT_PROGRESS_SIZE, static_cast<uint32_t>(size)), log[0]);
  std::vector<uint32_t> totals;
  for (size_t i = 1; i < log.size(); ++i) {
    EXPECT_EQ(NETCLIENT_PROGRESS_SENT, log[i].first);
    totals.push_back(log[i].second);
  }
  std::vector<uint32_t> expected;
  for (size_t sent = 0; sent < size;) {
    sent += std::min<size_t>(8192, size - sent);
    expected.push_back(static_cast<uint32_t>(sent));
  }
  EXPECT_EQ(expected, totals);
}

const size_t kUploadSizes[] = {0, 1, 8192, 8193, 5u << 20};

TEST_F(FtpTest, LoginAcceptedAndRefused) {
  ConnectWaiting();
  ASSERT_EQ(0u, NetClient_Disconnect(request_));
  Describe("wrong-password");
  EXPECT_EQ(NETCLIENT_E_AUTH, NetClient_Connect(request_, 1));
  // A failed connect leaves no connection: FTP operations are refused.
  NetClientFindEntry entry;
  EXPECT_EQ(NETCLIENT_E_HANDLE, NetClient_FTP_FindFirstFile(request_, "*.*", &entry, 1));
}

TEST_F(FtpTest, ConnectRefusedPortFailsWithConnectCode) {
  NetClientRequestInfo info = FtpInfo(1, PyFtpServer::user(), PyFtpServer::password());
  ASSERT_EQ(0u, NetClient_SetRequestInfo(request_, &info));
  EXPECT_EQ(NETCLIENT_E_CONNECT, NetClient_Connect(request_, 1));
}

TEST_F(FtpTest, WaitingUploadsArriveWholeWithProgress) {
  ConnectWaiting();
  for (size_t size : kUploadSizes) {
    SCOPED_TRACE(size);
    std::string bytes = Bytes(size);
    std::string name = "up-" + std::to_string(size) + ".bin";
    ProgressLog progress;
    ASSERT_EQ(0u, NetClient_FTP_PutFileWithProgress(request_, Local(name, bytes).c_str(),
                                                    name.c_str(), NETCLIENT_FTP_MODE_BINARY, 1,
                                                    ProgressLog::Callback, &progress));
    ASSERT_TRUE(Exists(server_.root() + "/" + name));
    EXPECT_TRUE(bytes == kvtest::ReadFile(server_.root() + "/" + name));
    ExpectProgress(progress.Entries(), size);
  }
}

TEST_F(FtpTest, WaitingUploadOnASlotWithACallbackHasOneWriter) {
  // The slot has a callback, but the call waits: only this thread writes chunks, so each
  // chunk goes out once, in order, and the waiting call reports through its result alone.
  Events events;
  Describe(PyFtpServer::password(), &events);
  ASSERT_EQ(0u, NetClient_Connect(request_, 1));
  std::string bytes = Bytes(10 * 8192 + 17);
  ProgressLog progress;
  ASSERT_EQ(0u, NetClient_FTP_PutFileWithProgress(request_, Local("one.bin", bytes).c_str(),
                                                  "one.bin", NETCLIENT_FTP_MODE_BINARY, 1,
                                                  ProgressLog::Callback, &progress));
  EXPECT_TRUE(bytes == kvtest::ReadFile(server_.root() + "/one.bin"));
  ExpectProgress(progress.Entries(), bytes.size());
  EXPECT_TRUE(events.Codes().empty());
}

TEST_F(FtpTest, AsynchronousUploadsReportCompletionOnce) {
  Events events;
  Describe(PyFtpServer::password(), &events);
  ASSERT_EQ(0u, NetClient_Connect(request_, 0));
  ASSERT_EQ(NETCLIENT_EV_FTP_CONNECTED,
            events.WaitAny({NETCLIENT_EV_FTP_CONNECTED, NETCLIENT_EV_FTP_CONNECT_FAIL,
                            NETCLIENT_EV_FTP_AUTH_FAIL},
                           kAsyncBoundMs));
  for (size_t size : kUploadSizes) {
    SCOPED_TRACE(size);
    events.Clear();
    std::string bytes = Bytes(size);
    std::string name = "async-" + std::to_string(size) + ".bin";
    ProgressLog progress;
    ASSERT_EQ(0u, NetClient_FTP_PutFileWithProgress(request_, Local(name, bytes).c_str(),
                                                    name.c_str(), NETCLIENT_FTP_MODE_BINARY, 0,
                                                    ProgressLog::Callback, &progress));
    uint32_t end = events.WaitAny({NETCLIENT_EV_FTP_PUT_DONE, NETCLIENT_EV_FTP_PUT_FAIL,
                                   NETCLIENT_EV_FTP_CONNECT_FAIL},
                                  kAsyncBoundMs);
    ASSERT_EQ(NETCLIENT_EV_FTP_PUT_DONE, end);
    // 204 means the remote file is closed: the server has it whole, the empty one included.
    ASSERT_TRUE(Exists(server_.root() + "/" + name));
    EXPECT_TRUE(bytes == kvtest::ReadFile(server_.root() + "/" + name));
    ExpectProgress(progress.Entries(), size);
    std::vector<uint32_t> codes = events.Codes();
    EXPECT_EQ(1, events.Count(NETCLIENT_EV_FTP_PUT_DONE));
    if (size > 0) {
      EXPECT_EQ((std::vector<uint32_t>{NETCLIENT_EV_FTP_PUT_PENDING, NETCLIENT_EV_FTP_PUT_DONE}), codes);
    } else {
      EXPECT_EQ(std::vector<uint32_t>{NETCLIENT_EV_FTP_PUT_DONE}, codes);
    }
  }
}

TEST_F(FtpTest, AsynchronousLoginRefusedReports205) {
  Events events;
  Describe("wrong-password", &events);
  ASSERT_EQ(0u, NetClient_Connect(request_, 0));
  EXPECT_EQ(NETCLIENT_EV_FTP_AUTH_FAIL,
            events.WaitAny({NETCLIENT_EV_FTP_CONNECTED, NETCLIENT_EV_FTP_CONNECT_FAIL,
                            NETCLIENT_EV_FTP_AUTH_FAIL},
                           kAsyncBoundMs));
}

TEST_F(FtpTest, MissingLocalFileIsRefused) {
  ConnectWaiting();
  EXPECT_EQ(NETCLIENT_E_LOCAL_FILE,
            NetClient_FTP_PutFile(request_, (server_.work() + "/absent").c_str(), "x",
                                  NETCLIENT_FTP_MODE_BINARY, 1));
}

TEST_F(FtpTest, DownloadArrivesWholeAndAFailureLeavesNoFile) {
  std::string bytes = Bytes(100000);
  ASSERT_TRUE(kvtest::WriteFile(server_.root() + "/config.bin", bytes));
  ConnectWaiting();
  std::string local = server_.work() + "/config.bin";
  ASSERT_EQ(0u, NetClient_FTP_GetFile(request_, local.c_str(), "config.bin",
                                      NETCLIENT_FTP_MODE_BINARY, 1));
  EXPECT_TRUE(bytes == kvtest::ReadFile(local));

  std::string missing = server_.work() + "/missing.bin";
  EXPECT_EQ(NETCLIENT_E_DOWNLOAD, NetClient_FTP_GetFile(request_, missing.c_str(), "missing.bin",
                                                        NETCLIENT_FTP_MODE_BINARY, 1));
  EXPECT_FALSE(Exists(missing));
}

TEST_F(FtpTest, DirectoriesAndDeletes) {
  ConnectWaiting();
  ASSERT_EQ(0u, NetClient_FTP_CreateDir(request_, "www", 0, 1));
  EXPECT_TRUE(Exists(server_.root() + "/www"));
  EXPECT_EQ(NETCLIENT_E_DIR_EXISTS, NetClient_FTP_CreateDir(request_, "www", 0, 1));
  ASSERT_EQ(0u, NetClient_FTP_ChangeDir(request_, "www", 1));
  ASSERT_EQ(0u, NetClient_FTP_PutFile(request_, Local("page.html", "<html/>").c_str(),
                                      "page.html", NETCLIENT_FTP_MODE_ASCII, 1));
  EXPECT_EQ("<html/>", kvtest::ReadFile(server_.root() + "/www/page.html"));
  EXPECT_EQ(NETCLIENT_E_CHDIR, NetClient_FTP_ChangeDir(request_, "nowhere", 1));
  ASSERT_EQ(0u, NetClient_FTP_ChangeDir(request_, "..", 1));
  ASSERT_EQ(0u, NetClient_FTP_DeleteFile(request_, "www/page.html", 0, 1));
  EXPECT_FALSE(Exists(server_.root() + "/www/page.html"));
  EXPECT_EQ(NETCLIENT_E_DELETE, NetClient_FTP_DeleteFile(request_, "www/page.html", 0, 1));
  ASSERT_EQ(0u, NetClient_FTP_DeleteFile(request_, "www", 1, 1));
  EXPECT_FALSE(Exists(server_.root() + "/www"));
  ASSERT_EQ(0u, NetClient_FTP_CreateDir(request_, "a/b/c", 1, 1));
  EXPECT_TRUE(Exists(server_.root() + "/a/b/c"));
}

TEST_F(FtpTest, ListingWithWindowsWildcards) {
  for (const char *name : {"a.txt", "b.bin", "noext"}) {
    ASSERT_TRUE(kvtest::WriteFile(server_.root() + "/" + name, "x"));
  }
  ASSERT_TRUE(kvtest::MakeDir(server_.root() + "/sub dir"));
  ConnectWaiting();
  uint32_t end = 0;
  std::set<std::string> dirs;
  EXPECT_EQ((std::set<std::string>{"a.txt", "b.bin", "noext", "sub dir"}),
            ListAll("*.*", &end, &dirs));
  EXPECT_EQ(NETCLIENT_E_NO_MORE_FILES, end);
  EXPECT_EQ(std::set<std::string>{"sub dir"}, dirs);
  EXPECT_EQ(std::set<std::string>{"a.txt"}, ListAll("*.TXT", &end));
  EXPECT_EQ(NETCLIENT_E_NO_MORE_FILES, end);
  EXPECT_TRUE(ListAll("*.zip", &end).empty());
  EXPECT_EQ(NETCLIENT_E_NO_MORE_FILES, end);
  EXPECT_TRUE(ListAll("sub dir/*.*", &end).empty());
  EXPECT_EQ(NETCLIENT_E_NO_MORE_FILES, end);
}

TEST_F(FtpTest, AsynchronousListingReportsEachStep) {
  for (const char *name : {"one.txt", "two.txt"}) {
    ASSERT_TRUE(kvtest::WriteFile(server_.root() + "/" + name, "x"));
  }
  Events events;
  Describe(PyFtpServer::password(), &events);
  ASSERT_EQ(0u, NetClient_Connect(request_, 0));
  ASSERT_EQ(NETCLIENT_EV_FTP_CONNECTED,
            events.WaitAny({NETCLIENT_EV_FTP_CONNECTED, NETCLIENT_EV_FTP_CONNECT_FAIL}, kAsyncBoundMs));
  NetClientFindEntry entry;
  std::set<std::string> names;
  events.Clear();
  ASSERT_EQ(0u, NetClient_FTP_FindFirstFile(request_, "*.*", &entry, 0));
  ASSERT_EQ(NETCLIENT_EV_FTP_FIND_FIRST,
            events.WaitAny({NETCLIENT_EV_FTP_FIND_FIRST, NETCLIENT_EV_FTP_FIND_FIRST_FAIL,
                            NETCLIENT_EV_FTP_FIND_FIRST_END},
                           kAsyncBoundMs));
  names.insert(entry.name);
  events.Clear();
  ASSERT_EQ(0u, NetClient_FTP_FindNextFile(request_, &entry, 0));
  ASSERT_EQ(NETCLIENT_EV_FTP_FIND_NEXT, events.WaitAny({NETCLIENT_EV_FTP_FIND_NEXT}, kAsyncBoundMs));
  names.insert(entry.name);
  events.Clear();
  ASSERT_EQ(0u, NetClient_FTP_FindNextFile(request_, &entry, 0));
  EXPECT_EQ(NETCLIENT_EV_FTP_FIND_NEXT_END,
            events.WaitAny({NETCLIENT_EV_FTP_FIND_NEXT_END, NETCLIENT_EV_FTP_FIND_NEXT_FAIL}, kAsyncBoundMs));
  EXPECT_EQ((std::set<std::string>{"one.txt", "two.txt"}), names);
  events.Clear();
  ASSERT_EQ(0u, NetClient_FTP_FindFirstFile(request_, "*.zip", &entry, 0));
  EXPECT_EQ(NETCLIENT_EV_FTP_FIND_FIRST_END,
            events.WaitAny({NETCLIENT_EV_FTP_FIND_FIRST_END, NETCLIENT_EV_FTP_FIND_FIRST_FAIL}, kAsyncBoundMs));
}

}  // namespace
