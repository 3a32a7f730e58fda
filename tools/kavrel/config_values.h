// The values of a configuration file, apart from any device or library call, so that a fuzz
// target can try the reader on any text.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// One value of a configuration file, as Kavrel_SetSysInfo takes it; `line` is the value's
// line in the file.
struct ConfigValue {
  std::string section, key, value;
  int32_t index = -1;
  int line = 0;
};

// The values of a configuration file's text. False, with the line named in `error`, for text
// that cannot be given back value by value (a key outside a section, a value outside a key,
// a second plain value of one key, no value at all): such a file is refused before anything is sent.
bool ConfigValues(const std::string &text, std::vector<ConfigValue> *values, std::string *error);
