#!/usr/bin/env bash
# Runs the Windows herd launcher on a real (Wine) console inside tmux and
# checks that the screen shows its greeting and first prompt in readable
# Russian: the console path writes UTF-16, whatever the code pages are.
#   wine_console_check.sh <wine> <folder of the .exe files> <wine prefix>
set -euo pipefail
wine=$1 folder=$2
export WINEPREFIX=$3 WINEDEBUG=-all
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
