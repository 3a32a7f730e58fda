// What the command asks of the operating system, one file per platform: host_os_posix.cpp,
// host_os_win32.cpp.
#pragma once

#include <stddef.h>
#include <stdio.h>

// Whether a stream is a terminal (the progress bars are drawn only there).
bool HostOs_IsTerminal(FILE *stream);

// How many descriptors (files and sockets) the process may hold open at once. On POSIX the
// soft limit is first raised to the hard one, as far as the system lets it; on Windows,
// where sockets are not counted against a per-process table, a fixed bound.
size_t HostOs_DescriptorLimit();
