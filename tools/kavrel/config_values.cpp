// A configuration file read back value by value: what `kavrel fleet config restore` gives a
// device. The file is the user's, so the reader takes any text and either returns every value
// with its line or names the first line it cannot give back.
#include "config_values.h"

#include <sstream>

namespace {

bool ConfigEnclosed(const std::string &line, char open, char close, std::string *inner) {
  if (line.size() < 3 || line.front() != open || line.back() != close) return false;
  *inner = line.substr(1, line.size() - 2);
  return true;
}

// "(N)text": N and text.
bool ConfigIndexed(const std::string &line, int32_t *index, std::string *value) {
  size_t close = line.find(')');
  if (line.empty() || line[0] != '(' || close == std::string::npos || close == 1 || close > 6) {
    return false;
  }
  int32_t n = 0;
  for (size_t i = 1; i < close; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    n = n * 10 + (line[i] - '0');
  }
  *index = n;
  *value = line.substr(close + 1);
  return true;
}

}  // namespace

bool ConfigValues(const std::string &text, std::vector<ConfigValue> *values, std::string *error) {
  std::istringstream in(text);
  std::string line, section, key;
  bool key_has_value = true, key_has_plain = false;
  int number = 0, key_line = 0;
  auto end_key = [&] {  // a key without a value line comes back with an empty value
    if (!key_has_value) values->push_back({section, key, "", -1, key_line});
  };
  for (; std::getline(in, line); ++number) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    std::string name, value;
    int32_t index = -1;
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if (ConfigEnclosed(line, '[', ']', &name) || ConfigEnclosed(line, '<', '>', &name)) {
      end_key();
      bool is_section = line[0] == '[';
      if (!is_section && section.empty()) {
        return *error = "line " + std::to_string(number + 1) + ": a key outside a section", false;
      }
      (is_section ? section : key) = name;
      if (is_section) key.clear();
      key_has_value = is_section;
      key_has_plain = false;
      key_line = number + 1;
      continue;
    }
    if (key.empty()) return *error = "line " + std::to_string(number + 1) + ": a value outside a key", false;
    if (!ConfigIndexed(line, &index, &value)) {
      if (key_has_plain) {
        return *error = "line " + std::to_string(number + 1) + ": a second plain value of <" + key + ">",
               false;
      }
      key_has_plain = true;
      value = line;
    }
    key_has_value = true;
    values->push_back({section, key, value, index, number + 1});
  }
  end_key();
  // An empty file is a backup cut short, not a configuration to give back.
  if (values->empty()) return *error = "no value in the file", false;
  return true;
}
