#!/usr/bin/env bash
# herdcheck beside a herdboss6 lesson of the same user, ROUNDS times in each
# order (herdcheck first, then the lesson; the lesson first, then herdcheck),
# as a teacher runs them in two terminals. Counts the checks a correct child
# failed, the runs in which herdcheck waited for a name or saw another
# program write into a block (there should be none: on Linux each child's
# block is in a place of its own), and the lessons whose report is not what
# their own children did: each elephant reported once, ended on its own
# exactly when it said it was fed.
#
#   scripts/herdcheck-sidebyside.sh [BIN_DIR [ROUNDS]]
#
# BIN_DIR holds herdcheck, herdboss6, tusker6 and student_tusker, and the
# Python child (python_tusker.py, tusker_block.py), which joins where python3
# is (default build/plain/bin); ROUNDS defaults to 20. Prints one line per
# run and a summary; exit code 1 when something was wrong.
set -euo pipefail

bin=$(cd "${1:-build/plain/bin}" && pwd)
rounds=${2:-20}
work=$(mktemp -d)
running=()
cleanup() {
  for pid in "${running[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

children=(tusker6 student_tusker)
if command -v python3 >/dev/null && [[ -f $bin/python_tusker.py ]]; then
  children+=(python_tusker.py)
fi
names=(Tandy Aun Assam Maya BakZap Hao Hathy Kitty)

# Waits until FILE has a line matching PATTERN; fails after 60 s.
await_line() {
  local file=$1 pattern=$2 waited=0
  until grep -q -- "$pattern" "$file" 2>/dev/null; do
    ((waited++ < 600)) || return 1
    sleep 0.1
  done
}

# Prints what is wrong with a lesson's report, one line per elephant.
lesson_faults() {
  local report=$1 name ended killed fed
  for name in "${names[@]}"; do
    ended=$(grep -c -- "- Слон $name нормально завершился" "$report" || true)
    killed=$(grep -c -- "- Слон $name погиб" "$report" || true)
    fed=$(grep -c -- "- Слон $name наелся" "$report" || true)
    if ((ended + killed != 1 || ended != fed)); then
      echo "    lesson: $name ended on its own $ended, killed $killed, said it was fed $fed"
    fi
  done
}

# One run in ORDER (checker or lesson: which starts first); adds to the counts.
failed=0 waited=0 lessons=0 started=$SECONDS
run_side_by_side() {
  local order=$1 check=$work/check.txt lesson=$work/lesson.txt checker_pid lesson_pid
  : >"$check"
  : >"$lesson"
  if [[ $order == checker ]]; then
    (cd "$bin" && exec ./herdcheck "${children[@]}") >"$check" 2>&1 &
    checker_pid=$!
    await_line "$check" 'защита: '
    (cd "$bin" && exec ./herdboss6) >"$lesson" 2>&1 </dev/null &
    lesson_pid=$!
  else
    (cd "$bin" && exec ./herdboss6) >"$lesson" 2>&1 </dev/null &
    lesson_pid=$!
    await_line "$lesson" ' начал есть'
    (cd "$bin" && exec ./herdcheck "${children[@]}") >"$check" 2>&1 &
    checker_pid=$!
  fi
  running=("$checker_pid" "$lesson_pid")
  wait "$checker_pid" || true
  wait "$lesson_pid" || true
  running=()
  local run_failed run_waited faults
  run_failed=$(grep -c 'НЕ ПРОЙДЕНА' "$check" || true)
  run_waited=$(grep -c -e 'занят другой программой' -e 'использует другая программа' "$check" || true)
  faults=$(lesson_faults "$lesson")
  failed=$((failed + run_failed)) waited=$((waited + run_waited))
  [[ -z $faults ]] || lessons=$((lessons + 1))
  echo "$order first: $run_failed checks failed, $run_waited waits for a name," \
    "lesson report $([[ -z $faults ]] && echo right || echo WRONG)"
  grep -e 'НЕ ПРОЙДЕНА' -e 'занят другой программой' -e 'использует другая программа' "$check" |
    sed 's/^/    /' || true
  [[ -z $faults ]] || echo "$faults"
}

for ((round = 1; round <= rounds; ++round)); do
  run_side_by_side checker
  run_side_by_side lesson
done
echo "herdcheck beside a lesson: $rounds rounds in each order, ${#children[@]} correct children" \
  "(${children[*]}), $((SECONDS - started)) s: $failed checks failed, $waited waits for a name," \
  "$lessons lesson reports wrong"
((failed == 0 && waited == 0 && lessons == 0))
