#!/usr/bin/env bash
# The graders' routes from end to end. herdlab-gradescope.zip is made and
# unpacked in a private /autograder as Gradescope does it, set up, and run on
# the students' guide's example (full marks), on a child that eats one
# portion too few and on a source that does not build (score 0, the
# compiler's message). Then grade-tusker.sh, the script the CI examples run,
# writes JUnit for the example and for the source that does not build.
#   grading_test.sh SOURCE_DIR BUILD_DIR   (exit 77: skipped)
set -euo pipefail
source_dir=$1 build_dir=$2

if [[ ${GRADING_TEST_MOUNTED:-} != 1 ]]; then
  if [[ $(id -u) != 0 ]]; then
    echo "skipped: a private mount of /autograder needs root"
    exit 77
  fi
  made_folder=0
  [[ -d /autograder ]] || { mkdir /autograder && made_folder=1; }
  status=0
  unshare --mount --propagation private -- env GRADING_TEST_MOUNTED=1 "$0" "$@" || status=$?
  ((made_folder == 0)) || rmdir /autograder
  exit "$status"
fi
# A private /autograder, and a /dev/shm and place for named objects of the
# test's own, so that no other program's blocks meet the checker's.
mount -t tmpfs tmpfs /autograder
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mkdir -m 700 /dev/shm/runtime
export XDG_RUNTIME_DIR=/dev/shm/runtime

failures=0
expect() { # DESCRIPTION FILE GREP-PATTERN
  if ! grep -q -- "$3" "$2"; then
    echo "FAILED: $1: no \"$3\" in $2:"
    cat "$2"
    failures=$((failures + 1))
  fi
}

# The children: the guide's example, one that rounds its ration down, one
# that does not build.
children=/autograder/children
mkdir -p "$children/example" "$children/eats_too_little/nested" "$children/does_not_build"
cp "$source_dir/examples/student_tusker.cpp" "$children/example/"
sed 's|+ 9999) / 10000|) / 10000|' "$source_dir/examples/student_tusker.cpp" \
  >"$children/eats_too_little/nested/student_tusker.cpp"
sed 's|return 0;$|return 0|' "$source_dir/examples/student_tusker.cpp" \
  >"$children/does_not_build/student_tusker.cpp"
if cmp -s "$children/example/student_tusker.cpp" "$children/eats_too_little/nested/student_tusker.cpp"; then
  echo "FAILED: the ration line of the example changed; this test's faulty child is no longer faulty"
  exit 1
fi

# The zip, as the teacher makes it, with a points file, unpacked and set up
# as Gradescope does.
printf '# the ration counts double\nexact_ration 2\n' >/autograder/points.txt
"$source_dir/scripts/make-gradescope.sh" --build "$build_dir" --no-build \
  --points /autograder/points.txt --output /autograder/herdlab-gradescope.zip >/dev/null
mkdir /autograder/source
(cd /autograder/source && cmake -E tar xf /autograder/herdlab-gradescope.zip)
for file in setup.sh run_autograder grade-tusker.sh herdcheck include/herdlab_winapi.h \
  lib/libherdlab_winapi.a points.txt; do
  [[ -f /autograder/source/$file ]] || { echo "FAILED: no $file at the zip's root" && exit 1; }
done
bash /autograder/source/setup.sh
cp /autograder/source/run_autograder /autograder/run_autograder

# Each submission: its folder, then what results.json must hold.
grade() { # CHILD PATTERN...
  rm -rf /autograder/submission /autograder/results
  cp -r "$children/$1" /autograder/submission
  /autograder/run_autograder >/autograder/run.log 2>&1 || {
    echo "FAILED: run_autograder ended with $? on $1" && cat /autograder/run.log && failures=$((failures + 1))
  }
  local pattern
  for pattern in "${@:2}"; do
    expect "$1" /autograder/results/results.json "$pattern"
  done
}
grade example '^  "score": 9,$' '"max_score": 2, "status": "passed"'
grade eats_too_little '^  "score": 7,$' \
  '"tusker6: ровно свой рацион", "score": 0, "max_score": 2, "status": "failed", "output": "НЕ ПРОЙДЕНА — съел 14 порций из 15"'
grade does_not_build '^  "score": 0,$' 'student_tusker.cpp не собирается:\\n.*error: expected'

# The kit builds a child with the students' guide's line, with the places of
# the program and the source in the script's own words.
# shellcheck disable=SC2016
places='s| -o tusker6 student_tusker.cpp | -o "$work/$program" "$source_file" |'
guide_line=$(grep -a -m 1 '^ *g++ .*libherdlab_winapi' /autograder/source/tusker-guide-ru.txt |
  tr -d '\r' | sed -e 's/^ *//' -e "$places")
if ! grep -qF "guide_build=($guide_line)" /autograder/source/grade-tusker.sh; then
  echo "FAILED: grade-tusker.sh does not build with the guide's line: $guide_line"
  failures=$((failures + 1))
fi

# The CI examples' script, from the same kit, with the CI examples' options.
for ci in github-actions.yml gitlab-ci.yml; do
  expect "$ci runs grade-tusker.sh" "$source_dir/packaging/ci/$ci" \
    'grade-tusker.sh --junit herdcheck.xml student_tusker.cpp'
done
check_ci() { # CHILD EXPECTED-EXIT PATTERN
  local status=0
  (cd "$children/$1" && /autograder/source/grade-tusker.sh --junit herdcheck.xml \
    student_tusker.cpp >/autograder/ci.log 2>&1) || status=$?
  if ((status != $2)); then
    echo "FAILED: grade-tusker.sh ended with $status on $1, not $2:" && cat /autograder/ci.log
    failures=$((failures + 1))
  fi
  expect "$1 (CI)" "$children/$1/herdcheck.xml" "$3"
  expect "$1 (CI)" "$children/$1/herdcheck.xml" '</testsuites>'
}
check_ci example 0 '<testsuite name="tusker6" tests="8" failures="0"'
check_ci does_not_build 1 '<failure message="не собирается">student_tusker.cpp не собирается:'

((failures == 0)) || exit 1
echo "the Gradescope zip and the CI script grade as they should"
