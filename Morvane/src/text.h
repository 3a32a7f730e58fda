// Text helpers shared by the model data file and the system information parsers.
#pragma once

#include <string>

namespace morvane {

// The text without its leading blanks and tabs and its trailing blanks, tabs and CRs.
inline std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace morvane
