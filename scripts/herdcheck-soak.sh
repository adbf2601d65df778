#!/usr/bin/env bash
# Soak of herdcheck on a busy machine: checks correct children again and
# again while two busy loops per processor and a loop that starts short
# processes load the machine, and counts the checks a correct child failed
# (there should be none) and the children checked a second time, alone,
# because a first run was too slow.
#
#   scripts/herdcheck-soak.sh [BIN_DIR [CHECKS]]
#
# BIN_DIR holds herdcheck, tusker6, tusker2, student_tusker and faulty_spins
# (default build/plain/bin); CHECKS is the number of children checked in all
# (default 200). The correct children: the sample, the students' example,
# and a faulty child under a name that is no fault (so correct), in both
# data sets by turns. Each child's block is in a place of its own, so a
# feeder or another herdcheck may run meanwhile (scripts/herdcheck-sidebyside.sh).
# Prints one line per herdcheck run and a summary; exit code 1 when some
# correct child failed.
set -euo pipefail

bin=$(cd "${1:-build/plain/bin}" && pwd)
checks=${2:-200}
work=$(mktemp -d)
load=()
cleanup() {
  for pid in "${load[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

cp "$bin/faulty_spins" "$work/correct_child"

cpus=$(nproc)
for ((i = 0; i < 2 * cpus; ++i)); do
  (while :; do :; done) &
  load+=($!)
done
(while :; do /bin/true; done) &
load+=($!)

runs=0 checked=0 failed=0 again=0 started=$SECONDS
while ((checked < checks)); do
  if ((runs % 2 == 0)); then set=6 sample=tusker6; else set=2 sample=tusker2; fi
  output=$(cd "$bin" && ./herdcheck --set "$set" "$sample" student_tusker "$work/correct_child") ||
    true
  runs=$((runs + 1)) checked=$((checked + 3))
  run_failed=$(grep -c 'не сдано$' <<<"$output" || true)
  run_again=$(grep -c 'проверяю ещё раз' <<<"$output" || true)
  failed=$((failed + run_failed)) again=$((again + run_again))
  echo "run $runs (--set $set): $run_failed failed, $run_again checked again"
  if ((run_failed > 0)); then
    grep -E 'НЕ ПРОЙДЕНА|проверяю ещё раз' <<<"$output" | sed 's/^/    /'
  fi
done
echo "herdcheck soak: $checked checks of correct children in $runs runs, $((SECONDS - started)) s," \
  "under $((2 * cpus)) busy loops and a process-start loop on $cpus processors:" \
  "$failed failed, $again checked again alone"
((failed == 0))
