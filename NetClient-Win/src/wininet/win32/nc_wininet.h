// The WinINet boundary on Windows: the system's own service.
#pragma once

#include <windows.h>
#include <wininet.h>
