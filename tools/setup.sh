#!/usr/bin/env bash
# Installs the missing Debian packages of the named lists (Debian 12, as root
# or through sudo):
#   tools/setup.sh run     building and running the program (debian-packages-run.txt)
#   tools/setup.sh test    the test suite, benchmarks, screenshots (debian-packages-test.txt)
#   tools/setup.sh lab     fuzzer, kernel, Windows and package labs (debian-packages-lab.txt)
# Several lists may be named; without arguments all three are installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=("$@")
((${#lists[@]})) || lists=(run test lab)
missing=()
for list in "${lists[@]}"; do
  file="$here/debian-packages-$list.txt"
  [[ -f $file ]] || { echo "setup.sh: no package list '$list' (run, test or lab)" >&2; exit 2; }
  while read -r pkg; do
    [[ -z "$pkg" || "$pkg" == \#* ]] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done < "$file"
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
