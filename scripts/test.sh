#!/usr/bin/env bash
# Builds everything and runs every test:
#   dev (GCC), clang, asan (ASan+UBSan) and tsan: all unit, conformance and
#   integration tests;
#   mingw: the Windows build of everything, whose unit and conformance tests
#   then run against real Win32 under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

for preset in dev clang asan tsan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "=== mingw (Windows build; tests under Wine)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
export WINEPREFIX=$PWD/build/mingw/wineprefix WINEDEBUG=-all
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
ctest --preset mingw
