// The firmware upgrade's internals that tests reach through the internal library.
#pragma once

#include <stdint.h>

#include "core/device.h"

// The fixed pauses of the upgrade (5,000 ms each) let a restarted device settle. Tests
// shorten them; the shipped library never calls this. 0 restores the shipped length.
void Upgrade_SetPauseForTests(uint32_t ms);

// Removes the device's directory `path` and everything below it over the connected FTP
// request: files before directories, a directory after its contents. Progress step 3 for
// each removal. 0, also when the server refuses to change into `path` itself (the device has
// no such directory); or the code of the first failure (the clean-up ends there, the session
// in whatever directory it reached).
uint32_t Upgrade_CleanDeviceDirectory(KavrelDevice *device, NetClientRequestHandle request,
                                      const char *path);
