// The inventory of kavrel fleet: a CSV file of devices, read and checked whole before
// anything is sent, so that a bad line is named while no device has been touched.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cli.h"

struct FleetEntry {
  std::string name;
  DeviceOptions device;
  int line = 0;
};

class FleetInventory {
 public:
  // Reads `path`; on a bad line, `error` names the file and line. False on any error.
  bool Load(const std::string &path, std::string *error);

  // The entries whose name is in `names` (when given) and whose type is in `types` (when given).
  std::vector<FleetEntry> Select(const std::vector<std::string> &names,
                                 const std::vector<std::string> &types) const;

 private:
  bool Fail(std::string *error, const std::string &message);
  bool FailAt(std::string *error, int line, const std::string &message);
  bool ReadHeader(const std::string &line, int number, std::string *error);
  int Column(const char *name) const;
  std::string Field(const std::vector<std::string> &fields, const char *name) const;
  bool AddLine(const std::string &line, int number, std::string *error);
  bool Password(const std::vector<std::string> &fields, int number, std::string *password,
                std::string *error);

  std::string path_;
  std::vector<std::string> columns_;
  std::set<std::string> names_;
  std::vector<FleetEntry> entries_;
};
