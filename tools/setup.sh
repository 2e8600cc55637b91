#!/usr/bin/env bash
# Installs the missing Debian packages of the named lists (Debian 12 or 13,
# as root or through sudo):
#   tools/setup.sh run     building and running the program (debian-packages-run.txt)
#   tools/setup.sh test    the test suite, benchmarks, screenshots (debian-packages-test.txt)
#   tools/setup.sh lab     fuzzer, kernel, Windows and package labs (debian-packages-lab.txt)
#   tools/setup.sh check   the checks of the code: formatting (debian-packages-check.txt)
# Several lists may be named; without arguments all three are installed.
# Scripts name the lists they need.
source "$(dirname "$0")/lib.sh"
here=$(cd "$(dirname "$0")" && pwd)
lists=("$@")
((${#lists[@]})) || lists=(run test lab)
wanted=()
for list in "${lists[@]}"; do
  file="$here/debian-packages-$list.txt"
  [[ -f $file ]] || dvk_fail "no package list '$list' (run, test, lab or check)"
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] || wanted+=("$pkg")
  done < "$file"
done
# One query for all of them; names dpkg does not know are missing too.
installed=" $(dpkg-query -W -f='${Package} ${Status}\n' "${wanted[@]}" 2>/dev/null |
  awk '/ install ok installed$/ { printf "%s ", $1 }' || true) "
missing=()
for pkg in $(printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++'); do
  [[ $installed == *" $pkg "* ]] || missing+=("$pkg")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo=sudo
  echo "Installing: ${missing[*]}"
  [[ -z $sudo ]] || command -v sudo >/dev/null || dvk_fail "installing packages needs root or sudo; missing: ${missing[*]}"
  $sudo apt-get update -qq || dvk_fail "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    dvk_fail "apt-get install failed for: ${missing[*]}"
fi
