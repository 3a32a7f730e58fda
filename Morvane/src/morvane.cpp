// The five exported functions of Morvane.
#include "morvane.h"

#include <cstring>
#include <string>

#include "model_table.h"
#include "platform.h"
#include "sysinfo.h"

using morvane::ModelEntry;
using morvane::ModelTable;

extern "C" {

MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetParamForServer(const char *model_name,
                                                              ServerParam *param) {
  if (!model_name || !param) return MORVANE_E_ARG;
  const ModelTable *table = morvane::ModelTable_Get();
  if (!table) return MORVANE_E_DATA;
  const ModelEntry *m = table->ByModelName(model_name);
  if (!m || !m->maps_to.empty()) return MORVANE_E_UNKNOWN;
  *param = m->param;
  return MORVANE_OK;
}

MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetParamForServerByFriendlyName(
    const char *friendly_name, ServerParam *param) {
  if (!friendly_name || !param) return MORVANE_E_ARG;
  const ModelTable *table = morvane::ModelTable_Get();
  if (!table) return MORVANE_E_DATA;
  const ModelEntry *m = table->ByFriendlyName(friendly_name);
  if (!m) return MORVANE_E_UNKNOWN;
  if (m->maps_to.empty()) {
    *param = m->param;
    return MORVANE_OK;
  }
  // The table was checked on loading: every mapping names a model of the line-up.
  *param = table->ByFriendlyName(m->maps_to.c_str())->param;
  return MORVANE_S_MAPPED;
}

MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetMappingFriendlyName(const char *model_name,
                                                                   char *friendly_name) {
  if (!model_name || !friendly_name) return MORVANE_E_ARG;
  const ModelTable *table = morvane::ModelTable_Get();
  if (!table) return MORVANE_E_DATA;
  const ModelEntry *m = table->ByFriendlyName(model_name);
  if (!m) m = table->ByModelName(model_name);
  if (!m) return MORVANE_E_UNKNOWN;
  const std::string &name = m->maps_to.empty() ? std::string(m->param.ServerName) : m->maps_to;
  // Names were limited to MORVANE_FRIENDLY_NAME_MAX - 1 characters on loading.
  std::memcpy(friendly_name, name.c_str(), name.size() + 1);
  return MORVANE_OK;
}

MORVANE_EXTERN int32_t MORVANE_CALL Morvane_GetDataFilePath(char *path) {
  if (!path) return MORVANE_E_ARG;
  std::string dir = morvane::Platform_Getenv("KAVREL_DATA_DIR");
  if (dir.empty()) dir = morvane::Platform_UserDataDir();
  if (dir.empty()) return MORVANE_E_DIR;
  if (!morvane::Platform_IsSeparator(dir.back())) dir += morvane::Platform_Separator();
  if (dir.size() + 1 > MORVANE_PATH_MAX) return MORVANE_E_SPACE;
  if (!morvane::Platform_MakeDirs(dir)) return MORVANE_E_DIR;
  std::memcpy(path, dir.c_str(), dir.size() + 1);
  return MORVANE_OK;
}

MORVANE_EXTERN int32_t MORVANE_CALL Morvane_ParseSysInfo(const char *text, SysInfoData *info) {
  return morvane::SysInfo_Parse(text, info);
}

}  // extern "C"
