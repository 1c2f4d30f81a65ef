#!/usr/bin/env bash
# Peak resident memory of mpgmend-cli on hostile inputs it makes itself:
#   - 100 MB of 4-byte end codes behind a valid pack and system header
#     (26 million blocks): scan, repair, scan --json;
#   - a stream with one broken block of 105 MB (a packet that swallowed
#     100 MiB of zeros): scan, repair, the dump of that block;
#   - an index file of 5 million records (from a scan of 20 MB of end codes):
#     repair --from-index;
#   - 20 MB of empty packets each followed by a stray byte, so that every
#     block is broken and listed: scan, repair, repair --apply auto.
# Each figure is /usr/bin/time -v's "Maximum resident set size", set beside
# the limit of 64 MiB plus 32 bytes per block. Prints a markdown table.
# Usage: bench/hostile-memory.sh BUILD_DIR [OUT_DIR]
set -euo pipefail

build=${1:?build directory}
out=${2:-bench/out}
synth="$build/bench/mpgsynth"
cli=${MPGMEND_CLI:-$build/src/cli/mpgmend-cli}
mkdir -p "$out"

endcodes="$out/end-codes-100M.mpg"
long="$out/long-run.mpg"
indexed="$out/end-codes-20M.mpg"
broken="$out/broken-packets-20M.mpg"
[ -f "$endcodes" ] || "$synth" "$endcodes" --size 104857600 --end-codes
[ -f "$long" ] || "$synth" "$long" --size 16777216 --long-run 104857600
[ -f "$indexed" ] || "$synth" "$indexed" --size 20000030 --end-codes
[ -f "$broken" ] || "$synth" "$broken" --size 20000030 --broken-packets
[ -f "$indexed.index" ] || "$cli" scan -q --save-index "$indexed" >/dev/null

# A stream of end codes holds its 30-byte head (two blocks) and one block per
# 4 bytes, one of broken packets one per 7 bytes; the long-run stream's
# blocks are counted from its scan.
endBlocks() { echo $(( 2 + ($(stat -c %s "$1") - 30) / 4 )); }
brokenBlocks() { echo $(( 2 + ($(stat -c %s "$1") - 30) / 7 )); }
# A scan that finds broken blocks exits with 3: under pipefail that status
# would end the script, so the commands here are let fail.
longBlocks=$( ("$cli" scan --json -q "$long" || true) | grep -o '{"code"' | wc -l)
longBlock=$( ("$cli" scan -q "$long" || true) | head -n 1 | cut -f 2)

# The peak RSS in KB, or "failed (exit N)" when the command ends otherwise
# than with 0 or 3 (broken blocks found): a command that fails at once must
# not pass for a lean one.
peak() {  # COMMAND...
  local log status=0
  log=$(mktemp)
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>&1 || status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
    echo "failed (exit $status)"
  else
    sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$log"
  fi
  rm -f "$log"
}
tmp="$out/hostile-out.mpg"
row() {  # WHAT INPUT BLOCKS COMMAND...
  local what=$1 input=$2 blocks=$3; shift 3
  local kb limit
  kb=$(peak "$@")
  rm -f "$tmp"
  limit=$(( 65536 + blocks * 32 / 1024 ))
  local within=-
  [[ $kb =~ ^[0-9]+$ ]] && within=$([ "$kb" -le "$limit" ] && echo yes || echo NO)
  echo "| $what | $input | $blocks | $kb | $limit | $within |"
}

echo "| what | input | blocks | peak RSS (KB) | limit (KB) | within |"
echo "|---|---|---|---|---|---|"
e=$(endBlocks "$endcodes")
row "scan" "100 MB of end codes" "$e" "$cli" scan -q "$endcodes"
row "repair" "100 MB of end codes" "$e" "$cli" repair -q "$endcodes" -o "$tmp" --force
row "scan --json" "100 MB of end codes" "$e" "$cli" scan --json -q "$endcodes"
row "scan" "one 105 MB broken block" "$longBlocks" "$cli" scan -q "$long"
row "repair" "one 105 MB broken block" "$longBlocks" "$cli" repair -q "$long" -o "$tmp" --force
row "dump of that block" "one 105 MB broken block" "$longBlocks" "$cli" dump "$long" --block "$longBlock"
i=$(endBlocks "$indexed")
row "repair --from-index" "index of $i records" "$i" "$cli" repair -q --from-index "$indexed" -o "$tmp" --force
k=$(brokenBlocks "$broken")
row "scan" "20 MB, every block broken" "$k" "$cli" scan -q "$broken"
row "repair" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" -o "$tmp" --force
# --apply takes the values up to the next option, so the input comes first.
row "repair --apply auto" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" --apply auto -o "$tmp" --force
