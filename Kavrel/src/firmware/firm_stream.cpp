#include "firmware/firm_stream.h"

#include "platform/os.h"

bool FirmStream::Open(const char *path) {
  Close();
  file = fopen(path, "rb");
  if (!file) return false;
  int64_t length = OsFileSize(path);
  if (length < 0) {
    Close();
    return false;
  }
  // Large pieces: the unpacker copies whole files through this stream.
  setvbuf(file, nullptr, _IOFBF, 1 << 16);
  size = static_cast<uint64_t>(length);
  position = 0;
  return true;
}

void FirmStream::Close() {
  if (file) fclose(file);
  file = nullptr;
}

bool FirmStream::Read(void *out, uint64_t length) {
  if (length > Remaining()) return false;
  if (length == 0) return true;
  if (fread(out, 1, static_cast<size_t>(length), file) != length) {
    // The file shrank under us: whatever is left is no longer where we think.
    size = position;
    return false;
  }
  position += length;
  return true;
}

bool FirmStream::ReadU16(uint16_t *value) {
  uint8_t b[2];
  if (!Read(b, 2)) return false;
  *value = static_cast<uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool FirmStream::ReadU32(uint32_t *value) {
  uint8_t b[4];
  if (!Read(b, 4)) return false;
  *value = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return true;
}

bool FirmStream::Skip(uint64_t length) {
  if (length > Remaining()) return false;
  if (length == 0) return true;
  if (OsSeekFile(file, position + length) != 0) return false;
  position += length;
  return true;
}
