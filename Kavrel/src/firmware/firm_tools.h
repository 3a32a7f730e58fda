// Host-side firmware file tools: the version reader for packages and plain images, the
// package unpacker and the directory walker that the upgrade uses on the unpacked tree. All
// run on the caller's thread and return the tool codes below, which the upgrade translates
// with FirmTools_TranslateCode.
#pragma once

#include <stdint.h>

#include "platform/os.h"

// Tool codes. They reuse the general family with meanings of their own.
#define FIRM_OK 0u
#define FIRM_E_OPEN 0x80000002u       // the file cannot be opened
#define FIRM_E_FORMAT 0x80000003u     // not a package; bad record; plain image of wrong size
#define FIRM_E_WRITE 0x80000004u      // an unpacked file cannot be created or written
#define FIRM_E_SHORT 0x80000005u      // the package ends early; plain image checksum wrong
#define FIRM_E_MKDIR 0x80000006u      // the output directory or a subdirectory not created
#define FIRM_E_UNSAFE 0x80000007u     // a record name escapes the output directory, or a link
#define FIRM_E_NO_VERSION 0xFFFFFFFFu // no version found in a plain image

// Package magics (the first little-endian word of a package).
#define FIRM_MAGIC_TYPE0 0xF51614DEu
#define FIRM_MAGIC_TYPE1 0x8C3937BFu
#define FIRM_MAGIC_TYPE2 0xB80425A3u
#define FIRM_MAGIC_TYPE3A 0x27051956u
#define FIRM_MAGIC_TYPE3B 0x30BCD8F4u
#define FIRM_MAGIC_TYPE3C 0x76B539A9u  // its tag 0 records carry L + 4 bytes, not L + 12
#define FIRM_MAGIC_PART1 0x8C3937BFu   // nested in a 0x8001 record
#define FIRM_MAGIC_PART3 0x51F0ED49u   // nested in a 0x8003 record

#define FIRM_FIELD 32
#define FIRM_NAME_MAX 4096  // a record name must be shorter

// The reader's result. A plain image fills only `version`.
struct FirmVersionHeader {
  char version[FIRM_FIELD];  // tag 1
  char tag2[FIRM_FIELD];
  char tag10[FIRM_FIELD];
  char tag3[FIRM_FIELD];
  char tag4[FIRM_FIELD];
  char tag5[FIRM_FIELD];
  char tag9[FIRM_FIELD];
  char language[FIRM_FIELD];  // the language's name for the tag 8 language tag
  uint32_t plain_image;       // 1 when the file is not a package
  uint32_t part3;             // a 0x8003 record with its magic was seen
  uint32_t package_type;      // 0-3
  char tag13[FIRM_FIELD];
};

// Reads the version header of a package or a plain image. FIRM_OK, FIRM_E_OPEN, and for
// plain images FIRM_E_FORMAT, FIRM_E_SHORT or FIRM_E_NO_VERSION.
uint32_t FirmTools_GetVersion(const char *file, FirmVersionHeader *header);

// Unpacks a package of type 0, 1 or 2 into `output_dir` (made when missing). Nothing is ever
// written outside it. FIRM_OK or a tool code; on failure the file being written is removed.
// A plain image record ("flash.bin") becomes the current directory, so a file record that
// follows it without a directory record of its own is a malformed package (FIRM_E_FORMAT),
// never a file at the top level.
uint32_t FirmUnpack_Package(const char *package, const char *output_dir);

// The upgrade's translation of a tool code into a result code.
uint32_t FirmTools_TranslateCode(uint32_t tool_code);

// The language's name for a language tag, or "Unknown".
const char *FirmLanguage_Name(const char *tag);
// The table itself, in its search order (tests read it).
struct FirmLanguage {
  const char *tag;
  const char *name;
};
extern const FirmLanguage kFirmLanguages[];
extern const unsigned kFirmLanguageCount;

// ---- Directory walking ------------------------------------------------------------------------

#define FIRM_DIR_MARKER 0xDDAAu

// An open directory enumeration; valid while `marker` is FIRM_DIR_MARKER.
struct FirmDir {
  uint32_t marker;
  OsDir os;
  OsDirEntry entry;
};

// 0, or -1 when the directory cannot be opened.
int DirOpen(const char *path, FirmDir *dir);
// The next entry's name, or NULL at the end or on a handle that is not open; the entry's
// is-directory flag (links not followed) is in dir->entry.
const char *DirRead(FirmDir *dir);
int DirRewind(FirmDir *dir);  // 0, or -1
int DirClose(FirmDir *dir);   // 0, or -1 on a handle that is not open

// Walk orders.
#define DIRWALK_CHILDREN_FIRST 0  // a directory's contents before the directory (removal)
#define DIRWALK_PARENT_FIRST 1    // the directory before its contents (upload)
#define DIRWALK_NO_DESCENT 2      // the directory only

// Returns non-zero to go on, 0 to stop the whole walk. `relative` is the entry's path below
// the root; `is_file` is 0 for a directory.
typedef int (*DirWalkCallback)(void *context, const char *root, const char *relative,
                               int is_file);

// Visits `root`/`start` ("" for the root itself): its files first, then its directories in the
// given order; within each directory, files and directories each in byte order of their names,
// whatever order the file system lists them in. 0; 1 when the start directory cannot be
// opened; -1 when the callback stopped the walk.
int DirWalk(const char *root, const char *start, DirWalkCallback callback, void *context,
            int order);
