#!/usr/bin/env bash
# A stream past 4 GiB, glued from copies of a real one (tests/data/dvd.mpg,
# 198,656 bytes, doubled 15 times: 6.5 GB), through mpgmend-cli: the scan
# beside `cat` on a warm cache, the peak memory of scan and repair beside the
# limit of 64 MiB plus 32 bytes per block, and the other commands on it (the
# index round trip in the wide format, the repair, the join, the dump). Disk
# use: the stream and its index, about 6.7 GB, all removed at the end.
# Usage: bench/big-stream.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=${1:?build directory}
work=${2:-$(mktemp -d)}
cli=${MPGMEND_CLI:-$build/src/cli/mpgmend-cli}
piece=$(dirname "$0")/../tests/data/dvd.mpg
mkdir -p "$work"
big="$work/big.mpg"
trap 'rm -f "$big" "$big.index" "$work"/half.mpg' EXIT

cp "$piece" "$big"
for _ in $(seq 15); do
  cp "$big" "$work/half.mpg"
  cat "$work/half.mpg" >>"$big"
done
rm -f "$work/half.mpg"
bytes=$(stat -c %s "$big")
perCopy=$("$cli" scan --json -q "$piece" | grep -o '{"code"' | wc -l)
blocks=$(( perCopy * (bytes / $(stat -c %s "$piece")) ))
limit=$(( 65536 + blocks * 32 / 1024 ))

seconds() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -n 1; }
peak() { /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/^\s*Maximum resident set size (kbytes): //p'; }

cat "$big" >/dev/null; cat "$big" >/dev/null  # warm the cache
catTime=$(seconds cat "$big")
scanTime=$(seconds "$cli" scan -q "$big")
scanPeak=$(peak "$cli" scan -q "$big")
echo "| what | figure |"
echo "|---|---|"
echo "| stream | $bytes bytes, $blocks blocks |"
echo "| cat, warm cache | $catTime s |"
echo "| scan, warm cache | $scanTime s ($(python3 -c "print(round($scanTime / $catTime, 2))") × cat) |"
echo "| scan, peak RSS | $scanPeak KB (limit $limit KB) |"

indexTime=$(seconds "$cli" scan -q --save-index "$big")
echo "| scan --save-index | $indexTime s, index $(stat -c %s "$big.index") bytes, starts with $(head -c 8 "$big.index") |"
repairPeak=$(peak "$cli" repair -q --from-index "$big" -o /dev/null)
echo "| repair --from-index -o /dev/null, peak RSS | $repairPeak KB (limit $limit KB) |"
repairTime=$(seconds "$cli" repair -q "$big" -o /dev/null)
echo "| repair -o /dev/null | $repairTime s |"
joined=$("$cli" join -q "$big" "$piece" -o - | wc -c)
echo "| join with one more copy, to a pipe | $joined bytes |"
last=$(( blocks - 1 ))
echo "| dump of the last block | $("$cli" dump "$big" --block "$last" 2>/dev/null | wc -l) lines |"
