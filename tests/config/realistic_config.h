// A device-like configuration text for tests and benchmarks.
#pragma once

#include <string>

namespace cfgtest {

// A configuration of `lines` lines, shaped like a device's: sections of plain keys and
// indexed lists, a blank line after each section.
std::string RealisticConfig(int lines);

}  // namespace cfgtest
