#!/usr/bin/env bash
# The files the package installs beside the programs: the desktop entry
# passes the check desktop environments apply, and each manual page, as
# built and compressed, renders without a warning from man and names the
# project's version. Usage: dist_files.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
src=$1 build=$2 version=$3
failed=0
fail() { echo "FAIL: $*"; failed=1; }

if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$src/dist/mpgmend.desktop" 2>&1) || fail "desktop entry: $out"
  [ -z "$out" ] || fail "desktop entry: $out"
  # A file manager passes the file it opens only where Exec takes one.
  grep -qx 'Exec=mpgmend %f' "$src/dist/mpgmend.desktop" || fail "desktop entry takes no file"
else
  echo "desktop-file-validate not installed: desktop entry not checked"
fi

pages=("$build"/man/*.1.gz "$build"/doc/changelog.gz)
[ ${#pages[@]} -ge 2 ] || fail "no compressed pages in $build"
for gz in "${pages[@]}"; do
  plain=${gz%.gz}
  cmp -s <(gzip -dc "$gz") "$plain" || fail "$gz is not $plain compressed"
  # gzip -n: no name and no time stamp, so that a rebuild gives the same bytes.
  header=$(od -An -tx1 -N8 "$gz" | tr -d ' \n')
  [ "${header:6:10}" = "0000000000" ] || fail "$gz keeps a name or a time stamp ($header)"
done

for gz in "$build"/man/*.1.gz; do
  gzip -dc "$gz" | head -n 1 | grep -qF "\"mpgmend $version\"" || fail "$gz does not name $version"
  if command -v man >/dev/null; then
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
      man --warnings -E UTF-8 -l -Tutf8 -Z "$gz" 2>&1 >/dev/null) || fail "$gz: man failed"
    [ -z "$warnings" ] || fail "$gz: $warnings"
  fi
done

[ $failed -eq 0 ] && echo "dist files: all checks passed"
exit $failed
