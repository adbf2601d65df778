#!/usr/bin/env bash
# Fuzzes the text parsers of the common units with libFuzzer (Clang):
#   scripts/fuzz.sh [seconds]   each target for that long (default 60), by
#                               hand; the corpus grows in build/fuzz/corpus
#   scripts/fuzz.sh --runs N    each target for N runs from its seeds alone,
#                               quietly: the CI stage of scripts/test.sh
#   scripts/fuzz.sh --build     only builds the targets
# Builds the targets in build/fuzz. A failing input is saved as
# build/fuzz/artifacts/<target>-crash-...; replay it with
# build/fuzz/bin/<target> <file>. Seeds: fuzz/corpus/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
if [[ ${1:-} == --build ]]; then
  build_only=1
elif [[ ${1:-} == --runs ]]; then
  limit=(-runs="${2:?--runs needs a number}")
  ci=1
else
  limit=(-max_total_time="${1:-60}")
  ci=0
fi

cmake --preset clang -B build/fuzz -DHERDLAB_FUZZ=ON -DHERDLAB_WERROR=ON -DHERDLAB_TESTS=OFF -DHERDLAB_BENCH=OFF >/dev/null
cmake --build build/fuzz --target fuzzers -j2
if ((build_only)); then
  exit 0
fi
mkdir -p build/fuzz/artifacts build/fuzz/logs

# Fuzzes one target; its output goes to build/fuzz/logs/<target>.log.
fuzz_target() {
  local target=$1 seeds=fuzz/corpus/$1
  # libFuzzer adds new inputs to its first corpus folder: never the seeds.
  # In CI a fresh one, so every run starts from the seeds alone.
  local work=build/fuzz/corpus/$target
  ((ci)) && rm -rf "$work"
  mkdir -p "$work"
  # Value profiles steer the fuzzer towards the limits the parsers compare
  # with. An input that takes over a minute is a hang: the limit is wall
  # time, and a run in the idle class may wait seconds for a processor.
  build/fuzz/bin/"$target" "${limit[@]}" -use_value_profile=1 -timeout=60 \
    -artifact_prefix=build/fuzz/artifacts/"$target"- "$work" "$seeds" >build/fuzz/logs/"$target".log 2>&1
}

# The targets run side by side, one process each, and are reported in order.
declare -A pid_of=()
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  fuzz_target "$target" &
  pid_of[$target]=$!
done
failed=0
for seeds in fuzz/corpus/*/; do
  target=$(basename "$seeds")
  log=build/fuzz/logs/$target.log
  if wait "${pid_of[$target]}"; then
    echo "$target: $(grep -m1 '^Done' "$log")"
  else
    echo "$target: FAILED (log: $log)"
    tail -n 40 "$log"
    failed=1
  fi
done
exit "$failed"
