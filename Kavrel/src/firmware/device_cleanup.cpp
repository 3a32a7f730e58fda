// Removal of a directory tree from the device over the upgrade's FTP session.
//
// The device's server lists one directory at a time, so the clean-up keeps a work list of
// device paths: a directory is entered and listed once, its entries join the list, and it is
// removed when it comes up again, after everything it held (the list's order guarantees that).
#include <string.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "firmware/upgrade.h"
#include "platform/log.h"

namespace {

struct WorkItem {
  std::string path;
  bool is_directory;
  bool listed;
};

// Component-wise order in which a path comes before every path that is a prefix of it, so
// a directory's contents come before the directory: '/' sorts lowest and the end of a path
// highest.
std::string OrderKey(const std::string &path) {
  std::string key = path;
  std::replace(key.begin(), key.end(), '/', '\x01');
  key.push_back('\xff');
  return key;
}

bool WorkBefore(const WorkItem &a, const WorkItem &b) {
  if (a.is_directory != b.is_directory) return !a.is_directory;  // files first
  if (!a.is_directory) return a.path < b.path;
  const std::string ka = OrderKey(a.path);
  const std::string kb = OrderKey(b.path);
  return std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end(),
                                      [](char x, char y) {
                                        return static_cast<unsigned char>(x) <
                                               static_cast<unsigned char>(y);
                                      });
}

bool IsDotEntry(const char *name) {
  if (!strcmp(name, ".") || !strcmp(name, "..")) return true;
  size_t n = strlen(name);
  return (n >= 2 && !strcmp(name + n - 2, "/.")) || (n >= 3 && !strcmp(name + n - 3, "/.."));
}

void Report(KavrelDevice *device, const std::string &path) {
  auto callback = reinterpret_cast<KavrelUpgradeCallback>(device->upgrade_callback);
  if (callback) {
    callback(device, device->upgrade_context, KAVREL_EVENT_UPGRADE, KAVREL_UPGRADE_REMOVED,
             reinterpret_cast<uintptr_t>(path.c_str()));
  }
}

// Lists the current directory of the session into `list`, as children of `dir`.
uint32_t ListInto(NetClientRequestHandle request, const std::string &dir,
                  std::vector<WorkItem> *list) {
  NetClientFindEntry entry{};
  uint32_t rc = NetClient_FTP_FindFirstFile(request, "*.*", &entry, 1);
  if (rc != 0 && rc != NETCLIENT_E_NO_MORE_FILES) {
    KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_FindFirstFile (%s) error: %X\n", dir.c_str(), rc);
    return rc;
  }
  while (rc == 0) {
    if (!IsDotEntry(entry.name)) {
      std::string path = strchr(entry.name, '/') ? entry.name : dir + "/" + entry.name;
      list->push_back(WorkItem{path, entry.is_directory != 0, false});
    }
    rc = NetClient_FTP_FindNextFile(request, &entry, 1);
    if (rc != 0 && rc != NETCLIENT_E_NO_MORE_FILES) {
      KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_FindNextFile error: %X\n", rc);
      return rc;
    }
  }
  return 0;
}

// One step of the work list on its head. 0 to go on, or the code that ends the clean-up;
// `done` is set when the device has no directory at `start`.
uint32_t TakeHead(KavrelDevice *device, NetClientRequestHandle request, const std::string &start,
                  std::vector<WorkItem> *list, bool *done) {
  WorkItem head = list->front();
  if (!head.is_directory || head.listed) {
    if (head.is_directory) {
      uint32_t rc = NetClient_FTP_ChangeDir(request, "..", 1);
      if (rc != 0) {
        KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_DeleteFile (%s) error: %X\n", "..", rc);
        return rc;
      }
    }
    uint32_t rc = NetClient_FTP_DeleteFile(request, head.path.c_str(), head.is_directory, 1);
    if (rc != 0) {
      KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_DeleteFile (%s) error: %X\n", head.path.c_str(),
             rc);
      return rc;
    }
    Report(device, head.path);
    list->erase(list->begin());
    return 0;
  }
  uint32_t rc = NetClient_FTP_ChangeDir(request, head.path.c_str(), 1);
  if (rc != 0) {
    // A directory the device does not have holds nothing to remove: the package brings a new
    // one. Only the server's refusal says so, and only where the clean-up starts; a lost
    // connection or a time-out says nothing, and a listed directory that cannot be entered
    // still holds what was listed.
    if (rc == NETCLIENT_E_CHDIR && head.path == start) {
      *done = true;
      return 0;
    }
    KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_ChangeDir (%s) error: %X\n", head.path.c_str(), rc);
    return rc;
  }
  list->front().listed = true;
  rc = ListInto(request, head.path, list);
  if (rc != 0) return rc;
  std::stable_sort(list->begin(), list->end(), WorkBefore);
  return 0;
}

}  // namespace

uint32_t Upgrade_CleanDeviceDirectory(KavrelDevice *device, NetClientRequestHandle request,
                                      const char *path) {
  try {
    const std::string start = path;
    std::vector<WorkItem> list{WorkItem{start, true, false}};
    bool done = false;
    while (!list.empty() && !done) {
      uint32_t rc = TakeHead(device, request, start, &list, &done);
      if (rc != 0) return rc;
    }
    return 0;
  } catch (const std::bad_alloc &) {
    KV_FAIL("malloc error: %d\n", 288);
    return KAVREL_E_NOMEM;
  }
}
