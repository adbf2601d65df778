#!/usr/bin/env bash
# Builds everything and runs every test. Every build but the plain one turns
# warnings into errors (HERDLAB_WERROR); the plain one builds as a user would.
#   plain: "cmake -S . -B build/plain" with no options (GCC): all unit,
#     conformance and integration tests;
#   release (GCC, optimised: the users' route), asan (GCC, ASan+UBSan) and
#     tsan (Clang, ThreadSanitizer; also the Clang warnings of every file):
#     their own unit, conformance and program tests, and the plain tree's
#     integration tests run against their programs; the Linux package of the
#     release build, unpacked in a fresh folder and tried, the students'
#     guide's example built there with the guide's line and checked;
#   noseccomp (as root): a user's build with libseccomp-dev hidden: it warns,
#     builds the programs and both tools, and herdcheck says what it lacks;
#   fuzz: the libFuzzer targets of the text parsers, a fixed number of runs
#     each (scripts/fuzz.sh fuzzes longer by hand);
#   mingw: the Windows build of everything; its unit and conformance tests run
#     against real Win32 under Wine, and so do the plain tree's integration
#     tests labelled wine, switched to the Windows programs (stage "wine").
#
# The builds take the processors one after another; each build's tests then
# run in the background while the next one compiles, since most of their time
# is spent waiting for herds and feeders that run for a fixed 25 or 30 s. The
# feeders' blocks have fixed names: run as root, each stage gets a private
# /dev/shm (a mount namespace of its own) with a private place for named
# objects in it, and so does each feeder test, so they all run side by side;
# otherwise the stages run one after another and the feeder tests take turns.
# Each stage's output is kept in build/test-logs/STAGE.log.
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."

# A test that fails is run once more, so that a timing fault not seen before
# costs one listed line instead of the whole run. A fault shows as a test
# that fails twice; the log keeps the first failure, and the run ends with a
# list of every test that needed its second run: each one is a finding.
again=(--repeat until-pass:2)

# The integration tests of the plain tree, run against the programs of the
# tree given: most of their time is waiting, so many run at once.
integration_tests() {
  HERDLAB_BIN_DIR=$PWD/build/$1/bin ctest --test-dir build/plain -L integration -j12 \
    --timeout 300 --output-on-failure "${again[@]}"
}

# The tests of one stage: scripts/test.sh --stage NAME (used by the run below).
run_stage() {
  case $1 in
    plain) ctest --test-dir build/plain -j8 --timeout 300 --output-on-failure "${again[@]}" ;;
    release | clang | asan | tsan)
      # ThreadSanitizer waits a second at every program's end by default.
      export TSAN_OPTIONS=${TSAN_OPTIONS:-atexit_sleep_ms=0}
      local status=0
      ctest --preset "$1" "${again[@]}" || status=$?
      integration_tests "$1" || status=$?
      return "$status"
      ;;
    wine)
      # Unit and conformance tests of the Windows build, then the integration
      # tests of the plain tree run against the Windows programs, in one prefix.
      export WINEDEBUG=-all WINEPREFIX=$PWD/build/mingw/wineprefix
      # One wine server for the whole stage: a server that quits once its last
      # program has ended resets a program connecting just then ("wine client
      # error: recvmsg: Connection reset by peer"). Wine's own services start
      # under it now, from wineboot, with nothing of ours open: started by a
      # test's program they would hold that test's output open to the end.
      /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
      /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 || true
      local status=0
      ctest --preset mingw "${again[@]}" || status=$?
      HERDLAB_RUNNER=/usr/lib/wine/wine64 HERDLAB_BIN_DIR=$PWD/build/mingw/bin \
        ctest --test-dir build/plain -L wine -j3 --timeout 300 --output-on-failure "${again[@]}" ||
        status=$?
      /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
      return "$status"
      ;;
    *) echo "no such stage: $1" >&2 && return 2 ;;
  esac
}
if [[ ${1:-} == --stage ]]; then
  status=0
  run_stage "${2:?--stage needs a name}" || status=$?
  # `times` in this shell itself: in a pipe or $(...) it would count a copy's.
  times >"build/test-logs/$2.times"
  used=$(tail -n 1 "build/test-logs/$2.times")
  echo "=== $2: tests took $SECONDS s (processor time of the tests: ${used/ / user, } system)"
  exit "$status"
fi

scripts/install-deps.sh test
logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"

# Runs a command with a private /dev/shm and, in it, a private place for
# named objects (XDG_RUNTIME_DIR): the feeders' block names and thread queues
# live in that place, the lock by which the feeder tests of one stage take
# turns in /dev/shm. The plain tree's test records get a private folder too,
# since several stages run its integration tests at once.
isolated() {
  mkdir -p build/plain/Testing
  unshare --mount --propagation private -- bash -c \
    'mount -t tmpfs -o mode=1777 tmpfs /dev/shm && mount -t tmpfs tmpfs build/plain/Testing &&
     mkdir -m 700 /dev/shm/runtime && export XDG_RUNTIME_DIR=/dev/shm/runtime &&
     exec "$@"' isolated "$@"
}
side_by_side=0
if [[ $(id -u) == 0 ]] && isolated true 2>/dev/null; then
  side_by_side=1
fi

# Test stages in the background: at most two at a time, so that the busy
# children of one stage leave the processor to the other's timing checks.
# The fuzzing beside them runs in the idle class and does not count.
max_stages=2
running=()
declare -A stage_of=() failed_stages=()
reap_one() {
  local done_pid status=0
  wait -n -p done_pid "${running[@]}" || status=$?
  local pid left=()
  for pid in "${running[@]}"; do
    ((pid == done_pid)) || left+=("$pid")
  done
  running=("${left[@]}")
  local name=${stage_of[$done_pid]}
  if ((status == 0)) && [[ $name == fuzz ]]; then
    grep -E "^fuzz_" "$logs/fuzz.log" | sed "s/^/=== /"
  elif ((status == 0)); then
    grep -h 'tests passed' "$logs/$name.log" | sed "s/^/=== $name: /"
    grep -h '^=== .*tests took' "$logs/$name.log"
  else
    failed_stages[$name]=1
    echo "=== $name: tests FAILED; the end of $logs/$name.log:"
    tail -n 80 "$logs/$name.log"
  fi
}
test_stages() {
  local pid count=0
  for pid in "${running[@]}"; do
    [[ ${stage_of[$pid]} == fuzz ]] || count=$((count + 1))
  done
  echo "$count"
}
tests() {
  if ((side_by_side)); then
    while (($(test_stages) >= max_stages)); do
      reap_one
    done
    echo "=== $1: tests started in the background"
    isolated "$self" --stage "$1" >"$logs/$1.log" 2>&1 &
    running+=($!)
    stage_of[$!]=$1
  else
    echo "=== $1: tests"
    run_stage "$1" 2>&1 | tee "$logs/$1.log"
  fi
}
# Builds and fuzzing run in the idle scheduling class: they take only the
# processor time the tests leave, so the tests run as on an idle machine.
build() {
  local name=$1
  shift
  echo "=== $name: build"
  local began=$SECONDS
  (chrt --idle -p 0 "$BASHPID" >/dev/null && "$@") >"$logs/$name-build.log" 2>&1 || {
    tail -n 60 "$logs/$name-build.log"
    echo "=== $name: build FAILED (log: $logs/$name-build.log)"
    exit 1
  }
  echo "    built in $((SECONDS - began)) s"
}
# The checking builds compile each target as one unit and keep only line
# tables for debugging (enough for the sanitizers' reports): a third less
# compiling. The optimised ones build the tests' own code at -O0; the Linux
# ones link with gold, the quicker linker of binutils. The plain build stays
# as a user's, mostly file by file.
quick=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1)
gold=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold)
preset_build() {
  cmake --preset "$1" -DHERDLAB_WERROR=ON "${quick[@]}" "${@:2}" >/dev/null &&
    cmake --build --preset "$1"
}

# A user's configure and build on a machine without libseccomp-dev: its
# headers and library hidden by an overlay (root only), the configure must
# warn and name the package, every program and both tools must build, and
# herdcheck must name its missing call watch in its protection line.
without_seccomp() {
  unshare --mount --propagation private -- bash -c '
    set -e
    hide=$(mktemp -d)
    trap "rm -rf $hide" EXIT
    for place in /usr/include /usr/lib/x86_64-linux-gnu; do
      mkdir -p "$hide$place/upper" "$hide$place/work"
      for name in "$place"/seccomp*.h "$place"/libseccomp.a "$place"/libseccomp.so; do
        [[ -e $name ]] && mknod "$hide$place/upper/${name##*/}" c 0 0
      done
      mount -t overlay overlay -o "lowerdir=$place,upperdir=$hide$place/upper,workdir=$hide$place/work" "$place"
    done
    cmake -S . -B build/noseccomp 2>&1 | tee build/noseccomp.configure.log
    grep -q "libseccomp-dev" build/noseccomp.configure.log
    cmake --build build/noseccomp -j "$(nproc)" --target herdboss1 tusker1 taskwarden stageworker \
      herdboss2 herdboss6 herdtrace herdcheck
    build/noseccomp/bin/herdcheck /nonexistent | grep "не хватает: .*libseccomp"'
}

# The plain build goes first: its integration tests drive every other
# build's programs, the Windows ones under Wine included.
build plain bash -c 'cmake -S . -B build/plain >/dev/null && cmake --build build/plain -j "$(nproc)"'
tests plain
if [[ $(id -u) == 0 ]]; then
  build noseccomp without_seccomp
fi
build mingw preset_build mingw -DHERDLAB_OPTIMIZE_TESTS=OFF
tests wine

# The sanitizer builds' tests use the most processor time: they run while
# later builds compile. Benchmarks are built by the plain build only.
build tsan preset_build tsan -DHERDLAB_BENCH=OFF -DHERDLAB_INTEGRATION_TESTS=OFF "${gold[@]}"
tests tsan
build asan preset_build asan -DHERDLAB_BENCH=OFF -DHERDLAB_INTEGRATION_TESTS=OFF "${gold[@]}"
tests asan

# The fuzzing: its own small Clang build here, its runs (a fixed number for
# each target) last, where they fill the processor time that the last tests
# leave while they wait for their herds and feeders.
build fuzz scripts/fuzz.sh --build
build release preset_build release -DHERDLAB_BENCH=OFF -DHERDLAB_INTEGRATION_TESTS=OFF \
  -DHERDLAB_OPTIMIZE_TESTS=OFF "${gold[@]}"
echo "=== fuzz (text parsers, libFuzzer): started in the background"
chrt --idle 0 scripts/fuzz.sh --runs 25000 >"$logs/fuzz.log" 2>&1 &
running+=($!)
stage_of[$!]=fuzz

echo "=== Linux package: unpacked in a fresh folder, a worker runs from there, and the guide's"
echo "    example, built there with the guide's g++ line, passes herdcheck"
cpack --preset release >/dev/null
unpacked=$(mktemp -d)
tar -xzf build/release/herdlab-*-linux-x86_64.tar.gz -C "$unpacked"
(cd "$unpacked"/herdlab-* && ./stageworker 7 10 10 0 >/dev/null && ls allow-priorities.sh README.txt >/dev/null)
guide_line=$(grep -a -m 1 '^ *g++ .*libherdlab_winapi' "$unpacked"/herdlab-*/tusker-guide-ru.txt | tr -d '\r')
# The student's tusker6 takes the sample's place, as the guide says.
package_log=$PWD/$logs/package-herdcheck.log
(cd "$unpacked"/herdlab-* && rm tusker6 && eval "$guide_line" &&
  ./herdcheck ./tusker6 >"$package_log" 2>&1) || {
  echo "=== Linux package: the guide's example did not build or pass (\"$guide_line\"):"
  tail -n 20 "$package_log"
  exit 1
}
rm -rf "$unpacked"
tests release

while ((${#running[@]})); do
  reap_one
done

# Every test that failed a first time, by stage, from ctest's output, where
# each failed run reads "Test #N: NAME ...***Failed" (or ***Timeout ...).
reruns=0
for stage in plain wine tsan asan release; do
  [[ -f $logs/$stage.log ]] || continue
  while read -r name; do
    echo "=== rerun: $stage: $name"
    reruns=$((reruns + 1))
  done < <(sed -nE 's/^.*Test +#[0-9]+: ([^ ]+) .*\*\*\*(Failed|Timeout|Exception).*$/\1/p' "$logs/$stage.log" | awk '!seen[$0]++')
done
echo "=== tests that needed a second run: $reruns"
if ((${#failed_stages[@]})); then
  echo "=== FAILED: ${!failed_stages[*]} (reruns: $reruns)"
  exit 1
fi
echo "=== all stages done in $SECONDS s, reruns: $reruns"
