// The socket FTP client against vsftpd, a second FTP server the project did not write: the
// test writes its own configuration (foreground, a free loopback port, anonymous login into
// a temporary root with uploads allowed, logs in the test's directory) and runs it as a
// child that dies with the test. vsftpd needs root to start; without root or without vsftpd
// the test is skipped with the reason.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "child_process.h"
#include "ftp_runner.h"
#include "test_paths.h"

using ftptest::Runner;

namespace {

const char kVsftpd[] = "/usr/sbin/vsftpd";

int FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(addr);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

std::string Pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 29 + i / 97) & 0xFF);
  return text;
}

class Vsftpd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (getuid() != 0) {
      skip_ = "vsftpd needs root to start; run the tests as root to include it";
      return;
    }
    if (access(kVsftpd, X_OK) != 0) {
      skip_ = "vsftpd is not installed (scripts/install-deps.sh installs it)";
      return;
    }
    const passwd *ftp = getpwnam("ftp");
    if (!ftp) {
      skip_ = "vsftpd's anonymous user \"ftp\" does not exist";
      return;
    }
    dir_ = kvtest::MakeTempDir("vsftpd");
    ASSERT_FALSE(dir_.empty());
    // Anonymous sessions are refused a root they could write to, so uploads go to "up".
    root_ = dir_ + "/root";
    work_ = dir_ + "/work";
    std::string empty = dir_ + "/empty";
    for (const std::string &d : {root_, work_, empty}) ASSERT_EQ(0, ::mkdir(d.c_str(), 0755));
    ASSERT_EQ(0, ::chmod(dir_.c_str(), 0755));
    ASSERT_EQ(0, ::mkdir((root_ + "/up").c_str(), 0755));
    ASSERT_EQ(0, ::chown((root_ + "/up").c_str(), ftp->pw_uid, ftp->pw_gid));
    port_ = FreeLoopbackPort();
    ASSERT_GT(port_, 0);
    std::string config =
        "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_address=127.0.0.1\n"
        "listen_port=" + std::to_string(port_) + "\n"
        "anonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\nwrite_enable=YES\n"
        "anon_upload_enable=YES\nanon_other_write_enable=YES\nanon_umask=022\n"
        "anon_root=" + root_ + "\nsecure_chroot_dir=" + empty + "\n"
        "pasv_enable=YES\nport_enable=YES\nconnect_from_port_20=NO\n"
        "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
        "syslog_enable=NO\nxferlog_enable=YES\nlog_ftp_protocol=YES\n"
        "vsftpd_log_file=" + dir_ + "/vsftpd.log\n";
    std::string path = dir_ + "/vsftpd.conf";
    ASSERT_TRUE(kvtest::WriteFile(path, config));
    server_ = new kvtest::ChildProcess;
    ASSERT_TRUE(server_->Start({kVsftpd, path}, dir_ + "/vsftpd.out"));
    ASSERT_TRUE(kvtest::WaitUntil([] { return Accepts(port_) || !server_->Running(); }, 15000));
    ASSERT_TRUE(server_->Running()) << kvtest::ReadFile(dir_ + "/vsftpd.out");
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
  }

  static std::string skip_, dir_, root_, work_;
  static int port_;
  static kvtest::ChildProcess *server_;
};

std::string Vsftpd::skip_, Vsftpd::dir_, Vsftpd::root_, Vsftpd::work_;
int Vsftpd::port_ = 0;
kvtest::ChildProcess *Vsftpd::server_ = nullptr;

TEST_F(Vsftpd, LoginRetrStorAndListPassiveAndActive) {
  for (bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    for (size_t size : {size_t{0}, size_t{1}, size_t{100000}}) {
      SCOPED_TRACE(size);
      const std::string name = "f" + std::to_string(size) + (passive ? "p" : "a");
      const std::string content = Pattern(size);
      ASSERT_TRUE(kvtest::WriteFile(root_ + "/" + name, content));
      ASSERT_EQ(0, ::chmod((root_ + "/" + name).c_str(), 0644));
      Runner runner;
      ASSERT_EQ(0u, runner.Login(port_, "", "")) << kvtest::ReadFile(dir_ + "/vsftpd.log");
      FtpSockTransfer get = Runner::Describe(FTPSOCK_RETR, passive, work_ + "/" + name, name);
      ASSERT_EQ(0u, runner.Transfer(&get));
      EXPECT_EQ(content, kvtest::ReadFile(work_ + "/" + name));

      ASSERT_EQ(0u, runner.Command(FTPSOCK_CWD, "up"));
      FtpSockTransfer put = Runner::Describe(FTPSOCK_STOR, passive, work_ + "/" + name);
      ASSERT_EQ(0u, runner.Transfer(&put));
      EXPECT_EQ(content, kvtest::ReadFile(root_ + "/up/" + name));

      FtpSockTransfer list = Runner::Describe(FTPSOCK_LIST, passive, "");
      ASSERT_EQ(0u, runner.Transfer(&list));
      EXPECT_NE(nullptr, strstr(runner.listing, name.c_str())) << runner.listing;
    }
  }
}

TEST_F(Vsftpd, NamedUsersAreRefused) {
  Runner runner;
  EXPECT_EQ(0x800700D3u, runner.Login(port_, "admin", "secret"));
  EXPECT_EQ(nullptr, *runner.control());
}

}  // namespace
