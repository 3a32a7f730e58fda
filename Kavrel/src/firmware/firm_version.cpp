// The version reader: the header text fields of a tagged package, or the version string
// embedded in a plain image.
#include <ctype.h>
#include <string.h>

#include <vector>

#include "firmware/firm_stream.h"
#include "firmware/firm_tools.h"
#include "kavrel_results.h"

namespace {

// Reading goes on while this says so; a record that cannot be read ends the header quietly,
// since the fields found so far are what the host asked for.
enum class Next { kGoOn, kStop };

char *FieldFor(FirmVersionHeader *h, uint16_t tag) {
  switch (tag) {
    case 1: return h->version;
    case 2: return h->tag2;
    case 3: return h->tag3;
    case 4: return h->tag4;
    case 5: return h->tag5;
    case 8: return h->language;
    case 9: return h->tag9;
    case 10: return h->tag10;
    case 13: return h->tag13;
    default: return nullptr;
  }
}

// Stored byte i holds (plain + i + '0') mod 256.
void Descramble(char *field, uint16_t length) {
  for (uint16_t i = 0; i < length; ++i) {
    uint8_t stored = static_cast<uint8_t>(field[i]);
    field[i] = static_cast<char>(static_cast<uint8_t>(stored - (i & 0xFF) - '0'));
  }
}

Next ReadTextField(FirmStream &in, FirmVersionHeader *h, uint16_t tag) {
  uint16_t length;
  if (!in.ReadU16(&length)) return Next::kStop;
  char *field = FieldFor(h, tag);
  if (!field || length >= FIRM_FIELD) return in.Skip(length) ? Next::kGoOn : Next::kStop;
  char text[FIRM_FIELD] = {0};
  if (!in.Read(text, length)) return Next::kStop;
  if (tag == 8) {
    // A language tag in plain text; the field receives the language's name.
    strncpy(field, FirmLanguage_Name(text), FIRM_FIELD - 1);
  } else {
    Descramble(text, length);
    memcpy(field, text, FIRM_FIELD);
  }
  return Next::kGoOn;
}

// A nested part: its length, then a magic that must be `expected` (0 accepts any).
Next ReadNested(FirmStream &in, uint32_t expected, bool *matched) {
  uint32_t length, magic;
  if (!in.ReadU32(&length) || !in.ReadU32(&magic)) return Next::kStop;
  *matched = expected == 0 || magic == expected;
  return *matched ? Next::kGoOn : Next::kStop;
}

Next ReadRecord(FirmStream &in, FirmVersionHeader *h, uint32_t magic) {
  uint16_t tag;
  if (!in.ReadU16(&tag)) return Next::kStop;
  uint32_t length32;
  uint16_t length16;
  bool matched = false;
  switch (tag) {
    case 0:
      if (!in.ReadU32(&length32)) return Next::kStop;
      return in.Skip(uint64_t{length32} + (magic == FIRM_MAGIC_TYPE3C ? 4 : 12)) ? Next::kGoOn
                                                                                : Next::kStop;
    case 6:  // file record: only the name here; its 0x8002 content is a record of its own
    case 7:
      if (!in.ReadU16(&length16)) return Next::kStop;
      return in.Skip(length16) ? Next::kGoOn : Next::kStop;
    case 0x8000: return ReadNested(in, FIRM_MAGIC_TYPE0, &matched);
    case 0x8001: return ReadNested(in, FIRM_MAGIC_PART1, &matched);
    case 0x8003:
      if (ReadNested(in, FIRM_MAGIC_PART3, &matched) == Next::kStop) return Next::kStop;
      h->part3 = 1;
      return Next::kGoOn;
    case 0x8005: return ReadNested(in, 0, &matched);
    default: break;
  }
  if (tag < 0x8000) return ReadTextField(in, h, tag);
  if (!in.ReadU32(&length32)) return Next::kStop;
  return in.Skip(length32) ? Next::kGoOn : Next::kStop;
}

int PackageType(uint32_t magic) {
  switch (magic) {
    case FIRM_MAGIC_TYPE0: return 0;
    case FIRM_MAGIC_TYPE1: return 1;
    case FIRM_MAGIC_TYPE2: return 2;
    case FIRM_MAGIC_TYPE3A:
    case FIRM_MAGIC_TYPE3B:
    case FIRM_MAGIC_TYPE3C: return 3;
    default: return -1;
  }
}

// ---- Plain images ---------------------------------------------------------------------------

const char kMarker[] = "_FV_HEAD_:";
const size_t kMarkerLength = sizeof kMarker - 1;

// Copies the NUL-terminated text at `text` (at most `available` bytes) into `out`, at most
// FIRM_FIELD - 1 characters.
void TakeVersion(const uint8_t *text, size_t available, char *out) {
  size_t n = 0;
  while (n < available && n < FIRM_FIELD - 1 && text[n] != 0) ++n;
  memcpy(out, text, n);
  out[n] = '\0';
}

// Finds the marker anywhere in the file, whatever block boundary it straddles. 1 and the
// version stored, 0 when absent, -1 when the file cannot be opened.
int FindMarker(const char *file, char *version) {
  FirmStream in;
  if (!in.Open(file)) return -1;
  std::vector<uint8_t> window;
  std::vector<uint8_t> block(in.size < (1 << 16) ? static_cast<size_t>(in.size) + 1 : 1 << 16);
  while (!in.AtEnd()) {
    uint64_t take = in.Remaining() < block.size() ? in.Remaining() : block.size();
    if (!in.Read(block.data(), take)) return 0;
    // Keep the tail of the previous block, so a marker split across blocks is seen whole;
    // with the text after a marker near the end, enough follows to take the version.
    size_t keep = window.size() > kMarkerLength + FIRM_FIELD ? kMarkerLength + FIRM_FIELD
                                                             : window.size();
    window.erase(window.begin(), window.end() - static_cast<ptrdiff_t>(keep));
    window.insert(window.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(take));
    for (size_t i = 0; i + kMarkerLength <= window.size(); ++i) {
      if (memcmp(&window[i], kMarker, kMarkerLength) != 0) continue;
      size_t start = i + kMarkerLength;
      size_t available = window.size() - start;
      if (available < FIRM_FIELD - 1 && !in.AtEnd()) {
        // The version runs past this block: read what it needs.
        uint64_t more = in.Remaining() < FIRM_FIELD ? in.Remaining() : FIRM_FIELD;
        size_t old = window.size();
        window.resize(old + more);
        if (!in.Read(&window[old], more)) window.resize(old);
        available = window.size() - start;
      }
      TakeVersion(window.data() + start, available, version);  // start may be the end
      return 1;
    }
  }
  return 0;
}

bool IsAlnum(uint8_t c) { return c < 0x80 && isalnum(c); }
bool IsHex(uint8_t c) { return c < 0x80 && isxdigit(c); }

// "-XXXX-hhhh" followed by a NUL after 10 or 11 characters, with a NUL at most 11 bytes
// before the first dash: the model name, two parts and at most one more character.
bool TokenAt(const std::vector<uint8_t> &d, size_t i, size_t *text_start) {
  if (i + 11 > d.size() || d[i] != '-' || d[i + 5] != '-') return false;
  for (size_t k = 1; k <= 4; ++k)
    if (!IsAlnum(d[i + k]) || !IsHex(d[i + 5 + k])) return false;
  bool ends = d[i + 10] == 0 || (i + 11 < d.size() && d[i + 11] == 0);
  if (!ends) return false;
  for (size_t back = 1; back <= 11 && back <= i; ++back) {
    if (d[i - back] == 0) {
      *text_start = i - back + 1;
      return true;
    }
  }
  return false;
}

uint32_t ReadPlainImage(const char *file, FirmVersionHeader *h) {
  int found = FindMarker(file, h->version);
  if (found < 0) return FIRM_E_OPEN;
  if (found > 0) return FIRM_OK;
  FirmStream in;
  if (!in.Open(file)) return FIRM_E_OPEN;
  uint8_t length_word[4];
  if (!in.Read(length_word, 4)) return FIRM_E_FORMAT;
  uint32_t n = (uint32_t{length_word[0]} << 24) | (uint32_t{length_word[1]} << 16) |
               (uint32_t{length_word[2]} << 8) | length_word[3];
  if (n >= 0x1000000u || in.size != uint64_t{n} + 5) return FIRM_E_FORMAT;
  // At most 16 MiB: the image is read whole for the checksum and the token search.
  std::vector<uint8_t> data(in.Remaining());
  if (!in.Read(data.data(), data.size())) return FIRM_E_SHORT;
  uint8_t sum = static_cast<uint8_t>(length_word[0] + length_word[1] + length_word[2] +
                                     length_word[3]);
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  if (sum != 0) return FIRM_E_SHORT;
  for (size_t i = 0; i < data.size(); ++i) {
    size_t start;
    if (TokenAt(data, i, &start)) {
      TakeVersion(&data[start], data.size() - start, h->version);
      return FIRM_OK;
    }
  }
  return FIRM_E_NO_VERSION;
}

}  // namespace

uint32_t FirmTools_GetVersion(const char *file, FirmVersionHeader *header) {
  if (!file || !header) return FIRM_E_OPEN;
  memset(header, 0, sizeof *header);
  FirmStream in;
  if (!in.Open(file)) return FIRM_E_OPEN;
  uint32_t magic = 0;
  int type = in.ReadU32(&magic) ? PackageType(magic) : -1;
  if (type < 0) {
    in.Close();
    header->plain_image = 1;
    return ReadPlainImage(file, header);
  }
  header->package_type = static_cast<uint32_t>(type);
  while (ReadRecord(in, header, magic) == Next::kGoOn) {
  }
  return FIRM_OK;
}

uint32_t FirmTools_TranslateCode(uint32_t tool_code) {
  switch (tool_code) {
    case FIRM_OK: return KAVREL_OK;
    case 0x80000001u:
    case FIRM_E_OPEN: return KAVREL_E_INVALIDARG;
    case FIRM_E_FORMAT: return KAVREL_E_PKG_FORMAT;
    case FIRM_E_WRITE: return KAVREL_E_PKG_WRITE;
    case FIRM_E_SHORT: return KAVREL_E_PKG_SHORT;
    case FIRM_E_MKDIR: return KAVREL_E_PKG_MKDIR;
    case FIRM_E_UNSAFE: return KAVREL_E_PKG_OTHER;
    default: return KAVREL_E_PLATFORM;
  }
}
