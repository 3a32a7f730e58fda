// The model line-up as read from the model data file, and the lookups over it.
#pragma once

#include <string>
#include <vector>

#include "morvane.h"

namespace morvane {

struct ModelEntry {
  ServerParam param{};   // ServerName is the section name
  std::string maps_to;   // non-empty: known only as a mapping onto this friendly name
};

struct ModelTable {
  std::vector<ModelEntry> models;

  // The entry whose friendly name is exactly `name`, or nullptr.
  const ModelEntry *ByFriendlyName(const char *name) const;
  // The entry whose server type equals the first 6 characters of `model_name`, or nullptr.
  const ModelEntry *ByModelName(const char *model_name) const;
};

// Parses the text of a model data file. False, with a reason in `error` (line number and
// what is wrong), when any line is malformed; `table` is then left unchanged.
bool ModelTable_Parse(const std::string &text, ModelTable *table, std::string *error);

// The process-wide table, read from the first data file of the lookup order on first use.
// Null while no file could be read and parsed (tried again at the next call).
const ModelTable *ModelTable_Get();

// The lookup order of the data file: MORVANE_MODELS_FILE, beside the library, then
// share/kavrel under each of the library folder's three nearest parents (an installed tree).
std::vector<std::string> ModelTable_Candidates();

}  // namespace morvane
