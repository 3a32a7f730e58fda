// The call into the model-resource library's parser of a device's system information text.
#pragma once

#include <stdint.h>

// Morvane_ParseSysInfo on `text` into `data` (the public SysInfoData, 11208 bytes): 0, or
// the parser's negative result. Neither argument may be NULL.
int32_t SysInfo_Parse(const char *text, void *data);
