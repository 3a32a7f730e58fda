// Reading a device's HTML pages for what the configuration transfer needs from them: the FTP
// port of a settings form ("/setup/network.html", "/setup/mailftp.html") and the
// configuration inside the text area of "/setup/parafile.html". Pure functions over a byte
// range: the page need not be NUL-terminated and may hold any bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The FTP port of a page: the field whose name begins with "ftpp" (name="ftpp... or
// name=ftpp...), then its value= text, after an optional double quote, up to the first
// double quote or '>', read as a decimal number (leading blanks and a sign allowed, digits up
// to the first non-digit). 1-65535 and `*port` set: true. No field, no end of the value, or
// a number outside 1-65535 (0, a non-number, a negative or too large value): false.
bool ConfigScrape_Port(const char *page, size_t length, uint32_t *port);

// A port number as the pages and the configuration write it: leading blanks, an optional
// sign, decimal digits up to the first non-digit. True and `*port` for 1-65535.
bool ConfigScrape_ParsePort(const char *text, size_t length, uint32_t *port);

// Why a text area could not be cut out.
enum ConfigScrapeArea {
  CONFIG_AREA_FOUND = 0,
  CONFIG_AREA_NO_TEXTAREA,  // no "textarea name"
  CONFIG_AREA_NO_READONLY,  // no "readonly>" after it
  CONFIG_AREA_NO_END,       // no "</textarea>" after that
};

// The configuration in a page's text area: the bytes between the first "readonly>" that
// follows "textarea name" and the first "</textarea>" after it, as `*offset` and `*count`.
ConfigScrapeArea ConfigScrape_TextArea(const char *page, size_t length, size_t *offset,
                                       size_t *count);
