// The device configuration file: a text of section lines ("[NETWORK]"), key lines
// ("<host name>") and value lines, plain ("value") or indexed ("(2)value"). Values are read
// and written one at a time; there is no in-memory model of the file, so every read scans
// it from the start and every write rewrites it.
//
// Line grammar, as reading applies it (the first test that fits wins):
//   section header  "[" and a later "]" with at least one character between them;
//   key line        inside a section: "<" and a later ">" with a character between;
//   indexed value   "(" and a later ")" with a character between: index, then the value;
//   plain value     anything else, blank lines included.
// A line longer than CONFIG_LINE_MAX characters is read as several lines. Section and key
// names compare case-insensitively over their whole length. In sections whose name begins
// with "SERIAL", the keys beginning with "custom ccd commands" or "PT control commands" hold
// the commands HOME, UP, DOWN, LEFT, RIGHT, TELESCOPE, WIDE, NEAR and FAR (indices 0 to 8)
// as pairs of lines: the command's name, then its value. A value line is never taken for a
// command name, even when its text is one.
//
// Writing never loses the file: the new text goes to a temporary file in the same directory,
// is flushed, and takes the old file's place in one step, so a crash or a full disk leaves
// either the old file or the new one. Writes refuse (KAVREL_E_INVALIDARG) names and values
// that would read back differently: a line end anywhere, an empty name, "]" in a section
// name, ">" or a "[" followed by "]" in a key name, a value holding a "[" followed by "]" or
// a "<" followed, not at once, by ">", and any written line longer than CONFIG_LINE_MAX.
//
// Concurrency: none inside. Callers serialise access to one file (per device).
#pragma once

#include <stdint.h>

struct KavrelDevice;

// The size of every value output buffer: the longest line and its NUL.
#define CONFIG_VALUE_MAX 260
#define CONFIG_LINE_MAX (CONFIG_VALUE_MAX - 1)

// Reads one value. `index` negative reads the key's first value line whole; otherwise the
// indexed line whose index text is exactly the decimal `index` (a plain line counts as
// index 0). `out` holds CONFIG_VALUE_MAX bytes. 0 and the value; KAVREL_E_FILE when the file
// cannot be read, KAVREL_E_CATALOG when the value is not there; on either failure
// `default_text` (NULL: "") is copied to `out`. KAVREL_E_INVALIDARG when `path`, `section`,
// `key` or `out` is NULL (a non-NULL `out` still gets the default).
uint32_t ConfigStore_Get(const char *path, const char *section, const char *key, char *out,
                         const char *default_text, int32_t index);

// Writes one value, creating the file, section and key as needed. `index` negative replaces
// the key's first value line; otherwise the indexed line of that index, kept in ascending
// order. `insert_at_top` places a new key entry right after the section's header. 0;
// KAVREL_E_INVALIDARG for a NULL or refused argument (the file is not touched);
// KAVREL_E_FILE when the file cannot be read or replaced (the old file stays).
uint32_t ConfigStore_Set(const char *path, const char *section, const char *key,
                         const char *value, int32_t index, int insert_at_top);

// The checks of a write (names, value, index) without touching any file: 0 or a code.
uint32_t ConfigStore_CheckWrite(const char *section, const char *key, const char *value,
                                int32_t index);

// ConfigStore_Set on the device's file, made on first use (0x80060308 when its directory
// cannot be made). Sections whose name begins with "image" always
// carry a "mode" key before any value the library writes: when reading it fails, "mode" =
// "save" is written first at the top of the section.
uint32_t ConfigStore_SetDeviceValue(KavrelDevice *device, const char *value,
                                    const char *section, const char *key, int32_t index);

// ConfigStore_Get on the device's file with an empty default (its directory made first).
uint32_t ConfigStore_GetDeviceValue(KavrelDevice *device, char *out, const char *section,
                                    const char *key, int32_t index);

// Rewrites the file with the platform's text line ends and without trailing CRs on any
// line; a missing file becomes an empty one. 0 or KAVREL_E_FILE (the old file stays).
uint32_t ConfigStore_Normalize(const char *path);

// Rewrites the file with CR LF line ends. 0 or KAVREL_E_FILE (the old file stays).
uint32_t ConfigStore_ToCrLf(const char *path);

// Test seam: called by every rewrite after its new text is complete and flushed in the
// temporary file, just before that file takes the configuration's place. NULL removes it.
typedef void (*ConfigStoreReplaceHook)(const char *temp_path, const char *path);
void ConfigStore_SetReplaceHook(ConfigStoreReplaceHook hook);
