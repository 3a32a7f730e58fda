// The writer on parsed input: a document is parsed from the input's tail, then the head
// drives additions of elements and attributes, and after each the index must still be the
// one a fresh parse of the text builds.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "xml/xml.h"

namespace {

void Collect(const XmlDoc *doc, uint32_t slot, std::vector<XmlElem> *out) {
  for (uint32_t s = doc->elems[slot].first_child; s != 0; s = doc->elems[s].next_sibling) {
    out->push_back(doc->elems[s]);
    Collect(doc, s, out);
  }
}

// The writer's text must parse again into the same index. A document whose input text
// parsed only thanks to bytes the writer cannot produce (a NUL inside) is skipped.
void CheckAgainstReparse(XmlDoc *doc) {
  if (doc->buffer == nullptr || doc->length == 0) return;
  if (doc->buffer[doc->length] != '\0') abort();
  if (memchr(doc->buffer, '\0', (size_t)doc->length) != nullptr) return;
  std::vector<char> copy(doc->buffer, doc->buffer + doc->length + 1);
  XmlOptions options{XML_VERSION, doc->slot_count - 2};
  XmlDoc *fresh = nullptr;
  if (Xml_Create(&fresh, &options) != 0) return;
  if (Xml_SetDoc(fresh, copy.data(), (int32_t)copy.size(), doc->length) != 0) abort();
  std::vector<XmlElem> live, parsed;
  Collect(doc, 0, &live);
  Collect(fresh, 0, &parsed);
  if (live.size() != parsed.size()) abort();
  for (size_t i = 0; i < live.size(); i++) {
    if (live[i].start_tag_start != parsed[i].start_tag_start ||
        live[i].start_tag_end != parsed[i].start_tag_end ||
        live[i].end_tag_start != parsed[i].end_tag_start ||
        live[i].end_tag_end != parsed[i].end_tag_end) {
      abort();
    }
  }
  Xml_Destroy(&fresh);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 12) return 0;
  const uint8_t *ops = data;  // 8 operation bytes
  int32_t spare = data[8] * 4;
  XmlOptions options{XML_VERSION, 1 + data[9] % 40};
  data += 10;
  size -= 10;
  XmlDoc *doc = nullptr;
  if (Xml_Create(&doc, &options) != 0) return 0;
  std::vector<char> buffer(data, data + size);
  buffer.resize(size + (size_t)spare + 3, '\0');
  if (Xml_SetDoc(doc, buffer.data(), (int32_t)buffer.size(), (int32_t)size) != 0) {
    Xml_Destroy(&doc);
    return 0;
  }
  static const char *const kValues[] = {nullptr, "", "v", "a<b&c>d", "\"quoted\"", "1234567890"};
  static const char *const kNames[] = {"a", "b", "ServerName", "x"};
  for (int i = 0; i < 8; i++) {
    uint8_t op = ops[i];
    const char *name = kNames[(op >> 3) % 4];
    const char *value = kValues[(op >> 5) % 6];
    switch (op % 8) {
      case 0: Xml_AddElem(doc, name, value); break;
      case 1: Xml_AddChildElem(doc, name, value); break;
      case 2: Xml_InsertElem(doc, name, value); break;
      case 3: Xml_InsertChildElem(doc, name, value); break;
      case 4: Xml_AddAttrib(doc, name, value ? value : "1"); break;
      case 5: Xml_FindElem(doc, nullptr); break;
      case 6: Xml_FindChildElem(doc, nullptr); break;
      default: Xml_IntoElem(doc); break;
    }
    if (op % 8 <= 4) CheckAgainstReparse(doc);
  }
  Xml_Destroy(&doc);
  return 0;
}
