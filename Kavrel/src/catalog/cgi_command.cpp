// Kavrel_GetCGICommand: a model's CGI paths, for hosts that build requests themselves.
#include <string.h>

#include "kavrel.h"
#include "morvane.h"

namespace {

const char *Cgi_Path(const ServerParam &param, uint32_t command) {
  switch (command) {
    case 0: return param.PtzUrl;
    case 1: return param.RecallUrl;
    case 2: return param.PresetUrl;
    case 3: return param.GetDiUrl;
    case 4: return param.SetDoUrl;
    default: return nullptr;
  }
}

}  // namespace

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_GetCGICommand(const char *name, uint32_t command,
                                                       uint32_t *length, char *buffer) {
  if (name == nullptr || length == nullptr || (buffer == nullptr && *length != 0)) {
    return KAVREL_E_INVALIDARG;
  }
  ServerParam param;
  memset(&param, 0, sizeof(param));
  if (Morvane_GetParamForServer(name, &param) < 0) {
    memset(&param, 0, sizeof(param));
    if (Morvane_GetParamForServerByFriendlyName(name, &param) < 0) return KAVREL_E_CATALOG;
  }
  const char *path = Cgi_Path(param, command);
  if (path == nullptr) return KAVREL_E_NOT_AVAILABLE;
  uint32_t needed = (uint32_t)strnlen(path, sizeof(param.PtzUrl) - 1);
  uint32_t room = *length;
  *length = needed;
  if (room < needed) return KAVREL_E_INVALIDARG;
  if (buffer != nullptr) {  // NULL only with a length of 0: the caller asked for the size
    memcpy(buffer, path, needed);
    buffer[needed] = '\0';
  }
  return KAVREL_OK;
}
