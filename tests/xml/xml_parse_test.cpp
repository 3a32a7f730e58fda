// The in-place parser: its error results and texts, navigation, and reading element text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml_test_util.h"

using xmltest::Doc;

struct ParseCase {
  const char *text;
  int result;
  const char *error;  // prefix of the expected error text
};

TEST(XmlParse, ResultsAndErrorTexts) {
  const ParseCase cases[] = {
      {"<a><b/></a>", 0, "No error occurs"},
      {"", 0, "Empty document"},
      {"<a></b>", -4, "End tag does not correspond to a"},
      {"<a><b></a>", -4, "End tag does not correspond to b"},
      {"<a>", -4, "End tag of a element not found"},
      {"<a>x > y</a>", -4, "End tag of a element not found"},
      {"just text", -4, "Element tag not found"},
      {"  > <a/>", -4, "Element tag not found"},
      {"<", -4, "Abrupt end within tag"},
      {"<   ", -4, "Abrupt end within tag"},
      {"<'a'>x</'a'>", -4, "Tag starts with quote"},
      {"<!-- never closed <a/>", -4, "Invalid node"},
      {"<?pi never closed", -4, "Invalid node"},
      {"</a>", -4, "Empty tag"},
      {"<a", -4, "End of tag not found"},
      {"<a <b/>", -4, "End of tag not found"},
      {"<a></a", -4, "End tag not completed for element a"},
      {"<a></a x>", -4, "End tag not completed for element a"},
      {"<abcdefghijklmnopqrstuvwxyz0123456789></x>", -4,
       "End tag does not correspond to abcdefghijklmnopqrstuvwxyz01234"},
      {"<?xml version=\"1.0\"?>\r\n<!DOCTYPE r [<!ELEMENT r ANY>]>\r\n<!-- c -->"
       "<r><!-- x --><?pi x?><![CDATA[<not/>]]><b>t</b></r>",
       0, "No error occurs"},
      {"<a>\r\n<b attr=\"x\" other='y'>t</b >\r\n</ a >", 0, "No error occurs"},
  };
  for (const ParseCase &c : cases) {
    Doc d;
    EXPECT_EQ(c.result, d.Set(c.text)) << c.text;
    EXPECT_EQ(0, d.Error().rfind(c.error, 0)) << c.text << " gave " << d.Error();
    if (c.result != 0) {
      // A failed parse detaches the buffer: nothing can be read or written until a new one.
      EXPECT_EQ(nullptr, d.doc->buffer);
      EXPECT_EQ(0, Xml_FindElem(d.doc, nullptr));
      EXPECT_EQ(-1, Xml_AddElem(d.doc, "x", "y"));
    }
  }
}

TEST(XmlParse, ElementLimitStopsTheParse) {
  Doc two(2);
  EXPECT_EQ(0, two.Set("<a><b/></a>"));
  EXPECT_EQ(-8, two.Set("<a><b/><c/></a>"));
  EXPECT_EQ(0, two.Error().rfind("Element limited at around ", 0)) << two.Error();
  EXPECT_EQ(nullptr, two.doc->buffer);
  // Elements nested deeper than the limit stop the parse the same way, never reuse a slot.
  Doc three(3);
  EXPECT_EQ(-8, three.Set("<a><b><c><d><e/></d></c></b></a>"));
  EXPECT_EQ(0, three.Set("<a><b><c/></b></a>")) << "a document is usable again after -8";
}

TEST(XmlParse, ArgumentChecks) {
  XmlDoc *doc = nullptr;
  XmlOptions wrong{0x2000002u, 10};
  EXPECT_EQ(-2, Xml_Create(&doc, &wrong));
  EXPECT_EQ(-1, Xml_Destroy(nullptr));
  EXPECT_EQ(-1, Xml_Destroy(&doc));
  XmlOptions zero{XML_VERSION, 0};
  ASSERT_EQ(0, Xml_Create(&doc, &zero));
  EXPECT_EQ(3, doc->slot_count) << "an element count below 1 counts as 1";
  char buf[8] = "<a/>";
  EXPECT_EQ(-1, Xml_SetDoc(doc, nullptr, 8, 4));
  EXPECT_EQ(-1, Xml_SetDoc(doc, buf, 2, 2));
  EXPECT_EQ(-1, Xml_SetDoc(doc, buf, 8, 9));
  EXPECT_EQ(-1, Xml_SetDoc(doc, buf, 8, -1));
  EXPECT_EQ(0, Xml_SetDoc(doc, buf, 8, 4));
  char out[2];
  EXPECT_EQ(-1, Xml_GetError(doc, out, 1));
  EXPECT_EQ(-1, Xml_GetChildData(doc, out, 1));
  EXPECT_EQ(0, Xml_Destroy(&doc));
  EXPECT_EQ(nullptr, doc);
}

TEST(XmlParse, NavigationWalksForwardAndNeverWraps) {
  Doc d;
  ASSERT_EQ(0, d.Set("<r><b>1</b><bc>2</bc><b/><c>3</c></r>"));
  ASSERT_EQ(1, Xml_FindElem(d.doc, "r"));
  EXPECT_EQ(0, Xml_FindElem(d.doc, "r")) << "one root only, no wrap to the start";

  // Child walk: every child once, then 0 for ever.
  std::vector<std::string> seen;
  while (Xml_FindChildElem(d.doc, nullptr) == 1) seen.push_back(d.ChildData());
  EXPECT_EQ((std::vector<std::string>{"1", "2", "", "3"}), seen);
  EXPECT_EQ(0, Xml_FindChildElem(d.doc, nullptr));
  EXPECT_EQ(0, Xml_FindChildElem(d.doc, "b"));

  // Name matching: "b" never matches "bc"; "b" followed by one of " =/[]" matches b.
  // Stepping in makes the current child current: after the walk that is c, the last.
  ASSERT_EQ(1, Xml_IntoElem(d.doc));
  EXPECT_EQ(5, d.doc->current);
  EXPECT_EQ(0, Xml_FindElem(d.doc, nullptr));
  ASSERT_EQ(0, d.Set("<r><b>1</b><bc>2</bc><b/><c>3</c></r>"));
  Xml_FindElem(d.doc, "r");
  ASSERT_EQ(1, Xml_IntoElem(d.doc));
  EXPECT_EQ(0, d.doc->current);
  ASSERT_EQ(1, Xml_FindElem(d.doc, "b"));
  ASSERT_EQ(1, Xml_FindElem(d.doc, "b"));
  EXPECT_EQ(d.doc->elems[d.doc->current].start_tag_end, d.doc->elems[d.doc->current].end_tag_start + 1)
      << "the second b is the empty one: bc was skipped";
  EXPECT_EQ(0, Xml_FindElem(d.doc, "b"));
  EXPECT_EQ(1, Xml_FindElem(d.doc, "c"));
  EXPECT_EQ(0, Xml_FindElem(d.doc, nullptr)) << "c is the last sibling";

  // Slots of "<r><bc/><b/></r>": r 1, bc 2, b 3.
  const struct {
    const char *name;
    int32_t slot;
  } names[] = {{"b", 3}, {"b/x", 3}, {"b x", 3}, {"b[1]", 3}, {"bc=1", 2}, {"bcd", 0}, {"", 2}, {"bx", 0}};
  for (const auto &n : names) {
    Doc d2;
    ASSERT_EQ(0, d2.Set("<r><bc/><b/></r>"));
    Xml_FindElem(d2.doc, nullptr);
    EXPECT_EQ(n.slot != 0, Xml_FindChildElem(d2.doc, n.name) == 1) << n.name;
    EXPECT_EQ(n.slot, d2.doc->child) << n.name;
  }

  // IntoElem needs a current element.
  Doc d3;
  ASSERT_EQ(0, d3.Set("<r/>"));
  EXPECT_EQ(0, Xml_IntoElem(d3.doc));
  int result = 0;
  d3.ChildData(&result);
  EXPECT_EQ(-1, result) << "no current child";
}

TEST(XmlParse, ChildDataDecodesEntitiesAndCdata) {
  struct Case {
    const char *content;
    const char *expected;
  } cases[] = {
      {"x&amp;y", "x&y"},
      {"&lt;&gt;&apos;&quot;", "<>'\""},
      {"<![CDATA[&lt;z]]>", "<z"},
      {"  <![CDATA[ q ]]>", " q "},
      {"<![CDATA[]]>", ""},
      {"<![CDATA[abc]]]>", "abc]"},
      {"&#65;&bogus;&am", "&#65;&bogus;&am"},
      {"x&amp", "x&amp"},  // the entity does not lie wholly inside the text
      {"  sp ", "  sp "},
      {"", ""},
  };
  for (const Case &c : cases) {
    Doc d;
    std::string text = std::string("<r><v>") + c.content + "</v></r>";
    ASSERT_EQ(0, d.Set(text)) << text << " " << d.Error();
    Xml_FindElem(d.doc, "r");
    ASSERT_EQ(1, Xml_FindChildElem(d.doc, "v"));
    int result = -99;
    EXPECT_EQ(c.expected, d.ChildData(&result)) << c.content;
    EXPECT_EQ(0, result);
  }

  Doc d;
  ASSERT_EQ(0, d.Set("<r><v>abcdef</v><p><q/></p><e/></r>"));
  Xml_FindElem(d.doc, "r");
  Xml_FindChildElem(d.doc, "v");
  char small[3];
  EXPECT_EQ(0, Xml_GetChildData(d.doc, small, sizeof(small)));
  EXPECT_STREQ("ab", small);
  Xml_FindChildElem(d.doc, "p");
  int result = 0;
  EXPECT_EQ("", d.ChildData(&result));
  EXPECT_EQ(-6, result);
  Xml_FindChildElem(d.doc, "e");
  EXPECT_EQ("", d.ChildData(&result));
  EXPECT_EQ(0, result);
}

TEST(XmlParse, NodeScanner) {
  struct Case {
    const char *text;
    int type;
    int end;
  } cases[] = {
      {"  \r\n<a/>", XML_NODE_WHITESPACE, 4}, {"text<a/>", XML_NODE_TEXT, 4},
      {"<?pi x?>rest", XML_NODE_PI, 8},       {"<![CDATA[<]]>x", XML_NODE_CDATA, 13},
      {"<!-- c -->x", XML_NODE_COMMENT, 10},  {"<!DOCTYPE a [<!ENTITY b '>'>]>x", XML_NODE_DOCTYPE, 30},
      {"<!DOCTYPE a [", XML_NODE_NONE, 0},     {"</a>", XML_NODE_NONE, 0},
      {"<a>", XML_NODE_ELEMENT, 0},
  };
  for (const Case &c : cases) {
    Doc d;
    std::string text = c.text;
    d.buffer.assign(text.begin(), text.end());
    d.buffer.resize(text.size() + 1);
    d.doc->buffer = d.buffer.data();
    d.doc->length = (int32_t)text.size();
    int32_t end = 0;
    EXPECT_EQ(c.type, Xml_ScanNode(d.doc, 0, &end)) << c.text;
    EXPECT_EQ(c.end, end) << c.text;
    d.doc->buffer = nullptr;
  }
}
