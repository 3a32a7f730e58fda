#include <io.h>

#include "host_os.h"

bool HostOs_IsTerminal(FILE *stream) { return _isatty(_fileno(stream)) != 0; }

// Sockets are kernel handles, bounded by memory rather than a table: a fixed bound keeps a
// large fleet from holding thousands of connections at once.
size_t HostOs_DescriptorLimit() { return 1024; }
