#!/usr/bin/env bash
# The three repair strategies on 1,000, 10,000 and 100,000 broken blocks,
# each beside the scan that found them (hammer_bench, median of RUNS runs),
# on 256 MiB synthetic streams with that many runs of zeros inserted into
# packets. Prints a markdown section.
# Usage: bench/hammer.sh BUILD_DIR [OUT_DIR] [RUNS]
set -euo pipefail

build=${1:?build directory}
out=${2:-bench/out}
runs=${3:-3}
mkdir -p "$out"

echo "## The hammer beside the scan"
echo
echo "Median of $runs runs, page cache warm; each strategy starts from the scan's"
echo "table and list. The target: no strategy slower than the scan."
echo
echo "| broken rows | blocks | scan (s) | eq (s) | rescan (s) | sizes (s) | slowest / scan |"
echo "|---|---|---|---|---|---|---|"
for n in 1000 10000 100000; do
  input="$out/hammer-$n.mpg"
  [ -f "$input" ] || "$build/bench/mpgsynth" "$input" --size 268435456 --zero-runs "$n"
  declare -A f=()
  for pair in $("$build/bench/hammer_bench" "$input" "$runs"); do f[${pair%%=*}]=${pair#*=}; done
  ratio=$(awk -v s="${f[scan]}" -v a="${f[eq]}" -v b="${f[rescan]}" -v c="${f[sizes]}" \
    'BEGIN { m = a; if (b > m) m = b; if (c > m) m = c; if (s <= 0) s = 0.0005; printf "%.2f", m / s }')
  echo "| ${f[rows]} | ${f[blocks]} | ${f[scan]} | ${f[eq]} | ${f[rescan]} | ${f[sizes]} | $ratio |"
done
