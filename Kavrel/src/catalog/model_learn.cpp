// The record learned from a device's own system information, for a model Morvane does not
// know by name: what the device reports over the record of the model it maps to.
#include <string.h>

#include "catalog/model_catalog.h"

int32_t ModelCatalog_BuildLearned(const SysInfoData *info, ServerParam *param) {
  ServerParam learned;
  memset(&learned, 0, sizeof(learned));
  // Morvane writes at most MORVANE_FRIENDLY_NAME_MAX bytes; the buffer does not rely on it.
  char friendly[CATALOG_DEVICE_STRING] = {0};
  int32_t r = Morvane_GetMappingFriendlyName(info->ModelName, friendly);
  if (r != 0) return r;
  r = Morvane_GetParamForServerByFriendlyName(friendly, &learned);
  if (r != 0) return r;
  if (info->VideoUrl[0] != '\0') {
    size_t n = strnlen(info->VideoUrl, sizeof(learned.VideoUrl) - 1);
    memcpy(learned.VideoUrl, info->VideoUrl, n);
    learned.VideoUrl[n] = '\0';
  }
  if (info->CamNum != 0) learned.CamNum = info->CamNum;
  if (info->DiNum != 0) learned.DiNum = info->DiNum;
  if (info->DoNum != 0) learned.DoNum = info->DoNum;
  if (info->AudioCodec != 0) learned.AudioCodec = info->AudioCodec;
  if (info->VideoCodec != 0) learned.VideoCodec = info->VideoCodec;
  // Named by its own key alone, whatever the length of the name it maps to.
  memset(learned.ServerName, 0, sizeof(learned.ServerName));
  memcpy(learned.ServerName, info->ModelName, strnlen(info->ModelName, CATALOG_KEY_LENGTH));
  *param = learned;
  return 0;
}
