// The one platform question of the command: whether a stream is a terminal (the progress bar
// is drawn only there). One file per platform: terminal_posix.cpp, terminal_win32.cpp.
#pragma once

#include <stdio.h>

bool Terminal_IsTerminal(FILE *stream);
