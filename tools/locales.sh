#!/usr/bin/env bash
# Makes the locales of the program's languages, which the tests run in
# (de_DE.UTF-8 ... zh_CN.UTF-8; Debian's package locales, list "test"), when
# the system lacks any of them. Needs root once.
#   bash tools/locales.sh
source "$(dirname "$0")/lib.sh"
wanted=(de_DE es_ES fr_FR it_IT ja_JP pl_PL zh_CN)
have=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]')
missing=()
for name in "${wanted[@]}"; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$name")
  grep -qx "$lower.utf8" <<<"$have" || missing+=("$name")
done
((${#missing[@]})) || exit 0
[[ -f /etc/locale.gen ]] || dvk_fail "no /etc/locale.gen: the package locales is missing (bash tools/setup.sh test)"
[[ $(id -u) -eq 0 ]] || dvk_fail "making the locales ${missing[*]} needs root"
for name in "${missing[@]}"; do
  grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" >>/etc/locale.gen
done
echo "Making the locales: ${missing[*]}"
locale-gen >/dev/null || dvk_fail "locale-gen failed for ${missing[*]}"
