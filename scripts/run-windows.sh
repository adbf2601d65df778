#!/usr/bin/env bash
# Runs one of the Windows programs under Wine, for trying the Windows build on
# Linux:
#   scripts/run-windows.sh PROGRAM [ARGUMENTS...]   e.g. scripts/run-windows.sh herdboss1
# Builds the programs first (MinGW-w64 cross build, in build/windows) and uses a
# Wine prefix of its own there. The first start sets the prefix up and takes
# about 20 s; Wine's own messages are kept quiet (WINEDEBUG=-all, and the
# set-up's output is dropped).
set -euo pipefail
program=${1:?"usage: $0 PROGRAM [ARGUMENTS...], e.g. $0 herdboss1"}
shift
cd "$(dirname "$0")/.."
scripts/install-deps.sh windows
if [[ ! -f build/windows/build.ninja ]]; then
  cmake --preset mingw -B build/windows -DHERDLAB_TESTS=OFF -DHERDLAB_BENCH=OFF >/dev/null
fi
cmake --build build/windows -j2 >/dev/null
exe=build/windows/bin/${program%.exe}.exe
if [[ ! -f $exe ]]; then
  programs=(build/windows/bin/*.exe)
  programs=("${programs[@]##*/}")
  echo "No program $program; the programs are: ${programs[*]%.exe}" >&2
  exit 2
fi
export WINEDEBUG=-all WINEPREFIX=$PWD/build/windows/wineprefix
# Debian's wine64 package puts the loader here, not on PATH.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
if [[ ! -d $WINEPREFIX ]]; then
  # Setting the prefix up prints Wine's own messages even with WINEDEBUG=-all.
  echo "Setting up Wine for the first start (about 20 s)..."
  "$wine" wineboot --init >/dev/null 2>&1 || true
fi
exec "$wine" "$exe" "$@"
