#!/usr/bin/env bash
# Checks that the committed translations are whole: lupdate, run over the
# sources into copies of the .ts files, must find no text the files lack
# (which would come out unfinished) and none they hold in vain, and no
# translation may be unfinished. A text added to the sources without its
# translation fails here, not in front of a user.
set -euo pipefail
lupdate=$1
root=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/translations/*.ts "$work"/
options=(-locations none -source-language ru
         -tr-function-alias QT_TRANSLATE_NOOP+=MPG_TR_NOOP,QT_TRANSLATE_N_NOOP+=MPG_TR_N_NOOP)
"$lupdate" -silent "${options[@]}" -target-language en "$root/src" -ts "$work/mpgmend_en.ts"
"$lupdate" -silent "${options[@]}" -target-language ru -pluralonly "$root/src" \
  -ts "$work/mpgmend_ru.ts"
status=0
for ts in "$work"/*.ts; do
  name=$(basename "$ts")
  if grep -q 'type="unfinished"' "$ts"; then
    echo "$name: unfinished translations:" >&2
    grep -B3 'type="unfinished"' "$ts" | grep '<source>' >&2 || true
    status=1
  fi
  if grep -q 'type="vanished"\|type="obsolete"' "$ts"; then
    echo "$name: translations of texts the sources no longer have:" >&2
    grep -B3 'type="vanished"\|type="obsolete"' "$ts" | grep '<source>' >&2 || true
    status=1
  fi
done
exit $status
