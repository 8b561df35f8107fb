#!/usr/bin/env bash
# Compiles the Windows branches of the platform layer (file mapping, file
# replacement, the console and the command line) with the MinGW-w64 cross
# compiler: a check that they are valid code against Windows' own headers.
# It builds nothing to run; the real Windows build is described in the README.
# Needs `KEEPFRAME_WINDOWS_CHECK=1 scripts/setup.sh` once.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cxx=x86_64-w64-mingw32-g++-posix
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "check-windows: $cxx is missing; run KEEPFRAME_WINDOWS_CHECK=1 scripts/setup.sh" >&2
  exit 2
fi
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$root/engine")
for source in engine/mapped_file.cpp engine/paths.cpp; do
  "$cxx" "${flags[@]}" "$root/$source"
  echo "check-windows: $source compiles for Windows x64"
done
# The console and command line, against Debian's Qt headers: Qt's own
# configuration is Linux's there, the Windows calls are what is checked.
qt=/usr/include/x86_64-linux-gnu/qt6
"$cxx" "${flags[@]}" -I"$root/app" -I"$qt" -I"$qt/QtCore" "$root/app/terminal.cpp"
echo "check-windows: app/terminal.cpp compiles for Windows x64 (with Linux's Qt configuration)"
