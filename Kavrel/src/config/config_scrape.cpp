#include "config/config_scrape.h"

#include <string_view>

namespace {

constexpr size_t kNone = std::string_view::npos;

// A decimal number as the pages write it; false when it is no port.
bool ReadPort(std::string_view text, uint32_t *port) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    if (value > 65535) return false;  // also stops any overflow
  }
  if (digits == 0 || negative || value < 1) return false;
  *port = value;
  return true;
}

}  // namespace

bool ConfigScrape_Port(const char *page, size_t length, uint32_t *port) {
  if (!page || !port) return false;
  std::string_view text(page, length);
  size_t quoted = text.find("name=\"ftpp");
  size_t bare = text.find("name=ftpp");
  size_t name = quoted < bare ? quoted : bare;
  if (name == kNone) return false;
  size_t value = text.find("value=", name);
  if (value == kNone) return false;
  size_t start = value + 6;
  if (start < text.size() && text[start] == '"') ++start;
  size_t end = text.find_first_of("\">", start);
  if (end == kNone) return false;
  return ReadPort(text.substr(start, end - start), port);
}

bool ConfigScrape_ParsePort(const char *text, size_t length, uint32_t *port) {
  if (!text || !port) return false;
  return ReadPort(std::string_view(text, length), port);
}

ConfigScrapeArea ConfigScrape_TextArea(const char *page, size_t length, size_t *offset,
                                       size_t *count) {
  if (!page) return CONFIG_AREA_NO_TEXTAREA;
  std::string_view text(page, length);
  size_t area = text.find("textarea name");
  if (area == kNone) return CONFIG_AREA_NO_TEXTAREA;
  size_t open = text.find("readonly>", area);
  if (open == kNone) return CONFIG_AREA_NO_READONLY;
  size_t start = open + 9;
  size_t end = text.find("</textarea>", start);
  if (end == kNone) return CONFIG_AREA_NO_END;
  *offset = start;
  *count = end - start;
  return CONFIG_AREA_FOUND;
}
