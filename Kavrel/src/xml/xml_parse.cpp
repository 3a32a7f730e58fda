// The XML parser and the cursor: parsing builds the element index over the caller's text.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "xml/xml_internal.h"

// Tag names are copied into error texts with at most this many characters.
#define XML_NAME_IN_ERROR 31

void Xml_SetError(XmlDoc *doc, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(doc->error, sizeof(doc->error), format, args);
  va_end(args);
}

static bool Xml_IsDelimiter(char c) { return strchr(" \t\n\r<>=\\/?!", c) != NULL && c != '\0'; }

bool Xml_NextToken(const XmlDoc *doc, int32_t pos, XmlToken *token) {
  const char *text = doc->buffer;
  int32_t end = doc->length;
  while (pos < end && Xml_IsBlank(text[pos])) pos++;
  if (pos >= end) return false;
  char first = text[pos];
  if (first == '"' || first == '\'') {
    int32_t close = pos + 1;
    while (close < end && text[close] != first) close++;
    *token = {pos + 1, close - pos - 1, close < end ? close + 1 : end, true};
    return true;
  }
  if (Xml_IsDelimiter(first)) {
    *token = {pos, 1, pos + 1, false};
    return true;
  }
  int32_t stop = pos;
  while (stop < end && !Xml_IsDelimiter(text[stop])) stop++;
  *token = {pos, stop - pos, stop, false};
  return true;
}

static bool Xml_TokenIs(const XmlDoc *doc, const XmlToken &token, char c) {
  return !token.quoted && token.length == 1 && doc->buffer[token.start] == c;
}

bool Xml_NameMatches(const XmlDoc *doc, uint32_t slot, const char *name) {
  if (name == NULL || name[0] == '\0') return true;
  XmlToken tag;
  if (!Xml_NextToken(doc, (int32_t)doc->elems[slot].start_tag_start + 1, &tag) || tag.quoted) {
    return false;
  }
  size_t n = (size_t)tag.length;
  if (strlen(name) < n || memcmp(name, doc->buffer + tag.start, n) != 0) return false;
  char after = name[n];
  return after == '\0' || strchr(" =/[]", after) != NULL;
}

// ---- Node scanner -------------------------------------------------------------------------

// Offset just past the first `terminator` at or after `pos`, or -1.
static int32_t Xml_FindAfter(const XmlDoc *doc, int32_t pos, const char *terminator) {
  size_t n = strlen(terminator);
  for (int32_t i = pos; i + (int32_t)n <= doc->length; i++) {
    if (memcmp(doc->buffer + i, terminator, n) == 0) return i + (int32_t)n;
  }
  return -1;
}

// "<!" other than CDATA and comments: read token by token, counting brackets, up to the
// first ">" outside them.
static int32_t Xml_ScanDoctype(const XmlDoc *doc, int32_t pos) {
  int32_t depth = 0;
  XmlToken token;
  while (Xml_NextToken(doc, pos, &token)) {
    if (!token.quoted && token.length >= 1) {
      const char *p = doc->buffer + token.start;
      if (token.length == 1 && *p == '>' && depth == 0) return token.next;
      for (int32_t i = 0; i < token.length; i++) {
        if (p[i] == '[') depth++;
        if (p[i] == ']' && depth > 0) depth--;
      }
    }
    pos = token.next;
  }
  return -1;
}

int Xml_ScanNode(const XmlDoc *doc, int32_t pos, int32_t *end) {
  const char *text = doc->buffer;
  int32_t length = doc->length;
  *end = pos;
  if (doc->buffer == NULL || pos < 0 || pos >= length) return XML_NODE_NONE;
  if (text[pos] != '<') {
    bool blank = true;
    int32_t i = pos;
    for (; i < length && text[i] != '<'; i++) blank = blank && Xml_IsBlank(text[i]);
    *end = i;
    return blank ? XML_NODE_WHITESPACE : XML_NODE_TEXT;
  }
  if (pos + 1 >= length) return XML_NODE_NONE;
  char second = text[pos + 1];
  int32_t after = -1;
  int type = XML_NODE_NONE;
  if (second == '?') {
    after = Xml_FindAfter(doc, pos + 2, "?>");
    type = XML_NODE_PI;
  } else if (second == '!' && pos + 2 < length && text[pos + 2] == '[') {
    after = Xml_FindAfter(doc, pos + 3, "]]>");
    type = XML_NODE_CDATA;
  } else if (second == '!' && pos + 2 < length && text[pos + 2] == '-') {
    after = Xml_FindAfter(doc, pos + 3, "-->");
    type = XML_NODE_COMMENT;
  } else if (second == '!') {
    after = Xml_ScanDoctype(doc, pos + 2);
    type = XML_NODE_DOCTYPE;
  } else {
    return second == '/' ? XML_NODE_NONE : XML_NODE_ELEMENT;
  }
  if (after < 0) return XML_NODE_NONE;
  *end = after;
  return type;
}

// ---- Parser -------------------------------------------------------------------------------

// Outcome of reading one node in element context.
enum XmlStep { XML_STEP_FAIL, XML_STEP_LIMIT, XML_STEP_OPEN, XML_STEP_EMPTY, XML_STEP_CLOSE };

struct XmlParser {
  XmlDoc *doc;
  int32_t pos;  // scan position
};

static void Xml_TagName(const XmlDoc *doc, uint32_t slot, char *out, size_t size) {
  XmlToken tag;
  out[0] = '\0';
  if (!Xml_NextToken(doc, (int32_t)doc->elems[slot].start_tag_start + 1, &tag)) return;
  int n = tag.length < XML_NAME_IN_ERROR ? tag.length : XML_NAME_IN_ERROR;
  snprintf(out, size, "%.*s", n, doc->buffer + tag.start);
}

static void Xml_ErrorWithName(XmlParser *p, const char *format, uint32_t slot) {
  char name[XML_NAME_IN_ERROR + 1];
  Xml_TagName(p->doc, slot, name, sizeof(name));
  // The formats all hold one %s and come from this file only.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
  snprintf(p->doc->error, sizeof(p->doc->error), format, name);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
}

// Reads up to the next start tag or end tag below `parent`, skipping text, comments,
// processing instructions, CDATA and document type declarations. On OPEN and EMPTY the new
// element is in *slot (linked by the caller); on CLOSE *tag_at is the "<" of "</".
static XmlStep Xml_ReadNode(XmlParser *p, uint32_t parent, uint32_t *slot, int32_t *tag_at) {
  XmlDoc *doc = p->doc;
  const char *text = doc->buffer;
  for (;;) {
    int32_t i = p->pos;
    while (i < doc->length && text[i] != '<' && text[i] != '>') i++;
    if (i >= doc->length || text[i] == '>') {
      if (parent == 0) {
        Xml_SetError(doc, "Element tag not found");
      } else {
        Xml_ErrorWithName(p, "End tag of %s element not found", parent);
      }
      return XML_STEP_FAIL;
    }
    XmlToken token;
    if (!Xml_NextToken(doc, i + 1, &token)) {
      Xml_SetError(doc, "Abrupt end within tag");
      return XML_STEP_FAIL;
    }
    if (token.quoted) {
      Xml_SetError(doc, "Tag starts with quote");
      return XML_STEP_FAIL;
    }
    if (token.start == i + 1 && (Xml_TokenIs(doc, token, '?') || Xml_TokenIs(doc, token, '!'))) {
      int32_t end;
      if (Xml_ScanNode(doc, i, &end) == XML_NODE_NONE) {
        Xml_SetError(doc, "Invalid node");
        return XML_STEP_FAIL;
      }
      p->pos = end;
      continue;
    }
    if (Xml_TokenIs(doc, token, '/')) {
      *tag_at = i;
      return XML_STEP_CLOSE;
    }
    // The slot limit ends the parse: nothing of a document that does not fit is kept.
    if (doc->next_free >= doc->slot_count - 1) {
      Xml_SetError(doc, "Element limited at around %d", i);
      return XML_STEP_LIMIT;
    }
    int32_t close = token.next;
    while (close < doc->length && text[close] != '>' && text[close] != '<') close++;
    if (close >= doc->length || text[close] != '>') {
      Xml_SetError(doc, "End of tag not found");
      return XML_STEP_FAIL;
    }
    uint32_t s = (uint32_t)doc->next_free++;
    XmlElem *elem = &doc->elems[s];
    *elem = XmlElem{};
    elem->start_tag_start = (uint32_t)i;
    elem->start_tag_end = (uint32_t)close;
    elem->parent = parent;
    p->pos = close + 1;
    *slot = s;
    if (text[close - 1] == '/') {
      elem->end_tag_start = (uint32_t)close - 1;
      elem->end_tag_end = (uint32_t)close;
      return XML_STEP_EMPTY;
    }
    return XML_STEP_OPEN;
  }
}

// The end tag of `slot` whose "<" is at `at`: "/", the same name, ">".
static bool Xml_ReadEndTag(XmlParser *p, uint32_t slot, int32_t at) {
  XmlDoc *doc = p->doc;
  XmlToken slash, name, close, tag;
  Xml_NextToken(doc, at + 1, &slash);
  Xml_NextToken(doc, (int32_t)doc->elems[slot].start_tag_start + 1, &tag);
  if (!Xml_NextToken(doc, slash.next, &name) || name.quoted || name.length != tag.length ||
      memcmp(doc->buffer + name.start, doc->buffer + tag.start, (size_t)tag.length) != 0) {
    Xml_ErrorWithName(p, "End tag does not correspond to %s", slot);
    return false;
  }
  if (!Xml_NextToken(doc, name.next, &close)) {
    Xml_ErrorWithName(p, "End tag not completed for element %s", slot);
    return false;
  }
  if (!Xml_TokenIs(doc, close, '>')) {
    Xml_ErrorWithName(p, "End tag not completed for element %s", slot);
    return false;
  }
  doc->elems[slot].end_tag_start = (uint32_t)at;
  doc->elems[slot].end_tag_end = (uint32_t)close.start;
  p->pos = close.next;
  return true;
}

static void Xml_Link(XmlDoc *doc, uint32_t parent, uint32_t last_child, uint32_t slot) {
  if (last_child == 0) {
    doc->elems[parent].first_child = slot;
  } else {
    doc->elems[last_child].next_sibling = slot;
  }
}

// Parses the root element and everything in it without recursion: the open element is the
// parent, and an element's parent link leads back out. 0 parsed, -1 error, -8 limit.
static int Xml_ParseRoot(XmlDoc *doc) {
  XmlParser p{doc, 0};
  uint32_t parent = 0;
  uint32_t last_child = 0;  // of `parent`
  for (;;) {
    uint32_t slot = 0;
    int32_t at = 0;
    XmlStep step = Xml_ReadNode(&p, parent, &slot, &at);
    if (step == XML_STEP_FAIL) return -1;
    if (step == XML_STEP_LIMIT) return -8;
    if (step == XML_STEP_CLOSE) {
      if (parent == 0) {
        Xml_SetError(doc, "Empty tag");
        return -1;
      }
      if (!Xml_ReadEndTag(&p, parent, at)) return -1;
      last_child = parent;
      parent = doc->elems[parent].parent;
      if (parent == 0) return 0;
      continue;
    }
    Xml_Link(doc, parent, last_child, slot);
    if (step == XML_STEP_EMPTY) {
      if (parent == 0) return 0;
      last_child = slot;
      continue;
    }
    parent = slot;
    last_child = 0;
  }
}

static void Xml_ResetIndex(XmlDoc *doc) {
  memset(doc->elems, 0, sizeof(XmlElem) * (size_t)doc->slot_count);
  doc->parent = doc->current = doc->child = 0;
  doc->next_free = 1;
  doc->node_type = 0;
}

static void Xml_Detach(XmlDoc *doc) {
  Xml_ResetIndex(doc);
  doc->buffer = NULL;
  doc->capacity = 0;
  doc->length = 0;
}

int Xml_Create(XmlDoc **out, const XmlOptions *options) {
  if (out == NULL || options == NULL) return -1;
  if (options->version != XML_VERSION) return -2;
  int32_t count = options->element_count < 1 ? 1 : options->element_count;
  if (count > INT32_MAX - 2) return -1;
  XmlDoc *doc = (XmlDoc *)calloc(1, sizeof(XmlDoc));
  if (doc == NULL) return -1;
  doc->elems = (XmlElem *)calloc((size_t)count + 2, sizeof(XmlElem));
  if (doc->elems == NULL) {
    free(doc);
    return -1;
  }
  doc->slot_count = count + 2;
  doc->next_free = 1;
  *out = doc;
  return 0;
}

int Xml_Destroy(XmlDoc **doc) {
  if (doc == NULL || *doc == NULL) return -1;
  free((*doc)->elems);
  free(*doc);
  *doc = NULL;
  return 0;
}

int Xml_SetDoc(XmlDoc *doc, char *buffer, int32_t capacity, int32_t length) {
  if (doc == NULL || buffer == NULL || length < 0 || length > capacity || capacity < 3) return -1;
  Xml_ResetIndex(doc);
  doc->error[0] = '\0';
  doc->buffer = buffer;
  doc->capacity = capacity;
  doc->length = length;
  if (length == 0) {
    Xml_SetError(doc, "Empty document");
    memset(buffer, 0, (size_t)capacity);
    return 0;
  }
  int result = Xml_ParseRoot(doc);
  if (result != 0) {
    Xml_Detach(doc);
    return result == -8 ? -8 : -4;
  }
  return 0;
}

// ---- Navigation ---------------------------------------------------------------------------

// The first sibling from `slot` on that matches; 0 when none. The last slot is never
// returned.
static uint32_t Xml_FindSibling(XmlDoc *doc, uint32_t slot, const char *name) {
  for (; slot != 0; slot = doc->elems[slot].next_sibling) {
    if ((int32_t)slot >= doc->slot_count - 1) return 0;
    if (Xml_NameMatches(doc, slot, name)) return slot;
  }
  return 0;
}

int Xml_FindElem(XmlDoc *doc, const char *name) {
  if (doc == NULL || doc->buffer == NULL) return 0;
  uint32_t from = doc->current != 0 ? doc->elems[doc->current].next_sibling
                                    : doc->elems[doc->parent].first_child;
  uint32_t found = Xml_FindSibling(doc, from, name);
  if (found == 0) return 0;
  doc->current = (int32_t)found;
  doc->parent = (int32_t)doc->elems[found].parent;
  doc->child = 0;
  doc->node_type = 1;
  return 1;
}

int Xml_FindChildElem(XmlDoc *doc, const char *name) {
  if (doc == NULL || doc->buffer == NULL) return 0;
  if (doc->current == 0) {
    uint32_t first = doc->elems[doc->parent].first_child;
    if (first == 0) return 0;
    doc->current = (int32_t)first;
    doc->child = 0;
    doc->node_type = 1;
  }
  uint32_t from = doc->child != 0 ? doc->elems[doc->child].next_sibling
                                  : doc->elems[doc->current].first_child;
  uint32_t found = Xml_FindSibling(doc, from, name);
  if (found == 0) return 0;
  doc->child = (int32_t)found;
  return 1;
}

int Xml_IntoElem(XmlDoc *doc) {
  if (doc == NULL || doc->current == 0 || doc->node_type != 1) return 0;
  doc->parent = doc->current;
  doc->current = doc->child;
  doc->child = 0;
  doc->node_type = doc->current != 0 ? 1 : 0;
  return 1;
}

// ---- Reading text -------------------------------------------------------------------------

// Copies text[from, to) to out, decoding the five entities when they lie wholly inside it.
static void Xml_CopyDecoded(const char *text, int32_t from, int32_t to, char *out, int32_t size) {
  static const struct {
    const char *name;
    char c;
  } kEntities[] = {{"lt;", '<'}, {"amp;", '&'}, {"gt;", '>'}, {"apos;", '\''}, {"quot;", '"'}};
  int32_t n = 0;
  for (int32_t i = from; i < to && n < size - 1;) {
    char c = text[i++];
    if (c == '&') {
      for (const auto &e : kEntities) {
        int32_t len = (int32_t)strlen(e.name);
        if (to - i >= len && memcmp(text + i, e.name, (size_t)len) == 0) {
          c = e.c;
          i += len;
          break;
        }
      }
    }
    out[n++] = c;
  }
  out[n] = '\0';
}

int Xml_GetChildData(XmlDoc *doc, char *out, int32_t size) {
  if (out == NULL || size < 2) return -1;
  out[0] = '\0';
  if (doc == NULL || doc->buffer == NULL || doc->child == 0) return -1;
  const XmlElem *elem = &doc->elems[doc->child];
  if (elem->first_child != 0) return -6;
  if (Xml_IsEmptyElem(elem)) return 0;
  const char *text = doc->buffer;
  int32_t from = (int32_t)elem->start_tag_end + 1;
  int32_t to = (int32_t)elem->end_tag_start;
  int32_t p = from;
  while (p < to && Xml_IsBlank(text[p])) p++;
  if (to - p > 11 && memcmp(text + p, "<![CDATA[", 9) == 0) {
    for (int32_t q = p + 9; q + 3 <= to; q++) {
      if (memcmp(text + q, "]]>", 3) == 0) {
        Xml_CopyDecoded(text, p + 9, q, out, size);
        return 0;
      }
    }
  }
  Xml_CopyDecoded(text, from, to, out, size);
  return 0;
}

int Xml_GetError(XmlDoc *doc, char *out, int32_t size) {
  if (doc == NULL || out == NULL || size < 2) return -1;
  snprintf(out, (size_t)size, "%s", doc->error[0] != '\0' ? doc->error : "No error occurs");
  return 0;
}
