// Parameter numbers: the stable numbers by which the host names a setting, translated into
// the section and key under which the device's model series keeps it in its configuration.
//
// The model series is the third character of the server type, except that a server type
// beginning with "KM7150" counts as '6'. Series below '4' keep the older layout (upper-case
// sections, spelled-out keys), '4' and up the newer one (lower-case sections, compact keys);
// the video and audio ranges treat series above '7' as older again.
//
// Decisions where the device family is not fixed elsewhere:
// - Demo mode: among the series 3 models, only the pan-tilt family (server types beginning
//   with "RZ") carries a demo mode; its demo switches sit in the "DEMO" section, and number
//   13 reads them as "SYSTEM" / "demo enabled". Other series 3 models have no "DEMO" section
//   and no number 13.
// - Number 21 in the older "SYSTEM" layout has no entry (that table ends at position 20), so
//   it gives KAVREL_E_EMPTY rather than a key of another range.
// - Numbers 488 and 489 read the "other control commands" and "PT control commands" keys on
//   the series 3 video servers (server types beginning with "QB") whose sixth character is
//   "1", the series 3 family that drives pan-tilt heads through its serial port.
#pragma once

#include <stdint.h>

#include <string>

// The longest section name a translation yields is below this size, and so is every key
// (a caller's section buffer adds the digits of an instance number).
#define PARAM_SECTION_MAX 16
#define PARAM_KEY_MAX 40

// The model series of a server type.
char ParamTable_Series(const char *server_type);

// True when the device has serial ports, which decides whether it answers the "SERIAL"
// range (481-501) at all.
bool ParamTable_HasSerialPorts(const char *server_type);

// Translates a parameter number for a device of `server_type`. `config_path` is the
// device's configuration file: a few keys of the series 3 pan-tilt family depend on which
// key names the file already uses (may be NULL or empty: the file is then not read).
// 0 with both names set, or KAVREL_E_EMPTY when the series has no such setting.
uint32_t ParamTable_Translate(const char *server_type, const char *config_path, uint32_t number,
                              std::string *section, std::string *key);
