#!/usr/bin/env bash
# Builds the optimised programs in a folder of their own (build/herd) and
# starts the herd launcher, herdboss1, from there, where it finds its
# elephants (tusker1) beside it. An ordinary user whose launcher lacks the
# right to raise priorities is offered scripts/allow-priorities.sh first:
# without it the higher classes fall back to normal.
#
#   scripts/run-herd.sh             the lesson: the elephants share one
#                                   processor, and herdtrace draws the run into
#                                   herd.svg in the folder the script was
#                                   started from, and live into herd.html
#                                   beside it, which opens in the default
#                                   browser on a desktop
#   scripts/run-herd.sh --course    the bare herdboss1, as the course runs it
#   scripts/run-herd.sh --bin DIR   (either way) the programs already built in
#                                   DIR instead of a build of its own
#
# Competition, and so the lesson, needs more runnable elephants than
# processors: one processor for the elephants (the launcher keeps all of its
# own, so its 25 s stay punctual) and a work unit of 40 ms of processor time
# make the herd of 15 (about 930 units, ~37 s of work) outlast the 25 s on
# any machine.
set -euo pipefail
started_in=$PWD
cd "$(dirname "$0")/.."

course=0
bin=
while (($#)); do
  case $1 in
    --course) course=1 ;;
    --bin)
      bin=$(realpath "${2:?--bin needs a folder}")
      shift
      ;;
    *)
      echo "usage: $0 [--course] [--bin DIR]" >&2
      exit 2
      ;;
  esac
  shift
done

if [[ -z $bin ]]; then
  scripts/install-deps.sh run
  cmake --preset release -B build/herd -DHERDLAB_TESTS=OFF -DHERDLAB_BENCH=OFF >/dev/null
  cmake --build build/herd -j2
  bin=build/herd/bin
fi

launcher=$bin/herdboss1
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
      scripts/allow-priorities.sh "$bin" || echo "Starting the herd without it."
    fi
  fi
fi

if ((course)); then
  exec "$launcher"
fi

export HERDLAB_CPUS=1 HERDLAB_UNIT_MS=40
picture=$started_in/herd.svg
page=$started_in/herd.html
# A page of an earlier run would open and show that run as ended.
rm -f "$page" "$started_in/herd.frame.js"
echo "The lesson: HERDLAB_CPUS=1 (all elephants share one processor, so their classes decide who runs) and HERDLAB_UNIT_MS=40 (the herd's work outlasts the 25 s); --course runs the bare herdboss1."
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]] && command -v xdg-open >/dev/null; then
  # Opened as soon as herdtrace has written it, while the launcher asks.
  (
    for _ in {1..100}; do
      if [[ -e $page ]]; then
        exec xdg-open "$page" </dev/null >/dev/null 2>&1
      fi
      sleep 0.1
    done
  ) &
else
  echo "The live page of this run, to open in a browser: $page"
fi
status=0
"$bin/herdtrace" --live -o "$picture" -- "$launcher" || status=$?
if [[ -s $picture ]]; then
  echo "The picture of this run: $picture"
fi
exit "$status"
