// The XML writer: adds elements and attributes by inserting text into the document's own
// buffer and moving the element index with it. One element per line, CR LF after each, no
// indentation: the layout of the catalogue file.
#include <string.h>

#include <string>

#include "xml/xml_internal.h"

namespace {

// Attribute values are written unescaped: one holding a tag character or the double quote
// would end the tag or the value early.
bool Xml_IsWritableAttribValue(const char *value) { return strpbrk(value, "<>\"") == NULL; }

enum class ParentState { kHasContent, kNothingBetween, kEmptyElement };

ParentState Xml_ParentState(const XmlDoc *doc, uint32_t parent) {
  if (parent == 0) return ParentState::kHasContent;
  const XmlElem &e = doc->elems[parent];
  if (Xml_IsEmptyElem(&e)) return ParentState::kEmptyElement;
  if (e.start_tag_end + 1 == e.end_tag_start) return ParentState::kNothingBetween;
  return ParentState::kHasContent;
}

std::string Xml_Escape(const char *value) {
  std::string out;
  for (const char *p = value; *p != '\0'; p++) {
    switch (*p) {
      case '<': out += "&lt;"; break;
      case '&': out += "&amp;"; break;
      case '>': out += "&gt;"; break;
      default: out += *p;
    }
  }
  return out;
}

std::string Xml_ElemName(const XmlDoc *doc, uint32_t slot) {
  XmlToken tag;
  if (!Xml_NextToken(doc, (int32_t)doc->elems[slot].start_tag_start + 1, &tag)) return "";
  return std::string(doc->buffer + tag.start, (size_t)tag.length);
}

// True when `extra` more bytes keep the text within capacity - 1 (room for the NUL).
bool Xml_HasRoom(const XmlDoc *doc, int64_t extra) {
  return (int64_t)doc->length + extra <= (int64_t)doc->capacity - 1;
}

// Replaces `removed` bytes at `pos` by `text` and moves every offset at or after the end of
// the replaced bytes. The caller has checked the room.
void Xml_Splice(XmlDoc *doc, int32_t pos, int32_t removed, const std::string &text) {
  int32_t added = (int32_t)text.size();
  int32_t delta = added - removed;
  char *buf = doc->buffer;
  memmove(buf + pos + added, buf + pos + removed, (size_t)(doc->length - pos - removed));
  memcpy(buf + pos, text.data(), text.size());
  doc->length += delta;
  buf[doc->length] = '\0';
  uint32_t from = (uint32_t)(pos + removed);
  for (int32_t s = 1; s < doc->next_free; s++) {
    XmlElem &e = doc->elems[s];
    for (uint32_t *offset : {&e.start_tag_start, &e.start_tag_end, &e.end_tag_start,
                             &e.end_tag_end}) {
      if (*offset >= from) *offset = (uint32_t)((int32_t)*offset + delta);
    }
  }
}

// Where the new element's text goes: after (or, inserting, before) the reference sibling,
// else at the end (or start) of the parent's content, else at the end (or start) of the
// document. Blanks that lead to a tag are stepped over, so the new line sits before it.
int32_t Xml_InsertOffset(const XmlDoc *doc, uint32_t parent, uint32_t ref, bool insert,
                         ParentState state) {
  int32_t pos;
  if (ref != 0) {
    const XmlElem &r = doc->elems[ref];
    pos = (int32_t)(insert ? r.start_tag_start : r.end_tag_end + 1);
  } else if (parent != 0) {
    const XmlElem &p = doc->elems[parent];
    if (state == ParentState::kEmptyElement) return (int32_t)p.start_tag_end - 1;
    pos = (int32_t)(insert ? p.start_tag_end + 1 : p.end_tag_start);
  } else {
    pos = insert ? 0 : doc->length;
  }
  int32_t p = pos;
  while (p < doc->length && Xml_IsBlank(doc->buffer[p])) p++;
  if (p >= doc->length || doc->buffer[p] == '<') pos = p;
  return pos;
}

void Xml_LinkNew(XmlDoc *doc, uint32_t parent, uint32_t ref, bool insert, uint32_t slot) {
  XmlElem *elems = doc->elems;
  if (ref != 0 && !insert) {
    elems[slot].next_sibling = elems[ref].next_sibling;
    elems[ref].next_sibling = slot;
    return;
  }
  if (ref != 0 || insert) {  // before `ref`, or first when there is none
    uint32_t *link = &elems[parent].first_child;
    while (*link != 0 && *link != ref) link = &elems[*link].next_sibling;
    if (ref == 0) link = &elems[parent].first_child;
    elems[slot].next_sibling = *link;
    *link = slot;
    return;
  }
  uint32_t *link = &elems[parent].first_child;
  while (*link != 0) link = &elems[*link].next_sibling;
  *link = slot;
}

// The room the addition may need: checked before the text is built, so that a name or value
// far too long is refused before anything is done.
int64_t Xml_Reservation(int64_t n, const char *value, int64_t v, int64_t parent_tag,
                        ParentState state) {
  bool empty_parent = state == ParentState::kEmptyElement;
  if (value != NULL) return empty_parent ? 2 * (n + 9) + v + parent_tag : 2 * (n + 6) + v;
  return empty_parent ? n + 16 + parent_tag : n + 10;
}

int Xml_AddElemCommon(XmlDoc *doc, const char *name, const char *value, bool insert, bool child) {
  if (doc == NULL || !Xml_IsName(name) || doc->buffer == NULL) return -1;
  uint32_t parent, ref;
  if (child) {
    if (doc->current == 0) return -5;
    parent = (uint32_t)doc->current;
    ref = (uint32_t)doc->child;
  } else {
    parent = (uint32_t)doc->parent;
    ref = (uint32_t)doc->current;
  }
  if (parent == 0 && doc->elems[0].first_child != 0) return -5;
  ParentState state = Xml_ParentState(doc, parent);
  int32_t pos = Xml_InsertOffset(doc, parent, ref, insert, state);
  if (doc->next_free >= doc->slot_count - 1) {
    Xml_SetError(doc, "Element number limitation!");
    return -8;
  }
  std::string escaped = value != NULL ? Xml_Escape(value) : std::string();
  const XmlElem &p = doc->elems[parent];
  int64_t parent_tag = parent != 0 ? (int64_t)p.start_tag_end - p.start_tag_start + 1 : 0;
  if (!Xml_HasRoom(doc, Xml_Reservation((int64_t)strlen(name), value, (int64_t)escaped.size(),
                                        parent_tag, state))) {
    Xml_SetError(doc, "Buffer almost overrun!");
    return -16;
  }
  std::string n(name);
  std::string line = value != NULL ? "<" + n + ">" + escaped + "</" + n + ">\r\n" : "<" + n + "/>\r\n";
  std::string text;
  int32_t removed = 0;
  int32_t lead = 0;  // bytes in front of the new start tag
  switch (state) {
    case ParentState::kHasContent: text = line; break;
    case ParentState::kNothingBetween:
      text = "\r\n" + line;
      lead = 2;
      break;
    case ParentState::kEmptyElement: {
      // A start tag ending in "//>" would still end in "/" with only the last one replaced,
      // and read back as an empty element: a blank goes in front of the new ">".
      std::string close = doc->buffer[pos - 1] == '/' ? " >" : ">";
      text = close + "\r\n" + line + "</" + Xml_ElemName(doc, parent);
      lead = (int32_t)close.size() + 2;
      removed = 1;  // the parent's "/"
      break;
    }
  }
  if (!Xml_HasRoom(doc, (int64_t)text.size() - removed)) {
    Xml_SetError(doc, "Buffer almost overrun!");
    return -16;
  }
  Xml_Splice(doc, pos, removed, text);

  uint32_t slot = (uint32_t)doc->next_free++;
  XmlElem &e = doc->elems[slot];
  e = XmlElem{};
  e.parent = parent;
  e.start_tag_start = (uint32_t)(pos + lead);
  if (value != NULL) {
    e.start_tag_end = e.start_tag_start + (uint32_t)n.size() + 1;
    e.end_tag_start = e.start_tag_end + 1 + (uint32_t)escaped.size();
    e.end_tag_end = e.end_tag_start + (uint32_t)n.size() + 2;
  } else {
    e.start_tag_end = e.start_tag_start + (uint32_t)n.size() + 2;
    e.end_tag_start = e.start_tag_end - 1;
    e.end_tag_end = e.start_tag_end;
  }
  if (state == ParentState::kEmptyElement) {
    XmlElem &pe = doc->elems[parent];
    pe.start_tag_end = (uint32_t)(pos + lead - 3);
    pe.end_tag_end = (uint32_t)(pos + (int32_t)text.size());
    pe.end_tag_start = pe.end_tag_end - 2 - (uint32_t)Xml_ElemName(doc, parent).size();
  }
  Xml_LinkNew(doc, parent, ref, insert, slot);

  if (child) {
    doc->child = (int32_t)slot;
  } else {
    doc->current = (int32_t)slot;
    doc->child = 0;
    doc->node_type = 1;
  }
  return 0;
}

// The attribute `name` of the element's start tag: the offset and length of its value text.
bool Xml_FindAttrib(const XmlDoc *doc, const XmlElem &e, const char *name, int32_t *at,
                    int32_t *length) {
  int32_t end = (int32_t)e.start_tag_end;
  size_t n = strlen(name);
  XmlToken t;
  if (!Xml_NextToken(doc, (int32_t)e.start_tag_start + 1, &t)) return false;  // the tag name
  int32_t pos = t.next;
  while (Xml_NextToken(doc, pos, &t) && t.start < end) {
    pos = t.next;
    if (t.quoted || (size_t)t.length != n || memcmp(doc->buffer + t.start, name, n) != 0) continue;
    XmlToken eq, val;
    if (!Xml_NextToken(doc, t.next, &eq) || eq.start >= end || eq.length != 1 ||
        doc->buffer[eq.start] != '=') {
      continue;
    }
    // Only a quoted value that closes inside the tag is replaced in place: a bare token
    // could be the tag's own "/" or run past its ">".
    if (!Xml_NextToken(doc, eq.next, &val) || !val.quoted || val.next > end) continue;
    *at = val.start;
    *length = val.length;
    return true;
  }
  return false;
}

}  // namespace

// The writer copies names verbatim, so a blank, a quote or a tag character in one would leave
// a document that no longer parses, and the next reader would take the whole file for
// corrupt.
bool Xml_IsName(const char *name) {
  if (name == NULL || name[0] == '\0') return false;
  for (const char *p = name; *p != '\0'; p++) {
    if ((unsigned char)*p < 0x20 || strchr(" <>=\\/?!\"'&", *p) != NULL) return false;
  }
  return true;
}

int Xml_AddElem(XmlDoc *doc, const char *name, const char *value) {
  return Xml_AddElemCommon(doc, name, value, false, false);
}

int Xml_AddChildElem(XmlDoc *doc, const char *name, const char *value) {
  return Xml_AddElemCommon(doc, name, value, false, true);
}

int Xml_InsertElem(XmlDoc *doc, const char *name, const char *value) {
  return Xml_AddElemCommon(doc, name, value, true, false);
}

int Xml_InsertChildElem(XmlDoc *doc, const char *name, const char *value) {
  return Xml_AddElemCommon(doc, name, value, true, true);
}

int Xml_AddAttrib(XmlDoc *doc, const char *name, const char *value) {
  if (value == NULL) value = "";
  if (doc == NULL || !Xml_IsName(name) || !Xml_IsWritableAttribValue(value) ||
      doc->buffer == NULL) {
    return -1;
  }
  if (doc->current == 0 || doc->node_type != 1) return -5;
  const XmlElem &e = doc->elems[doc->current];
  int64_t v = (int64_t)strlen(value);
  int32_t at = 0, old = 0;
  if (Xml_FindAttrib(doc, e, name, &at, &old)) {
    if (!Xml_HasRoom(doc, v + 2)) {
      Xml_SetError(doc, "Buffer almost overrun!");
      return -16;
    }
    Xml_Splice(doc, at, old, value);
    return 0;
  }
  if (!Xml_HasRoom(doc, (int64_t)strlen(name) + v + 6)) {
    Xml_SetError(doc, "Buffer almost overrun!");
    return -16;
  }
  int32_t pos = (int32_t)(Xml_IsEmptyElem(&e) ? e.start_tag_end - 1 : e.start_tag_end);
  Xml_Splice(doc, pos, 0, std::string(" ") + name + "=\"" + value + "\"");
  return 0;
}
