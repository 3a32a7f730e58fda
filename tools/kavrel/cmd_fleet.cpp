// kavrel fleet: one subcommand over every device of an inventory, through one library context
// with one record per device. The inventory is read and checked whole before anything is sent.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "fleet_inventory.h"
#include "host_os.h"

namespace {

// ---- Per-device records and the one context --------------------------------------------------

using FleetClock = std::chrono::steady_clock;

enum class FleetState { kPending, kRunning, kDone, kFailed };

struct FleetDevice {
  FleetEntry entry;
  DeviceHandle handle = nullptr;
  FleetState state = FleetState::kPending;
  uint32_t code = 0;
  std::string code_name;  // the result code's name, or the callback status's meaning
  std::string detail;  // what succeeded, e.g. the input levels or the file written
  uint32_t sent = 0, total = 0;  // an upgrade's upload, from its progress callback
  CallResult result;  // what the device's call left for its callback
  FleetClock::time_point start, end;
};

// Shared between the command's thread and the library's callbacks: callbacks only record and
// signal; every line is printed by the command's thread.
struct FleetBoard {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<FleetDevice> devices;
  const DeviceCall *call = nullptr;  // the command every device runs, when it is a device call
  size_t finished = 0;
  size_t failures = 0;
  bool aborted = false;

  // A result code of a synchronous call.
  void Finish(FleetDevice &d, uint32_t code, const std::string &detail) {
    const char *name = code ? KavrelResult_Name(code) : "";
    Record(d, code, name ? name : "UNKNOWN", detail);
  }

  void Record(FleetDevice &d, uint32_t code, const std::string &name, const std::string &detail) {
    std::lock_guard<std::mutex> hold(mutex);
    if (d.state == FleetState::kPending) d.start = FleetClock::now();
    d.code = code;
    d.code_name = name;
    d.detail = detail;
    d.state = code ? FleetState::kFailed : FleetState::kDone;
    d.end = FleetClock::now();
    ++finished;
    if (code) ++failures;
    cv.notify_all();
  }
};

struct FleetCallbackContext {
  FleetBoard *board;
  size_t index;
};

// The callback's statuses are classes, not result codes.
const char *FleetCallbackStatusName(uint32_t status) {
  switch (status) {
    case 0: return "";
    case 200: return "failed";
    case 201: return "credentials refused";
    case 202: return "reply unreadable";
    case 203:
    case 204: return "transfer not started";
    case 205: return "configuration download failed";
    case 206: return "aborted";
  }
  return "unknown status";
}

// Runs on a library thread: records the outcome and what the value reads as; prints nothing.
void KAVREL_CALL FleetOnComplete(DeviceHandle, void *context, uint32_t, uint32_t status,
                                 uintptr_t value) {
  auto *c = static_cast<FleetCallbackContext *>(context);
  FleetDevice &d = c->board->devices[c->index];
  const DeviceCall *call = c->board->call;
  if (!call || !call->Succeeded(status)) {
    return c->board->Record(d, status, FleetCallbackStatusName(status), "");
  }
  c->board->Record(d, 0, "", d.result.on_value ? d.result.on_value(value) : call->done);
}

class FleetContext {
 public:
  ~FleetContext() {
    // Release deletes every record; deleting one by one first would only add waits.
    if (handle_) Kavrel_Release(&handle_);
  }
  // One record per device of `board`; a device whose record fails is reported, the others go
  // on. `full`: the job describes each device itself, fetching its configuration.
  uint32_t Open(FleetBoard &board, bool full) {
    uint32_t rc = Kavrel_InitialEx(&handle_, static_cast<uint32_t>(board.devices.size()), 0,
                                   KAVREL_VERSION_NUMBER);
    if (rc) return rc;
    contexts_.resize(board.devices.size());
    for (size_t i = 0; i < board.devices.size(); ++i) {
      contexts_[i] = {&board, i};
      rc = Describe(board.devices[i], &contexts_[i], full);
      if (rc) board.Finish(board.devices[i], rc, "");
    }
    return 0;
  }

  // The device's property block; its strings live in `d`.
  static KavrelDeviceProperty FleetProperty(const FleetDevice &d, FleetCallbackContext *context) {
    KavrelDeviceProperty p{};
    p.address = d.entry.device.host.c_str();
    p.user = d.entry.device.user.c_str();
    p.password = d.entry.device.password.c_str();
    p.server_type = d.entry.device.type.c_str();
    p.http_port = d.entry.device.http_port;
    p.ftp_port = d.entry.device.ftp_port;
    p.timeout_ms = d.entry.device.timeout_ms;
    p.callback = FleetOnComplete;
    p.callback_context = context;
    return p;
  }
  FleetCallbackContext *context(size_t i) { return &contexts_[i]; }

 private:
  // The light description sends nothing; the full one (synchronous) is done per device later.
  uint32_t Describe(FleetDevice &d, FleetCallbackContext *context, bool full) {
    uint32_t rc = Kavrel_CreateDevice(handle_, &d.handle);
    if (rc) return rc;
    if (full) return 0;
    KavrelDeviceProperty p = FleetProperty(d, context);
    return Kavrel_SetDevicePropertyLite(d.handle, &p);
  }

  KavrelHandle handle_ = nullptr;
  std::vector<FleetCallbackContext> contexts_;
};

// ---- Output --------------------------------------------------------------------------------

double FleetSeconds(FleetClock::time_point from, FleetClock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Called with the board locked, on the command's thread.
void FleetProgress(FleetBoard &board, FleetClock::time_point started, bool draw) {
  if (!draw) return;
  std::string uploads;
  for (const FleetDevice &d : board.devices) {
    if (d.state != FleetState::kRunning || !d.total) continue;
    uploads += " " + d.entry.name + " " + std::to_string(d.sent * 100ull / d.total) + "%";
  }
  fprintf(stderr, "\r%zu/%zu done, %zu failed, %.1f s%s\033[K", board.finished,
          board.devices.size(), board.failures, FleetSeconds(started, FleetClock::now()),
          uploads.c_str());
  fflush(stderr);
}

const char *FleetStateName(FleetState s) {
  switch (s) {
    case FleetState::kPending: return "not started";
    case FleetState::kRunning: return "unfinished";
    case FleetState::kDone: return "ok";
    case FleetState::kFailed: return "failed";
  }
  return "?";
}

// A detail in one table row: a reply's line ends and other control characters as spaces.
std::string FleetOneLine(std::string text) {
  for (char &c : text) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return text;
}

void FleetReport(const FleetBoard &board, bool json, double elapsed) {
  size_t ok = 0;
  for (const FleetDevice &d : board.devices) {
    bool success = d.state == FleetState::kDone;
    ok += success ? 1 : 0;
    double t = d.state == FleetState::kDone || d.state == FleetState::kFailed ? FleetSeconds(d.start, d.end) : 0;
    if (json) {
      printf("{\"device\":%s,\"ok\":%s,\"state\":\"%s\",\"code\":\"0x%08X\",\"name\":%s,"
             "\"seconds\":%.3f,\"detail\":%s}\n",
             Output::Quote(d.entry.name).c_str(), success ? "true" : "false",
             FleetStateName(d.state), d.code, Output::Quote(d.code_name).c_str(), t,
             Output::Quote(d.detail).c_str());
    } else {
      printf("%-20s %-11s 0x%08X %-28s %7.3f s  %s\n", d.entry.name.c_str(),
             FleetStateName(d.state), d.code, d.code_name.c_str(), t, FleetOneLine(d.detail).c_str());
    }
  }
  size_t failed = board.devices.size() - ok;
  if (json) {
    printf("{\"summary\":true,\"devices\":%zu,\"ok\":%zu,\"failed\":%zu,\"seconds\":%.3f}\n",
           board.devices.size(), ok, failed, elapsed);
  } else {
    printf("%zu devices: %zu ok, %zu failed, %.2f s\n", board.devices.size(), ok, failed, elapsed);
  }
}

// ---- Running -------------------------------------------------------------------------------

// Ctrl-C only raises the flag; the command's thread withdraws what runs.
volatile sig_atomic_t g_fleet_interrupted = 0;
void FleetOnInterrupt(int) { g_fleet_interrupted = 1; }

// Called with the board locked (`hold`): withdraws every running operation once, after
// Ctrl-C. The lock is let go around the calls: an abort may wait for a callback that needs it.
void FleetAbortRunning(FleetBoard &board, std::unique_lock<std::mutex> &hold) {
  if (board.aborted || !g_fleet_interrupted) return;
  board.aborted = true;
  std::vector<DeviceHandle> running;
  for (FleetDevice &d : board.devices) {
    if (d.state == FleetState::kRunning && d.handle) running.push_back(d.handle);
  }
  hold.unlock();
  for (DeviceHandle device : running) {
    Kavrel_AbortUpgrade(device);
    Kavrel_AbortNetworkOper(device);
  }
  hold.lock();
}

// Claims a pending device for running; false when it is not pending or Ctrl-C came.
bool FleetClaim(FleetBoard &board, FleetDevice &d) {
  std::lock_guard<std::mutex> hold(board.mutex);
  if (d.state != FleetState::kPending || board.aborted || g_fleet_interrupted) return false;
  d.state = FleetState::kRunning;
  d.start = FleetClock::now();
  return true;
}

// Short commands have every device in flight at once, as far as descriptors allow: each
// request holds one socket, and the process keeps this many for its own (standard streams,
// the library's threads and files, a long operation's transfers).
constexpr size_t kFleetOwnDescriptors = 64;

size_t FleetInFlightBound() {
  size_t limit = HostOs_DescriptorLimit();
  return limit > kFleetOwnDescriptors + 1 ? limit - kFleetOwnDescriptors : 1;
}

void FleetWaitBelow(FleetBoard &board, size_t started, size_t limit, bool draw,
                    FleetClock::time_point t0) {
  std::unique_lock<std::mutex> hold(board.mutex);
  while (started - board.finished >= limit) {
    board.cv.wait_for(hold, std::chrono::milliseconds(100));
    FleetAbortRunning(board, hold);
    FleetProgress(board, t0, draw);
  }
}

// Starts the short call on every device, asynchronously: each device's callback ends it.
void FleetRunShort(FleetBoard &board, bool draw, FleetClock::time_point t0) {
  size_t bound = FleetInFlightBound();
  size_t started = 0;
  for (FleetDevice &d : board.devices) {
    if (!FleetClaim(board, d)) continue;
    uint32_t rc = board.call->run(d.handle, 1, &d.result);
    if (!board.call->Succeeded(rc)) board.Finish(d, rc, d.result.detail);
    ++started;
    FleetWaitBelow(board, started, bound, draw, t0);
  }
  FleetWaitBelow(board, started, 1, draw, t0);
}

// Writes beside the target, then renames: a failed fetch or write leaves the old file whole.
bool FleetWriteAtomic(const std::filesystem::path &target, const std::string &text) {
  std::filesystem::path temp = target;
  temp += ".part";
  FILE *f = fopen(temp.string().c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  if (fclose(f) != 0) ok = false;
  std::error_code ec;
  if (ok) std::filesystem::rename(temp, target, ec);
  if (!ok || ec) std::filesystem::remove(temp, ec);
  return ok && !ec;
}

// Describes the device fully, fetching its configuration, on the calling thread.
uint32_t FleetDescribe(FleetContext &ctx, FleetBoard &board, size_t i) {
  KavrelDeviceProperty p = FleetContext::FleetProperty(board.devices[i], ctx.context(i));
  return Kavrel_SetDeviceProperty(board.devices[i].handle, &p, 0);
}

void FleetBackupOne(FleetContext &ctx, FleetBoard &board, size_t i, const std::string &dir) {
  FleetDevice &d = board.devices[i];
  uint32_t rc = FleetDescribe(ctx, board, i);
  if (rc) return board.Finish(d, rc, "");
  std::string text;
  rc = ConfigReadLocal(d.handle, &text);
  if (rc) return board.Finish(d, rc, "Kavrel_ReadLocalConfig");
  std::filesystem::path target = std::filesystem::path(dir) / (d.entry.name + ".ini");
  if (!FleetWriteAtomic(target, text)) return board.Finish(d, KAVREL_E_PLATFORM, "cannot write " + target.string());
  board.Finish(d, 0, target.string());
}

// Reads DIR/NAME.ini whole and checks it before anything is sent; then describes the device
// (fetching what it has now), writes every value of the file and stores it on the device.
void FleetRestoreOne(FleetContext &ctx, FleetBoard &board, size_t i, const std::string &dir) {
  FleetDevice &d = board.devices[i];
  std::filesystem::path source = std::filesystem::path(dir) / (d.entry.name + ".ini");
  std::ifstream in(source, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) return board.Finish(d, KAVREL_E_FILE, "cannot read " + source.string());
  std::vector<ConfigValue> values;
  std::string detail;
  if (!ConfigValues(text.str(), &values, &detail)) {
    return board.Finish(d, KAVREL_E_INVALIDARG, source.string() + ": " + detail);
  }
  uint32_t rc = FleetDescribe(ctx, board, i);
  if (rc) return board.Finish(d, rc, "");
  rc = ConfigRestore(d.handle, values, &detail);
  board.Finish(d, rc, rc ? detail : "restored from " + source.string());
}

// A call on a device described with its configuration, on the worker's thread.
void FleetConfiguredOne(FleetContext &ctx, FleetBoard &board, size_t i, const DeviceCall &call) {
  FleetDevice &d = board.devices[i];
  uint32_t rc = FleetDescribe(ctx, board, i);
  if (rc) return board.Finish(d, rc, "");
  rc = call.run(d.handle, 0, &d.result);
  if (!call.Succeeded(rc)) return board.Finish(d, rc, d.result.detail.empty() ? call.call : d.result.detail);
  board.Finish(d, 0, d.result.detail.empty() ? call.done : d.result.detail);
}

// Long operations: `parallel` threads, each taking the next device until none is left.
void FleetRunLong(FleetBoard &board, unsigned parallel, bool draw, FleetClock::time_point t0,
                  const std::function<void(size_t)> &one) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < board.devices.size(); i = next++) {
      if (FleetClaim(board, board.devices[i])) one(i);
    }
  };
  std::vector<std::thread> workers;
  for (unsigned w = 0; w < std::max(1u, parallel); ++w) workers.emplace_back(work);
  {
    std::unique_lock<std::mutex> hold(board.mutex);
    while (next.load() < board.devices.size() + workers.size() ||
           std::any_of(board.devices.begin(), board.devices.end(),
                       [](const FleetDevice &d) { return d.state == FleetState::kRunning; })) {
      board.cv.wait_for(hold, std::chrono::milliseconds(100));
      FleetAbortRunning(board, hold);
      FleetProgress(board, t0, draw);
    }
  }
  for (std::thread &t : workers) t.join();
}

struct FleetOptions {
  std::string inventory;
  std::vector<std::string> names;
  std::vector<std::string> types;
  unsigned parallel = 4;
  unsigned timeout_ms = 10000;
  std::string dir;
  std::string firmware;
  bool skip_wait = false;
  unsigned settle_ms = 5000;
};

// Runs on the upgrade's thread: only records the upload's progress for the progress line.
void KAVREL_CALL FleetOnUpgradeStep(DeviceHandle, void *context, uint32_t, uint32_t step,
                                    uintptr_t data) {
  if ((step != KAVREL_UPGRADE_SENDING && step != KAVREL_UPGRADE_FILE_ENDED) || !data) return;
  auto *c = static_cast<FleetCallbackContext *>(context);
  const auto *p = reinterpret_cast<const KavrelUpgradeProgress *>(data);
  std::lock_guard<std::mutex> hold(c->board->mutex);
  c->board->devices[c->index].sent = p->sent;
  c->board->devices[c->index].total = p->total_size;
}

uint32_t FleetUpgradeOptions(DeviceHandle device, const FleetOptions &o) {
  uint32_t rc = 0;
  if (o.skip_wait) rc = Kavrel_SetExtraOptions(device, KAVREL_OPTION_SKIP_WAIT, 1);
  if (!rc && o.settle_ms != 5000) rc = Kavrel_SetExtraOptions(device, KAVREL_OPTION_SETTLE_PAUSE, o.settle_ms);
  return rc;
}

void FleetUpgradeOne(FleetContext &ctx, FleetBoard &board, size_t i, const FleetOptions &o) {
  FleetDevice &d = board.devices[i];
  uint32_t rc = FleetDescribe(ctx, board, i);
  if (!rc) rc = FleetUpgradeOptions(d.handle, o);
  if (rc) return board.Finish(d, rc, "");
  UpgradeRequest request{};
  memcpy(request.path, o.firmware.data(), o.firmware.size());
  request.callback = FleetOnUpgradeStep;
  request.context = ctx.context(i);
  rc = Kavrel_Upgrade(d.handle, &request);
  board.Finish(d, rc, rc ? "" : "upgraded");
}

// Reads and checks the inventory; 0, or 2 after printing the error.
int FleetLoad(const FleetOptions &o, Output &out, FleetBoard &board) {
  if (o.inventory.empty()) return out.Usage("no inventory: give --inventory or set KAVREL_INVENTORY"), 2;
  FleetInventory inventory;
  std::string error;
  if (!inventory.Load(o.inventory, &error)) return out.Usage(error), 2;
  for (FleetEntry &e : inventory.Select(o.names, o.types)) {
    FleetDevice d;
    e.device.timeout_ms = o.timeout_ms;
    d.entry = e;
    board.devices.push_back(d);
  }
  if (board.devices.empty()) return out.Usage("no device of the inventory matches the filters"), 2;
  return 0;
}

// kCall: a device call (board.call), short or on a configured device.
enum class FleetJob { kCall, kBackup, kRestore, kUpgrade };

// The job describes each device with its configuration itself: a long operation.
bool FleetConfigured(FleetJob job, const FleetBoard &board) {
  return job != FleetJob::kCall || board.call->configured;
}

// What the job needs on the host before anything is sent; 0 or 2 after printing the error.
int FleetPrepare(const FleetOptions &o, Output &out, FleetJob job) {
  if (job == FleetJob::kBackup) {
    std::error_code ec;
    std::filesystem::create_directories(o.dir, ec);
    if (ec) return out.Usage("cannot create " + o.dir), 2;
  }
  if (job == FleetJob::kRestore && !std::filesystem::is_directory(o.dir)) {
    return out.Usage("no folder " + o.dir), 2;
  }
  if (job == FleetJob::kUpgrade && o.firmware.size() >= sizeof(UpgradeRequest{}.path)) {
    return out.Usage("firmware file path too long"), 2;
  }
  return 0;
}

void FleetRunJob(FleetContext &ctx, FleetBoard &board, const FleetOptions &o, FleetJob job,
                 bool draw, FleetClock::time_point t0) {
  auto long_job = [&](const std::function<void(size_t)> &one) {
    FleetRunLong(board, o.parallel, draw, t0, one);
  };
  switch (job) {
    case FleetJob::kCall:
      if (board.call->configured) {
        return long_job([&](size_t i) { FleetConfiguredOne(ctx, board, i, *board.call); });
      }
      return FleetRunShort(board, draw, t0);
    case FleetJob::kBackup:
      return long_job([&](size_t i) { FleetBackupOne(ctx, board, i, o.dir); });
    case FleetJob::kRestore:
      return long_job([&](size_t i) { FleetRestoreOne(ctx, board, i, o.dir); });
    case FleetJob::kUpgrade:
      return long_job([&](size_t i) { FleetUpgradeOne(ctx, board, i, o); });
  }
}

int FleetRun(const FleetOptions &o, const Settings &s, Output &out, FleetJob job,
             const DeviceCall *call = nullptr) {
  FleetBoard board;
  board.call = call;
  int rc = FleetLoad(o, out, board);
  if (!rc) rc = FleetPrepare(o, out, job);
  if (rc) return rc;
  bool draw = !s.json && HostOs_IsTerminal(stderr);
  FleetClock::time_point t0 = FleetClock::now();
  g_fleet_interrupted = 0;
  void (*previous)(int) = signal(SIGINT, FleetOnInterrupt);
  {
    FleetContext ctx;
    uint32_t code = ctx.Open(board, FleetConfigured(job, board));
    if (code) {
      signal(SIGINT, previous);
      return out.Failure("Kavrel_InitialEx", code), 1;
    }
    FleetRunJob(ctx, board, o, job, draw, t0);
    if (draw) fprintf(stderr, "\n");
    if (g_fleet_interrupted) fprintf(stderr, "kavrel: interrupted; every device's state follows\n");
    FleetReport(board, s.json, FleetSeconds(t0, FleetClock::now()));
    fflush(stdout);
  }
  signal(SIGINT, previous);
  return board.failures || g_fleet_interrupted ? 1 : 0;
}

}  // namespace

void AddFleetCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static FleetOptions o;
  auto *fleet = app.add_subcommand(
      "fleet", "run a subcommand on every device of an inventory file, side by side");
  fleet->footer(
      "The inventory is a CSV file with a header line naming its columns:\n"
      "  name,host,http_port,ftp_port,user,type[,password_env][,password_file]\n"
      "password_env names an environment variable holding the password; password_file a file\n"
      "whose first line is the password. Lines starting with '#' are ignored.\n"
      "Subcommands take the arguments they take for one device. di, do, http, ptz, move,\n"
      "preset, setparam and motion get have every device's request in flight at once, as many\n"
      "as the descriptor limit allows: the soft limit is raised to the hard one at start, and\n"
      "all but 64 descriptors (kept for the process itself) may hold a request (Windows: 960).\n"
      "open, config and firmware upgrade describe each device with its configuration first and\n"
      "run --parallel at a time. config backup (or pull) DIR writes DIR/NAME.ini; config\n"
      "restore DIR writes every value of DIR/NAME.ini into the device's configuration and\n"
      "stores it on the device (a missing or unreadable file fails that device alone).\n"
      "Exit status: 0 every device succeeded, 1 some failed or Ctrl-C, 2 usage or inventory error.");
  fleet->require_subcommand(1);
  fleet->add_option("--inventory", o.inventory, "the inventory CSV file")->envname("KAVREL_INVENTORY");
  fleet->add_option("--name", o.names, "only these devices (repeatable, or comma-separated)")
      ->delimiter(',');
  fleet->add_option("--type", o.types, "only devices of these types (repeatable, or comma-separated)")
      ->delimiter(',');
  fleet->add_option("--parallel", o.parallel, "long operations at once, default 4")
      ->check(CLI::Range(1u, 256u));
  fleet->add_option("--timeout", o.timeout_ms, "request time-out in ms, default 10000");

  auto *config = fleet->add_subcommand("config", "configuration of every device");
  config->require_subcommand(1);
  auto *backup = config->add_subcommand(
      "backup", "each device's configuration to DIR/NAME.ini");
  backup->alias("pull");
  backup->add_option("dir", o.dir, "the folder")->required();
  commands.push_back({backup, [&s, &out] { return FleetRun(o, s, out, FleetJob::kBackup); }});
  auto *restore = config->add_subcommand(
      "restore", "each device's DIR/NAME.ini written back value by value and stored on it");
  restore->add_option("dir", o.dir, "the folder")->required();
  commands.push_back({restore, [&s, &out] { return FleetRun(o, s, out, FleetJob::kRestore); }});

  // The commands of one device, defined once with their options in their families' files.
  CallCommands calls;
  DefineIoCalls(fleet, &calls);
  DefinePtzCalls(fleet, &calls);
  DefineParamCalls(fleet, &calls);
  auto *motion = fleet->add_subcommand("motion", "motion detection windows of every device");
  motion->require_subcommand(1);
  DefineMotionCalls(motion, &calls);
  DefineConfigCalls(fleet, config, &calls);
  for (const CallCommand &c : calls) {
    commands.push_back({c.app, [c, &s, &out] {
                          DeviceCall call;
                          int usage = c.make(out, &call);
                          return usage ? usage : FleetRun(o, s, out, FleetJob::kCall, &call);
                        }});
  }

  auto *firmware = fleet->add_subcommand("firmware", "firmware of every device");
  firmware->require_subcommand(1);
  auto *upgrade = firmware->add_subcommand(
      "upgrade", "replace every device's firmware with FILE, --parallel at a time");
  upgrade->add_option("file", o.firmware, "firmware file")->required();
  upgrade->add_flag("--skip-wait", o.skip_wait, "do not wait for the devices to return");
  upgrade->add_option("--settle-ms", o.settle_ms, "milliseconds of each settle pause (default 5000)");
  commands.push_back({upgrade, [&s, &out] { return FleetRun(o, s, out, FleetJob::kUpgrade); }});
}
