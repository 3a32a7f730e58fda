#include "config/sysinfo_parse.h"

#include <stddef.h>
#include <stdint.h>

#include "kavrel.h"

#include "morvane.h"

// The public record and the parser's are the same bytes: both headers check every offset
// that the library names, whichever of them defined the record.
int32_t SysInfo_Parse(const char *text, void *data) {
  return Morvane_ParseSysInfo(text, static_cast<SysInfoData *>(data));
}
