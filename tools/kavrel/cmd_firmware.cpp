// The firmware family: "firmware info FILE", the version block of a package or plain image;
// "firmware upgrade FILE" with a progress bar on a terminal, one JSON line per progress step
// with --json, and Ctrl-C turned into Kavrel_AbortUpgrade.
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "cli.h"
#include "host_os.h"

namespace {

// Header fields are bytes from a file: anything outside printable ASCII is escaped, so the
// JSON stays valid whatever the file holds.
std::string JsonString(const char *text) {
  std::string out = "\"";
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p < 0x20 || *p >= 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", *p);
      out += escaped;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

// The same bytes for a terminal: control characters shown as \xNN.
std::string Printable(const char *text) {
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (*p < 0x20 || *p == 0x7F) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", *p);
      out += escaped;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out;
}

struct Field {
  const char *label;
  const char *json;
  const char *value;
};

int RunFirmwareInfo(const Settings &s, Output &out, const std::string &file) {
  KavrelFirmVersionInfo info;
  uint32_t rc = Kavrel_GetFirmVersionInfo(file.c_str(), &info);
  if (rc) return out.Failure("Kavrel_GetFirmVersionInfo", rc), 1;
  const Field fields[] = {
      {"version", "version", info.FirmwareVersion}, {"tag 2", "tag2", info.Tag2},
      {"tag 10", "tag10", info.Tag10},              {"tag 3", "tag3", info.Tag3},
      {"tag 4", "tag4", info.Tag4},                 {"tag 5", "tag5", info.Tag5},
      {"tag 9", "tag9", info.Tag9},                 {"language", "language", info.Language},
  };
  if (s.json) {
    printf("{\"ok\":true");
    for (const Field &f : fields) printf(",\"%s\":%s", f.json, JsonString(f.value).c_str());
    printf(",\"plain_image\":%s,\"package_type\":%u}\n", info.PlainImage ? "true" : "false",
           info.PackageType);
    return 0;
  }
  printf("kind: %s\n", info.PlainImage ? "plain image" : "package");
  if (!info.PlainImage) printf("package type: %u\n", info.PackageType);
  for (const Field &f : fields) {
    if (f.value[0] || f.json == fields[0].json) printf("%s: %s\n", f.label, Printable(f.value).c_str());
  }
  return 0;
}

struct UpgradeOptions {
  std::string file;
  bool skip_wait = false;
  unsigned wait_s = 60;
  bool flash_all = false;
  bool no_network_reset = false;
  unsigned settle_ms = 5000;
};

UpgradeOptions g_upgrade;

// Set by the SIGINT handler; a watcher thread turns it into Kavrel_AbortUpgrade, which is
// not something to call from a signal handler.
std::atomic<int> g_interrupted{0};

extern "C" void OnInterrupt(int) { g_interrupted.store(1); }

const char *StageOf(uint32_t step, const char *current) {
  switch (step) {
    case KAVREL_UPGRADE_PREPARED:
    case KAVREL_UPGRADE_CONNECTED:
      return "preparing";
    case KAVREL_UPGRADE_REMOVED:
      return "removing";
    case KAVREL_UPGRADE_DIR_CREATED:
    case KAVREL_UPGRADE_DIR_ENTERED:
    case KAVREL_UPGRADE_SENDING:
    case KAVREL_UPGRADE_FILE_SENT:
    case KAVREL_UPGRADE_FILE_ENDED:
      return "uploading";
    case KAVREL_UPGRADE_RESET:
      return "resetting";
    case KAVREL_UPGRADE_PROBING:
    case KAVREL_UPGRADE_GONE:
      return "waiting for the device";
    case KAVREL_UPGRADE_RETURNED:
    case KAVREL_UPGRADE_HOST_REMOVED:
      return "restoring";
    default:
      return current;
  }
}

bool CarriesProgress(uint32_t step) {
  return step == KAVREL_UPGRADE_SENDING || step == KAVREL_UPGRADE_FILE_ENDED;
}

bool CarriesName(uint32_t step) {
  return step == KAVREL_UPGRADE_REMOVED || step == KAVREL_UPGRADE_DIR_CREATED ||
         step == KAVREL_UPGRADE_DIR_ENTERED || step == KAVREL_UPGRADE_FILE_SENT ||
         step == KAVREL_UPGRADE_HOST_REMOVED;
}

// What the progress callback keeps between steps; it runs on the upgrading thread only.
struct Progress {
  bool json = false;
  bool bar = false;  // stderr is a terminal
  const char *stage = "preparing";
  bool sending = false;  // the first upload report came
  std::chrono::steady_clock::time_point start;
  double rate = 0;  // KiB/s of the upload, kept once it ends
  KavrelUpgradeProgress last{};
};

void PrintJsonStep(const Progress &p, uint32_t step, uintptr_t data) {
  printf("{\"event\":\"progress\",\"step\":%u,\"stage\":%s", step, JsonString(p.stage).c_str());
  if (CarriesProgress(step) && data) {
    const auto *r = reinterpret_cast<const KavrelUpgradeProgress *>(data);
    printf(",\"total\":%u,\"sent\":%u,\"file\":%s,\"file_size\":%u,\"file_sent\":%u",
           r->total_size, r->sent, JsonString(r->file_name).c_str(), r->file_size, r->file_sent);
  } else if (CarriesName(step) && data) {
    printf(",\"name\":%s", JsonString(reinterpret_cast<const char *>(data)).c_str());
  }
  printf("}\n");
  fflush(stdout);
}

void PrintBar(const Progress &p) {
  unsigned percent = p.last.total_size ? static_cast<unsigned>(100.0 * p.last.sent /
                                                               p.last.total_size)
                                       : 0;
  char bar[21];
  unsigned filled = percent / 5 > 20 ? 20 : percent / 5;
  for (unsigned i = 0; i < 20; ++i) bar[i] = i < filled ? '#' : '.';
  bar[20] = '\0';
  fprintf(stderr, "\r\033[K[%s] %3u%% %-24.24s %u/%u bytes %7.1f KiB/s  %s", bar, percent,
          p.last.file_name, p.last.sent, p.last.total_size, p.rate, p.stage);
  fflush(stderr);
}

void KAVREL_CALL OnProgress(DeviceHandle, void *context, uint32_t, uint32_t step,
                            uintptr_t data) {
  Progress *p = static_cast<Progress *>(context);
  p->stage = StageOf(step, p->stage);
  if (CarriesProgress(step) && data) {
    p->last = *reinterpret_cast<const KavrelUpgradeProgress *>(data);
    auto now = std::chrono::steady_clock::now();
    if (!p->sending) p->start = now;
    p->sending = true;
    double seconds = std::chrono::duration<double>(now - p->start).count();
    if (seconds > 0) p->rate = p->last.sent / seconds / 1024.0;
  }
  if (p->json) {
    PrintJsonStep(*p, step, data);
  } else if (p->bar) {
    PrintBar(*p);
  }
}

uint32_t ApplyUpgradeOptions(DeviceHandle device, Output &out) {
  struct {
    uint32_t option;
    uintptr_t value;
    bool wanted;
    const char *what;
  } options[] = {
      {KAVREL_OPTION_RETURN_WAIT, g_upgrade.wait_s, true, "--wait"},
      {KAVREL_OPTION_SKIP_WAIT, 1, g_upgrade.skip_wait, "--skip-wait"},
      {KAVREL_OPTION_FLASH_ALL, 1, g_upgrade.flash_all, "--flash-all"},
      {KAVREL_OPTION_RESET_AFTER_UPGRADE, 0, g_upgrade.no_network_reset, "--no-network-reset"},
      {KAVREL_OPTION_SETTLE_PAUSE, g_upgrade.settle_ms, g_upgrade.settle_ms != 5000, "--settle-ms"},
  };
  for (const auto &o : options) {
    if (!o.wanted) continue;
    uint32_t rc = Kavrel_SetExtraOptions(device, o.option, o.value);
    if (rc) return out.Failure(std::string("Kavrel_SetExtraOptions ") + o.what, rc);
  }
  return 0;
}

void PrintResult(const Settings &s, uint32_t rc, bool interrupted) {
  const char *abort_note = !interrupted            ? nullptr
                           : rc == KAVREL_E_ABORTED ? "aborted before the device's files were replaced"
                                                    : "abort came too late: the device's files were "
                                                      "already being replaced";
  if (s.json) {
    printf("{\"ok\":%s,\"code\":\"0x%08X\"", rc == 0 ? "true" : "false", rc);
    if (abort_note) printf(",\"aborted\":%s,\"note\":%s", rc == KAVREL_E_ABORTED ? "true" : "false",
                           JsonString(abort_note).c_str());
    printf("}\n");
    return;
  }
  if (abort_note) fprintf(stderr, "kavrel: %s\n", abort_note);
  if (rc == 0) printf("firmware upgraded\n");
}

int RunUpgrade(const Settings &s, Output &out) {
  if (g_upgrade.file.size() >= sizeof(UpgradeRequest{}.path)) {
    out.Usage("firmware file path too long");
    return 2;
  }
  Session session(s);
  if (session.Describe(out)) return 1;
  if (ApplyUpgradeOptions(session.device(), out)) return 1;
  Progress progress;
  progress.json = s.json;
  progress.bar = HostOs_IsTerminal(stderr);
  UpgradeRequest request{};
  memcpy(request.path, g_upgrade.file.data(), g_upgrade.file.size());
  request.callback = OnProgress;
  request.context = &progress;

  std::atomic<bool> finished{false};
  g_interrupted.store(0);
  void (*previous)(int) = signal(SIGINT, OnInterrupt);
  DeviceHandle device = session.device();
  std::thread watcher([&] {
    bool sent = false;
    while (!finished.load()) {
      if (!sent && g_interrupted.load()) {
        Kavrel_AbortUpgrade(device);
        sent = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  uint32_t rc = Kavrel_Upgrade(device, &request);
  finished.store(true);
  watcher.join();
  signal(SIGINT, previous);
  if (progress.bar && !s.json) fprintf(stderr, "\n");
  bool interrupted = g_interrupted.load() != 0;
  if (rc != 0 && !s.json) out.Failure("Kavrel_Upgrade", rc);
  PrintResult(s, rc, interrupted);
  return rc == 0 ? 0 : 1;
}

}  // namespace

void AddFirmwareCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static std::string file;
  CLI::App *firmware = app.add_subcommand("firmware", "firmware files and upgrades");
  firmware->require_subcommand(1);
  auto *info = firmware->add_subcommand("info", "print the version block of a firmware file");
  info->add_option("FILE", file, "a firmware package or plain image")->required();
  commands.push_back({info, [&s, &out] { return RunFirmwareInfo(s, out, file); }});
  CLI::App *upgrade = firmware->add_subcommand(
      "upgrade",
      "replace the device's firmware with FILE (a package or an image); needs --type and the\n"
      "device's configuration, which is fetched first. Ctrl-C asks the upgrade to stop.");
  upgrade->add_option("file", g_upgrade.file, "firmware file")->required();
  upgrade->add_flag("--skip-wait", g_upgrade.skip_wait, "do not wait for the device to return");
  upgrade->add_option("--wait", g_upgrade.wait_s, "seconds to wait for the device's return, "
                                                  "at most 120 (default 60)");
  upgrade->add_flag("--flash-all", g_upgrade.flash_all, "write a flash-all image (series 7)");
  upgrade->add_flag("--no-network-reset", g_upgrade.no_network_reset,
                    "do not restore the network settings after the upgrade");
  upgrade->add_option("--settle-ms", g_upgrade.settle_ms,
                      "milliseconds of each pause that lets the device settle, at most 5000\n"
                      "(default 5000); a simulated device needs only its restart time");
  commands.push_back({upgrade, [&s, &out] { return RunUpgrade(s, out); }});
}
