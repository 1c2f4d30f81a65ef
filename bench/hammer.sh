#!/usr/bin/env bash
# The three repair strategies on 1,000, 10,000 and 100,000 broken blocks,
# each beside the scan that found them, on 256 MiB synthetic streams with
# that many runs of zeros inserted into packets. hammer_bench runs RUNS
# rounds, each a scan and the three strategies on its findings, and takes
# the ratio of the slowest strategy to the scan within each round: the
# median of those ratios and their lowest and highest are given. Prints a
# markdown section.
# Usage: bench/hammer.sh BUILD_DIR [OUT_DIR] [RUNS]   (HAMMER_ROWS: the row counts)
set -euo pipefail

build=${1:?build directory}
out=${2:-bench/out}
runs=${3:-7}
mkdir -p "$out"

echo "## The hammer beside the scan"
echo
echo "$runs rounds, page cache warm; each round scans afresh and presses each strategy on"
echo "that scan's table and list; seconds are medians, the ratio the median of the rounds'"
echo "(slowest strategy / scan) with the lowest and highest. The target: no strategy slower"
echo "than the scan."
echo
echo "| broken rows | blocks | scan (s) | eq (s) | rescan (s) | sizes (s) | slowest / scan | spread | target | met? |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for n in ${HAMMER_ROWS:-1000 10000 100000}; do
  input="$out/hammer-$n.mpg"
  [ -f "$input" ] || "$build/bench/mpgsynth" "$input" --size 268435456 --zero-runs "$n"
  declare -A f=()
  for pair in $("$build/bench/hammer_bench" "$input" "$runs"); do f[${pair%%=*}]=${pair#*=}; done
  met=$(awk -v r="${f[ratio]}" -v hi="${f[max]}" \
    'BEGIN { print r <= 1 ? (hi <= 1 ? "yes" : "yes (not every round)") : "no" }')
  printf '| %s | %s | %s | %s | %s | %s | %.2f | %.2f–%.2f | at most 1 | %s |\n' "${f[rows]}" \
    "${f[blocks]}" "${f[scan]}" "${f[eq]}" "${f[rescan]}" "${f[sizes]}" "${f[ratio]}" \
    "${f[min]}" "${f[max]}" "$met"
done
