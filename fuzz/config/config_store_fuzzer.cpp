// Fuzzes ConfigStore_Get and ConfigStore_Set on arbitrary file contents, names and values,
// in a private temporary directory. Besides not crashing, every write that is accepted must
// read back as written, and a refused write must leave the file as it was.
//
// Input: byte 0 selects the flags, byte 1 the index (-2..253), then section, key and value
// separated by NUL bytes; the rest is the file's content.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "config/config_store.h"
#include "kavrel_results.h"
#include "platform/os.h"

namespace {

std::string g_dir;
std::string g_path;

// Every write flushes to the disk; a memory file system keeps that from dominating the run.
void Setup() {
  if (!g_dir.empty()) return;
  char in_memory[] = "/dev/shm/cfgfuzzXXXXXX";
  g_dir = mkdtemp(in_memory) ? in_memory : OsMakePrivateTempDir("cfgfuzz");
  if (g_dir.empty()) abort();
  g_path = g_dir + "/config.ini";
  atexit([] { OsRemoveTree(g_dir); });
}

bool WriteAll(const std::string &path, const uint8_t *data, size_t size) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

std::string ReadAll(const std::string &path) {
  std::string text;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

// The next NUL-terminated field, at most 300 bytes.
std::string Field(const uint8_t **data, size_t *size) {
  const uint8_t *end = static_cast<const uint8_t *>(memchr(*data, 0, *size));
  size_t n = end ? static_cast<size_t>(end - *data) : *size;
  std::string field(reinterpret_cast<const char *>(*data), n < 300 ? n : 300);
  size_t used = end ? n + 1 : n;
  *data += used;
  *size -= used;
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Setup();
  if (size < 2) return 0;
  uint8_t flags = data[0];
  int32_t index = static_cast<int32_t>(data[1]) - 2;
  data += 2;
  size -= 2;
  std::string section = Field(&data, &size);
  std::string key = Field(&data, &size);
  std::string value = Field(&data, &size);
  if (!WriteAll(g_path, data, size)) abort();

  char out[CONFIG_VALUE_MAX];
  ConfigStore_Get(g_path.c_str(), section.c_str(), key.c_str(), out, "d", index);
  if (strlen(out) > CONFIG_LINE_MAX) abort();

  std::string before = ReadAll(g_path);
  uint32_t result =
      ConfigStore_Set(g_path.c_str(), section.c_str(), key.c_str(), value.c_str(), index, flags & 1);
  if (result == KAVREL_OK) {
    // Names and values holding a NUL were cut there; what went in is the C string.
    std::string written = value.c_str();
    uint32_t read = ConfigStore_Get(g_path.c_str(), section.c_str(), key.c_str(), out, "", index);
    if (read != KAVREL_OK || written != out) {
      fprintf(stderr, "write did not read back: %08X [%s]\n", read, out);
      abort();
    }
  } else if (result == KAVREL_E_INVALIDARG) {
    if (ReadAll(g_path) != before) abort();
  } else {
    abort();  // the file is always readable and replaceable here
  }

  if (flags & 2) {
    // Converting to CR LF and back gives what normalising gives.
    if (ConfigStore_Normalize(g_path.c_str()) != KAVREL_OK) abort();
    std::string normal = ReadAll(g_path);
    if (ConfigStore_ToCrLf(g_path.c_str()) != KAVREL_OK) abort();
    if (ConfigStore_Normalize(g_path.c_str()) != KAVREL_OK) abort();
    if (ReadAll(g_path) != normal) abort();
  }
  return 0;
}
