#!/usr/bin/env bash
# Prints which folder of the program includes headers of which other folder,
# one "includer -> included" line per pair, with the floor of each folder,
# and fails when an include reaches a folder on the same floor or above:
#   floor 0  core/                   (toolkit-free, includes no other folder)
#   floor 1  files/ screen/ usb/     (the subsystems, on the core)
#   floor 2  app/ cli/               (the two programs, on the subsystems)
# Every include names its folder ("usb/usb_dvk.h"); one that names no
# folder of the program fails too.
#   bash tools/include-graph.sh
source "$(dirname "$0")/lib.sh"
cd "$(dirname "$0")/.."
declare -A floor=([core]=0 [files]=1 [screen]=1 [usb]=1 [app]=2 [cli]=2)

edges=$(
  for folder in "${!floor[@]}"; do
    for file in "$folder"/*.h "$folder"/*.cpp; do
      [[ -e $file ]] || continue
      sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" | while read -r included; do
        target=${included%%/*}
        if [[ $included != */* || -z ${floor[$target]:-} ]]; then
          echo "include-graph.sh: $file includes \"$included\", which names no folder of the program" >&2
          exit 1
        fi
        [[ $target == "$folder" ]] || echo "$folder $target"
      done
    done
  done | sort -u
)
bad=0
while read -r from to; do
  [[ -n $from ]] || continue
  echo "$from (${floor[$from]}) -> $to (${floor[$to]})"
  if ((floor[$to] >= floor[$from])); then
    echo "include-graph.sh: $from reaches $to, which is not on a lower floor" >&2
    bad=1
  fi
done <<<"$edges"
((bad == 0)) || exit 1
echo "every include reaches a lower floor"
