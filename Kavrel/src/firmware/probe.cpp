// The reachability probe over the shared ICMP echo socket.
//
// "Gone" is a round without the answer: the device's echo reply (our identifier, a sequence
// number of this round) did not arrive within the window, or the send was refused because no
// route or link leads to the device. "Returned" is the answer to a request sent after the
// device was seen gone; a late reply to an earlier request does not count.
#include <string.h>

#include "core/device.h"
#include "firmware/probe.h"
#include "icmp_echo.h"
#include "kavrel.h"
#include "platform/log.h"
#include "platform/os.h"

namespace {

const uint32_t kPeriodMs = 1000;  // one request a second
const uint32_t kWindowMs = 1000;  // how long a round waits for the answer

void Report(KavrelDevice *device, uint32_t step) {
  KavrelCallback progress = reinterpret_cast<KavrelCallback>(device->upgrade_callback);
  if (progress) progress(device, device->upgrade_context, 111, step, 0);
}

struct Probe {
  KavrelDevice *device;
  IcmpEchoSocket *socket = nullptr;
  bool gone = false;
  uint16_t sequence = 0;
  uint16_t answer_from = 0;  // the first sequence whose reply counts as the return

  ~Probe() {
    if (!socket) return;
    KV_LOG(KAVREL_LOG_SOCKET, "close socket: %d\n", static_cast<int>(IcmpEcho_Kind(socket)));
    IcmpEcho_Close(&socket);
  }

  void SeenGone() {
    if (gone) return;
    gone = true;
    answer_from = static_cast<uint16_t>(sequence + 1);
    Report(device, PROBE_STEP_GONE);
  }
};

// One round: 1 when the device has returned, 0 to go on, or a result code.
uint32_t Round(Probe &p, bool *returned) {
  IcmpEchoResult sent =
      IcmpEcho_Send(p.socket, p.sequence, static_cast<uint32_t>(OsMilliseconds()));
  if (sent == ICMP_ECHO_ERROR) return KAVREL_E_PROBE_IO;
  if (sent != ICMP_ECHO_OK) {
    p.SeenGone();
    return KAVREL_OK;
  }
  IcmpEchoResult answer =
      IcmpEcho_WaitReply(p.socket, p.gone ? p.answer_from : p.sequence, kWindowMs);
  if (answer == ICMP_ECHO_ERROR) return KAVREL_E_PROBE_IO;
  if (answer != ICMP_ECHO_OK) {
    p.SeenGone();
  } else if (p.gone) {
    *returned = true;
  }
  return KAVREL_OK;
}

uint32_t Run(Probe &p, uint32_t timeout_ms, uint64_t start) {
  for (;;) {
    if (p.device->upgrade_abort.load()) return KAVREL_E_ABORTED;
    uint64_t round_start = OsMilliseconds();
    if (round_start - start > timeout_ms) {
      KV_FAIL("timeout\n");
      return KAVREL_E_TIMEOUT;
    }
    bool returned = false;
    uint32_t rc = Round(p, &returned);
    if (rc != KAVREL_OK) {
      KV_FAIL("ping failed: %d\n", IcmpEcho_LastError(p.socket));
      return rc;
    }
    if (returned) return KAVREL_OK;
    p.sequence = static_cast<uint16_t>(p.sequence + 1);
    uint64_t spent = OsMilliseconds() - round_start;
    if (spent < kPeriodMs) OsSleep(static_cast<uint32_t>(kPeriodMs - spent));
  }
}

}  // namespace

int Probe_ParseAddress(const char *text, uint32_t *address) {
  if (!text || !address) return 0;
  uint8_t bytes[4];
  const char *p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return 0;
    unsigned value = 0, digits = 0;
    for (; *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) value = value * 10 + (*p - '0');
    if (digits == 0 || digits > 3 || value > 255) return 0;
    if (digits > 1 && p[-static_cast<int>(digits)] == '0') return 0;  // octal in some parsers
    bytes[part] = static_cast<uint8_t>(value);
  }
  if (*p != '\0') return 0;
  if (bytes[0] == 255 && bytes[1] == 255 && bytes[2] == 255 && bytes[3] == 255) return 0;
  memcpy(address, bytes, 4);
  return 1;
}

uint32_t PingUntilServerReturned(uint32_t timeout_ms, KavrelDevice *device) {
  if (!device) return KAVREL_E_INVALIDARG;
  uint64_t start = OsMilliseconds();
  uint32_t target = 0;
  if (!Probe_ParseAddress(device->address, &target)) {
    KV_FAIL("not an IPv4 address: %s\n", device->address);
    return KAVREL_E_PROBE_IO;
  }
  Probe p;
  p.device = device;
  int error = IcmpEcho_Open(target, 0, &p.socket);
  if (error != 0) {
    KV_FAIL("crete socket error: %d\n", error);
    return KAVREL_E_PROBE_SOCKET;
  }
  KV_LOG(KAVREL_LOG_SOCKET, "socket created: %d\n", static_cast<int>(IcmpEcho_Kind(p.socket)));
  if (IcmpEcho_SetTimeouts(p.socket, 1000) != 0) return KAVREL_E_PROBE_OPTION;
  Report(device, PROBE_STEP_BEGIN);
  uint32_t rc = Run(p, timeout_ms, start);
  if (rc == KAVREL_OK) Report(device, PROBE_STEP_RETURNED);
  return rc;
}
