// What the XML parser and writer share: the tokenizer over the document text and the error
// text. Every scan is bounded by the document length, never by a NUL.
#pragma once

#include <stdint.h>

#include "xml/xml.h"

struct XmlToken {
  int32_t start;   // first byte of the token (inside the quotes for a string token)
  int32_t length;  // bytes of the token (without the quotes)
  int32_t next;    // where scanning goes on after it
  bool quoted;     // a string token
};

static inline bool Xml_IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The token at or after `pos`: false at the end of the text.
bool Xml_NextToken(const XmlDoc *doc, int32_t pos, XmlToken *token);

// True when the element's tag name is `name`'s first characters followed by the name's end
// or one of " =/[]". A NULL or empty name matches every element.
bool Xml_NameMatches(const XmlDoc *doc, uint32_t slot, const char *name);

// True for an element written as "<a/>".
static inline bool Xml_IsEmptyElem(const XmlElem *elem) {
  return elem->start_tag_end == elem->end_tag_start + 1;
}

void Xml_SetError(XmlDoc *doc, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
