#!/usr/bin/env bash
# Builds everything and runs every test, every build with warnings as errors
# (HERDLAB_WERROR) except the plain one, which builds as a user would:
#   dev (GCC), release (GCC, optimised: the users' route), clang, asan
#   (ASan+UBSan) and tsan: all unit, conformance and integration tests;
#   the Linux package of the release build, unpacked and tried;
#   plain: "cmake -S . -B build/plain" with no options, built;
#   fuzz: the libFuzzer targets of the text parsers, a fixed number of runs
#   each from their seeds (scripts/fuzz.sh fuzzes longer by hand);
#   mingw: the Windows build of everything; its unit and conformance tests
#   run against real Win32 under Wine, and so do the integration tests, driven
#   from a small native build (build/wine) switched to the Windows programs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

for preset in dev release clang asan tsan; do
  echo "=== $preset"
  cmake --preset "$preset" -DHERDLAB_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "=== Linux package: unpacked in a fresh folder, a worker runs from there"
cpack --preset release >/dev/null
unpacked=$(mktemp -d)
tar -xzf build/release/herdlab-*-linux-x86_64.tar.gz -C "$unpacked"
(cd "$unpacked"/herdlab-* && ./stageworker 7 10 10 0 >/dev/null && ls allow-priorities.sh README.txt >/dev/null)
rm -rf "$unpacked"

echo "=== plain (default configure and build)"
cmake -S . -B build/plain >/dev/null
cmake --build build/plain -j2

echo "=== fuzz (text parsers, libFuzzer)"
scripts/fuzz.sh --runs 50000

echo "=== mingw (Windows build; tests under Wine)"
cmake --preset mingw -DHERDLAB_WERROR=ON >/dev/null
cmake --build --preset mingw
export WINEDEBUG=-all
WINEPREFIX=$PWD/build/mingw/wineprefix /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
ctest --preset mingw

echo "=== integration tests against the Windows programs under Wine"
cmake --preset dev -B build/wine -DHERDLAB_WERROR=ON -DHERDLAB_BENCH=OFF -DHERDLAB_WINE_BIN_DIR="$PWD/build/mingw/bin" >/dev/null
cmake --build build/wine --target herd_test monitor_test feeder_test herdcheck_test work_unit_test
WINEPREFIX=$PWD/build/wine/wineprefix /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
ctest --test-dir build/wine -L wine -j3 --output-on-failure
