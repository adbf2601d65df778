#!/usr/bin/env bash
# Builds a student's feeder child from its source with the one g++ line of
# the students' guide (tusker-guide-ru.txt) and checks it with herdcheck: the
# script of a course's CI job and of the Gradescope autograder. It runs from
# the folder of herdlab's Linux package (or of the Gradescope kit):
# herdcheck, include/herdlab_winapi.h and lib/libherdlab_winapi.a beside it.
#
#   grade-tusker.sh [--set 2|6] [--points FILE] [--json FILE] [--junit FILE]
#                   [--gradescope FILE] SOURCE.cpp
#
# The options are herdcheck's. The child is built as tusker6 (tusker2 with
# --set 2) in a folder of its own and checked there. A source that does not
# build still gets its result files: the compiler's message, no check passed,
# score 0. Exit code: herdcheck's (0 when every check passed), 1 when the
# source does not build, 2 for a wrong command line.
set -uo pipefail
kit=$(cd "$(dirname "$0")" && pwd)

usage() {
  echo "usage: $0 [--set 2|6] [--points FILE] [--json FILE] [--junit FILE] [--gradescope FILE] SOURCE.cpp" >&2
  exit 2
}

absolute() {
  case $1 in
    /*) echo "$1" ;;
    *) echo "$PWD/$1" ;;
  esac
}

data_set=6 json='' junit='' gradescope=''
checker_options=()
while (($# > 1)); do
  case $1 in
    --set) value=$2 ;;
    --points | --json | --junit | --gradescope) value=$(absolute "$2") ;;
    *) usage ;;
  esac
  case $1 in
    --set) data_set=$value ;;
    --json) json=$value ;;
    --junit) junit=$value ;;
    --gradescope) gradescope=$value ;;
  esac
  checker_options+=("$1" "$value")
  shift 2
done
(($# == 1)) || usage
[[ $data_set == 2 || $data_set == 6 ]] || usage
source_file=$(absolute "$1")
program=tusker$data_set

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Text for a JSON string and for XML: quotes, backslashes and markup escaped,
# control characters (colour codes) left out, lines joined with \n in JSON.
json_text() {
  LC_ALL=C sed -e 's/\\/\\\\/g' -e 's/"/\\"/g' -e 's/\t/\\t/g' -e 's/[[:cntrl:]]//g' |
    awk '{ printf "%s%s", (NR > 1 ? "\\n" : ""), $0 }'
}
xml_text() {
  LC_ALL=C sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e 's/"/\&quot;/g' \
    -e 's/[[:cntrl:]]//g'
}

# The result files of a source that did not build, from the compiler's message.
write_build_failure() {
  local message="$work/message.txt"
  { echo "$(basename "$source_file") не собирается:"; head -c 20000 "$work/compiler.txt"; } >"$message"
  if [[ -n $gradescope ]]; then
    printf '{\n  "score": 0,\n  "output": "%s",\n  "tests": []\n}\n' "$(json_text <"$message")" >"$gradescope"
  fi
  if [[ -n $json ]]; then
    printf '{\n  "dataSet": %s,\n  "passed": false,\n  "built": false,\n  "compilerOutput": "%s",\n  "children": []\n}\n' \
      "$data_set" "$(json_text <"$message")" >"$json"
  fi
  if [[ -n $junit ]]; then
    cat >"$junit" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<testsuites name="herdcheck --set $data_set" tests="1" failures="1" errors="0" skipped="0">
  <testsuite name="$program" tests="1" failures="1" errors="0" skipped="0">
    <testcase classname="$program" name="builds">
      <failure message="не собирается">$(xml_text <"$message")</failure>
    </testcase>
  </testsuite>
</testsuites>
XML
  fi
  cat "$message" >&2
}

# The students' guide's line, run in the kit's folder as the guide has it run
# in the package's: only the program's and the source's places differ.
guide_build=(g++ -std=c++20 -O2 -static -I include -o "$work/$program" "$source_file" lib/libherdlab_winapi.a -pthread)
if ! (cd "$kit" && timeout 300 "${guide_build[@]}" -fdiagnostics-color=never) >"$work/compiler.txt" 2>&1; then
  write_build_failure
  exit 1
fi
cd "$work" && "$kit/herdcheck" "${checker_options[@]}" "$program"
