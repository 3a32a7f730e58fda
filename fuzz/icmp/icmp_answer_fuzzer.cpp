// Any datagram as a raw socket reads it: the IP header is stripped only to an ICMP message
// inside the datagram, and the answer check reads nothing past it. The filter comes from the
// input's first bytes, so that matching answers are reached too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "icmp_echo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 9) return 0;
  IcmpEchoReplyFilter filter;
  memcpy(&filter.target, data, 4);
  memcpy(&filter.identifier, data + 4, 2);
  memcpy(&filter.first_sequence, data + 6, 2);
  filter.check_identifier = data[8] & 1;
  // The datagram in a buffer of its own size, so that a read past it is seen.
  std::vector<uint8_t> datagram(data + 9, data + size);
  const uint8_t *icmp = nullptr;
  size_t length = 0;
  if (IcmpEcho_StripIpHeader(datagram.data(), datagram.size(), &icmp, &length)) {
    if (icmp < datagram.data() || icmp + length > datagram.data() + datagram.size()) __builtin_trap();
    uint32_t source;
    memcpy(&source, datagram.data() + 12, 4);  // stripped, so an IPv4 header was there
    IcmpEcho_IsAnswer(&filter, source, icmp, length);
  }
  // The same bytes as a datagram socket hands them: the ICMP message alone.
  IcmpEcho_IsAnswer(&filter, filter.target, datagram.data(), datagram.size());
  return 0;
}
