// Sequential little-endian reading of a firmware file that always knows how much is left,
// so that no length read from the file is trusted before it is checked against the rest.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

struct FirmStream {
  FILE *file = nullptr;
  uint64_t size = 0;
  uint64_t position = 0;

  ~FirmStream() { Close(); }
  // Opens the file and learns its size. False when it cannot be opened or sized.
  bool Open(const char *path);
  void Close();

  uint64_t Remaining() const { return size - position; }
  bool AtEnd() const { return position >= size; }
  // False when fewer bytes than asked for are left (nothing is consumed then).
  bool Read(void *out, uint64_t length);
  bool ReadU16(uint16_t *value);
  bool ReadU32(uint32_t *value);
  bool Skip(uint64_t length);
};
