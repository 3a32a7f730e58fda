#!/usr/bin/env bash
# The Windows zip: the cross-built DLLs with their GNU and MSVC import libraries and .def
# files, the headers, the model data and kavrel.exe, as `cmake --install` lays them out.
# Run after scripts/build-windows.sh. Prints the zip's path and its list.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=kavrel-$version-win64
stage=$build/package/$name
rm -rf "$build/package"
cmake --install "$build" --prefix "$stage" >/dev/null
[ -f "$stage/bin/kavrel.exe" ] || echo "note: kavrel.exe was not built; the zip holds the libraries only" >"$stage/MISSING-kavrel.exe.txt"
# The MSVC import library must name the exports that hosts call.
symbols=$(x86_64-w64-mingw32-nm "$stage/lib/Kavrel.lib")
grep -q ' T Kavrel_InitialEx$' <<<"$symbols" || { echo "Kavrel.lib does not name Kavrel_InitialEx"; exit 1; }
(cd "$build/package" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$build/package/$name.zip"
(cd "$build/package" && find "$name" -type f | sort)
