#!/usr/bin/env bash
# Builds the optimised programs and starts the herd launcher, herdboss1, from
# the build folder, where it finds its elephants (tusker1) beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset release -DHERDLAB_TESTS=OFF -DHERDLAB_BENCH=OFF >/dev/null
cmake --build --preset release
exec build/release/bin/herdboss1
