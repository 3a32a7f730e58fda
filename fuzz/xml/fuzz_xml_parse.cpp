// The parser and the cursor on any bytes: the first byte picks the element limit and the
// navigation steps, the rest is the document.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "xml/xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  XmlOptions options{XML_VERSION, (int32_t)(data[0] % 64)};
  uint8_t steps = data[1];
  data += 2;
  size -= 2;
  XmlDoc *doc = nullptr;
  if (Xml_Create(&doc, &options) != 0) return 0;
  // Exactly the text's bytes, no NUL behind them: the parser must stay within the length.
  std::vector<char> buffer(data, data + size);
  if (buffer.size() < 3) buffer.resize(3);
  Xml_SetDoc(doc, buffer.data(), (int32_t)buffer.size(), (int32_t)size);
  char out[64];
  Xml_GetError(doc, out, sizeof(out));
  static const char *const kNames[] = {nullptr, "a", "b", "a/", "ServerName"};
  for (int i = 0; i < 64; i++) {
    const char *name = kNames[(steps + i) % 5];
    switch ((steps >> (i % 7)) % 4) {
      case 0: Xml_FindElem(doc, name); break;
      case 1: Xml_FindChildElem(doc, name); break;
      case 2: Xml_IntoElem(doc); break;
      default: Xml_GetChildData(doc, out, (int32_t)(2 + i % 62)); break;
    }
  }
  Xml_Destroy(&doc);
  return 0;
}
