/*
 * The smallest host program: load the library, describe one device, read its inputs.
 *
 *   host ADDRESS HTTP_PORT USER PASSWORD SERVER_TYPE
 *
 * Build against the shared library: cc host.c -IKavrel/include -Lbuild/default/Kavrel -lKavrel
 */
#include <stdio.h>
#include <stdlib.h>

#include "kavrel.h"

static void print_failure(const char *call, uint32_t code) {
  const char *name = KavrelResult_Name(code);
  const char *text = KavrelResult_Text(code);
  fprintf(stderr, "%s failed: 0x%08X %s (%s)\n", call, code, name ? name : "?", text ? text : "?");
}

int main(int argc, char **argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: %s ADDRESS HTTP_PORT USER PASSWORD SERVER_TYPE\n", argv[0]);
    return 2;
  }
  KavrelHandle library = NULL;
  uint32_t rc = Kavrel_Initial(&library, KAVREL_VERSION_NUMBER);
  if (rc != KAVREL_OK) {
    print_failure("Kavrel_Initial", rc);
    return 1;
  }
  DeviceHandle device = NULL;
  rc = Kavrel_CreateDevice(library, &device);
  if (rc == KAVREL_OK) {
    KavrelDeviceProperty property = {0};
    property.address = argv[1];
    property.http_port = atoi(argv[2]);
    property.user = argv[3];
    property.password = argv[4];
    property.server_type = argv[5];
    rc = Kavrel_SetDevicePropertyLite(device, &property);
    if (rc != KAVREL_OK) print_failure("Kavrel_SetDevicePropertyLite", rc);
  } else {
    print_failure("Kavrel_CreateDevice", rc);
  }
  if (rc == KAVREL_OK) {
    uint32_t in[4];
    rc = Kavrel_GetDIStatus(device, &in[0], &in[1], &in[2], &in[3], 0);
    if (rc == KAVREL_OK) {
      for (int i = 0; i < 4; ++i) printf("input %d: %s\n", i + 1, in[i] == KAVREL_LEVEL_HIGH ? "high" : "low");
    } else {
      print_failure("Kavrel_GetDIStatus", rc);
    }
  }
  if (device) Kavrel_DeleteDevice(device);
  Kavrel_Release(&library);
  return rc == KAVREL_OK ? 0 : 1;
}
