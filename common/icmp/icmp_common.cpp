// The platform-independent half of the ICMP echo socket: the request's bytes and the rule
// that picks the answer out of everything a socket reads.
#include <string.h>

#include "icmp_echo.h"

uint16_t IcmpEcho_Checksum(const uint8_t *data, size_t length) {
  uint32_t sum = 0;
  // Words in memory order: the one's complement sum is the same in either byte order as
  // long as the result is stored back the same way.
  for (; length > 1; data += 2, length -= 2) {
    uint16_t word;
    memcpy(&word, data, 2);
    sum += word;
  }
  if (length == 1) {
    uint16_t word = 0;
    memcpy(&word, data, 1);
    sum += word;
  }
  while (sum >> 16) sum = (sum & 0xFFFFu) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

void IcmpEcho_BuildRequest(uint8_t *request, uint16_t identifier, uint16_t sequence,
                           uint32_t ticks) {
  memset(request, 0, ICMP_ECHO_REQUEST_SIZE);
  request[0] = 8;  // echo request
  request[1] = 0;
  memcpy(request + 4, &identifier, 2);
  memcpy(request + 6, &sequence, 2);
  memcpy(request + 8, &ticks, 4);
  memset(request + 12, ICMP_ECHO_PAYLOAD_BYTE, ICMP_ECHO_REQUEST_SIZE - 12);
  uint16_t sum = IcmpEcho_Checksum(request, ICMP_ECHO_REQUEST_SIZE);
  memcpy(request + 2, &sum, 2);
}

int IcmpEcho_IsAnswer(const IcmpEchoReplyFilter *filter, uint32_t source, const uint8_t *icmp,
                      size_t length) {
  if (length < 8 || source != filter->target) return 0;
  if (icmp[0] != 0 || icmp[1] != 0) return 0;  // echo reply only
  uint16_t identifier, sequence;
  memcpy(&identifier, icmp + 4, 2);
  memcpy(&sequence, icmp + 6, 2);
  if (filter->check_identifier && identifier != filter->identifier) return 0;
  // A reply to a request sent before `first_sequence` is late, not the answer.
  return static_cast<int16_t>(static_cast<uint16_t>(sequence - filter->first_sequence)) >= 0;
}

int IcmpEcho_StripIpHeader(const uint8_t *datagram, size_t length, const uint8_t **icmp,
                           size_t *icmp_length) {
  if (length < 20 || (datagram[0] >> 4) != 4 || datagram[9] != 1) return 0;
  size_t header = static_cast<size_t>(datagram[0] & 0x0F) * 4;
  if (header < 20 || header > length) return 0;
  *icmp = datagram + header;
  *icmp_length = length - header;
  return 1;
}
