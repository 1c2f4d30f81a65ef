#!/usr/bin/env bash
# Records what mpgmend-cli prints and writes for a fixed set of commands on the
# fixture streams and damaged copies of them, so that a rework of the code can
# be checked to change none of it:
#   scripts/cli-golden.sh build/src/cli/mpgmend-cli /tmp/before
#   ... rework, rebuild ...
#   scripts/cli-golden.sh build/src/cli/mpgmend-cli /tmp/after
#   diff -r /tmp/before /tmp/after
# Options after the folder (such as --literal) are given to every run; the
# recorded command lines leave them out, so that records made with and
# without them compare.
set -euo pipefail
cli=$(realpath "$1")
out=$(realpath -m "$2")
shift 2
extra=("$@")
data=$(realpath "$(dirname "$0")/../tests/data")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

# A copy of $1 with $3 bytes of value $4 (octal escape) inserted at offset $2.
insert_run() {
  local src=$1 at=$2 len=$3 byte=$4 dst=$5
  { head -c "$at" "$src"; head -c "$len" /dev/zero | tr '\0' "$byte"; tail -c +"$((at + 1))" "$src"; } >"$dst"
}

cp "$data/av.mpg" "$work/av.mpg"
cp "$data/vcd.mpg" "$work/vcd.mpg"
cp "$data/video-only.mpg" "$work/vo.mpg"
insert_run "$data/av.mpg" 30001 1234 '\000' "$work/av-zero.mpg"
insert_run "$data/av.mpg" 60001 777 '\377' "$work/av-ff.mpg"
insert_run "$work/av-zero.mpg" 90001 50 '\000' "$work/av-two.mpg"
head -c 100000 "$data/av.mpg" >"$work/av-cut.mpg"

n=0
run() {
  n=$((n + 1))
  local name
  name=$(printf '%02d' "$n")
  (cd "$work" && "$cli" -q "${extra[@]}" "$@" >"$out/$name.out" 2>"$out/$name.err"; echo $? >"$out/$name.rc") || true
  echo "$*" >"$out/$name.cmd"
}

for f in av vcd vo av-zero av-ff av-two av-cut; do
  run scan "$f.mpg"
  run scan --json "$f.mpg"
  for s in eq rescan sizes; do
    run repair "$f.mpg" --apply "$s" -o "$f.$s.mpg" --force
    run repair "$f.mpg" --apply "$s" --any-byte --cut-pad -o "$f.$s.cp.mpg" --force
  done
  run repair "$f.mpg" --apply eq --apply rescan --apply sizes --json -o "$f.all.mpg" --force
  run dump "$f.mpg" --block 3
  run dump "$f.mpg" --block 7 --width 24 --apply eq
done
run scan --save-index av-zero.mpg
run repair --from-index av-zero.mpg -o fromindex.mpg --force
run join -o joined.mpg --force av.mpg vo.mpg
run join --one-system-header --one-padding -o joined1.mpg --force av.mpg av-zero.mpg vo.mpg
run join --glue -o glued.mpg --force av.mpg vo.mpg
run scan missing.mpg

(cd "$work" && sha256sum ./*.mpg ./*.index 2>/dev/null) >"$out/files.sha256"
echo "$n commands recorded in $out"
