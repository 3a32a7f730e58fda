// What a device answers to the input and motion commands, read without a device record or
// any other state: the commands and the worker pass in what the model says, so that each
// reader can be tested and fuzzed on a device's text alone.
#pragma once

#include <stdint.h>

#include "kavrel.h"

// The levels of four inputs (300 high, 301 low) from an input reply. Only the reply's first
// 259 characters are read, without regard to case; an input is high when "DIn=H" is there
// ("DI=H" too for a model of one input). `input_count` is the model's 1, 2 or 4; inputs
// beyond it are low. 0, or 0x80060307 for any other count (all four low then).
uint32_t DeviceReply_ParseInputs(int32_t input_count, const char *reply, uint32_t levels[4]);

// The decimal value of the form page's input `name`: the first `value="` after the first
// `name="NAME"`, up to the next '"', shorter than 260 characters. False, with *value
// untouched, when any part is missing or the value is too long.
bool DeviceReply_FormValue(const char *page, const char *name, uint32_t *value);

// getmd's reply into the windows it names. The first 12 characters are skipped; then each
// line ending in '\n' that holds '=' gives one value, by position in a cycle of eight (index,
// name, x, y, w, h, percent, sensitivity), whatever its key. A window is stored when its
// eighth value is read and its index is 0 to 2; a value of 16 characters or more is left out
// (an index so left out stores nothing). A stored window is enabled when it has a name, a
// width and a height. Windows the reply does not name are left as they were.
void DeviceReply_ParseGetmd(const char *reply, MotionWindow windows[KAVREL_MOTION_WINDOWS]);
