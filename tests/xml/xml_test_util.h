// Helpers of the XML tests: a document over a std::string buffer, and a check that the index
// the writer keeps up to date is the index a fresh parse of the same text builds.
#pragma once

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "xml/xml.h"

namespace xmltest {

struct Doc {
  XmlDoc *doc = nullptr;
  std::vector<char> buffer;

  explicit Doc(int32_t elements = 320) {
    XmlOptions options{XML_VERSION, elements};
    EXPECT_EQ(0, Xml_Create(&doc, &options));
  }
  ~Doc() { Xml_Destroy(&doc); }
  Doc(const Doc &) = delete;
  Doc &operator=(const Doc &) = delete;

  // Parses `text` in a buffer with `spare` bytes beyond it.
  int Set(const std::string &text, int32_t spare = 1024) {
    buffer.assign(text.size() + (size_t)spare, '\0');
    memcpy(buffer.data(), text.data(), text.size());
    return Xml_SetDoc(doc, buffer.data(), (int32_t)buffer.size(), (int32_t)text.size());
  }
  std::string Text() const { return doc->buffer ? std::string(doc->buffer, (size_t)doc->length) : ""; }
  std::string Error() {
    char out[XML_ERROR_SIZE];
    Xml_GetError(doc, out, sizeof(out));
    return out;
  }
  std::string ChildData(int *result = nullptr) {
    char out[64];
    int r = Xml_GetChildData(doc, out, sizeof(out));
    if (result) *result = r;
    return out;
  }
};

// Walks both indexes in document order and compares every element's offsets.
inline void CollectOrder(const XmlDoc *doc, uint32_t slot, std::vector<XmlElem> *out) {
  for (uint32_t s = doc->elems[slot].first_child; s != 0; s = doc->elems[s].next_sibling) {
    out->push_back(doc->elems[s]);
    CollectOrder(doc, s, out);
  }
}

inline void ExpectIndexMatchesReparse(const XmlDoc *doc) {
  std::string text(doc->buffer, (size_t)doc->length);
  ASSERT_EQ(strlen(doc->buffer), (size_t)doc->length) << "text not NUL-terminated at its length";
  Doc fresh(doc->slot_count - 2);
  ASSERT_EQ(0, fresh.Set(text)) << fresh.Error() << "\n" << text;
  std::vector<XmlElem> live, parsed;
  CollectOrder(doc, 0, &live);
  CollectOrder(fresh.doc, 0, &parsed);
  ASSERT_EQ(parsed.size(), live.size()) << text;
  for (size_t i = 0; i < live.size(); i++) {
    EXPECT_EQ(parsed[i].start_tag_start, live[i].start_tag_start) << "element " << i;
    EXPECT_EQ(parsed[i].start_tag_end, live[i].start_tag_end) << "element " << i;
    EXPECT_EQ(parsed[i].end_tag_start, live[i].end_tag_start) << "element " << i;
    EXPECT_EQ(parsed[i].end_tag_end, live[i].end_tag_end) << "element " << i;
  }
}

}  // namespace xmltest
