// What Morvane needs of the platform: where the library itself lives, the user's data
// directory and directory creation. One file per platform implements it.
#pragma once

#include <string>

namespace morvane {

// The platform's path separator.
char Platform_Separator();
// True for either separator the platform accepts at the end of a directory path.
bool Platform_IsSeparator(char c);
// The directory of the loaded Morvane library, ending with a separator; empty if unknown.
std::string Platform_LibraryDir();
// The per-user data directory for Kavrel (without a trailing separator); empty if the
// environment names no home or application data directory.
std::string Platform_UserDataDir();
// Creates `dir` and its missing parents. True when it exists as a directory afterwards.
bool Platform_MakeDirs(const std::string &dir);
// The value of an environment variable, empty when unset.
std::string Platform_Getenv(const char *name);

}  // namespace morvane
