// Builds firmware files for tests from the format alone: tagged packages (magic, header text
// fields, tag 0 records, directory and file records, flash images, nested parts) and plain
// images (a big-endian length, the payload, a check byte). Numbers little-endian except the
// plain image's length word. Methods append one record each; Bytes() appends anything, for
// malformed files.
#pragma once

#include <stdint.h>

#include <string>

namespace kvtest {

class FirmPackage {
 public:
  explicit FirmPackage(uint32_t magic);

  // A header text field (tags 1-0x7FFF): 16-bit length, then the text; scrambled as the
  // reader expects (byte i + i + '0'), except tag 8 which is plain.
  FirmPackage &Text(uint16_t tag, const std::string &plain);
  // A record with a 16-bit length and the body as given.
  FirmPackage &Short(uint16_t tag, const std::string &body);
  // Tag 0: 32-bit L, then L + 12 bytes (L + 4 in a 0x76B539A9 file).
  FirmPackage &Tag0(uint32_t length);
  FirmPackage &Dir(const std::string &name);
  FirmPackage &File(const std::string &name, const std::string &content);
  // Tag 0x8000: the flash image, whose first word should be 0xF51614DE.
  FirmPackage &Flash(const std::string &image);
  // 0x8001, 0x8003, 0x8005: a 32-bit length and the nested magic; the nested records follow.
  FirmPackage &Nested(uint16_t tag, uint32_t length, uint32_t magic);
  // Any tag with a 32-bit length and a body.
  FirmPackage &Long(uint16_t tag, const std::string &body);
  FirmPackage &U16(uint16_t value);
  FirmPackage &U32(uint32_t value);
  FirmPackage &Bytes(const std::string &raw);

  const std::string &bytes() const { return bytes_; }
  bool Write(const std::string &path) const;

 private:
  uint32_t magic_;
  std::string bytes_;
};

// The scrambled form of a header text field.
std::string FirmScramble(const std::string &plain);
// Little-endian word as 4 bytes.
std::string FirmLe32(uint32_t value);
// A plain image: the big-endian payload length, the payload and a check byte that makes the
// 8-bit sum of the file 0 (or 1 when `good_sum` is false).
std::string FirmPlainImage(const std::string &payload, bool good_sum = true);

}  // namespace kvtest
