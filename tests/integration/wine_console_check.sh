#!/usr/bin/env bash
# Runs the Windows herd launcher on a real (Wine) console inside tmux and
# checks that the screen shows its greeting and first prompt in readable
# Russian: the console path writes UTF-16, whatever the code pages are.
# Takes what the other Wine tests take: HERDLAB_RUNNER (Wine), HERDLAB_BIN_DIR
# (the folder of the .exe files) and WINEPREFIX; without a runner it is
# skipped (exit code 77).
set -euo pipefail
[[ -n ${HERDLAB_RUNNER:-} ]] || { echo "no HERDLAB_RUNNER: nothing to run under Wine"; exit 77; }
wine=$HERDLAB_RUNNER folder=${HERDLAB_BIN_DIR:?HERDLAB_BIN_DIR names the folder of the .exe files}
export WINEDEBUG=-all
session=herdlab-console-$$
trap 'tmux kill-session -t "$session" 2>/dev/null || true' EXIT

tmux new-session -d -x 120 -y 30 -s "$session" \
  "cd '$folder' && LC_ALL=C.UTF-8 '$wine' herdboss1.exe; sleep 30"
for _ in $(seq 1 60); do
  screen=$(tmux capture-pane -p -t "$session")
  if grep -q 'Введите количество процессов (1 до 15)>' <<<"$screen"; then
    grep -Eq '^[0-9]{1,2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} - Начало работы$' <<<"$screen" || {
      echo "greeting missing or garbled:"; echo "$screen"; exit 1; }
    echo "readable: $(head -n 2 <<<"$screen" | tr '\n' '|')"
    exit 0
  fi
  sleep 0.5
done
echo "no readable prompt within 30 s; the screen shows:"
tmux capture-pane -p -t "$session"
exit 1
