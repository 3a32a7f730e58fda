// The page scraping of the configuration transfer on arbitrary pages: the port field and the
// text area must stay inside the bytes given and agree with a plain reading of them.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "config/config_scrape.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact-size copy, so that a read past the end is caught by the sanitizers.
  char *page = static_cast<char *>(malloc(size ? size : 1));
  if (!page) return 0;
  for (size_t i = 0; i < size; ++i) page[i] = static_cast<char>(data[i]);
  uint32_t port = 0;
  if (ConfigScrape_Port(page, size, &port) && (port < 1 || port > 65535)) abort();
  size_t offset = 0, count = 0;
  if (ConfigScrape_TextArea(page, size, &offset, &count) == CONFIG_AREA_FOUND) {
    if (offset > size || count > size - offset) abort();
    std::string rest(page + offset + count, size - offset - count);
    if (rest.compare(0, 11, "</textarea>") != 0) abort();
  }
  free(page);
  return 0;
}
