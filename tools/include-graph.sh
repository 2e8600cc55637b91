#!/usr/bin/env bash
# Prints which folder of the program includes headers of which other folder,
# one "includer -> included" line per pair, and fails when the folders
# include each other in a cycle (tsort finds it).
#   bash tools/include-graph.sh
source "$(dirname "$0")/lib.sh"
cd "$(dirname "$0")/.."
folders=(app app/core files screen usb cli)

# Where each header of the program lives.
declare -A home
for folder in "${folders[@]}"; do
  for header in "$folder"/*.h "$folder"/*.h.in "$folder"/*.xpm; do
    [[ -e $header ]] || continue
    name=$(basename "$header" .in)
    [[ $name == Version.h ]] && name=DvkVersion.h  # generated from Version.h.in
    home[$name]=$folder
  done
done

edges=$(
  for folder in "${folders[@]}"; do
    for file in "$folder"/*.h "$folder"/*.cpp; do
      [[ -e $file ]] || continue
      sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file" | while read -r included; do
        target=${home[$(basename "$included")]:-}
        if [[ -z $target ]]; then
          echo "include-graph.sh: $file includes \"$included\", which no folder of the program holds" >&2
          exit 1
        fi
        if [[ $target != "$folder" ]]; then echo "$folder $target"; fi
      done
    done
  done | sort -u
)
awk '{ print $1 " -> " $2 }' <<<"$edges"
# tsort lists the folders from those that include to those included, and
# says "input contains a loop" (exit status 1) for a cycle.
if ! tsort <<<"$edges" >/dev/null; then
  echo "include-graph.sh: the folders include each other in a cycle" >&2
  exit 1
fi
echo "no cycle"
