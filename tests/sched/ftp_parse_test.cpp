// The socket FTP client's parsers as tables: reply codes, the framing of one reply, PASV
// replies, dotted addresses and the active-mode port search, with the platform's listening
// socket that the search tries.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sched/ftp_chain.h"
#include "sched/ftp_net.h"
#include "sched/ftp_sock.h"
#include "test_socket.h"

namespace {

TEST(FtpReplyCodes, FinalLinesOnly) {
  struct Case {
    const char *text;
    uint32_t count;
    const char *codes;
  } cases[] = {
      {"220 ready\r\n", 1, "220"},
      {"220-welcome\r\n220-more\r\n220 ready\r\n", 1, "220"},
      {"150 opening\r\n226 done\r\n", 2, "150226"},
      {"120 soon\n\n220 now\r", 2, "120220"},
      {"22 short\r\n2x0 bad\r\n220\r\n220-x\r\n", 0, ""},
      {"", 0, ""},
      {"331 password\r\n 230 indented\r\n", 1, "331"},
  };
  for (const Case &c : cases) {
    std::string text = c.text;
    char codes[FTPSOCK_CODES_SIZE];
    EXPECT_EQ(c.count, FtpSock_ParseReplyCodes(&text[0], codes)) << c.text;
    EXPECT_STREQ(c.codes, codes) << c.text;
  }
  char codes[FTPSOCK_CODES_SIZE];
  EXPECT_EQ(0x800700D1u, FtpSock_ParseReplyCodes(nullptr, codes));
}

TEST(FtpReplyCodes, AtMostFiftyCodes) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "200 ok\r\n";
  char codes[FTPSOCK_CODES_SIZE];
  EXPECT_EQ(50u, FtpSock_ParseReplyCodes(&text[0], codes));
  EXPECT_EQ(150u, strlen(codes));
}

TEST(FtpReplyFraming, CompleteFinalLineEndsTheReply) {
  struct Case {
    std::string data;
    size_t end;
    uint32_t code;
  } cases[] = {
      {"220 ready\r\n", 11, 220},
      {"220 ready\r", 10, 220},  // the LF may follow in the next read
      {"220 ready", 0, 0},       // not terminated yet
      {"220-a\r\n220-b\r\n", 0, 0},
      {"220-a\r\n220 b\r\nextra", 14, 220},
      {"150 go\r\n226 done\r\n", 8, 150},
      {"\r\n\n230 ok\n", 10, 230},
      {std::string("2\0000 x\r\n", 7), 0, 0},
  };
  for (const Case &c : cases) {
    uint32_t code = 0;
    EXPECT_EQ(c.end, FtpSock_ReplyEnd(c.data.data(), c.data.size(), &code)) << c.data;
    EXPECT_EQ(c.code, code) << c.data;
  }
}

TEST(FtpPasv, AnnouncedAddressAndPort) {
  struct Case {
    const char *reply;
    uint32_t status;
    uint32_t address;
    uint32_t port;
  } cases[] = {
      {"227 Entering Passive Mode (192,168,1,10,195,80)", 0, 0xC0A8010Au, 50000},
      {"227 =(1,2,3,4,0,21) and (127,0,0,1,4,1).", 0, 0x7F000001u, 1025},
      {"227 Entering Passive Mode 127,0,0,1,4,1", 0x800700D8u, 0, 0},
      {"227 (127, 0,0,1,4,1)", 0x800700D8u, 0, 0},
      {"227 (127,0,0,1,4)", 0x800700D8u, 0, 0},
      {"227 (127,0,0,1,4,1", 0x800700D8u, 0, 0},
      {"227 (256,0,0,1,4,1)", 0x800700D8u, 0, 0},
      {"227 (1,2,3,4,0,0)", 0x800700D8u, 0, 0},
      {"227 (99999999999999999999,0,0,1,4,1)", 0x800700D8u, 0, 0},
      {"227 (1,2,3,4,5,6,7)", 0x800700D8u, 0, 0},
  };
  for (const Case &c : cases) {
    uint32_t address = 0, port = 0;
    EXPECT_EQ(c.status, FtpSock_ParsePasv(c.reply, &address, &port)) << c.reply;
    EXPECT_EQ(c.address, address) << c.reply;
    EXPECT_EQ(c.port, port) << c.reply;
  }
}

TEST(FtpAddress, DottedIPv4Only) {
  uint32_t address = 0;
  EXPECT_TRUE(FtpSock_ParseIPv4("127.0.0.1", &address));
  EXPECT_EQ(0x7F000001u, address);
  for (const char *bad : {"", "127.0.0", "127.0.0.1.", "256.0.0.1", "a.b.c.d", "1.2.3.4 ",
                          "localhost", "0127.0.0.1"}) {
    EXPECT_FALSE(FtpSock_ParseIPv4(bad, &address)) << bad;
  }
}

std::vector<uint16_t> g_tried;
int AllInUse(uint16_t port, uintptr_t *) {
  g_tried.push_back(port);
  return 1;
}
int FreeAt46600(uint16_t port, uintptr_t *socket) {
  g_tried.push_back(port);
  if (port != 46600) return 1;
  *socket = 7;
  return 0;
}
int NoSocket(uint16_t, uintptr_t *) { return 2; }

TEST(FtpListenSearch, OnePassThenGivesUp) {
  uintptr_t socket = 0;
  uint16_t port = 0;
  g_tried.clear();
  EXPECT_EQ(0x8007007Au, FtpSock_ListenSearch(5, AllInUse, &socket, &port));
  ASSERT_EQ(1011u, g_tried.size());
  EXPECT_EQ(1029u, g_tried[0]);
  EXPECT_EQ((1029u + 1) % 1010 + 46570, g_tried[1]);
  std::vector<uint16_t> upper(g_tried.begin() + 1, g_tried.end());
  std::sort(upper.begin(), upper.end());
  EXPECT_EQ(upper.end(), std::adjacent_find(upper.begin(), upper.end()));  // each port once
  EXPECT_EQ(46570u, upper.front());
  EXPECT_EQ(47579u, upper.back());

  g_tried.clear();
  EXPECT_EQ(0u, FtpSock_ListenSearch(1009, FreeAt46600, &socket, &port));
  EXPECT_EQ(46600u, port);
  EXPECT_EQ(7u, socket);
  EXPECT_EQ(0x80070074u, FtpSock_ListenSearch(0, NoSocket, &socket, &port));
}

// The search goes on only past a port the platform reports taken, and the server's data
// connection must reach our listener alone: it never waits in accept, a port someone else
// listens on is taken, and a process the host starts later does not get the socket.
TEST(FtpNetListen, ATakenPortIsReportedAndTheListenerIsOurs) {
  uint16_t taken = 0;
  int other = kvtest::ListenLoopback(0, 1, &taken);  // also starts the platform's sockets
  ASSERT_GE(other, 0);
  uintptr_t socket = 0;
  EXPECT_EQ(FTPNET_IN_USE, FtpNet_Listen(taken, &socket));
  kvtest::CloseSocket(other);

  uint16_t port = kvtest::FreeLoopbackPort();
  ASSERT_EQ(FTPNET_OK, FtpNet_Listen(port, &socket));
  const int listener = static_cast<int>(socket);
  EXPECT_EQ(port, kvtest::LocalPort(listener));
  EXPECT_FALSE(kvtest::InheritedByChildren(listener));
  EXPECT_EQ(-1, kvtest::AcceptSocket(listener));  // nothing waiting: no block
  uintptr_t second = 0;
  EXPECT_EQ(FTPNET_IN_USE, FtpNet_Listen(port, &second));

  int client = kvtest::ConnectLoopback(port);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(kvtest::WaitReadable(listener, 10000));
  int server = kvtest::AcceptSocket(listener);
  EXPECT_GE(server, 0);
  uint32_t local = 0, peer = 0;
  EXPECT_EQ(0, FtpNet_LocalAddress(static_cast<uintptr_t>(server), &local));
  EXPECT_EQ(0, FtpNet_PeerAddress(static_cast<uintptr_t>(server), &peer));
  EXPECT_EQ(0x7F000001u, local);
  EXPECT_EQ(0x7F000001u, peer);
  kvtest::CloseSocket(server);
  kvtest::CloseSocket(client);

  FtpNet_Close(socket);
  EXPECT_FALSE(kvtest::LoopbackAccepts(port));
}

}  // namespace
