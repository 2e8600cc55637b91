#!/usr/bin/env bash
# Checks that every C++ source of the tree is formatted as .clang-format says
# (clang-format 14, Debian 12's; another version may format some lines
# otherwise). Lists the files that are not and fails; `clang-format -i FILE`
# formats one.
#   bash tools/check-format.sh
source "$(dirname "$0")/lib.sh"
cd "$(dirname "$0")/.."
bash tools/setup.sh check
unformatted=()
while IFS= read -r -d '' file; do
  clang-format --dry-run --Werror "$file" 2>/dev/null || unformatted+=("$file")
done < <(git ls-files -z '*.cpp' '*.h')
if ((${#unformatted[@]})); then
  printf '  %s\n' "${unformatted[@]}" >&2
  dvk_fail "${#unformatted[@]} files are not formatted as .clang-format says (clang-format -i FILE formats one)"
fi
echo "every C++ source is formatted"
