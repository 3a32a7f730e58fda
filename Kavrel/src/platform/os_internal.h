// What the shared part of the OS layer needs from each platform file.
#pragma once

#include "platform/os.h"

// The local wall-clock time now.
void OsPlatformLocalTime(OsDate *date);
// Sets the machine's local time; 0, or the platform's failure (-1).
int OsPlatformSetLocalTime(const OsDate *date);
