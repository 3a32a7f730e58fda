// The writer: the text it inserts for each state of the parent, escaping, the refusals, and
// an index that stays the one a fresh parse builds.
#include <gtest/gtest.h>

#include <string>

#include "xml_test_util.h"

using xmltest::Doc;
using xmltest::ExpectIndexMatchesReparse;

TEST(XmlWrite, FromAnEmptyDocument) {
  Doc d;
  ASSERT_EQ(0, d.Set(""));
  ASSERT_EQ(0, Xml_AddElem(d.doc, "sysinfodat", ""));
  ASSERT_EQ(0, Xml_AddAttrib(d.doc, "schemaversion", "1.0"));
  ASSERT_EQ(1, Xml_IntoElem(d.doc));
  ASSERT_EQ(0, Xml_AddElem(d.doc, "ServerName", "KM5120"));
  ASSERT_EQ(0, Xml_AddElem(d.doc, "CamNum", "1"));
  EXPECT_EQ(
      "<sysinfodat schemaversion=\"1.0\">\r\n<ServerName>KM5120</ServerName>\r\n"
      "<CamNum>1</CamNum>\r\n</sysinfodat>\r\n",
      d.Text());
  ExpectIndexMatchesReparse(d.doc);
}

// Each row: a document, the path to the parent (its first element is the root), what to
// add as its child, and the text expected.
TEST(XmlWrite, ChildTextByParentState) {
  struct Case {
    const char *before;
    const char *parent;  // a child of the root, or NULL for the root itself
    const char *value;   // NULL: no value
    const char *after;
  } cases[] = {
      // has content
      {"<r><a>\r\n<x/>\r\n</a></r>", "a", "v", "<r><a>\r\n<x/>\r\n<n>v</n>\r\n</a></r>"},
      {"<r><a>\r\n<x/>\r\n</a></r>", "a", nullptr, "<r><a>\r\n<x/>\r\n<n/>\r\n</a></r>"},
      {"<r><a>text</a></r>", "a", "v", "<r><a>text<n>v</n>\r\n</a></r>"},
      // start and end tag with nothing between
      {"<r><a></a></r>", "a", "v", "<r><a>\r\n<n>v</n>\r\n</a></r>"},
      {"<r><a></a></r>", "a", nullptr, "<r><a>\r\n<n/>\r\n</a></r>"},
      {"<r><a></a></r>", "a", "", "<r><a>\r\n<n></n>\r\n</a></r>"},
      // written as an empty element
      {"<r><a/></r>", "a", "v", "<r><a>\r\n<n>v</n>\r\n</a></r>"},
      {"<r><a k=\"1\" /></r>", "a", nullptr, "<r><a k=\"1\" >\r\n<n/>\r\n</a></r>"},
      {"<r/>", nullptr, "v", "<r>\r\n<n>v</n>\r\n</r>"},
      {"<r//>", nullptr, "v", "<r/ >\r\n<n>v</n>\r\n</r>"},
  };
  for (const Case &c : cases) {
    Doc d;
    ASSERT_EQ(0, d.Set(c.before)) << c.before;
    ASSERT_EQ(1, Xml_FindElem(d.doc, "r"));
    if (c.parent) {
      ASSERT_EQ(1, Xml_FindChildElem(d.doc, c.parent));
      ASSERT_EQ(1, Xml_IntoElem(d.doc));
    }
    ASSERT_EQ(0, Xml_AddChildElem(d.doc, "n", c.value)) << c.before;
    EXPECT_EQ(c.after, d.Text()) << c.before;
    ExpectIndexMatchesReparse(d.doc);
    // The new element is the current child and reads back.
    int result = -99;
    EXPECT_EQ(c.value ? c.value : "", d.ChildData(&result));
    EXPECT_EQ(0, result);
  }
}

TEST(XmlWrite, SiblingsAppendAndInsert) {
  Doc d;
  ASSERT_EQ(0, d.Set("<r>\r\n<a/>\r\n<c/>\r\n</r>\r\n"));
  Xml_FindElem(d.doc, "r");
  Xml_IntoElem(d.doc);
  ASSERT_EQ(1, Xml_FindElem(d.doc, "a"));
  ASSERT_EQ(0, Xml_AddElem(d.doc, "b", "2"));  // after a, before c
  ASSERT_EQ(0, Xml_InsertElem(d.doc, "a0", nullptr));  // before b
  ASSERT_EQ(1, Xml_FindElem(d.doc, "c"));
  ASSERT_EQ(0, Xml_AddElem(d.doc, "d", "4"));  // the last child
  EXPECT_EQ("<r>\r\n<a/>\r\n<a0/>\r\n<b>2</b>\r\n<c/>\r\n<d>4</d>\r\n</r>\r\n", d.Text());
  ExpectIndexMatchesReparse(d.doc);

  // Inserting the first child of a parent with content.
  Doc e;
  ASSERT_EQ(0, e.Set("<r>\r\n<a/>\r\n</r>"));
  Xml_FindElem(e.doc, "r");
  ASSERT_EQ(0, Xml_InsertChildElem(e.doc, "z", "0"));
  EXPECT_EQ("<r>\r\n<z>0</z>\r\n<a/>\r\n</r>", e.Text());
  ExpectIndexMatchesReparse(e.doc);
}

TEST(XmlWrite, Escaping) {
  Doc d;
  ASSERT_EQ(0, d.Set("<r></r>"));
  Xml_FindElem(d.doc, "r");
  ASSERT_EQ(0, Xml_AddChildElem(d.doc, "v", "a<b&c>d\"e'"));
  ASSERT_EQ(0, Xml_AddAttrib(d.doc, "k", "a&b'"));
  EXPECT_EQ("<r k=\"a&b'\">\r\n<v>a&lt;b&amp;c&gt;d\"e'</v>\r\n</r>", d.Text());
  // Attribute values are not escaped, so those that would end the tag are refused.
  const std::string before = d.Text();
  for (const char *bad : {"<", ">", "a\"b"}) EXPECT_EQ(-1, Xml_AddAttrib(d.doc, "k", bad)) << bad;
  EXPECT_EQ(before, d.Text());
  EXPECT_EQ("a<b&c>d\"e'", d.ChildData());
}

TEST(XmlWrite, Attributes) {
  struct Case {
    const char *before;
    const char *name;
    const char *value;
    const char *after;
  } cases[] = {
      {"<r/>", "a", "1", "<r a=\"1\"/>"},
      {"<r></r>", "a", nullptr, "<r a=\"\"></r>"},
      {"<r a=\"1\" b='2'><x/></r>", "a", "333", "<r a=\"333\" b='2'><x/></r>"},
      {"<r a=\"1\" b='2'><x/></r>", "b", "", "<r a=\"1\" b=''><x/></r>"},
      {"<r ab=\"1\"/>", "a", "2", "<r ab=\"1\" a=\"2\"/>"},
      {"<r a=1/>", "a", "2", "<r a=1 a=\"2\"/>"},  // only a quoted value is replaced
  };
  for (const Case &c : cases) {
    Doc d;
    ASSERT_EQ(0, d.Set(c.before));
    EXPECT_EQ(-5, Xml_AddAttrib(d.doc, c.name, c.value)) << "no current element yet";
    Xml_FindElem(d.doc, "r");
    ASSERT_EQ(0, Xml_AddAttrib(d.doc, c.name, c.value));
    EXPECT_EQ(c.after, d.Text());
    ExpectIndexMatchesReparse(d.doc);
  }
}

TEST(XmlWrite, Refusals) {
  Doc d;
  ASSERT_EQ(0, d.Set("<r/>"));
  const std::string before = d.Text();
  EXPECT_EQ(-1, Xml_AddElem(d.doc, "", "v"));
  EXPECT_EQ(-1, Xml_AddElem(d.doc, nullptr, "v"));
  EXPECT_EQ(-1, Xml_AddAttrib(d.doc, "", "v"));
  // Names are written verbatim: one that would not read back as a single tag name is refused.
  for (const char *bad : {"a b", "a<", "a>", "a/", "a=", "'a", "a\"", "a&", "a\r", "a!", "a?"}) {
    EXPECT_EQ(-1, Xml_AddElem(d.doc, bad, "v")) << bad;
    EXPECT_EQ(-1, Xml_AddAttrib(d.doc, bad, "v")) << bad;
  }
  EXPECT_EQ(-5, Xml_AddChildElem(d.doc, "c", "v")) << "no current element";
  EXPECT_EQ(-5, Xml_AddElem(d.doc, "second", "v")) << "a second root";
  Xml_FindElem(d.doc, "r");
  EXPECT_EQ(-5, Xml_AddElem(d.doc, "second", nullptr)) << "a sibling of the root";
  EXPECT_EQ(before, d.Text());

  // The element limit: two elements fit in a document of two.
  Doc two(2);
  ASSERT_EQ(0, two.Set("<r/>"));
  Xml_FindElem(two.doc, "r");
  EXPECT_EQ(0, Xml_AddChildElem(two.doc, "a", "1"));
  const std::string full = two.Text();
  EXPECT_EQ(-8, Xml_AddChildElem(two.doc, "b", "2"));
  EXPECT_EQ("Element number limitation!", two.Error());
  EXPECT_EQ(full, two.Text());

  // No room: a buffer with 10 bytes to spare takes no element with a 20-character name.
  Doc tight;
  ASSERT_EQ(0, tight.Set("<r></r>", 10));
  Xml_FindElem(tight.doc, "r");
  EXPECT_EQ(-16, Xml_AddChildElem(tight.doc, "abcdefghijklmnopqrst", nullptr));
  EXPECT_EQ("Buffer almost overrun!", tight.Error());
  EXPECT_EQ(-16, Xml_AddAttrib(tight.doc, "abcdefghijklmnopqrst", "1"));
  EXPECT_EQ("<r></r>", tight.Text());
  ExpectIndexMatchesReparse(tight.doc);
  EXPECT_EQ(0, Xml_AddAttrib(tight.doc, "a", "1")) << "a small attribute still fits";
}

// The writer keeps working up to the last byte and the last slot: a long run of additions
// into a small buffer either succeeds whole or leaves the text and the index as they were.
TEST(XmlWrite, FillToTheEnd) {
  Doc d(40);
  ASSERT_EQ(0, d.Set("<r></r>", 300));
  Xml_FindElem(d.doc, "r");
  int added = 0;
  for (int i = 0; i < 60; i++) {
    std::string before = d.Text();
    std::string name = "e" + std::to_string(i);
    int r = i % 2 ? Xml_AddChildElem(d.doc, name.c_str(), "x&y") : Xml_AddChildElem(d.doc, name.c_str(), nullptr);
    if (r == 0) {
      added++;
    } else {
      EXPECT_EQ(-16, r);
      EXPECT_EQ(before, d.Text());
    }
    ExpectIndexMatchesReparse(d.doc);
  }
  EXPECT_GT(added, 5);
  EXPECT_LT(d.doc->length, d.doc->capacity);
}
