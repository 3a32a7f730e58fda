// Kavrel_GetFirmVersionInfo: the version reader for hosts.
#include <string.h>

#include "firmware/firm_tools.h"
#include "kavrel.h"
#include "platform/log.h"

namespace {

void CopyField(char (&to)[33], const char (&from)[FIRM_FIELD]) {
  size_t n = strnlen(from, FIRM_FIELD);
  memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetFirmVersionInfo(const char *file,
                                                             KavrelFirmVersionInfo *info) {
  if (!file || !info) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  memset(info, 0, sizeof *info);
  FirmVersionHeader header;
  uint32_t rc = FirmTools_GetVersion(file, &header);
  if (rc != FIRM_OK) {
    KV_LOG(KAVREL_LOG_LOWER, "FirmTools_GetVersion erro: %X\n", rc);
    return FirmTools_TranslateCode(rc);
  }
  CopyField(info->FirmwareVersion, header.version);
  CopyField(info->Tag2, header.tag2);
  CopyField(info->Tag10, header.tag10);
  CopyField(info->Tag3, header.tag3);
  CopyField(info->Tag4, header.tag4);
  CopyField(info->Tag5, header.tag5);
  CopyField(info->Tag9, header.tag9);
  CopyField(info->Language, header.language);
  info->PlainImage = header.plain_image;
  info->PackageType = header.package_type;
  return KAVREL_OK;
}
