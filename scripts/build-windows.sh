#!/usr/bin/env bash
# Cross-builds the Windows DLLs with mingw-w64 and checks what Kavrel.dll exports.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows
dll=$(find build/windows -name Kavrel.dll | head -n 1)
[ -n "$dll" ] || { echo "Kavrel.dll was not built"; exit 1; }
bad=$(x86_64-w64-mingw32-objdump -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^\s*\[/{print $NF} t&&/^$/{t=0}' | grep -v '^Kavrel_' || true)
[ -z "$bad" ] || { echo "Kavrel.dll exports non-Kavrel symbols: $bad"; exit 1; }
ls -l build/windows/*/*.dll build/windows/*.dll 2>/dev/null || true
