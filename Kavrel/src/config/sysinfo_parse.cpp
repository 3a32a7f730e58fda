#include "config/sysinfo_parse.h"

#include <stddef.h>
#include <stdint.h>

#include "kavrel.h"

// The model-resource library's records, kept apart from the public ones of the same name.
namespace morvane {
#include "morvane.h"
}  // namespace morvane

// The public record and the parser's record are the same bytes: every member the library
// names must sit where the parser puts it.
static_assert(sizeof(SysInfoData) == sizeof(morvane::SysInfoData), "SysInfoData size");
static_assert(offsetof(SysInfoData, ModelName) == offsetof(morvane::SysInfoData, ModelName),
              "SysInfoData model name");
static_assert(sizeof(SysInfoData::ModelName) == sizeof(morvane::SysInfoData::ModelName),
              "SysInfoData model name size");
static_assert(offsetof(SysInfoData, VideoUrl) == offsetof(morvane::SysInfoData, VideoUrl),
              "SysInfoData video path");
static_assert(sizeof(SysInfoData::VideoUrl) == sizeof(morvane::SysInfoData::VideoUrl),
              "SysInfoData video path size");
static_assert(offsetof(SysInfoData, CamNum) == offsetof(morvane::SysInfoData, CamNum),
              "SysInfoData camera count");
static_assert(offsetof(SysInfoData, DiNum) == offsetof(morvane::SysInfoData, DiNum),
              "SysInfoData input count");
static_assert(offsetof(SysInfoData, DoNum) == offsetof(morvane::SysInfoData, DoNum),
              "SysInfoData output count");
static_assert(offsetof(SysInfoData, VideoCodec) == offsetof(morvane::SysInfoData, VideoCodec),
              "SysInfoData video codec");
static_assert(offsetof(SysInfoData, AudioCodec) == offsetof(morvane::SysInfoData, AudioCodec),
              "SysInfoData audio codec");

int32_t SysInfo_Parse(const char *text, void *data) {
  return morvane::Morvane_ParseSysInfo(text, static_cast<morvane::SysInfoData *>(data));
}
