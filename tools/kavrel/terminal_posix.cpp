#include <unistd.h>

#include "terminal.h"

bool Terminal_IsTerminal(FILE *stream) { return isatty(fileno(stream)) != 0; }
