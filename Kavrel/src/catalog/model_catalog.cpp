// The model catalogue file "Data.xml": loading, lookup, the store under the cross-process
// lock, and the entry's 23 fields.
#include "catalog/model_catalog.h"

#include <errno.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/log.h"
#include "platform/os.h"
#include "xml/xml.h"

namespace {

// Catalogue files larger than this are not ours to rewrite: 13 entries take a few KB.
const long kMaxFileSize = 1L << 20;

std::atomic<uint32_t> g_lock_timeout_ms{CATALOG_LOCK_TIMEOUT_MS};

struct CatalogField {
  const char *name;
  size_t offset;
  size_t size;  // of a text field; 0 for an integer
};

#define TEXT_FIELD(f) {#f, offsetof(ServerParam, f), sizeof(((ServerParam *)0)->f)}
#define INT_FIELD(f) {#f, offsetof(ServerParam, f), 0}
// The order of the file, written and read alike.
const CatalogField kFields[CATALOG_FIELDS] = {
    TEXT_FIELD(ServerName),     INT_FIELD(AudioCodec),       INT_FIELD(CamNum),
    INT_FIELD(ComNum),          INT_FIELD(DefaultMediaType), INT_FIELD(DefaultProtocol),
    INT_FIELD(DefaultQuality),  INT_FIELD(DiNum),            INT_FIELD(DoNum),
    INT_FIELD(Flag),            INT_FIELD(MDWinNum),         INT_FIELD(VideoCodec),
    TEXT_FIELD(DefaultVSize),   TEXT_FIELD(GetDiUrl),        TEXT_FIELD(PresetUrl),
    TEXT_FIELD(PtzUrl),         TEXT_FIELD(QuadUrl),         TEXT_FIELD(RecallUrl),
    TEXT_FIELD(SetDoUrl),       TEXT_FIELD(TxUrl),           TEXT_FIELD(UartUrl),
    TEXT_FIELD(VideoUrl),       TEXT_FIELD(RxUrl),
};
#undef TEXT_FIELD
#undef INT_FIELD

// Loading outcomes: the store replaces only a missing or unparsable file.
enum LoadResult { kLoaded = 0, kMissing = -1, kUnparsable = -2, kUnusable = -3 };

// A parsed catalogue and the buffer it lives in.
struct Catalog {
  std::unique_ptr<char, decltype(&free)> buffer{nullptr, &free};
  XmlDoc *doc = nullptr;
  ~Catalog() { Xml_Destroy(&doc); }
};

bool Catalog_CreateDoc(Catalog *catalog) {
  XmlOptions options{XML_VERSION, CATALOG_ELEMENT_LIMIT};
  return Xml_Create(&catalog->doc, &options) == 0;
}

// Parses `length` bytes of catalogue text (up to a NUL within them) in a buffer of its own
// with `spare` bytes of room behind the text.
LoadResult Catalog_Parse(const char *text, size_t length, size_t spare, Catalog *catalog) {
  size_t capacity = length + spare + 1;
  if (capacity > INT32_MAX) return kUnusable;
  catalog->buffer.reset((char *)calloc(capacity, 1));
  if (!catalog->buffer) return kUnusable;
  memcpy(catalog->buffer.get(), text, length);
  if (!Catalog_CreateDoc(catalog)) return kUnusable;
  int32_t used = (int32_t)strlen(catalog->buffer.get());
  if (used == 0) return kUnparsable;
  int r = Xml_SetDoc(catalog->doc, catalog->buffer.get(), (int32_t)capacity, used);
  if (r == -8) return kUnusable;  // more elements than a catalogue holds: not one we wrote
  return r == 0 ? kLoaded : kUnparsable;
}

// Reads and parses the file into a buffer with `spare` bytes of room behind its text.
LoadResult Catalog_Load(const std::string &path, size_t spare, Catalog *catalog) {
  if (path.empty()) return kUnusable;
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr) return errno == ENOENT ? kMissing : kUnusable;
  long size = -1;
  if (fseek(file, 0, SEEK_END) == 0) size = ftell(file);
  if (size < 0 || size > kMaxFileSize || fseek(file, 0, SEEK_SET) != 0) {
    fclose(file);
    return kUnusable;
  }
  std::string text((size_t)size, '\0');
  size_t got = fread(&text[0], 1, text.size(), file);
  fclose(file);
  if (got != text.size()) return kUnusable;
  return Catalog_Parse(text.data(), text.size(), spare, catalog);
}

// The catalogue key: the first 6 characters of a model name.
std::string Catalog_Key(const char *name, size_t size) {
  size_t n = strnlen(name, size);
  return std::string(name, n < CATALOG_KEY_LENGTH ? n : CATALOG_KEY_LENGTH);
}

// Leading blanks and a sign, then digits up to the first other character; no digits give 0.
// Saturates instead of overflowing.
int32_t Catalog_ParseInt(const char *text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) text++;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') text++;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    value = value * 10 + (*text - '0');
    if (value > (int64_t)INT32_MAX + 1) value = (int64_t)INT32_MAX + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return (int32_t)value;
}

// Each field's text goes into its field, cut to fit: the file's values may be longer than
// the record's arrays.
void Catalog_ReadEntry(XmlDoc *doc, ServerParam *param) {
  char *base = reinterpret_cast<char *>(param);
  for (const CatalogField &f : kFields) {
    if (Xml_FindChildElem(doc, f.name) != 1) continue;
    char text[64];
    if (Xml_GetChildData(doc, text, sizeof(text)) != 0) continue;
    if (f.size == 0) {
      int32_t value = Catalog_ParseInt(text);
      memcpy(base + f.offset, &value, sizeof(value));
    } else {
      snprintf(base + f.offset, f.size, "%s", text);
    }
  }
}

std::string Catalog_FieldText(const ServerParam *param, const CatalogField &f,
                              const std::string &key) {
  const char *base = reinterpret_cast<const char *>(param);
  if (f.offset == offsetof(ServerParam, ServerName)) return key;
  if (f.size != 0) return std::string(base + f.offset, strnlen(base + f.offset, f.size));
  int32_t value;
  memcpy(&value, base + f.offset, sizeof(value));
  return std::to_string(value);
}

size_t Catalog_EscapedLength(const std::string &text) {
  size_t n = text.size();
  for (char c : text) {
    if (c == '<' || c == '>') n += 3;
    if (c == '&') n += 4;
  }
  return n;
}

// An upper bound of the bytes the entry (and a fresh root) adds: each addition's own
// reservation, so that every step of the writer finds its room.
size_t Catalog_EntryRoom(const ServerParam *param, const std::string &key) {
  size_t room = 2 * (strlen("sysinfodat") + 6) + strlen("schemaversion") + 3 + 6;
  room += 2 * (key.size() + 6);
  for (const CatalogField &f : kFields) {
    room += 2 * (strlen(f.name) + 6) + Catalog_EscapedLength(Catalog_FieldText(param, f, key));
  }
  return room + 16;
}

// Appends the entry after the root's last child, whole or not at all: on any refusal the
// caller drops the document instead of writing it.
int32_t Catalog_WriteEntry(XmlDoc *doc, const ServerParam *param, const std::string &key) {
  if (doc->next_free + 1 + CATALOG_FIELDS > doc->slot_count - 1) return CATALOG_E_FULL;
  if (Xml_AddElem(doc, key.c_str(), "") != 0) return CATALOG_E_FULL;
  for (const CatalogField &f : kFields) {
    if (Xml_AddChildElem(doc, f.name, Catalog_FieldText(param, f, key).c_str()) != 0) {
      return CATALOG_E_FULL;
    }
  }
  return 0;
}

// A temporary file beside the catalogue, then a rename over it: a failure at any step leaves
// the old file as it was, never a truncated one.
int32_t Catalog_WriteFile(const std::string &path, const char *text, size_t length) {
  std::string temp = OsTempFileBeside(path);
  if (temp.empty()) return CATALOG_E_FILE;
  FILE *file = fopen(temp.c_str(), "wb");
  bool written = file != nullptr && fwrite(text, 1, length, file) == length;
  if (file != nullptr) {
    written = OsFlushFile(file) == 0 && written;
    written = fclose(file) == 0 && written;
  }
  if (!written || OsReplaceFile(temp, path) != 0) {
    OsRemoveFile(temp);
    return CATALOG_E_FILE;
  }
  return 0;
}

// A catalogue of the root alone, in a buffer with room for one entry.
int32_t Catalog_Fresh(Catalog *catalog, size_t room) {
  catalog->buffer.reset((char *)calloc(room, 1));
  if (!catalog->buffer || (catalog->doc == nullptr && !Catalog_CreateDoc(catalog))) {
    return CATALOG_E_ABSENT;
  }
  XmlDoc *doc = catalog->doc;
  if (Xml_SetDoc(doc, catalog->buffer.get(), (int32_t)room, 0) != 0 ||
      Xml_AddElem(doc, "sysinfodat", "") != 0 || Xml_AddAttrib(doc, "schemaversion", "1.0") != 0 ||
      Xml_IntoElem(doc) != 1) {
    return CATALOG_E_ABSENT;
  }
  return 0;
}

// Under the lock: load, check for the key, add the entry, replace the file.
int32_t Catalog_StoreLocked(const std::string &path, const ServerParam *param,
                            const std::string &key) {
  size_t room = Catalog_EntryRoom(param, key);
  Catalog catalog;
  LoadResult loaded = Catalog_Load(path, room, &catalog);
  if (loaded == kUnusable) return CATALOG_E_FILE;
  if (loaded == kLoaded) {
    XmlDoc *doc = catalog.doc;
    if (Xml_FindElem(doc, nullptr) != 1 || Xml_IntoElem(doc) != 1) return CATALOG_E_FILE;
    if (Xml_FindElem(doc, key.c_str()) == 1) return 0;
  } else {
    int32_t r = Catalog_Fresh(&catalog, room);
    if (r != 0) return r;
  }
  int32_t r = Catalog_WriteEntry(catalog.doc, param, key);
  if (r != 0) return r;
  return Catalog_WriteFile(path, catalog.doc->buffer, (size_t)catalog.doc->length);
}

// The entry of the model in a parsed catalogue.
int32_t Catalog_Find(XmlDoc *doc, char *model_name, ServerParam *param) {
  Xml_FindElem(doc, nullptr);
  Xml_IntoElem(doc);
  if (strlen(model_name) > CATALOG_KEY_LENGTH) model_name[CATALOG_KEY_LENGTH] = '\0';
  // A key that is no element name could only match a shorter one ("KM5 20" finds "KM5").
  if (!Xml_IsName(model_name) || Xml_FindElem(doc, model_name) != 1) return CATALOG_E_ABSENT;
  Catalog_ReadEntry(doc, param);
  return 0;
}

}  // namespace

std::string ModelCatalog_DataFilePath(void) {
  char dir[MORVANE_PATH_MAX] = {0};
  if (Morvane_GetDataFilePath(dir) != 0) return std::string();
  return std::string(dir) + CATALOG_FILE_NAME;
}

void ModelCatalog_SetLockTimeout(uint32_t timeout_ms) {
  g_lock_timeout_ms.store(timeout_ms != 0 ? timeout_ms : CATALOG_LOCK_TIMEOUT_MS);
}

int32_t ModelCatalog_Lookup(char *model_name, ServerParam *param) {
  if (model_name == nullptr || param == nullptr) return CATALOG_E_ABSENT;
  Catalog catalog;
  if (Catalog_Load(ModelCatalog_DataFilePath(), 0, &catalog) != kLoaded) return CATALOG_E_LOAD;
  return Catalog_Find(catalog.doc, model_name, param);
}

int32_t ModelCatalog_LookupText(const char *text, size_t length, char *model_name,
                                ServerParam *param) {
  if (text == nullptr || model_name == nullptr || param == nullptr) return CATALOG_E_ABSENT;
  Catalog catalog;
  if (Catalog_Parse(text, length, 0, &catalog) != kLoaded) return CATALOG_E_LOAD;
  return Catalog_Find(catalog.doc, model_name, param);
}

int32_t ModelCatalog_Store(const ServerParam *param) {
  if (param == nullptr) return CATALOG_E_KEY;
  std::string key = Catalog_Key(param->ServerName, sizeof(param->ServerName));
  if (!Xml_IsName(key.c_str())) {
    KV_FAIL("catalogue: model key \"%s\" cannot be stored\n", key.c_str());
    return CATALOG_E_KEY;
  }
  std::string path = ModelCatalog_DataFilePath();
  if (path.empty()) {
    KV_FAIL("catalogue: no data directory, model %s not stored\n", key.c_str());
    return CATALOG_E_FILE;
  }
  OsProcessLock lock = nullptr;
  if (OsProcessLockAcquire(CATALOG_LOCK_NAME, path + ".lock", g_lock_timeout_ms.load(), &lock) !=
      0) {
    KV_FAIL("catalogue: lock not obtained, model %s not stored\n", key.c_str());
    return CATALOG_E_LOCK;
  }
  int32_t r = Catalog_StoreLocked(path, param, key);
  OsProcessLockRelease(&lock);
  if (r != 0) KV_LOG(KAVREL_LOG_LOWER, "catalogue: model %s not stored: %d\n", key.c_str(), r);
  return r;
}
