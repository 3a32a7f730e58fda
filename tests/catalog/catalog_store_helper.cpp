// Stores the records of the models named on its command line in the catalogue of
// KAVREL_DATA_DIR, one after the other, as another process using the library would.
// Exit status: 0 when every store returned 0, else 1.
#include <stdio.h>
#include <string.h>

#include "catalog/model_catalog.h"

int main(int argc, char **argv) {
  int failures = 0;
  for (int i = 1; i < argc; i++) {
    ServerParam param;
    memset(&param, 0, sizeof(param));
    snprintf(param.ServerName, sizeof(param.ServerName), "%s", argv[i]);
    param.CamNum = i;
    snprintf(param.PtzUrl, sizeof(param.PtzUrl), "/cgi-bin/%s/ptz.cgi", argv[i]);
    int32_t r = ModelCatalog_Store(&param);
    printf("%s: %d\n", argv[i], r);
    if (r != 0) failures++;
  }
  return failures == 0 ? 0 : 1;
}
