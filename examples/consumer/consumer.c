/* A host built against the installed library: prints the library's version and one CGI path
 * of a model, both read through the exported functions. */
#include <stdio.h>

#include "kavrel.h"

int main(void) {
  uint8_t v[4];
  char path[128];
  uint32_t length = sizeof(path) - 1;
  uint32_t rc = Kavrel_GetVersionInfo(&v[0], &v[1], &v[2], &v[3]);
  if (rc != 0) return 1;
  printf("version %u.%u.%u.%u\n", v[3], v[2], v[1], v[0]);
  rc = Kavrel_GetCGICommand("KM3111", 3, &length, path);
  if (rc != 0) {
    printf("Kavrel_GetCGICommand failed: 0x%08X\n", (unsigned)rc);
    return 1;
  }
  printf("KM3111 command 3: %s\n", path);
  return 0;
}
