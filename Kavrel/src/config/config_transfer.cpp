// The configuration transfer: one set of decisions, driven either by the calling thread
// (waiting for each step) or by the worker (one step per completion). The sub-states of an
// asynchronous slot are the step in flight:
//
//   1, 4, 7, 10   GET of configfile.cgi, parafile.html, network.html, mailftp.html sent
//   2, 5, 8, 11   reading that page's body
//   13            FTP login on the cached port (21 when none)
//   14            FTP login on a port scraped from a page
//   16            RETR of "config.ini" into the local file
//   17            FTP login of an upload
//   19            STOR of the local file as "config.ini"
#include "config/config_transfer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "catalog/model_catalog.h"
#include "config/config_scrape.h"
#include "config/config_store.h"
#include "core/operation.h"
#include "platform/log.h"
#include "sched/ftp_sock.h"

namespace {

enum Page { PAGE_CGI, PAGE_PARAFILE, PAGE_NETWORK, PAGE_MAILFTP };

struct PageInfo {
  const char *path;
  uint32_t state;  // GET sent; state + 1 while reading the body
};

const PageInfo kPages[] = {
    {"/cgi-bin/admin/configfile.cgi", 1},
    {"/setup/parafile.html", 4},
    {"/setup/network.html", 7},
    {"/setup/mailftp.html", 10},
};

constexpr uint32_t kStateLogin = 13;
constexpr uint32_t kStateLoginScraped = 14;
constexpr uint32_t kStateRetr = 16;
constexpr uint32_t kStateUploadLogin = 17;
constexpr uint32_t kStateStor = 19;
constexpr uint32_t kDefaultFtpPort = 21;

constexpr uint32_t kHostDownloadStart = 203;
constexpr uint32_t kHostUploadStart = 204;
constexpr uint32_t kHostDownloadFailed = 205;

const char kRemoteName[] = "config.ini";

// What a transfer keeps between its steps (the slot's argument block).
struct TransferArgs {
  uint32_t login_port;  // the port of the login in flight
  uint32_t scraped;     // non-zero when that port came from a page
};

// ACT_WAIT: a step is in flight and its completion will come back as a node.
enum Action { ACT_GET, ACT_LOGIN, ACT_RETR, ACT_STOR, ACT_WAIT, ACT_END };

// The next step: a transport step to start, or the end with its synchronous result and the
// status an asynchronous operation reports.
struct Step {
  Action action;
  int page;
  uint32_t port;
  uint32_t scraped;
  uint32_t code;
  uint32_t host;
};

Step Get(int page) { return Step{ACT_GET, page, 0, 0, 0, 0}; }
Step Login(uint32_t port, bool scraped) {
  return Step{ACT_LOGIN, 0, port, scraped ? 1u : 0u, 0, 0};
}
Step Transfer(Action action) { return Step{action, 0, 0, 0, 0, 0}; }
Step End(uint32_t code, uint32_t host) {
  if (code == KAVREL_T_WITHDRAWN) host = HOST_ABORTED;
  return Step{ACT_END, 0, 0, 0, code, code == KAVREL_OK ? HOST_OK : host};
}

// The host status of a failed transport step.
uint32_t HostOf(uint32_t status) {
  if (status == KAVREL_T_WITHDRAWN) return HOST_ABORTED;
  if (status == KAVREL_T_E_LOGIN || status == KAVREL_T_E_UNAUTHORIZED) return HOST_REFUSED;
  return HOST_FAILED;
}

TransferArgs *ArgsOf(OperationSlot *slot) { return static_cast<TransferArgs *>(slot->args); }

uint32_t CachedOrDefault(const KavrelDevice *device) {
  return device->ftp_port ? device->ftp_port : kDefaultFtpPort;
}

// ---- The local file ------------------------------------------------------------------------

// Writes `count` bytes as the new local file: a temporary file beside it, flushed, then put
// in its place in one step. A failure leaves the previous file as it was.
uint32_t StoreWhole(KavrelDevice *device, const char *data, size_t count) {
  std::string path = device->config_path;
  std::string temp = OsTempFileBeside(path);
  if (temp.empty()) {
    KV_FAIL("open file error: %s\n", path.c_str());
    return KAVREL_E_FILE;
  }
  FILE *file = fopen(temp.c_str(), "wb");
  if (!file) {
    OsRemoveFile(temp);
    KV_FAIL("open file error: %s\n", temp.c_str());
    return KAVREL_E_FILE;
  }
  size_t written = fwrite(data, 1, count, file);
  bool flushed = fflush(file) == 0 && OsFlushFile(file) == 0;
  bool closed = fclose(file) == 0;
  if (written != count || !flushed || !closed) {
    OsRemoveFile(temp);
    KV_FAIL("write file error: %d, %d\n", static_cast<int>(written), static_cast<int>(count));
    return KAVREL_E_FILE;
  }
  if (OsReplaceFile(temp, path) != 0) {
    OsRemoveFile(temp);
    KV_FAIL("open file error: %s\n", path.c_str());
    return KAVREL_E_FILE;
  }
  return KAVREL_OK;
}

bool LocalFileExists(const KavrelDevice *device) {
  FILE *file = fopen(device->config_path, "r");
  if (!file) {
    KV_FAIL("open file error: %s\n", device->config_path);
    return false;
  }
  fclose(file);
  return true;
}

// The model name that chooses the FTP port's key: the one the device was opened with, else
// its server type, else the version its own configuration reports.
std::string ModelForPortKey(KavrelDevice *device) {
  if (device->device_model[0]) return device->device_model;
  if (device->server_type[0]) return device->server_type;
  char value[CONFIG_VALUE_MAX];
  if (ConfigStore_GetDeviceValue(device, value, "SYSTEM", "software version", -1) == 0 ||
      ConfigStore_GetDeviceValue(device, value, "SYSTEM", "firmwareversion", -1) == 0) {
    return value;
  }
  return "";
}

// Learns the FTP port from the loaded file. A key that is missing or holds no port (outside
// 1-65535) leaves the cached port as it was: a cached 0 would send the next upload to 21
// whatever the device said before.
void LearnFtpPort(KavrelDevice *device) {
  std::string model = ModelForPortKey(device);
  const char *key = model.size() >= 3 && model[2] == '2' ? "local ftp port" : "ftp port";
  char value[CONFIG_VALUE_MAX];
  if (ConfigStore_GetDeviceValue(device, value, "NETWORK", key, -1) != 0 &&
      ConfigStore_GetDeviceValue(device, value, "network", "localftpport", -1) != 0) {
    return;
  }
  uint32_t port = 0;
  if (ConfigScrape_ParsePort(value, strlen(value), &port)) device->ftp_port = port;
}

// Refreshes the model's record from the catalogue. The lookup cuts the name it is given, so
// it gets a copy.
void RefreshModel(KavrelDevice *device) {
  if (!device->device_model[0]) return;
  char name[KAVREL_STRING];
  Device_CopyString(name, sizeof(name), device->device_model);
  ModelCatalog_Lookup(name, &device->param);
}

// The fetched file is in place: line ends, model record, FTP port.
Step Loaded(OperationSlot *slot) {
  KavrelDevice *device = slot->device;
  if (!LocalFileExists(device)) return End(KAVREL_E_FILE, kHostDownloadFailed);
  uint32_t rc = ConfigStore_Normalize(device->config_path);
  if (rc != KAVREL_OK) return End(rc, kHostDownloadFailed);
  RefreshModel(device);
  LearnFtpPort(device);
  return End(KAVREL_OK, HOST_OK);
}

// ---- Decisions ----------------------------------------------------------------------------

Step FtpFirstPass(OperationSlot *slot) { return Login(CachedOrDefault(slot->device), false); }

Step UnknownServer() {
  KV_FAIL("unknown server\n");
  return End(KAVREL_E_UNKNOWN_DEVICE, HOST_FAILED);
}

// A page the device does not serve (404, or nothing in it).
Step PageAbsent(OperationSlot *slot, int page) {
  switch (page) {
    case PAGE_CGI:
      return Get(PAGE_PARAFILE);
    case PAGE_PARAFILE:
      return FtpFirstPass(slot);
    case PAGE_NETWORK:
      return Get(PAGE_MAILFTP);
    default:
      return UnknownServer();
  }
}

Step FromTextArea(OperationSlot *slot) {
  const char *path = kPages[PAGE_PARAFILE].path;
  size_t offset = 0, count = 0;
  switch (ConfigScrape_TextArea(slot->reply_buffer, slot->reply_count, &offset, &count)) {
    case CONFIG_AREA_NO_TEXTAREA:
      KV_FAIL("text area not found: %s\n", path);
      return FtpFirstPass(slot);
    case CONFIG_AREA_NO_READONLY:
      KV_FAIL("right curl not found: %s\n", path);
      return FtpFirstPass(slot);
    case CONFIG_AREA_NO_END:
      KV_FAIL("slash not found: %s\n", path);
      return FtpFirstPass(slot);
    case CONFIG_AREA_FOUND:
      break;
  }
  if (count == 0) return FtpFirstPass(slot);
  uint32_t rc = StoreWhole(slot->device, slot->reply_buffer + offset, count);
  return rc == KAVREL_OK ? Loaded(slot) : End(rc, kHostDownloadFailed);
}

Step FromPortPage(OperationSlot *slot, int page) {
  uint32_t port = 0;
  if (ConfigScrape_Port(slot->reply_buffer, slot->reply_count, &port)) return Login(port, true);
  return page == PAGE_NETWORK ? Get(PAGE_MAILFTP) : UnknownServer();
}

// A page's GET has ended: `status` 0 for a complete body, 0x60301 for a body that filled the
// buffer, else the failure (`in_body`: while reading the body).
Step AfterPage(OperationSlot *slot, int page, uint32_t status, bool in_body) {
  const char *path = kPages[page].path;
  bool full = status == KAVREL_S_BUFFER_FULL;
  if (status == KAVREL_T_E_NOT_FOUND || (status == KAVREL_OK && slot->reply_count == 0)) {
    return PageAbsent(slot, page);
  }
  if (full && (page == PAGE_CGI || page == PAGE_PARAFILE)) {
    KV_FAIL("configuration cut at %u bytes: %s\n", slot->reply_count, path);
    return End(KAVREL_E_CONFIG_CUT, kHostDownloadFailed);
  }
  if (status != KAVREL_OK && !full) {
    KV_FAIL("ReadHtmlByGet (%s) error: %X\n", KV_MASKED(path), status);
    return End(status, in_body ? HOST_READ_FAILED : HostOf(status));
  }
  switch (page) {
    case PAGE_CGI: {
      uint32_t rc = StoreWhole(slot->device, slot->reply_buffer, slot->reply_count);
      return rc == KAVREL_OK ? Loaded(slot) : End(rc, kHostDownloadFailed);
    }
    case PAGE_PARAFILE:
      return FromTextArea(slot);
    default:
      return FromPortPage(slot, page);
  }
}

// A refused or timed-out login ends any transfer, with the codes of the configuration's own.
bool LoginEndsTransfer(uint32_t status, Step *end) {
  if (status == KAVREL_T_E_LOGIN) {
    KV_LOG(KAVREL_LOG_FTP, "ConnectToServerByFtp auth error\n");
    *end = End(KAVREL_E_FTP_AUTH, HOST_REFUSED);
    return true;
  }
  if (status == KAVREL_T_TIMEOUT) {
    KV_LOG(KAVREL_LOG_FTP, "ConnectToServerByFtp timeout\n");
    *end = End(KAVREL_E_TIMEOUT, HOST_FAILED);
    return true;
  }
  return false;
}

// A refused or timed-out login ends a transfer; other failures of the first login without a
// cached port learn the port from the device's pages.
Step AfterFetchLogin(OperationSlot *slot, uint32_t status) {
  KavrelDevice *device = slot->device;
  TransferArgs *args = ArgsOf(slot);
  if (status == KAVREL_OK) {
    if (args->scraped || device->ftp_port == 0) device->ftp_port = args->login_port;
    return Transfer(ACT_RETR);
  }
  if (status == KAVREL_T_WITHDRAWN) return End(status, HOST_ABORTED);
  Step end;
  if (LoginEndsTransfer(status, &end)) return end;
  if (!args->scraped && device->ftp_port == 0) return Get(PAGE_NETWORK);
  KV_LOG(KAVREL_LOG_FTP, "ConnectToServerByFtp (%d) error: %X\n",
         static_cast<int>(args->login_port), status);
  return End(status, HOST_FAILED);
}

Step AfterRetr(OperationSlot *slot, uint32_t status) {
  if (status == KAVREL_OK || status == KAVREL_T_CLOSED || status == KAVREL_T_FINAL_REPLY) {
    return Loaded(slot);
  }
  KV_LOG(KAVREL_LOG_LOWER, "NetClient_FTP_GetFile (%s) error: %X\n", kRemoteName, status);
  return End(status, kHostDownloadFailed);
}

Step AfterUploadLogin(OperationSlot *slot, uint32_t status) {
  if (status == KAVREL_OK) return Transfer(ACT_STOR);
  Step end;
  if (LoginEndsTransfer(status, &end)) return end;
  KV_LOG(KAVREL_LOG_FTP, "ConnectToServerByFtp (%d) error: %X\n",
         static_cast<int>(ArgsOf(slot)->login_port), status);
  return End(status, HostOf(status));
}

// The end of the STOR: the transfer's own good ends report success, anything else (a
// refused STOR included) a failure.
Step AfterStor(uint32_t status) {
  if (status == KAVREL_OK || status == KAVREL_T_CLOSED || status == KAVREL_T_FINAL_REPLY) {
    return End(KAVREL_OK, HOST_OK);
  }
  KV_LOG(KAVREL_LOG_LOWER, "FtpSock_Transfer (%s) error: %X\n", kRemoteName, status);
  return End(status, HostOf(status));
}

Step AfterLogin(OperationSlot *slot, uint32_t status) {
  return slot->kind == KIND_CONFIG_REMOTE ? AfterUploadLogin(slot, status)
                                          : AfterFetchLogin(slot, status);
}

// What follows a step that ended (or could not start) with `status`.
Step After(OperationSlot *slot, const Step &step, uint32_t status, bool started) {
  switch (step.action) {
    case ACT_GET:
      return AfterPage(slot, step.page, status, false);
    case ACT_LOGIN:
      return AfterLogin(slot, status);
    case ACT_RETR:
      return started ? AfterRetr(slot, status) : End(status, kHostDownloadStart);
    case ACT_STOR:
      return started ? AfterStor(status) : End(status, kHostUploadStart);
    default:
      return step;
  }
}

// ---- Transport steps --------------------------------------------------------------------------

void FillTransfer(OperationSlot *slot, uint32_t kind, FtpSockTransfer *transfer) {
  memset(transfer, 0, sizeof(*transfer));
  transfer->passive = 1;
  Device_CopyString(transfer->path, sizeof(transfer->path), slot->device->config_path);
  Device_CopyString(transfer->remote, sizeof(transfer->remote), kRemoteName);
  transfer->kind = kind;
}

void ReleaseHttp(OperationSlot *slot) {
  KavrelDevice *device = slot->device;
  OsLockEnter(device->lock);
  if (slot->http) COMMON_TI_Release(&slot->http);
  OsLockLeave(device->lock);
}

// Starts (asynchronous slot) or runs to its end (synchronous slot) one transport step; the
// start result, or for a synchronous slot the step's outcome.
uint32_t RunStep(OperationSlot *slot, const Step &step) {
  KavrelDevice *device = slot->device;
  switch (step.action) {
    case ACT_GET:
      ReleaseHttp(slot);
      slot->reply_count = 0;
      slot->sub_state = kPages[step.page].state;
      return HttpCommandToServer(device, kPages[step.page].path, slot->async, 1, 0, slot);
    case ACT_LOGIN: {
      TransferArgs *args = ArgsOf(slot);
      args->login_port = step.port;
      args->scraped = step.scraped;
      slot->sub_state = slot->kind == KIND_CONFIG_REMOTE ? kStateUploadLogin
                        : step.scraped                   ? kStateLoginScraped
                                                         : kStateLogin;
      FtpSockServer server;
      FtpSock_ServerOfDevice(device, step.port, &server);
      return FtpSock_SlotLogin(slot, &server);
    }
    case ACT_RETR:
    case ACT_STOR: {
      FtpSockTransfer transfer;
      FillTransfer(slot, step.action == ACT_RETR ? FTPSOCK_RETR : FTPSOCK_STOR, &transfer);
      slot->sub_state = step.action == ACT_RETR ? kStateRetr : kStateStor;
      return FtpSock_SlotTransfer(slot, &transfer);
    }
    default:
      return KAVREL_E_INVALIDARG;
  }
}

uint32_t RunSync(OperationSlot *slot, Step step) {
  while (step.action != ACT_END) {
    uint32_t status = RunStep(slot, step);
    step = After(slot, step, status, true);
  }
  return step.code;
}

// Starts steps until one is in flight (its completion comes back as a node) or the
// operation ends (the host is told).
void RunAsync(OperationSlot *slot, Step step) {
  while (step.action != ACT_END) {
    uint32_t rc = RunStep(slot, step);
    if (rc == KAVREL_OK) return;
    step = After(slot, step, rc, false);
  }
  Completion_Finish(slot, step.host, 0);
}

Step FirstStep(OperationSlot *slot) {
  KavrelDevice *device = slot->device;
  if (slot->kind != KIND_CONFIG_REMOTE) return Get(PAGE_CGI);
  if (!LocalFileExists(device)) return End(KAVREL_E_FILE, HOST_FAILED);
  uint32_t rc = ConfigStore_ToCrLf(device->config_path);
  if (rc != KAVREL_OK) return End(rc, HOST_FAILED);
  return Login(CachedOrDefault(device), false);
}

int PageOfState(uint32_t state) {
  for (int page = PAGE_CGI; page <= PAGE_MAILFTP; ++page) {
    if (state == kPages[page].state || state == kPages[page].state + 1) return page;
  }
  return -1;
}

// A completion of a page's GET or of one piece of its body.
Step OnPageNode(OperationSlot *slot, int page, uint32_t status) {
  bool in_body = slot->sub_state == kPages[page].state + 1;
  if (status == KAVREL_T_CLOSED) return AfterPage(slot, page, KAVREL_OK, in_body);
  if (status != KAVREL_OK) return AfterPage(slot, page, status, in_body);
  slot->sub_state = kPages[page].state + 1;
  uint32_t rc = Operation_StartRead(slot);
  if (rc == KAVREL_OK) return Transfer(ACT_WAIT);
  return AfterPage(slot, page, rc, true);
}

}  // namespace

uint32_t ConfigTransfer_Run(OperationSlot *slot) {
  KavrelDevice *device = slot->device;
  uint32_t rc = Device_EnsureDirectory(device);
  TransferArgs *args = nullptr;
  if (rc == KAVREL_OK) {
    args = static_cast<TransferArgs *>(calloc(1, sizeof(TransferArgs)));
    if (!args) rc = KAVREL_E_NOMEM;
  }
  if (rc != KAVREL_OK) {
    ReleaseOperationSlot(slot);
    return rc;
  }
  slot->args = args;
  Step first = FirstStep(slot);
  if (!slot->async || first.action == ACT_END) {
    rc = RunSync(slot, first);
    ReleaseOperationSlot(slot);
    return rc;
  }
  rc = RunStep(slot, first);
  if (rc != KAVREL_OK) ReleaseOperationSlot(slot);
  return rc;
}

void ConfigTransfer_HandleNode(OperationSlot *slot, uint32_t status) {
  int page = PageOfState(slot->sub_state);
  Step next;
  if (page >= 0) {
    next = OnPageNode(slot, page, status);
    if (next.action == ACT_WAIT) return;
  } else if (slot->sub_state == kStateRetr) {
    next = AfterRetr(slot, status);
  } else if (slot->sub_state == kStateStor) {
    next = AfterStor(status);
  } else {
    next = AfterLogin(slot, status);
  }
  RunAsync(slot, next);
}

extern "C" {

static uint32_t BeginTransfer(DeviceHandle device, int32_t async, uint32_t kind) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (rc != KAVREL_OK) return rc;
  OperationSlot *slot = nullptr;
  rc = Operation_Take(device, 1, &slot);
  if (rc != KAVREL_OK) return rc;
  slot->kind = kind;
  slot->async = (async && device->callback) ? 1 : 0;
  return ConfigTransfer_Run(slot);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UpdateLocalConfig(DeviceHandle device, int32_t async) {
  return BeginTransfer(device, async, KIND_CONFIG_LOCAL);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_UpdateRemoteConfig(DeviceHandle device, int32_t async) {
  return BeginTransfer(device, async, KIND_CONFIG_REMOTE);
}

KAVREL_EXTERN uint32_t KAVREL_CALL Kavrel_ReadLocalConfig(DeviceHandle device, char *buffer,
                                                          uint32_t *size) {
  uint32_t rc = Device_Check(device, KAVREL_LEVEL_CONFIG);
  if (rc != KAVREL_OK) return rc;
  if (!size || (!buffer && *size)) {
    KV_FAIL("Invalid Arg\n");
    return KAVREL_E_INVALIDARG;
  }
  rc = Device_EnsureDirectory(device);
  if (rc != KAVREL_OK) return rc;
  FILE *file = fopen(device->config_path, "rb");
  if (!file) {
    KV_FAIL("open file error: %s\n", device->config_path);
    return KAVREL_E_FILE;
  }
  std::string text;
  char piece[4096];
  size_t n;
  while ((n = fread(piece, 1, sizeof(piece), file)) > 0) text.append(piece, n);
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed || text.size() >= UINT32_MAX) return KAVREL_E_FILE;
  uint32_t room = *size;
  *size = static_cast<uint32_t>(text.size());
  if (room <= text.size()) return KAVREL_E_INVALIDARG;
  memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return KAVREL_OK;
}

}  // extern "C"
