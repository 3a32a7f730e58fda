// Helpers of the catalogue tests: a private catalogue directory per test, records to store,
// and a field-by-field comparison.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "catalog/model_catalog.h"

namespace cattest {

// Points KAVREL_DATA_DIR at a new empty directory for the life of the object.
class DataDir {
 public:
  explicit DataDir(const std::string &prefix);
  ~DataDir();
  const std::string &path() const { return dir_; }
  std::string file() const { return dir_ + "/" CATALOG_FILE_NAME; }

 private:
  std::string dir_;
};

// A record with every field set from `key` and `seed`, so that no two records agree on any
// field.
ServerParam MakeRecord(const std::string &key, int seed);

// Compares every field; ServerName as the catalogue keeps it (its key).
void ExpectSameRecord(const ServerParam &expected, const ServerParam &actual,
                      const std::string &what);

// Looks `name` up into a zeroed record.
int32_t Lookup(const std::string &name, ServerParam *out);

}  // namespace cattest
