#include "realistic_config.h"

namespace cfgtest {

std::string RealisticConfig(int lines) {
  static const char *kSections[] = {"SYSTEM", "NETWORK", "VIDEO", "WIRELESS", "DDNS",
                                    "ALERT",  "AUDIO",   "LAYOUT", "motion",  "image0"};
  std::string text;
  int count = 0;
  for (int s = 0; count < lines; ++s) {
    text += "[" + std::string(kSections[s % 10]) + (s >= 10 ? std::to_string(s / 10) : "") +
            "]\n";
    ++count;
    for (int k = 0; k < 12 && count < lines; ++k) {
      text += "<setting number " + std::to_string(k) + ">\n";
      ++count;
      if (k % 4 == 3) {
        for (int i = 0; i < 4; ++i, ++count) {
          text += "(" + std::to_string(i) + ")value " + std::to_string(i) + " of list\n";
        }
      } else {
        text += "some value " + std::to_string(s * 100 + k) + "\n";
        ++count;
      }
    }
    text += "\n";
    ++count;
  }
  return text;
}

}  // namespace cfgtest
