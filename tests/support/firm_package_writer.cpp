#include "firm_package_writer.h"

#include <stdio.h>

namespace kvtest {

namespace {

std::string Le16(uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

}  // namespace

std::string FirmLe32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

std::string FirmScramble(const std::string &plain) {
  std::string out = plain;
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char>(static_cast<uint8_t>(out[i]) + (i % 256) + '0');
  return out;
}

FirmPackage::FirmPackage(uint32_t magic) : magic_(magic), bytes_(FirmLe32(magic)) {}

FirmPackage &FirmPackage::Text(uint16_t tag, const std::string &plain) {
  return Short(tag, tag == 8 ? plain : FirmScramble(plain));
}

FirmPackage &FirmPackage::Short(uint16_t tag, const std::string &body) {
  bytes_ += Le16(tag) + Le16(static_cast<uint16_t>(body.size())) + body;
  return *this;
}

FirmPackage &FirmPackage::Tag0(uint32_t length) {
  bytes_ += Le16(0) + FirmLe32(length);
  bytes_ += std::string(length + (magic_ == 0x76B539A9u ? 4 : 12), 'z');
  return *this;
}

FirmPackage &FirmPackage::Dir(const std::string &name) { return Short(7, name); }

FirmPackage &FirmPackage::File(const std::string &name, const std::string &content) {
  Short(6, name);
  return Long(0x8002, content);
}

FirmPackage &FirmPackage::Flash(const std::string &image) { return Long(0x8000, image); }

FirmPackage &FirmPackage::Nested(uint16_t tag, uint32_t length, uint32_t magic) {
  bytes_ += Le16(tag) + FirmLe32(length) + FirmLe32(magic);
  return *this;
}

FirmPackage &FirmPackage::Long(uint16_t tag, const std::string &body) {
  bytes_ += Le16(tag) + FirmLe32(static_cast<uint32_t>(body.size())) + body;
  return *this;
}

FirmPackage &FirmPackage::U16(uint16_t value) {
  bytes_ += Le16(value);
  return *this;
}

FirmPackage &FirmPackage::U32(uint32_t value) {
  bytes_ += FirmLe32(value);
  return *this;
}

FirmPackage &FirmPackage::Bytes(const std::string &raw) {
  bytes_ += raw;
  return *this;
}

bool FirmPackage::Write(const std::string &path) const {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
  return fclose(f) == 0 && ok;
}

std::string FirmPlainImage(const std::string &payload, bool good_sum) {
  uint32_t n = static_cast<uint32_t>(payload.size());
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((n >> shift) & 0xFF);
  out += payload;
  uint8_t sum = 0;
  for (char c : out) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  out += static_cast<char>(static_cast<uint8_t>(-sum + (good_sum ? 0 : 1)));
  return out;
}

}  // namespace kvtest
