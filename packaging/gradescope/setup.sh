#!/usr/bin/env bash
# Gradescope runs this once, as root, when it builds the autograder's image
# (Ubuntu) from herdlab-gradescope.zip, unpacked in /autograder/source.
# herdcheck comes built (statically linked, it needs nothing); the student's
# child is built on each submission with g++ and the static C and C++
# libraries, which g++ brings along.
set -euo pipefail
kit=$(cd "$(dirname "$0")" && pwd)
if ! command -v g++ >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends g++ >/dev/null
fi
chmod +x "$kit/herdcheck" "$kit/grade-tusker.sh" "$kit/run_autograder"
