// The parser of a device's system information text.
#pragma once

#include "morvane.h"

namespace morvane {

// Morvane_ParseSysInfo's work; same arguments and results.
int32_t SysInfo_Parse(const char *text, SysInfoData *out);

}  // namespace morvane
