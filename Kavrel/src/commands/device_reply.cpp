// The readers of what a device answers to the input and motion commands.
#include "commands/device_reply.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "kavrel_results.h"

namespace {

constexpr size_t kInputText = 260;  // the input reply is read in its first 259 characters
constexpr size_t kFormValueMax = 260;
constexpr size_t kValueMax = 16;  // a getmd value of this length or more is not stored
constexpr size_t kPreamble = 12;  // getmd's first line, skipped
constexpr int kFields = 8;        // index, name, x, y, w, h, percent, sensitivity

// One window as the cycle reads it; a value that was too long is left out.
struct WindowFields {
  bool index_valid;
  uint32_t index;
  MotionWindow window;
};

void StoreField(WindowFields *f, int field, const char *value, size_t length) {
  if (length >= kValueMax) {
    if (field == 0) f->index_valid = false;
    return;
  }
  char text[kValueMax];
  memcpy(text, value, length);
  text[length] = '\0';
  uint32_t number = static_cast<uint32_t>(strtoul(text, nullptr, 10));
  uint32_t *numbers[] = {&f->window.x, &f->window.y, &f->window.w, &f->window.h,
                         &f->window.percent, &f->window.sensitivity};
  if (field == 0) {
    f->index_valid = true;
    f->index = number;
  } else if (field == 1) {
    memcpy(f->window.name, text, length + 1);
  } else {
    *numbers[field - 2] = number;
  }
}

void StoreWindow(const WindowFields &f, MotionWindow *windows) {
  if (!f.index_valid || f.index >= KAVREL_MOTION_WINDOWS) return;
  MotionWindow w = f.window;
  w.enabled = w.name[0] && w.w && w.h ? 1 : 0;
  w.form = 0;
  windows[f.index] = w;
}

}  // namespace

uint32_t DeviceReply_ParseInputs(int32_t input_count, const char *reply, uint32_t levels[4]) {
  static const char *const kHighKeys[4] = {"DI1=H", "DI2=H", "DI3=H", "DI4=H"};
  for (int i = 0; i < 4; ++i) levels[i] = KAVREL_LEVEL_LOW;
  if (input_count != 1 && input_count != 2 && input_count != 4) return KAVREL_E_UNKNOWN_DEVICE;
  char text[kInputText];
  size_t length = strnlen(reply, sizeof(text) - 1);
  for (size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char>(toupper(static_cast<unsigned char>(reply[i])));
  }
  text[length] = '\0';
  for (int i = 0; i < input_count; ++i) {
    bool high = strstr(text, kHighKeys[i]) != nullptr;
    if (input_count == 1 && strstr(text, "DI=H")) high = true;
    if (high) levels[i] = KAVREL_LEVEL_HIGH;
  }
  return KAVREL_OK;
}

bool DeviceReply_FormValue(const char *page, const char *name, uint32_t *value) {
  std::string marker = std::string("name=\"") + name + "\"";
  const char *at = strstr(page, marker.c_str());
  const char *start = at ? strstr(at, "value=\"") : nullptr;
  if (!start) return false;
  start += 7;
  const char *end = strchr(start, '"');
  if (!end || static_cast<size_t>(end - start) >= kFormValueMax) return false;
  char text[kFormValueMax];
  memcpy(text, start, static_cast<size_t>(end - start));
  text[end - start] = '\0';
  *value = static_cast<uint32_t>(strtoul(text, nullptr, 10));
  return true;
}

void DeviceReply_ParseGetmd(const char *reply, MotionWindow windows[KAVREL_MOTION_WINDOWS]) {
  const char *p = strnlen(reply, kPreamble) == kPreamble ? reply + kPreamble : "";
  WindowFields f{};
  int field = 0;
  for (const char *end; (end = strchr(p, '\n')) != nullptr; p = end + 1) {
    const char *eq = static_cast<const char *>(memchr(p, '=', static_cast<size_t>(end - p)));
    if (!eq) continue;
    const char *value = eq + 1;
    size_t length = static_cast<size_t>(end - value);
    if (length && value[length - 1] == '\r') --length;
    StoreField(&f, field, value, length);
    if (++field == kFields) {
      StoreWindow(f, windows);
      f = WindowFields{};
      field = 0;
    }
  }
}
