// config_writer PATH SECTION KEY VALUE INDEX: one ConfigStore_Set, for the tests that kill a
// writer half-way. With CONFIG_WRITER_PAUSE=<marker file> set, it stops when the new text is
// complete in its temporary file, just before that file takes the configuration's place:
// it creates the marker and waits to be killed.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "config/config_store.h"

static void PauseBeforeReplace(const char *, const char *) {
  const char *marker = getenv("CONFIG_WRITER_PAUSE");
  if (!marker) return;
  if (FILE *f = fopen(marker, "w")) fclose(f);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

int main(int argc, char **argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: config_writer PATH SECTION KEY VALUE INDEX\n");
    return 2;
  }
  ConfigStore_SetReplaceHook(PauseBeforeReplace);
  uint32_t result = ConfigStore_Set(argv[1], argv[2], argv[3], argv[4], atoi(argv[5]), 0);
  printf("result %08X\n", result);
  return result == 0 ? 0 : 1;
}
