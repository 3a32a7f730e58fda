// Kavrel_Upgrade and Kavrel_AbortUpgrade: replacing a device's firmware, on the caller's
// thread, from the host's file to the device's return.
//
// The upgrade runs in one working directory below the device's private directory: the
// package unpacked there (or the image copied there under the name the device expects) is
// the tree that goes to the device. Everything from the making of that directory on ends in
// Upgrade_End, which closes the FTP request, removes the directory and frees the slot.
//
// Abort. Abort-requested is set by Kavrel_AbortUpgrade whenever an upgrade runs; while the
// abortable flag is set it also ends the transfer in flight (step 14's HTTP request or the FTP
// request), and the upgrade honours it at its checkpoints and in its directory walks. Every
// abort from step 13 on returns 0x80060314, whatever way the cut step failed. Once the
// device's files are being replaced (abortable cleared) the request is kept but not acted on:
// a half-replaced firmware is worse than a finished upgrade. All three flags live under the
// device lock.
//
// Network settings. Once the request that switches the device's network reset off has
// reached it (step 14 above series 3, step 18 at 3 and below), every way out switches it on
// again, which restarts the device; a failure or an abort before that restores nothing.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "config/config_store.h"
#include "core/operation.h"
#include "firmware/firm_tools.h"
#include "firmware/probe.h"
#include "firmware/upgrade.h"
#include "platform/log.h"

namespace {

constexpr uint32_t kCopyBlock = 8192;
constexpr uint32_t kModeConfig = NETCLIENT_FTP_MODE_BINARY;
constexpr uint32_t kModeFirmware = NETCLIENT_FTP_MODE_BINARY | NETCLIENT_FTP_MODE_LONG_WAIT;
constexpr const char *kSetparam = "/cgi-bin/admin/setparam.cgi";

// Lowers every device's pauses at once, for tests of the library itself.
std::atomic<uint32_t> g_pause_ms{KAVREL_SETTLE_PAUSE_MAX_MS};

// One upgrade's state on the caller's stack.
struct Upgrade {
  KavrelDevice *device = nullptr;
  OperationSlot *slot = nullptr;
  NetClientRequestHandle request = nullptr;
  std::string firmware;
  std::string workdir;
  uint32_t type = 0;
  bool whole_file = false;
  bool network_reset = false;
  bool high_series = false;  // ModelSeries above '3'
  // The device's network reset was switched off (the request reached the device): from then
  // on every way out switches it on again.
  bool reset_reached = false;
  uint32_t upload_error = 0;   // the upload walk's first failure
  uint32_t cleanup_error = 0;  // the removal of the old files' first failure
};

void Pause(const Upgrade *up, uint32_t count) {
  uint32_t ms = std::min(up->device->settle_pause_ms, g_pause_ms.load());
  for (uint32_t i = 0; i < count; ++i) OsSleep(ms);
}

void Report(KavrelDevice *device, uint32_t step, uintptr_t data) {
  auto callback = reinterpret_cast<KavrelUpgradeCallback>(device->upgrade_callback);
  if (callback) callback(device, device->upgrade_context, KAVREL_EVENT_UPGRADE, step, data);
}

void ReportName(KavrelDevice *device, uint32_t step, const std::string &name) {
  Report(device, step, reinterpret_cast<uintptr_t>(name.c_str()));
}

void ReportProgress(KavrelDevice *device, uint32_t step) {
  Report(device, step, reinterpret_cast<uintptr_t>(&device->upgrade_progress));
}

bool AbortRequested(KavrelDevice *device) {
  OsLockEnter(device->lock);
  bool requested = device->upgrade_abort.load() != 0;
  OsLockLeave(device->lock);
  return requested;
}

// An abort stops the upgrade only while the device's files are not being replaced. The device
// lock is held.
bool AbortTakesLocked(const KavrelDevice *device) {
  return device->upgrade_abort.load() != 0 && device->upgrade_abortable != 0;
}

bool AbortTakes(KavrelDevice *device) {
  OsLockEnter(device->lock);
  bool takes = AbortTakesLocked(device);
  OsLockLeave(device->lock);
  return takes;
}

void ClearAbortable(KavrelDevice *device) {
  OsLockEnter(device->lock);
  device->upgrade_abortable = 0;
  OsLockLeave(device->lock);
}

// The point after which the device's files are replaced whatever the host asks: false when an
// abort arrived first (it is honoured), else abortable is cleared. One step under the lock, so
// an abort is either honoured here or finds abortable cleared.
bool CommitToDeviceFiles(KavrelDevice *device) {
  OsLockEnter(device->lock);
  bool aborted = AbortTakesLocked(device);
  if (!aborted) device->upgrade_abortable = 0;
  OsLockLeave(device->lock);
  return !aborted;
}

uint32_t Aborted() {
  KV_FAIL("aborted\n");
  return KAVREL_E_ABORTED;
}

// A step that failed because the host aborted it fails in its own way (the network client's
// 240 without the failure bit, a connect refused on an aborted request, a withdrawn HTTP
// request, a closed connection): the host asked for the abort, so it reads as the abort.
// Any other failure keeps its code.
uint32_t StepResult(KavrelDevice *device, uint32_t rc) {
  if (rc == 0) return 0;
  if (rc == NETCLIENT_ABORTED || AbortTakes(device)) return Aborted();
  return rc;
}

// Aborts the upgrade's transfer in flight, the FTP request or step 14's HTTP request, and
// keeps the next one from starting. The device lock is held.
void StopTransfersLocked(KavrelDevice *device) {
  OperationSlot *slot = &device->exclusive;
  Operation_WithdrawLocked(slot);
  NetClientRequestHandle request = slot->net_request;
  if (!request) return;
  KV_LOG(KAVREL_LOG_FTP, "Try to abort netclient handle %p of (%p)\n",
         static_cast<void *>(request), static_cast<void *>(device));
  NetClient_Abort(request);
}

// The restore must reach the device after an abort: no abort stops anything from here on, and
// the slot's HTTP requests are let through again.
void EndAbortable(KavrelDevice *device) {
  OsLockEnter(device->lock);
  device->upgrade_abortable = 0;
  device->exclusive.abort_requested.store(0);
  OsLockLeave(device->lock);
}

bool EqualsNoCase(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b) {
    char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 32) : *a;
    char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

std::string LocalPath(const std::string &dir, const std::string &name) {
  return dir + OS_PATH_SEPARATOR + name;
}

std::string BareName(const std::string &path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// ---- Preparing on the host ------------------------------------------------------------

// A fresh working directory inside the device's private one. Whatever an earlier, broken
// run left there is removed first (without following links).
uint32_t MakeWorkdir(Upgrade *up) {
  if (Device_EnsureDirectory(up->device) != KAVREL_OK) return KAVREL_E_PKG_MKDIR;
  up->workdir = LocalPath(up->device->directory, "extupgrade");
  if (OsRemoveTree(up->workdir) != 0 || OsMakeDir(up->workdir) != 0 ||
      OsPathKindOf(up->workdir) != OS_PATH_DIR) {
    KV_FAIL("create upgrade directory failed\n");
    up->workdir.clear();
    return KAVREL_E_PKG_MKDIR;
  }
  return KAVREL_OK;
}

uint32_t CopyFirmware(const Upgrade *up) {
  const KavrelDevice *device = up->device;
  const char *ext = (up->type == 0 || device->flash_all) ? "bin" : "pkg";
  std::string name = std::string(device->flash_all ? "flashall." : "flash.") + ext;
  FILE *in = fopen(up->firmware.c_str(), "rb");
  if (!in) {
    KV_FAIL("open file error: %s\n", up->firmware.c_str());
    return KAVREL_E_FILE;
  }
  std::string target = LocalPath(up->workdir, name);
  FILE *out = fopen(target.c_str(), "wb");
  if (!out) {
    fclose(in);
    KV_FAIL("open file error: %s\n", target.c_str());
    return KAVREL_E_FILE;
  }
  char block[kCopyBlock];
  bool ok = true;
  size_t n;
  while (ok && (n = fread(block, 1, sizeof block, in)) > 0) ok = fwrite(block, 1, n, out) == n;
  ok = ok && !ferror(in);
  ok = (fclose(out) == 0) && ok;
  fclose(in);
  if (!ok) {
    KV_FAIL("write file error\n");
    return KAVREL_E_PKG_WRITE;
  }
  return KAVREL_OK;
}

bool IsNetworkResetUpgrade(const Upgrade *up) {
  char value[CONFIG_VALUE_MAX] = "";
  KavrelDevice *device = up->device;
  if (up->high_series) {
    ConfigStore_GetDeviceValue(device, value, "network", "resetip", -1);
  } else {
    ConfigStore_GetDeviceValue(device, value, "NETWORK", "install enabled", -1);
  }
  return up->type != 1 && (!strcmp(value, "1") || EqualsNoCase(value, "YES"));
}

int SizeVisit(void *context, const char *root, const char *relative, int is_file) {
  Upgrade *up = static_cast<Upgrade *>(context);
  if (AbortTakes(up->device)) return 0;
  if (!is_file) return 1;
  int64_t size = OsFileSize(LocalPath(root, relative));
  if (size > 0) up->device->upgrade_progress.total_size += static_cast<uint32_t>(size);
  return 1;
}

// Steps 6 to 12: the firmware on the host, in the working directory, sized.
uint32_t PrepareHost(Upgrade *up) {
  uint32_t rc = MakeWorkdir(up);
  if (rc != KAVREL_OK) return rc;
  if (up->type == 2 && !up->whole_file) {
    uint32_t tool = FirmUnpack_Package(up->firmware.c_str(), up->workdir.c_str());
    if (tool != 0) {
      KV_LOG(KAVREL_LOG_LOWER, "FirmUnpack_Package error: %X\n", tool);
      return FirmTools_TranslateCode(tool);
    }
  }
  NetClientHandle client = nullptr;
  rc = Device_NetClient(up->device, &client);
  if (rc != KAVREL_OK) return rc;
  NetClientRequestHandle request = nullptr;
  rc = NetClient_OpenRequest(client, &request);
  if (rc != 0) {
    KV_LOG(KAVREL_LOG_LOWER, "NetClient_OpenRequest error: %X\n", rc);
    return rc;
  }
  OsLockEnter(up->device->lock);
  up->request = request;
  up->slot->net_request = request;
  OsLockLeave(up->device->lock);
  if (up->type == 0 || up->whole_file) {
    rc = CopyFirmware(up);
    if (rc != KAVREL_OK) return rc;
  }
  Report(up->device, KAVREL_UPGRADE_PREPARED, 0);
  up->network_reset = IsNetworkResetUpgrade(up);
  DirWalk(up->workdir.c_str(), "", SizeVisit, up, DIRWALK_PARENT_FIRST);
  if (AbortRequested(up->device)) {
    KV_FAIL("arboted\n");
    return KAVREL_E_ABORTED;
  }
  return KAVREL_OK;
}

// ---- Preparing the device ---------------------------------------------------------------

uint32_t SendCgi(Upgrade *up, const std::string &path, const char *shown) {
  uint32_t rc = Operation_RequestIsSafe(path.c_str(), KAVREL_SLOT_BUFFER)
                    ? HttpCommandToServer(up->device, path.c_str(), 0, 0, 0, up->slot)
                    : KAVREL_E_INVALIDARG;
  if (rc != 0) KV_LOG(KAVREL_LOG_LOWER, "HttpCommandToServer (%s) failed: %X\n", KV_MASKED(shown), rc);
  return rc;
}

// The device's network settings are reset before the upload (and restored afterwards), so
// that it comes back where the host can find it.
uint32_t ResetNetworkHigh(Upgrade *up) {
  std::string path = std::string(kSetparam) + "?Network_resetip=0";
  char value[CONFIG_VALUE_MAX] = "";
  ConfigStore_GetDeviceValue(up->device, value, "network", "subnet", -1);
  if (!value[0]) path += "&Network_subnet=255.255.255.0";
  ConfigStore_GetDeviceValue(up->device, value, "network", "router", -1);
  if (!value[0]) {
    ConfigStore_GetDeviceValue(up->device, value, "network", "ipaddress", -1);
    path += std::string("&Network_router=") + value;
  }
  return SendCgi(up, path, "/cgi-bin/admin/setparam.cgi?Network_resetip=0");
}

uint32_t ConnectToServerByFtp(Upgrade *up) {
  KavrelDevice *device = up->device;
  NetClientRequestInfo info{};
  info.type = NETCLIENT_TYPE_FTP;
  info.port = device->ftp_port;
  Device_CopyString(info.host, sizeof info.host, device->address);
  Device_CopyString(info.user, sizeof info.user, device->user);
  Device_CopyString(info.password, sizeof info.password, device->password);
  uint32_t rc = NetClient_SetRequestInfo(up->request, &info);
  if (rc == 0) rc = NetClient_Connect(up->request, 1);
  if (rc != 0) {
    KV_LOG(KAVREL_LOG_LOWER, "ConnectToServerByFtp (%d) failed: %X\n",
           static_cast<int>(device->ftp_port), rc);
  }
  return rc;
}

uint32_t PutConfig(Upgrade *up, const char *text, bool prepare) {
  std::string local = LocalPath(up->workdir, "config.ini");
  FILE *f = fopen(local.c_str(), "wb");
  bool written = f && fputs(text, f) >= 0;
  if (f && fclose(f) != 0) written = false;
  if (!written) {
    KV_FAIL("open file error: %s\n", local.c_str());
    OsRemoveFile(local);
    return KAVREL_E_FILE;
  }
  uint32_t rc = 0;
  if (!prepare) {
    Pause(up, 1);
    rc = ConnectToServerByFtp(up);
  }
  if (rc == 0) {
    rc = NetClient_FTP_PutFile(up->request, local.c_str(), "config.ini", kModeConfig, 1);
    if (rc != 0) {
      KV_LOG(KAVREL_LOG_LOWER, prepare ? "NetClient_FTP_PutFile (%s) error: %X\n"
                                       : "NetClient_FTP_PutFile (%s) failed: %X\n",
             prepare ? "config.ini" : local.c_str(), rc);
    }
  }
  if (!prepare) NetClient_Disconnect(up->request);
  OsRemoveFile(local);
  return rc;
}

const char *DisableText(const KavrelDevice *device) {
  return strncmp(device->server_type, "RZ", 2) == 0
             ? "[SYSTEM]\n<reset system>\nNo\n\n[NETWORK]\n<install enabled>\nNo\n"
             : "[SYSTEM]\n<reset system>\nNO\n\n[NETWORK]\n<install enabled>\nNO\n";
}

// Steps 14 to 18. `reset_reached` tells whether the device's network reset was switched off.
uint32_t PrepareDevice(Upgrade *up) {
  if (up->network_reset && up->high_series) {
    uint32_t rc = StepResult(up->device, ResetNetworkHigh(up));
    if (rc != 0) return rc;
    up->reset_reached = true;
  }
  uint32_t rc = StepResult(up->device, ConnectToServerByFtp(up));
  if (rc != 0) return rc;
  if (AbortRequested(up->device)) return Aborted();
  Report(up->device, KAVREL_UPGRADE_CONNECTED, 0);
  if (up->network_reset && !up->high_series) {
    rc = StepResult(up->device, PutConfig(up, DisableText(up->device), true));
    if (rc != 0) return rc;
    up->reset_reached = true;
  }
  return KAVREL_OK;
}

// ---- Uploading --------------------------------------------------------------------------

// Step 19, over the top level of the package: the device's files of the same names, and its
// directories of the same names with all they hold. The first failure ends the walk.
int RemoveOldVisit(void *context, const char *, const char *relative, int is_file) {
  Upgrade *up = static_cast<Upgrade *>(context);
  uint32_t rc = 0;
  if (is_file) {
    if (EqualsNoCase(relative, "flash.bin")) return 1;
    rc = NetClient_FTP_DeleteFile(up->request, relative, 0, 1);
    if (rc != 0) {
      KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_DeleteFile (%s) error: %X\n", relative, rc);
    } else {
      ReportName(up->device, KAVREL_UPGRADE_REMOVED, relative);
    }
  } else {
    std::string dir = std::string("/") + relative;
    rc = Upgrade_CleanDeviceDirectory(up->device, up->request, dir.c_str());
  }
  if (rc == 0) return 1;
  up->cleanup_error = StepResult(up->device, rc);
  return 0;
}

void NETCLIENT_CALL UploadProgress(NetClientRequestHandle, void *context, uint32_t code,
                                   uint32_t value) {
  KavrelDevice *device = static_cast<KavrelDevice *>(context);
  KavrelUpgradeProgress *progress = &device->upgrade_progress;
  if (code == NETCLIENT_PROGRESS_SIZE) {
    progress->file_size = value;
    progress->file_sent = 0;
  } else if (code == NETCLIENT_PROGRESS_SENT && value >= progress->file_sent) {
    progress->sent += value - progress->file_sent;
    progress->file_sent = value;
  } else {
    return;
  }
  ReportProgress(device, KAVREL_UPGRADE_SENDING);
}

uint32_t UploadDirectory(Upgrade *up, const char *relative) {
  std::string path = relative[0] == '/' ? relative : std::string("/") + relative;
  uint32_t rc = NetClient_FTP_CreateDir(up->request, path.c_str(), 0, 1);
  bool existed = rc == NETCLIENT_E_DIR_EXISTS;
  if (rc != 0 && !existed) return rc;
  if (!existed) ReportName(up->device, KAVREL_UPGRADE_DIR_CREATED, path);
  rc = NetClient_FTP_ChangeDir(up->request, path.c_str(), 1);
  if (rc != 0) return rc;
  if (!existed) ReportName(up->device, KAVREL_UPGRADE_DIR_ENTERED, path);
  return 0;
}

uint32_t UploadFile(Upgrade *up, const char *root, const char *relative) {
  KavrelDevice *device = up->device;
  std::string rel = relative;
  size_t cut = rel.find_last_of("/\\");
  std::string dir = cut == std::string::npos ? root : LocalPath(root, rel.substr(0, cut));
  std::string name = BareName(rel);
  std::string local = LocalPath(dir, name);
  Device_CopyString(device->upgrade_progress.file_name, sizeof device->upgrade_progress.file_name,
                    name.c_str());
  device->upgrade_progress.file_sent = 0;
  uint32_t rc = NetClient_FTP_PutFileWithProgress(up->request, local.c_str(), name.c_str(),
                                                  kModeFirmware, 1, UploadProgress, device);
  ReportProgress(device, KAVREL_UPGRADE_FILE_ENDED);
  if (rc != 0) return rc;
  ReportName(device, KAVREL_UPGRADE_FILE_SENT, name);
  return 0;
}

int UploadVisit(void *context, const char *root, const char *relative, int is_file) {
  Upgrade *up = static_cast<Upgrade *>(context);
  if (AbortTakes(up->device)) {
    up->upload_error = Aborted();
    return 0;
  }
  uint32_t rc = is_file ? UploadFile(up, root, relative) : UploadDirectory(up, relative);
  if (rc == 0) return 1;
  up->upload_error = StepResult(up->device, rc);
  return 0;
}

// The clean-up leaves the session wherever it stopped, and the upload stores each top-level
// file by its bare name into the current directory: without this a failed clean-up would put
// them into a subdirectory.
uint32_t ReturnToRoot(Upgrade *up) {
  uint32_t rc = NetClient_FTP_ChangeDir(up->request, "/", 1);
  if (rc != 0) KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_ChangeDir (%s) error: %X\n", "/", rc);
  return StepResult(up->device, rc);
}

// Steps 19 to 21. A failed clean-up does not keep the new files from their places, but it is
// the upgrade's result: the device still holds old files the package meant to replace.
uint32_t UploadSteps(Upgrade *up) {
  bool package = up->type == 2 && !up->whole_file;
  if (package) {
    if (!CommitToDeviceFiles(up->device)) return Aborted();
    DirWalk(up->workdir.c_str(), "", RemoveOldVisit, up, DIRWALK_NO_DESCENT);
    uint32_t rc = ReturnToRoot(up);
    if (rc != 0) return up->cleanup_error != 0 ? up->cleanup_error : rc;
  }
  if (up->high_series && !CommitToDeviceFiles(up->device)) return Aborted();
  DirWalk(up->workdir.c_str(), "", UploadVisit, up, DIRWALK_PARENT_FIRST);
  return up->cleanup_error != 0 ? up->cleanup_error : up->upload_error;
}

// Steps 19 to 22: 0, or the failure that skips the reset and the wait.
uint32_t Upload(Upgrade *up) {
  uint32_t rc = UploadSteps(up);
  ClearAbortable(up->device);
  NetClient_Disconnect(up->request);
  if (rc != 0) KV_LOG(KAVREL_LOG_LOWER, "Upgrade failed error: %X\n", rc);
  return rc;
}

// ---- Resetting, waiting and restoring -----------------------------------------------------

uint32_t ResetAndWait(Upgrade *up) {
  KavrelDevice *device = up->device;
  if (up->high_series && !up->whole_file) {
    std::string path = std::string(kSetparam) + "?System_reset=5";
    uint32_t rc = SendCgi(up, path, path.c_str());
    if (rc != 0) return rc;
    Report(device, KAVREL_UPGRADE_RESET, 0);
  }
  if (device->skip_wait) return KAVREL_OK;
  uint32_t wait_ms = device->return_wait_s * 1000;
  uint32_t rc = PingUntilServerReturned(wait_ms, device);
  if (rc != 0) {
    KV_LOG(KAVREL_LOG_LOWER, "PingUntilServerReturned failed: %X, %d\n", rc,
           static_cast<int>(wait_ms));
  }
  return rc;
}

// Steps 25 to 28. `failed`: a step up to the upload failed, so the device is not restarting
// and there is no install to wait for.
void Restore(Upgrade *up, bool failed) {
  uint32_t extra = up->whole_file ? 1 : 0;
  EndAbortable(up->device);
  if (!up->network_reset) {
    Pause(up, 1);
    return;
  }
  if (up->high_series) {
    if (!failed) Pause(up, 1 + extra);
    if (up->device->reset_after_upgrade) {
      SendCgi(up, std::string(kSetparam) + "?Network_resetip=1&System_reset=1",
              "/cgi-bin/admin/setparam.cgi?Network_resetip=1");
    }
  } else {
    PutConfig(up, "[SYSTEM]\n<reset system>\nYES\n[NETWORK]\n<install enabled>\nYES\n", false);
  }
  Pause(up, 1 + extra);
}

// ---- The end ------------------------------------------------------------------------------

// Removes the working directory, contents before their directory, reporting each path. The
// walk sees a link as a file, so a link is removed itself and never followed.
int RemoveVisit(void *context, const char *root, const char *relative, int is_file) {
  KavrelDevice *device = static_cast<KavrelDevice *>(context);
  std::string path = LocalPath(root, relative);
  int rc = is_file ? OsRemoveFile(path) : OsRemoveTree(path);
  if (rc == 0) ReportName(device, KAVREL_UPGRADE_HOST_REMOVED, path);
  return 1;
}

void RemoveHostTree(KavrelDevice *device, const std::string &dir) {
  DirWalk(dir.c_str(), "", RemoveVisit, device, DIRWALK_CHILDREN_FIRST);
  if (OsRemoveTree(dir) == 0) ReportName(device, KAVREL_UPGRADE_HOST_REMOVED, dir);
}

uint32_t Upgrade_End(Upgrade *up, uint32_t result) {
  KavrelDevice *device = up->device;
  OsLockEnter(device->lock);
  NetClientRequestHandle request = up->request;
  up->slot->net_request = nullptr;
  OsLockLeave(device->lock);
  if (request) NetClient_CloseRequest(request);
  if (!up->workdir.empty()) RemoveHostTree(device, up->workdir);
  ReleaseOperationSlot(up->slot);
  OsLockEnter(device->lock);
  device->upgrade_running = 0;
  device->upgrade_abortable = 0;
  OsLockLeave(device->lock);
  return result;
}

// Steps 1 to 5: 0 and a running upgrade holding the long-operation slot, or a refusal.
uint32_t Upgrade_Start(DeviceHandle device, const UpgradeRequest *request, Upgrade *up) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (rc != KAVREL_OK) return rc;
  OperationSlot *slot = nullptr;
  rc = Operation_Take(device, 1, &slot);
  if (rc != KAVREL_OK) return rc;
  OsLockEnter(device->lock);
  bool running = device->upgrade_running != 0;
  if (!running) {
    memset(&device->upgrade_progress, 0, sizeof device->upgrade_progress);
    device->upgrade_running = 1;
    device->upgrade_abortable = 1;
    device->upgrade_abort.store(0);
  }
  OsLockLeave(device->lock);
  up->device = device;
  up->slot = slot;
  if (running) {
    ReleaseOperationSlot(slot);
    KV_FAIL("already upgrading\n");
    return KAVREL_E_NOT_AVAILABLE;
  }
  if (!request || !request->path[0]) {
    KV_FAIL("invalid arg\n");
    return Upgrade_End(up, KAVREL_E_INVALIDARG);
  }
  up->firmware.assign(request->path, strnlen(request->path, sizeof request->path));
  device->upgrade_callback = reinterpret_cast<void *>(request->callback);
  device->upgrade_context = request->context;
  up->high_series = Device_Series(device) > '3';
  FirmVersionHeader header{};
  uint32_t tool = FirmTools_GetVersion(up->firmware.c_str(), &header);
  if (tool != 0 && !device->flash_all) {
    KV_LOG(KAVREL_LOG_LOWER, "FirmTools_GetVersion error: %X\n", tool);
    return Upgrade_End(up, FirmTools_TranslateCode(tool));
  }
  up->type = tool != 0 ? 0 : header.package_type;
  up->whole_file = tool != 0 || (up->type != 0 && up->type != 2);
  return KAVREL_OK;
}

// Once the device's network reset is switched off, every way out restores it; before that
// nothing of the device is changed, so a failure or an abort restores nothing (a restore
// restarts the device).
uint32_t Upgrade_Run(Upgrade *up) {
  uint32_t rc = PrepareHost(up);
  if (rc != KAVREL_OK) return rc;
  rc = PrepareDevice(up);
  if (rc != KAVREL_OK) {
    if (up->reset_reached) Restore(up, true);
    return rc;
  }
  uint32_t result = Upload(up);
  bool failed = result != 0;
  if (!failed && up->type != 1) result = ResetAndWait(up);
  Restore(up, failed);
  return result;
}

}  // namespace

void Upgrade_SetPauseForTests(uint32_t ms) { g_pause_ms.store(ms ? ms : KAVREL_SETTLE_PAUSE_MAX_MS); }

extern "C" {

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_Upgrade(DeviceHandle device,
                                                  const UpgradeRequest *request) {
  Upgrade up;
  uint32_t rc = Upgrade_Start(device, request, &up);
  if (rc != KAVREL_OK) return rc;
  return Upgrade_End(&up, Upgrade_Run(&up));
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_AbortUpgrade(DeviceHandle device) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (rc != KAVREL_OK) return rc;
  // The request is aborted under the device lock: the upgrade takes it out of the slot under
  // the same lock before closing it, so an abort never reaches a slot given back.
  OsLockEnter(device->lock);
  if (device->upgrade_running) {
    device->upgrade_abort.store(1);
    if (device->upgrade_abortable) StopTransfersLocked(device);
  }
  OsLockLeave(device->lock);
  return KAVREL_OK;
}

}  // extern "C"
