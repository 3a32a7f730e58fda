// Firmware files for the upgrade's tests: packages of a directory tree and plain images, in
// the formats the firmware tools read.
#pragma once

#include <stdint.h>

#include <map>
#include <string>

namespace fwtest {

constexpr uint32_t kMagicType0 = 0xF51614DEu;
constexpr uint32_t kMagicType1 = 0x8C3937BFu;
constexpr uint32_t kMagicType2 = 0xB80425A3u;

// A tree: relative path ("www/images/logo.gif") -> content. Directories come from the paths.
using Tree = std::map<std::string, std::string>;

// A package with `magic`, a version record, then the tree: top-level files first, then each
// directory's record followed by its files, in ascending order of path (descending with
// `directories_descending`, which makes the unpacker create them in the other order). False
// when the file cannot be written.
bool WritePackage(const std::string &path, uint32_t magic, const Tree &tree,
                  const std::string &version = "V2.0.0", bool directories_descending = false);

// A plain image of `payload_size` bytes holding the version token "MODEL-Vnnn-hhhh" and a
// check byte that makes the byte sum 0.
bool WritePlainImage(const std::string &path, size_t payload_size,
                     const std::string &model = "KM3111");

// The bytes of a file, or "" when it cannot be read; whether a path exists (no link followed).
std::string Slurp(const std::string &path);
bool Exists(const std::string &path);

// Every file below `dir`, relative path -> content.
Tree ReadTree(const std::string &dir);

}  // namespace fwtest
