// Motion detection windows: motion get and motion set.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "cli.h"

namespace {

struct Windows {
  MotionWindow w[KAVREL_MOTION_WINDOWS];
  uint32_t count;
};

void PrintWindows(Output &out, const Windows &m) {
  if (out.json()) {
    printf("{\"ok\":true,\"count\":%u,\"windows\":[", m.count);
    for (uint32_t i = 0; i < m.count && i < KAVREL_MOTION_WINDOWS; ++i) {
      const MotionWindow &w = m.w[i];
      printf("%s{\"name\":%s,\"x\":%u,\"y\":%u,\"w\":%u,\"h\":%u,\"percent\":%u,"
             "\"sensitivity\":%u,\"enabled\":%s,\"form\":%s}",
             i ? "," : "", Output::Quote(w.name).c_str(), w.x, w.y, w.w, w.h, w.percent,
             w.sensitivity, w.enabled ? "true" : "false", w.form ? "true" : "false");
    }
    printf("]}\n");
    return;
  }
  printf("%-7s %-16s %6s %6s %6s %6s %8s %12s %s\n", "window", "name", "x", "y", "w", "h",
         "percent", "sensitivity", "enabled");
  for (uint32_t i = 0; i < m.count && i < KAVREL_MOTION_WINDOWS; ++i) {
    const MotionWindow &w = m.w[i];
    printf("%-7u %-16s %6u %6u %6u %6u %8u %12u %s\n", i + 1, w.name[0] ? w.name : "-", w.x, w.y,
           w.w, w.h, w.percent, w.sensitivity, w.enabled ? "yes" : "no");
  }
}

// The windows in one line, for a fleet's report: "3 windows: door 10,10 80x60 on; ...".
std::string WindowsText(const Windows &m) {
  std::string text = std::to_string(m.count) + (m.count == 1 ? " window" : " windows");
  for (uint32_t i = 0; i < m.count && i < KAVREL_MOTION_WINDOWS; ++i) {
    const MotionWindow &w = m.w[i];
    char one[96];
    snprintf(one, sizeof(one), "%s%s %u,%u %ux%u %s", i ? "; " : ": ", w.name[0] ? w.name : "-",
             w.x, w.y, w.w, w.h, w.enabled ? "on" : "off");
    text += one;
  }
  return text;
}

// Reads the windows into the result's own buffer, which lives until the callback (its value
// is the count), and prints them.
DeviceCall MotionGetCall() {
  DeviceCall call{"Kavrel_GetMotionDetectionInfo", ""};
  call.run = [](DeviceHandle device, int async, CallResult *result) {
    auto m = std::make_shared<Windows>();
    result->buffers = m;
    result->on_value = [m](uintptr_t value) {
      m->count = static_cast<uint32_t>(value);
      return WindowsText(*m);
    };
    uint32_t rc = Kavrel_GetMotionDetectionInfo(device, m->w, &m->count, 0, async);
    if (!rc && !async) result->detail = WindowsText(*m);
    return rc;
  };
  call.print = [](Output &out, const CallResult &result) {
    PrintWindows(out, *static_cast<const Windows *>(result.buffers.get()));
  };
  return call;
}

// ---- The windows file: the JSON that "motion get --json" prints ------------------------------

// A small reader for {"windows": [{"name": "...", "x": 1, ..., "enabled": true}, ...]}; other
// members are passed over.
class JsonReader {
 public:
  explicit JsonReader(const std::string &text) : p_(text.c_str()) {}

  bool ReadWindows(Windows *m) {
    if (!Expect('{')) return false;
    while (!Peek('}')) {
      std::string key;
      if (!String(&key) || !Expect(':')) return false;
      bool ok = key == "windows" ? WindowArray(m) : Skip();
      if (!ok) return false;
      if (!Peek('}') && !Expect(',')) return false;
    }
    return Expect('}');
  }

 private:
  bool WindowArray(Windows *m) {
    if (!Expect('[')) return false;
    m->count = 0;
    while (!Peek(']')) {
      if (m->count == KAVREL_MOTION_WINDOWS || !Window(&m->w[m->count++])) return false;
      if (!Peek(']') && !Expect(',')) return false;
    }
    return Expect(']');
  }
  bool Window(MotionWindow *w) {
    *w = MotionWindow{};
    w->enabled = 1;
    if (!Expect('{')) return false;
    while (!Peek('}')) {
      std::string key;
      if (!String(&key) || !Expect(':')) return false;
      if (!Member(w, key)) return false;
      if (!Peek('}') && !Expect(',')) return false;
    }
    return Expect('}');
  }
  bool Member(MotionWindow *w, const std::string &key) {
    if (key == "name") {
      std::string name;
      if (!String(&name) || name.size() >= sizeof(w->name)) return false;
      snprintf(w->name, sizeof(w->name), "%s", name.c_str());
      return true;
    }
    if (key == "enabled") return Bool(&w->enabled);
    uint32_t *numbers[] = {&w->x, &w->y, &w->w, &w->h, &w->percent, &w->sensitivity};
    const char *names[] = {"x", "y", "w", "h", "percent", "sensitivity"};
    for (int i = 0; i < 6; ++i) {
      if (key == names[i]) return Number(numbers[i]);
    }
    return Skip();
  }
  void Space() {
    while (isspace(static_cast<unsigned char>(*p_))) ++p_;
  }
  bool Peek(char c) {
    Space();
    return *p_ == c;
  }
  bool Expect(char c) {
    if (!Peek(c)) return false;
    ++p_;
    return true;
  }
  bool String(std::string *out) {
    if (!Expect('"')) return false;
    for (; *p_ && *p_ != '"'; ++p_) {
      if (*p_ == '\\' && !*++p_) return false;
      *out += *p_;
    }
    return Expect('"');
  }
  bool Number(uint32_t *out) {
    Space();
    char *end = nullptr;
    unsigned long value = strtoul(p_, &end, 10);
    if (end == p_ || value > 0xFFFFFFFFul) return false;
    *out = static_cast<uint32_t>(value);
    p_ = end;
    return true;
  }
  bool Bool(uint32_t *out) {
    Space();
    for (const char *word : {"true", "false"}) {
      if (strncmp(p_, word, strlen(word)) == 0) {
        *out = word[0] == 't';
        p_ += strlen(word);
        return true;
      }
    }
    return false;
  }
  // Any other value: a string, a number, a word, or a bracketed value (strings inside it
  // may hold brackets).
  bool Skip() {
    Space();
    if (*p_ == '"') {
      std::string ignored;
      return String(&ignored);
    }
    if (*p_ != '[' && *p_ != '{') {
      while (*p_ && *p_ != ',' && *p_ != '}' && *p_ != ']') ++p_;
      return true;
    }
    int depth = 0;
    do {
      if (*p_ == '"') {
        std::string ignored;
        if (!String(&ignored)) return false;
        continue;
      }
      if (*p_ == '[' || *p_ == '{') ++depth;
      if (*p_ == ']' || *p_ == '}') --depth;
      ++p_;
    } while (*p_ && depth > 0);
    return depth == 0;
  }

  const char *p_;
};

struct SetOptions {
  std::string file;
  unsigned window = 0;  // 1 to 3: change this window of what the device has now
  std::string name;
  unsigned x = 0, y = 0, w = 0, h = 0, percent = 0, sensitivity = 0;
  bool disable = false;
};

// The options' window over what the device has now.
uint32_t ApplyOptions(const SetOptions &o, CLI::App *set, Windows *m) {
  MotionWindow &w = m->w[o.window - 1];
  auto given = [set](const char *option) { return set->get_option(option)->count() > 0; };
  if (given("--name")) snprintf(w.name, sizeof(w.name), "%s", o.name.c_str());
  unsigned const *values[] = {&o.x, &o.y, &o.w, &o.h, &o.percent, &o.sensitivity};
  uint32_t *fields[] = {&w.x, &w.y, &w.w, &w.h, &w.percent, &w.sensitivity};
  const char *options[] = {"--x", "--y", "--w", "--h", "--percent", "--sensitivity"};
  for (int i = 0; i < 6; ++i) {
    if (given(options[i])) *fields[i] = *values[i];
  }
  w.enabled = o.disable ? 0 : (w.name[0] || w.form) ? 1 : 0;
  return 0;
}

int RunSet(const Settings &s, Output &out, const SetOptions &o, CLI::App *set) {
  Windows m{};
  if (!o.file.empty()) {
    std::ifstream in(o.file);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || !JsonReader(text.str()).ReadWindows(&m)) {
      out.Usage("cannot read windows from " + o.file + " (the JSON of \"motion get --json\")");
      return 2;
    }
  } else if (o.window < 1 || o.window > KAVREL_MOTION_WINDOWS) {
    out.Usage("give --file, or --window 1-3 with the values to change");
    return 2;
  }
  if (o.file.empty()) {
    // What the device has now, changed by the options: the windows are read, not printed.
    DeviceCall read = MotionGetCall();
    read.print = [&m](Output &, const CallResult &result) {
      m = *static_cast<const Windows *>(result.buffers.get());
    };
    if (RunDeviceCall(s, out, read)) return 1;
    ApplyOptions(o, set, &m);
  }
  DeviceCall call{"Kavrel_SetMotionDetectionInfo", "windows set"};
  call.run = [&m](DeviceHandle device, int async, CallResult *) {
    return Kavrel_SetMotionDetectionInfo(device, m.w, 0, async);
  };
  return RunDeviceCall(s, out, call);
}

}  // namespace

void DefineMotionCalls(CLI::App *motion, CallCommands *calls) {
  auto *get = motion->add_subcommand("get", "print the windows (a table, or --json)");
  calls->push_back({get, [](Output &, DeviceCall *call) {
                      *call = MotionGetCall();
                      return 0;
                    }});
}

void AddMotionCommands(CLI::App &app, const Settings &s, Output &out, Commands &commands) {
  static SetOptions o;
  auto *motion = app.add_subcommand("motion", "read or write the motion detection windows");
  motion->require_subcommand(1);
  CallCommands calls;
  DefineMotionCalls(motion, &calls);
  AddSingleDeviceCalls(calls, s, out, commands);
  auto *set = motion->add_subcommand(
      "set", "write the windows: all from a file (--file), or change one (--window N ...)");
  set->add_option("--file", o.file, "windows as \"motion get --json\" prints them");
  set->add_option("--window", o.window, "the window to change, 1-3 (series 2: 1)");
  set->add_option("--name", o.name, "window name, at most 15 characters (empty: disabled)");
  set->add_option("--x", o.x, "left edge");
  set->add_option("--y", o.y, "top edge");
  set->add_option("--w", o.w, "width");
  set->add_option("--h", o.h, "height");
  set->add_option("--percent", o.percent, "percentage of object size over screen");
  set->add_option("--sensitivity", o.sensitivity, "sensitivity");
  set->add_flag("--disable", o.disable, "disable the window");
  commands.push_back({set, [&s, &out, set] { return RunSet(s, out, o, set); }});
}
