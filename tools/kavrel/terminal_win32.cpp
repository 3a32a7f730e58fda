#include <io.h>

#include "terminal.h"

bool Terminal_IsTerminal(FILE *stream) { return _isatty(_fileno(stream)) != 0; }
