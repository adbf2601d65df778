#!/usr/bin/env bash
# Lets the ordinary users of this machine start the herd's children in every
# priority class, real time included, by granting the launchers the one
# capability that raising a priority needs (cap_sys_nice), and lets herdtrace
# show every switch of a processor exactly (cap_perfmon):
#   allow-priorities.sh [BIN_DIR]           grant it
#   allow-priorities.sh --remove [BIN_DIR]  take it back
# BIN_DIR is the folder of the programs: by default this script's own folder
# when the programs are beside it (the Linux package), else build/herd/bin of
# the repository (where scripts/run-herd.sh builds them).
#
# What the grant allows: any user of this machine can start children in any
# class through these launchers, real time included; the kernel's real-time
# throttling (kernel.sched_rt_runtime_us, 95% by default) still leaves the
# rest of the system a share of the processor. The launchers keep the right
# out of use except while starting a child, and no child keeps it. A rebuilt
# or copied launcher is a new file without the grant: run this again.
#
# What herdtrace's grant (cap_perfmon, permitted only) allows: any user of
# this machine can, through herdtrace, record when each process of the
# machine is put on and taken off each processor (process and thread ids,
# times, processors; nothing of what the processes compute, read or write).
# herdtrace raises the right only to open that record, before it starts its
# program, and drops it then; the program and all it starts never hold it.
# Without the grant herdtrace shows the states from samples every 10 ms.
#
# Needs setcap (Debian: libcap2-bin, installed when missing); works as root
# or through sudo.
set -euo pipefail

remove=0
if [[ ${1:-} == --remove ]]; then
  remove=1
  shift
fi
here=$(cd "$(dirname "$0")" && pwd)
if [[ $# -gt 0 ]]; then
  bin_dir=$1
elif [[ -x $here/herdboss1 ]]; then
  bin_dir=$here
else
  bin_dir=$(dirname "$here")/build/herd/bin
fi
if [[ ! -d $bin_dir ]]; then
  echo "No folder $bin_dir: give the folder of the programs, e.g. $0 build/release/bin" >&2
  exit 2
fi
bin_dir=$(cd "$bin_dir" && pwd)

if [[ $(id -u) == 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "This needs root. Run as root: $0 $( ((remove)) && echo '--remove ')$bin_dir" >&2
  exit 1
fi
as_root() {
  "${as_root[@]}" "$@"
}

# setcap lives in /usr/sbin, which an ordinary user's PATH may lack.
setcap=$(PATH=$PATH:/usr/sbin:/sbin command -v setcap || true)
if [[ -z $setcap ]]; then
  echo "Installing libcap2-bin (setcap)"
  as_root apt-get install -y -qq --no-install-recommends libcap2-bin >/dev/null
  setcap=$(PATH=$PATH:/usr/sbin:/sbin command -v setcap)
fi
getcap=$(dirname "$setcap")/getcap

# herdtrace's grant is its own: the launchers it starts carry theirs, and a
# right never passes from one program to the next through exec.
launchers=()
for name in herdboss1 taskwarden herdboss2 herdboss6; do
  [[ -f $bin_dir/$name ]] && launchers+=("$bin_dir/$name")
done
if ((${#launchers[@]} == 0)); then
  echo "No launchers (herdboss1, taskwarden, herdboss2, herdboss6) in $bin_dir" >&2
  exit 2
fi

grant() {  # grant FILE CAPABILITIES
  if ((remove)); then
    as_root "$setcap" -r "$1" 2>/dev/null || true
    echo "Taken back: $1"
  else
    as_root "$setcap" "$2" "$1"
    echo "Granted: $("$getcap" "$1")"
  fi
}
for launcher in "${launchers[@]}"; do
  grant "$launcher" cap_sys_nice+ep
done
# Permitted, not effective: herdtrace raises it only while it opens the record.
if [[ -f $bin_dir/herdtrace ]]; then
  grant "$bin_dir/herdtrace" cap_perfmon+p
fi

if ((!remove)); then
  # File capabilities do not work on a file system mounted nosuid.
  if findmnt -no OPTIONS --target "$bin_dir" 2>/dev/null | grep -qw nosuid; then
    echo "Warning: $bin_dir is on a file system mounted nosuid, where the grant has no effect;" >&2
    echo "put the programs elsewhere (e.g. /opt/herdlab) and run this again." >&2
    exit 1
  fi
  echo "Every user of this machine may now start children in any priority class through"
  echo "these launchers."
  if [[ -f $bin_dir/herdtrace ]]; then
    echo "Through herdtrace they may record when each process of the machine runs."
  fi
  echo "To take it back: $0 --remove $bin_dir"
fi
