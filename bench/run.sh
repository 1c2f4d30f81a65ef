#!/usr/bin/env bash
# Measures mpgmend beside the tools a user would otherwise pick, on inputs it
# makes itself, with the page cache warm; whole processes are timed (median
# of BENCH_RUNS runs) with their peak resident memory. Prints a table of
# ratios and writes it, with the machine's description, to BENCHMARKS.md.
# Usage: bench/run.sh BUILD_DIR [OUT_DIR]
# BENCH_SIZE (bytes, default 1 GiB) and BENCH_RUNS (default 5) can be set.
set -euo pipefail

build=${1:?build directory}
out=${2:-bench/out}
size=${BENCH_SIZE:-1073741824}
runs=${BENCH_RUNS:-5}
here=$(cd "$(dirname "$0")" && pwd)
synth="$build/bench/mpgsynth"
cli="$build/src/cli/mpgmend-cli"
report=${BENCH_REPORT:-$here/../BENCHMARKS.md}
mkdir -p "$out"

# --- inputs ---------------------------------------------------------------
clean="$out/clean-$size.mpg"
damaged="$out/damaged-$size.mpg"
long="$out/long-run.mpg"
[ -f "$clean" ] || "$synth" "$clean" --size "$size"
[ -f "$damaged" ] || "$synth" "$damaged" --size "$size" --zero-runs 1000
[ -f "$long" ] || "$synth" "$long" --size 16777216 --long-run 104857600

# Real encoded streams (so that ffmpeg and mpgtx parse them): the fixture
# remuxed by ffmpeg over and over, one of the full size and three of a third.
fixture="$here/../tests/data/av.mpg"
remuxed() {  # FILE BYTES
  [ -f "$1" ] && return
  local copies=$(( $2 / $(stat -c %s "$fixture") + 1 )) list="$out/concat.txt"
  for ((c = 0; c < copies; c++)); do echo "file '$(realpath "$fixture")'"; done > "$list"
  ffmpeg -nostdin -v error -y -f concat -safe 0 -i "$list" -c copy -f mpeg "$1"
  rm -f "$list"
}
real="$out/real-$size.mpg"
remuxed "$real" "$size"
pieces=()
for i in 1 2 3; do
  remuxed "$out/piece$i-$size.mpg" $((size / 3))
  pieces+=("$out/piece$i-$size.mpg")
done

# --- measuring --------------------------------------------------------------
# Median wall time (s) and the largest peak resident memory (KB) of the runs.
measure() {
  local times=() mems=() line
  for ((i = 0; i < runs; i++)); do
    line=$(/usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -n 1 || true)
    times+=("${line% *}")
    mems+=("${line#* }")
  done
  echo "$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")" \
       "$(printf '%s\n' "${mems[@]}" | sort -g | tail -n 1)"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) b = 0.005; if (a <= 0) a = 0.005; printf "%.2f", a / b }'; }
mbps() { awk -v b="$1" -v t="$2" 'BEGIN { if (t <= 0) t = 0.005; printf "%.0f", b / t / 1e6 }'; }

for f in "$clean" "$damaged" "$long" "$real" "${pieces[@]}"; do cat "$f" >/dev/null; done
tmp="$out/tmp.mpg"

declare -A T M
run() {  # NAME COMMAND...
  local name=$1; shift
  read -r T[$name] M[$name] < <(measure "$@")
}
run cat sh -c 'exec cat "$1" >/dev/null' - "$clean"
run scan "$cli" scan -q "$clean"
run scan_damaged "$cli" scan -q "$damaged"
run scan_long "$cli" scan -q "$long"
run cat_real sh -c 'exec cat "$1" >/dev/null' - "$real"
run scan_real "$cli" scan -q "$real"
run mpegdemux mpegdemux -c "$real" /dev/null
run cp sh -c 'rm -f "$2"; exec cp "$1" "$2"' - "$real" "$tmp"
run repair sh -c 'rm -f "$3"; exec "$1" repair -q "$2" -o "$3" --force' - "$cli" "$real" "$tmp"
run ffmpeg sh -c 'exec ffmpeg -nostdin -v error -y -i "$1" -c copy -f mpeg "$2"' - "$real" "$tmp"
run cat3 sh -c 'out=$1; shift; rm -f "$out"; exec cat "$@" > "$out"' - "$tmp" "${pieces[@]}"
run join sh -c 'cli=$1 out=$2; shift 2; rm -f "$out"; exec "$cli" join -q -o "$out" "$@"' - "$cli" "$tmp" "${pieces[@]}"
run glue sh -c 'cli=$1 out=$2; shift 2; rm -f "$out"; exec "$cli" join --glue -q -o "$out" "$@"' - "$cli" "$tmp" "${pieces[@]}"
run mpgtx sh -c 'out=$1; shift; rm -f "$out"; exec mpgtx -j --force "$@" -o "$out"' - "$tmp" "${pieces[@]}"
rm -f "$tmp"

window="-"; window_damaged="-"
if [ -x "$build/bench/window_bench" ]; then
  window=$("$build/bench/window_bench" "$clean" "$runs" 2>/dev/null | sed -n 's/^window \/ sink: //p')
  window_damaged=$("$build/bench/window_bench" "$damaged" "$runs" 2>/dev/null | sed -n 's/^window \/ sink: //p')
fi
blocks=$("$cli" scan --json -q "$real" | grep -o '"code"' | wc -l)
clean_bytes=$(stat -c %s "$clean")
long_bytes=$(stat -c %s "$long")
memory_limit_kb=$(( 64 * 1024 + blocks * 32 / 1024 ))

# --- the report ---------------------------------------------------------------
{
  echo "# Benchmarks"
  echo
  echo "Made by \`make bench\` on $(date -u +%Y-%m-%d): $(nproc) cores ($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)),"
  echo "$(free -g | awk '/^Mem:/ { print $2 }') GiB of memory, Linux $(uname -r), $(df -T "$out" | awk 'NR == 2 { print $2 }') file system."
  echo "Inputs of $((size / 1048576)) MiB; median of $runs runs; page cache warm. Each ratio compares"
  echo "two figures of this one run."
  echo
  echo "| what | ours (s) | theirs (s) | ratio | target |"
  echo "|---|---|---|---|---|"
  echo "| scan of the clean stream / \`cat FILE > /dev/null\` | ${T[scan]} | ${T[cat]} | $(ratio "${T[scan]}" "${T[cat]}") | at most 1.5 |"
  echo "| scan of a real stream / \`mpegdemux -c\` | ${T[scan_real]} | ${T[mpegdemux]} | $(ratio "${T[scan_real]}" "${T[mpegdemux]}") | below 1 |"
  echo "| scan with 1,000 zero runs / clean scan | ${T[scan_damaged]} | ${T[scan]} | $(ratio "${T[scan_damaged]}" "${T[scan]}") | at most 2 |"
  echo "| scan over one 100 MiB zero run | ${T[scan_long]} | | $(mbps "$long_bytes" "${T[scan_long]}") MB/s | at least 300 MB/s |"
  echo "| repair (scan + eq + save) / \`cp\` | ${T[repair]} | ${T[cp]} | $(ratio "${T[repair]}" "${T[cp]}") | at most 3 |"
  echo "| repair / \`ffmpeg -c copy -f mpeg\` | ${T[repair]} | ${T[ffmpeg]} | $(ratio "${T[repair]}" "${T[ffmpeg]}") | below 1 |"
  echo "| join of three pieces / \`cat A B C > OUT\` | ${T[join]} | ${T[cat3]} | $(ratio "${T[join]}" "${T[cat3]}") | at most 2 |"
  echo "| join / \`mpgtx -j\` | ${T[join]} | ${T[mpgtx]} | $(ratio "${T[join]}" "${T[mpgtx]}") | below 1 |"
  echo "| join --glue / \`cat A B C > OUT\` | ${T[glue]} | ${T[cat3]} | $(ratio "${T[glue]}" "${T[cat3]}") | at most 1.2 |"
  echo "| scan through the window / the same scan with a recording sink, clean | | | $window | at most 1.2 |"
  echo "| the same with 1,000 broken blocks | | | $window_damaged | |"
  echo
  echo "Peak resident memory (KB); the limit for our programs is 64 MiB plus 32 bytes"
  echo "per block ($blocks blocks in the real stream: $memory_limit_kb KB):"
  echo
  echo "| scan | scan, damaged | repair | join | glue | cat | mpegdemux | cp | ffmpeg | mpgtx |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  echo "| ${M[scan_real]} | ${M[scan_damaged]} | ${M[repair]} | ${M[join]} | ${M[glue]} | ${M[cat]} | ${M[mpegdemux]} | ${M[cp]} | ${M[ffmpeg]} | ${M[mpgtx]} |"
  echo
  echo "Throughput of the clean scan: $(mbps "$clean_bytes" "${T[scan]}") MB/s."
} > "$report"
# The window with many broken blocks, the repair strategies beside the scan,
# and memory on hostile inputs.
{
  if [ -x "$build/bench/window_bench" ]; then
    echo
    echo "## The window with many broken blocks"
    echo
    echo "\`window_bench --broken\`: the scan through the window beside the same scan writing the"
    echo "command line's rows, on streams whose every block is broken; target: at most 1.5."
    echo
    "$build/bench/window_bench" --broken "$runs" 2>/dev/null | sed -e '2i |---|---|---|---|---|---|' -e 's/^/| /; s/$/ |/'
  fi
  echo
  echo "## The join beside cat, in interleaved pairs"
  echo
  echo "\`bench/join-pairs.sh\`: the three pieces joined, then concatenated by \`cat\`, in turn;"
  echo "targets: at most 1.3 to a file and to /dev/null, continuous at most 1.2 times the plain join."
  echo
  PAIRS=$runs bash "$here/join-pairs.sh" "$cli" "$out" "${pieces[@]}"
  echo
  bash "$here/hammer.sh" "$build" "$out" "$runs"
  echo
  echo "## Peak memory on hostile inputs"
  echo
  echo "\`bench/hostile-memory.sh\`: peak resident memory of \`mpgmend-cli\`; the limit is"
  echo "64 MiB plus 32 bytes per block."
  echo
  bash "$here/hostile-memory.sh" "$build" "$out"
} >> "$report"
cat "$report"
