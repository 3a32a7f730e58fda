// The ICMP echo socket: the request's bytes, the rule that picks the answer, and a real
// exchange on loopback.
#include <arpa/inet.h>
#include <string.h>

#include <gtest/gtest.h>

#include "icmp_echo.h"

namespace {

uint32_t Addr(const char *dotted) { return inet_addr(dotted); }

TEST(IcmpEcho, RequestIsFortyFourBytesWithAValidChecksum) {
  uint8_t request[ICMP_ECHO_REQUEST_SIZE];
  IcmpEcho_BuildRequest(request, 0x1234, 7, 0xA1B2C3D4u);
  EXPECT_EQ(request[0], 8);
  EXPECT_EQ(request[1], 0);
  uint16_t id, seq;
  uint32_t ticks;
  memcpy(&id, request + 4, 2);
  memcpy(&seq, request + 6, 2);
  memcpy(&ticks, request + 8, 4);
  EXPECT_EQ(id, 0x1234);
  EXPECT_EQ(seq, 7);
  EXPECT_EQ(ticks, 0xA1B2C3D4u);
  for (int i = 12; i < ICMP_ECHO_REQUEST_SIZE; ++i) ASSERT_EQ(request[i], 'E');
  // A message with its checksum in place sums to zero.
  EXPECT_EQ(IcmpEcho_Checksum(request, sizeof request), 0);
}

TEST(IcmpEcho, ChecksumOfKnownBytes) {
  // RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2; the checksum is its complement.
  const uint8_t data[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
  uint16_t sum = IcmpEcho_Checksum(data, sizeof data);
  uint8_t bytes[2];
  memcpy(bytes, &sum, 2);
  EXPECT_EQ(bytes[0], static_cast<uint8_t>(~0xdd));
  EXPECT_EQ(bytes[1], static_cast<uint8_t>(~0xf2));
  const uint8_t odd[] = {0xff};
  EXPECT_EQ(IcmpEcho_Checksum(odd, 1), static_cast<uint16_t>(~static_cast<uint16_t>(0x00ff)));
}

struct AnswerCase {
  const char *what;
  const char *source;
  uint8_t type;
  uint8_t code;
  uint16_t identifier;
  uint16_t sequence;
  size_t length;
  int check_identifier;
  int expected;
};

TEST(IcmpEcho, AnswerRule) {
  const AnswerCase cases[] = {
      {"the answer", "10.1.2.3", 0, 0, 77, 5, 44, 1, 1},
      {"a later sequence", "10.1.2.3", 0, 0, 77, 9, 44, 1, 1},
      {"an earlier sequence", "10.1.2.3", 0, 0, 77, 2, 44, 1, 0},
      {"a late reply", "10.1.2.3", 0, 0, 77, 4, 44, 1, 0},
      {"our own echo request", "10.1.2.3", 8, 0, 77, 5, 44, 1, 0},
      {"an ICMP error", "10.1.2.3", 3, 1, 77, 5, 44, 1, 0},
      {"another host", "10.1.2.4", 0, 0, 77, 5, 44, 1, 0},
      {"another identifier", "10.1.2.3", 0, 0, 78, 5, 44, 1, 0},
      {"kernel identifier, datagram socket", "10.1.2.3", 0, 0, 999, 5, 44, 0, 1},
      {"too short", "10.1.2.3", 0, 0, 77, 5, 7, 1, 0},
  };
  for (const AnswerCase &c : cases) {
    SCOPED_TRACE(c.what);
    uint8_t message[ICMP_ECHO_REQUEST_SIZE];
    IcmpEcho_BuildRequest(message, c.identifier, c.sequence, 0);
    message[0] = c.type;
    message[1] = c.code;
    IcmpEchoReplyFilter filter = {Addr("10.1.2.3"), 77, c.check_identifier, 5};
    EXPECT_EQ(IcmpEcho_IsAnswer(&filter, Addr(c.source), message, c.length), c.expected);
  }
  // Sequence numbers compare modulo 2^16: 0xFFFE is before 2, 1 is after 0xFFFE.
  uint8_t message[ICMP_ECHO_REQUEST_SIZE];
  IcmpEcho_BuildRequest(message, 77, 1, 0);
  message[0] = 0;
  IcmpEchoReplyFilter wrapped = {Addr("10.1.2.3"), 77, 1, 0xFFFE};
  EXPECT_EQ(IcmpEcho_IsAnswer(&wrapped, Addr("10.1.2.3"), message, sizeof message), 1);
}

TEST(IcmpEcho, StripsTheIpHeader) {
  uint8_t datagram[64] = {0};
  datagram[0] = 0x46;  // IPv4, 24-byte header (one option word)
  datagram[9] = 1;     // ICMP
  const uint8_t *icmp = nullptr;
  size_t length = 0;
  ASSERT_EQ(IcmpEcho_StripIpHeader(datagram, sizeof datagram, &icmp, &length), 1);
  EXPECT_EQ(icmp, datagram + 24);
  EXPECT_EQ(length, 40u);
  datagram[9] = 17;  // UDP
  EXPECT_EQ(IcmpEcho_StripIpHeader(datagram, sizeof datagram, &icmp, &length), 0);
  datagram[9] = 1;
  datagram[0] = 0x4F;  // header of 60 bytes in a 40-byte datagram
  EXPECT_EQ(IcmpEcho_StripIpHeader(datagram, 40, &icmp, &length), 0);
  EXPECT_EQ(IcmpEcho_StripIpHeader(datagram, 10, &icmp, &length), 0);
}

TEST(IcmpEcho, LoopbackAnswersOnlyAtOrAfterTheGivenSequence) {
  IcmpEchoSocket *s = nullptr;
  int error = IcmpEcho_Open(Addr("127.0.0.1"), 1000, &s);
  if (error == EPERM || error == EACCES)
    GTEST_SKIP() << "neither a raw nor an ICMP datagram socket is permitted here";
  ASSERT_EQ(error, 0);
  ASSERT_EQ(IcmpEcho_Send(s, 3, 1), ICMP_ECHO_OK);
  EXPECT_EQ(IcmpEcho_WaitReply(s, 3, 2000), ICMP_ECHO_OK);
  // The reply to sequence 4 arrives, but only a reply to 5 or later is asked for.
  ASSERT_EQ(IcmpEcho_Send(s, 4, 2), ICMP_ECHO_OK);
  EXPECT_EQ(IcmpEcho_WaitReply(s, 5, 300), ICMP_ECHO_TIMEOUT);
  IcmpEcho_Close(&s);
  EXPECT_EQ(s, nullptr);
  IcmpEcho_Close(&s);
}

}  // namespace
