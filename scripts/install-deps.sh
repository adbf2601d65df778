#!/usr/bin/env bash
# Installs the Debian packages herdlab needs that are missing on this machine.
#   scripts/install-deps.sh run      what building and running the herd needs
#   scripts/install-deps.sh windows  what building the Windows programs and
#                                    running them under Wine needs
#   scripts/install-deps.sh test     everything: compilers, sanitizers, test and
#                                    benchmark libraries (GoogleTest, Google
#                                    Benchmark), MinGW-w64, Wine, setcap, the
#                                    ru_RU.UTF-8 locale for the comma tests,
#                                    python3 for herdcheck's interpreted children
#                                    and Chromium (the live page's browser tests)
# As root it installs with apt-get; otherwise with sudo when there is one;
# else it prints the exact commands for root to run and fails.
set -euo pipefail

mode=${1:-run}
packages=(cmake ninja-build g++)
case $mode in
  run) packages+=(libseccomp-dev) ;;
  windows) packages+=(g++-mingw-w64-x86-64 wine64) ;;
  test)
    packages+=(clang libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev locales libseccomp-dev
               g++-mingw-w64-x86-64 wine64 libcap2-bin tmux librsvg2-bin python3 chromium)
    ;;
  *)
    echo "usage: $0 run|windows|test" >&2
    exit 2
    ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done

need_locale=0
if [[ $mode == test ]] && ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  need_locale=1
fi

if [[ $(id -u) == 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
elif ((${#missing[@]} || need_locale)); then
  echo "Some packages are missing and installing them needs root. As root, run:" >&2
  ((${#missing[@]})) && echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  if ((need_locale)); then
    printf '%s\n' "  sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen && locale-gen" >&2
  fi
  exit 1
fi

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if ((need_locale)); then
  echo "Generating the ru_RU.UTF-8 locale (comma decimal separator) for the locale tests"
  "${as_root[@]}" sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen ||
    echo 'ru_RU.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
  "${as_root[@]}" locale-gen >/dev/null
fi
