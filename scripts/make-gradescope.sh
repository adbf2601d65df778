#!/usr/bin/env bash
# Builds herdlab-gradescope.zip, the autograder a teacher uploads to
# Gradescope ("Zip file upload" of a programming assignment). At its root:
#   setup.sh, run_autograder   what Gradescope runs (packaging/gradescope/)
#   grade-tusker.sh            the build-and-check script, shared with CI jobs
#   herdcheck                  statically linked, from the build tree
#   include/, lib/             the layer's header and archive a child builds with
#   student_tusker.cpp, tusker-guide-ru.txt   the students' template and guide
#   points.txt                 with --points: the points of the checks
#
#   scripts/make-gradescope.sh [--build DIR] [--no-build] [--points FILE] [--output ZIP]
#
# DIR is a build tree (build/release by default, configured with the release
# preset when missing), in which herdcheck and the layer's archive are built
# first unless --no-build says they are built already. The zip lands in the
# current folder unless --output names another place.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."

absolute() {
  case $1 in
    /*) echo "$1" ;;
    *) echo "$here/$1" ;;
  esac
}

build=build/release build_first=1 points='' output=$here/herdlab-gradescope.zip
while (($#)); do
  case $1 in
    --build) build=$(absolute "$2") && shift ;;
    --no-build) build_first=0 ;;
    --points) points=$(absolute "$2") && shift ;;
    --output) output=$(absolute "$2") && shift ;;
    *)
      echo "usage: $0 [--build DIR] [--no-build] [--points FILE] [--output ZIP]" >&2
      exit 2
      ;;
  esac
  shift
done

if ((build_first)); then
  [[ -f $build/CMakeCache.txt || $build != build/release ]] || cmake --preset release >/dev/null
  cmake --build "$build" --target herdcheck herdlab_winapi
fi
if [[ -n $points ]]; then
  # A wrong points file is refused now, not on every submission: herdcheck
  # reads it before it starts a child (one that does not exist, here).
  status=0
  "$build/bin/herdcheck" --points "$points" /nonexistent/herdlab-points-check >/dev/null || status=$?
  ((status != 2)) || exit 2
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp packaging/gradescope/setup.sh packaging/gradescope/run_autograder packaging/grade-tusker.sh \
  examples/student_tusker.cpp packaging/tusker-guide-ru.txt "$stage/"
cp "$build/bin/herdcheck" "$stage/"
strip "$stage/herdcheck" 2>/dev/null || true
mkdir "$stage/include" "$stage/lib"
cp winapi/include/herdlab_winapi.h "$stage/include/"
cp "$build/lib/libherdlab_winapi.a" "$stage/lib/"
[[ -z $points ]] || cp "$points" "$stage/points.txt"
rm -f "$output"
(cd "$stage" && cmake -E tar cf "$output" --format=zip -- *)
echo "$output"
