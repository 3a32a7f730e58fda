// The in-place XML library of the model catalogue: parsing builds an index of element
// positions into the caller's buffer, navigation moves a cursor over that index, and the
// writer edits the same buffer and keeps the index in step. The buffer never grows: its
// capacity bounds every edit.
//
// Elements, attributes, text, CDATA, comments, processing instructions and document type
// declarations, with the five predefined entities; no namespaces, no validation, bytes in and
// bytes out. Results are small integers; failures also leave a text for Xml_GetError.
#pragma once

#include <stdint.h>

#define XML_VERSION 0x2000001u
#define XML_ERROR_SIZE 64

// One element's place in the text. For an empty element ("<a/>") the end tag's start is the
// start tag's end minus 1 and the end tag's end equals the start tag's end; an end of the
// start tag equal to the end tag's start plus 1 is the test for such an element everywhere.
// Slot 0 stands for the document: its first child is the root.
struct XmlElem {
  uint32_t start_tag_start;  // offset of "<"
  uint32_t start_tag_end;    // offset of ">"
  uint32_t end_tag_start;    // offset of "<" in "</"
  uint32_t end_tag_end;      // offset of ">"
  uint32_t parent;
  uint32_t first_child;
  uint32_t next_sibling;
};

struct XmlDoc {
  XmlElem *elems;      // owned by the document
  int32_t slot_count;  // requested element count + 2; the last slot is never used
  int32_t parent;      // cursor: slot numbers, 0 for none
  int32_t current;
  int32_t child;
  int32_t next_free;
  int32_t node_type;  // 1 when the current position is an element
  int32_t capacity;   // bytes of the buffer
  int32_t length;     // bytes of text, a NUL follows after any edit
  char *buffer;       // the caller's, never freed here; NULL when detached
  char error[XML_ERROR_SIZE];
};

struct XmlOptions {
  uint32_t version;       // XML_VERSION
  int32_t element_count;  // below 1 counts as 1
};

// Node types of the scanner.
enum {
  XML_NODE_NONE = 0,
  XML_NODE_ELEMENT = 1,
  XML_NODE_TEXT = 2,
  XML_NODE_WHITESPACE = 4,
  XML_NODE_CDATA = 8,
  XML_NODE_PI = 16,
  XML_NODE_COMMENT = 32,
  XML_NODE_DOCTYPE = 64,
};

// 0; -2 wrong version word; -1 allocation failure or NULL arguments.
int Xml_Create(XmlDoc **out, const XmlOptions *options);
// 0 and *doc cleared; -1 when NULL. The buffer stays the caller's.
int Xml_Destroy(XmlDoc **doc);

// Parses `length` bytes of `buffer` in place. 0 parsed (also for length 0: an empty
// document the writer can fill, the buffer zeroed); -1 bad arguments (capacity below 3,
// length outside 0..capacity); -4 parse error; -8 more elements than the document has slots.
// A failure detaches the buffer: later operations fail until a buffer is set again.
int Xml_SetDoc(XmlDoc *doc, char *buffer, int32_t capacity, int32_t length);

// Navigation. A NULL or empty name matches any element; a name matches an element whose tag
// name is its first characters followed by the name's end or one of " =/[]".
// 1 found (made current / current child); 0 not found. Searches walk forward, never wrap.
int Xml_FindElem(XmlDoc *doc, const char *name);
int Xml_FindChildElem(XmlDoc *doc, const char *name);
// 1 when the current element became the parent (its current child becomes current).
int Xml_IntoElem(XmlDoc *doc);

// The current child's text, entities decoded, CDATA unwrapped, at most size - 1 bytes.
// 0; -1 no current child or bad arguments (size below 2); -6 the child has child elements.
int Xml_GetChildData(XmlDoc *doc, char *out, int32_t size);
// 0 and the last error text ("No error occurs" when none); -1 bad arguments.
int Xml_GetError(XmlDoc *doc, char *out, int32_t size);

// The node at `pos`: its type (XML_NODE_*) and in *end the offset just past it.
int Xml_ScanNode(const XmlDoc *doc, int32_t pos, int32_t *end);

// True for a name the writer accepts: it reads back as one tag-name token (no blanks,
// control bytes, quotes or any of "<>=\\/?!&"), and not empty.
bool Xml_IsName(const char *name);

// Writer. The Add forms append after the reference (the current element, or the current
// child), the Insert forms put the element before it. `value` NULL writes "<name/>", any
// other value (also "") a start and an end tag with the escaped value between.
// Names must read back as one tag-name token: no blanks, control bytes, quotes or any of
// "<>=\\/?!&" (-1 otherwise).
// 0; -1 no name, a bad name or no buffer; -5 a second root, or no current element for the
// child forms;
// -8 element limit ("Element number limitation!"); -16 no room ("Buffer almost overrun!").
int Xml_AddElem(XmlDoc *doc, const char *name, const char *value);
int Xml_AddChildElem(XmlDoc *doc, const char *name, const char *value);
int Xml_InsertElem(XmlDoc *doc, const char *name, const char *value);
int Xml_InsertChildElem(XmlDoc *doc, const char *name, const char *value);
// Sets an attribute of the current element (replaced in place when present). The value is
// written unescaped, so one holding "<", ">" or a double quote is refused (-1); "&" stays as
// given. 0; -1 no name, a bad name or value, or no buffer; -5 no current element; -16 no room.
int Xml_AddAttrib(XmlDoc *doc, const char *name, const char *value);
