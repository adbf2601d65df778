#!/usr/bin/env bash
# Builds the optimised programs in a folder of their own (build/herd) and
# starts the herd launcher, herdboss1, from there, where it finds its
# elephants (tusker1) beside it. An ordinary user whose launcher lacks the
# right to raise priorities is offered scripts/allow-priorities.sh first:
# without it the higher classes fall back to normal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset release -B build/herd -DHERDLAB_TESTS=OFF -DHERDLAB_BENCH=OFF >/dev/null
cmake --build build/herd -j2

launcher=build/herd/bin/herdboss1
has_grant() {
  local getcap
  getcap=$(PATH=$PATH:/usr/sbin:/sbin command -v getcap) && "$getcap" "$launcher" | grep -q cap_sys_nice
}
if [[ $(id -u) != 0 ]] && ! has_grant; then
  echo "As an ordinary user the elephants get only the normal and lower priority classes."
  echo "scripts/allow-priorities.sh lets every user of this machine have them all (see README)."
  # Ask only at a terminal: piped input belongs to the launcher.
  if [[ -t 0 ]]; then
    read -r -p "Run it now (needs root or sudo)? [y/N] " answer
    if [[ $answer == [yYдД]* ]]; then
      scripts/allow-priorities.sh build/herd/bin || echo "Starting the herd without it."
    fi
  fi
fi
exec "$launcher"
