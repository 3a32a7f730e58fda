// The reachability probe: waits, after the upgrade told a device to reset, until the device
// has gone away and answers ICMP echo again.
#pragma once

#include <stdint.h>

struct KavrelDevice;

// Progress steps through the device's upgrade callback (operation 111).
#define PROBE_STEP_BEGIN 9
#define PROBE_STEP_GONE 10
#define PROBE_STEP_RETURNED 11

// 0 when the device was seen gone and then answered; 0x80060302 when `timeout_ms` passed
// first; 0x80060314 when the device's upgrade abort was requested; 0x80060313 for a host
// that is not a dotted IPv4 address or a send or receive failure; 0x80060311 / 0x80060312
// when the socket or its options cannot be had. Runs on the calling thread.
uint32_t PingUntilServerReturned(uint32_t timeout_ms, KavrelDevice *device);

// Parses a dotted IPv4 address strictly: four decimal parts 0-255 without leading zeros,
// nothing else. The broadcast address is refused. 1 and *address (network byte order), or 0.
int Probe_ParseAddress(const char *text, uint32_t *address);
