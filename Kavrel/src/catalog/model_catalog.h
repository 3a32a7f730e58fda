// The model catalogue: a device's capability record (ServerParam) from Morvane, from the
// shared catalogue file "Data.xml", or learned from the device itself and kept in the file.
//
// The file is shared by every process of the user. Readers take no lock: the file is only
// ever replaced whole (a temporary file beside it, then a rename), so a reader sees the old
// catalogue or the new one. Writers exclude each other, across threads and processes, with
// the cross-process lock "111111" (a lock file beside the catalogue on POSIX) bounded to 30 s.
// Nothing is kept in memory between calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "morvane.h"

#define CATALOG_FILE_NAME "Data.xml"
#define CATALOG_LOCK_NAME "111111"
#define CATALOG_LOCK_TIMEOUT_MS 30000u
// Elements a catalogue holds: the root and 24 per model (the model element and its 23
// fields), so 13 models.
#define CATALOG_ELEMENT_LIMIT 320
#define CATALOG_FIELDS 23
#define CATALOG_KEY_LENGTH 6

// Results of the catalogue's internal functions (0 for success).
enum {
  CATALOG_E_LOAD = -1,       // lookup: the file is missing, unreadable or does not parse
  CATALOG_E_ABSENT = -2,     // lookup: the model is not in the file;
                             // store: a fresh document could not be set up
  CATALOG_E_LOCK = -3,       // store: the lock was not had within its bound; nothing written
  CATALOG_E_FILE = -4,       // store: the file could not be read, or not replaced; it stays
                             // as it was
  CATALOG_E_FULL = -5,       // store: no room for a whole entry (element limit); not written
  CATALOG_E_KEY = -6,        // store: the model key cannot be an element name; not written
};

// The path of "Data.xml" in Morvane's catalogue directory. Empty when Morvane cannot name
// the directory: the library then keeps no catalogue rather than write into the current
// directory.
std::string ModelCatalog_DataFilePath(void);

// Looks the model up by its first 6 characters. `model_name` is cut to 6 characters in place
// when longer (it is normally the device's own model-name field). Fields whose elements are
// absent from the entry keep their values. 0, CATALOG_E_LOAD or CATALOG_E_ABSENT.
int32_t ModelCatalog_Lookup(char *model_name, ServerParam *param);

// The same lookup in a catalogue's text instead of the file: `length` bytes (read up to a NUL
// within them). Reads no file, so that any text another process could write is tried alone.
int32_t ModelCatalog_LookupText(const char *text, size_t length, char *model_name,
                                ServerParam *param);

// Adds the record under its 6-character key, whole or not at all. 0 also when the model is
// there already (entries are never updated; the file is not touched). A missing or
// unparsable file is replaced by one holding this entry alone. Other results as above.
int32_t ModelCatalog_Store(const ServerParam *param);

// The lock bound of the store; tests shorten it. 0 restores CATALOG_LOCK_TIMEOUT_MS.
void ModelCatalog_SetLockTimeout(uint32_t timeout_ms);

// A device as the learning path reaches it.
struct CatalogDeviceConn {
  const char *host;  // NULL or empty: the device cannot be asked
  uint32_t port;
  const char *user;
  const char *password;
  const char *proxy_host;  // NULL or empty: no proxy
  uint32_t timeout_ms;
};

// The catalogue's entry, else the record learned from the device's system information (the
// nearest friendly name's record from Morvane, overlaid with what the device reports), which
// is then stored. 0 and `param` filled; the lookup's failure when the device has no host; -1
// allocation failure or a device that reports another model (first 6 characters); the
// fetch's status or Morvane's result unchanged (as int32_t). A record that was learned but
// could not be stored is still returned with 0 (the failure is logged), except a store that
// could not set up its document (CATALOG_E_ABSENT).
int32_t ModelCatalog_LearnFromDevice(const CatalogDeviceConn *device, char *model_name,
                                     ServerParam *param);

// The record that a device's own system information makes: the record of the friendly name
// its model maps to, overlaid with the counts, codecs and video path it reports, named by
// the first 6 characters of its model name. 0 and `param` filled; else Morvane's result, and
// `param` untouched. Asks nothing of the device and stores nothing.
int32_t ModelCatalog_BuildLearned(const SysInfoData *info, ServerParam *param);

// The fields of a device record that resolving its model reads and writes.
struct CatalogDevice {
  ServerParam *param;         // the device's own record, filled in place
  char *model_name;           // CATALOG_DEVICE_STRING bytes: the model name read from it
  char *server_type;          // CATALOG_DEVICE_STRING bytes: its friendly name
  const char **series_name;   // set to model_name or server_type (mode 0)
  CatalogDeviceConn conn;     // for learning (mode 1)
};
#define CATALOG_DEVICE_STRING 256

#define CATALOG_BY_SERVER_TYPE 0
#define CATALOG_BY_MODEL_NAME 1

// Fills the device's record. Mode CATALOG_BY_MODEL_NAME: Morvane by model name, else learned
// (a failure is logged and returned); the ServerName then becomes the server type. Mode
// CATALOG_BY_SERVER_TYPE: Morvane by friendly name, else by its mapping; returns the second
// query's result, 0x60400 included. 0 or a failure code (any nonzero value is a failure).
int32_t ModelCatalog_ResolveDevice(CatalogDevice *device, int mode);
