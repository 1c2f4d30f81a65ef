#!/usr/bin/env bash
# The structured join beside `cat` of the same pieces, timed in interleaved
# pairs (ours, then theirs, then ours...), so that a change of the machine's
# pace during the run shifts both sides of a pair alike. Prints the median
# time of each side and the median of the pairs' ratios, for an output file
# and for /dev/null, and the continuous join beside the plain one.
# Usage: bench/join-pairs.sh CLI OUT_DIR PIECE...   (PAIRS, default 7)
set -euo pipefail
cli=${1:?mpgmend-cli}
out=${2:?output folder}
shift 2
[ $# -gt 0 ] || { echo "no pieces" >&2; exit 2; }
pairs=${PAIRS:-7}
tmp="$out/join-pairs.mpg"
for f in "$@"; do cat "$f" >/dev/null; done

seconds() {  # COMMAND... : wall time in seconds
  local t0 t1
  # The last run's dirty pages go to the disk first, untimed: otherwise
  # each run pays for the writeback of the one before.
  sync
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

cat_file() { rm -f "$tmp"; cat "$@" > "$tmp"; }
join_file() { rm -f "$tmp"; "$cli" join -q -o "$tmp" "$@"; }
cont_file() { rm -f "$tmp"; "$cli" join -q --continuous -o "$tmp" "$@"; }
cat_null() { cat "$@" > /dev/null; }
join_null() { "$cli" join -q --force -o /dev/null "$@"; }

compare() {  # NAME OURS THEIRS PIECES...
  local name=$1 ours=$2 theirs=$3 a b
  shift 3
  local as=() bs=() rs=()
  for ((i = 0; i < pairs; i++)); do
    a=$(seconds "$ours" "$@")
    b=$(seconds "$theirs" "$@")
    as+=("$a") bs+=("$b")
    rs+=("$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f\n", a / b }')")
  done
  printf '| %s | %s | %s | %s |\n' "$name" \
    "$(printf '%s\n' "${as[@]}" | median)" "$(printf '%s\n' "${bs[@]}" | median)" \
    "$(printf '%s\n' "${rs[@]}" | median)"
}

echo "| what | ours (s) | theirs (s) | median ratio of $pairs pairs |"
echo "|---|---|---|---|"
compare "join / cat, to a file" join_file cat_file "$@"
compare "join / cat, to /dev/null" join_null cat_null "$@"
compare "join --continuous / join, to a file" cont_file join_file "$@"
rm -f "$tmp"
