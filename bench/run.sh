#!/usr/bin/env bash
# The scan beside a plain read of the same file, the repair beside a copy, and
# the scan through the window beside the same scan with a recording sink;
# page cache warm, whole processes timed.
# Usage: bench/run.sh BUILD_DIR [OUT_DIR]
# BENCH_SIZE (bytes, default 1 GiB) and BENCH_RUNS (default 5) can be set.
set -euo pipefail

build=${1:?build directory}
out=${2:-bench/out}
size=${BENCH_SIZE:-1073741824}
runs=${BENCH_RUNS:-5}
synth="$build/bench/mpgsynth"
cli="$build/src/cli/mpgmend-cli"
mkdir -p "$out"

clean="$out/clean-$size.mpg"
damaged="$out/damaged-$size.mpg"
long="$out/long-run.mpg"
[ -f "$clean" ] || "$synth" "$clean" --size "$size"
[ -f "$damaged" ] || "$synth" "$damaged" --size "$size" --zero-runs 1000
[ -f "$long" ] || "$synth" "$long" --size 16777216 --long-run 104857600
# Three pieces of a real encoded stream (so that mpgtx accepts them): the
# fixture remuxed by ffmpeg many times over, a third of the size each.
pieces=()
fixture="$(dirname "$0")/../tests/data/av.mpg"
for i in 1 2 3; do
  piece="$out/piece$i-$size.mpg"
  if [ ! -f "$piece" ]; then
    copies=$(( size / 3 / $(stat -c %s "$fixture") + 1 ))
    list="$out/concat.txt"
    for ((c = 0; c < copies; c++)); do echo "file '$(realpath "$fixture")'"; done > "$list"
    ffmpeg -nostdin -v error -y -f concat -safe 0 -i "$list" -c copy -f mpeg "$piece"
    rm -f "$list"
  fi
  pieces+=("$piece")
done

# Median wall time (s) and peak resident memory (KB) of `runs` runs.
measure() {
  local times=() mems=() line
  for ((i = 0; i < runs; i++)); do
    line=$(/usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -n 1 || true)
    times+=("${line% *}")
    mems+=("${line#* }")
  done
  local t m
  t=$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  m=$(printf '%s\n' "${mems[@]}" | sort -g | tail -n 1)
  echo "$t $m"
}

mbps() { awk -v b="$1" -v t="$2" 'BEGIN { if (t <= 0) t = 0.005; printf "%.0f", b / t / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) b = 0.005; if (a <= 0) a = 0.005; printf "%.2f", a / b }'; }

for f in "$clean" "$damaged" "$long" "${pieces[@]}"; do cat "$f" >/dev/null; done

read -r cat_t cat_m < <(measure cat "$clean")
read -r scan_t scan_m < <(measure "$cli" scan "$clean")
read -r dmg_t dmg_m < <(measure "$cli" scan "$damaged")
read -r long_t long_m < <(measure "$cli" scan "$long")
repaired="$out/repaired.mpg"
copied="$out/copied.mpg"
rm -f "$repaired" "$copied"
read -r cp_t cp_m < <(measure sh -c 'rm -f "$2"; exec cp "$1" "$2"' cp "$clean" "$copied")
read -r rep_t rep_m < <(measure sh -c 'rm -f "$3"; exec "$1" repair "$2" -o "$3" --force -q' rep "$cli" "$clean" "$repaired")
joined="$out/joined.mpg"
read -r catj_t catj_m < <(measure sh -c 'rm -f "$1"; out=$1; shift; exec cat "$@" > "$out"' cat "$joined" "${pieces[@]}")
read -r join_t join_m < <(measure sh -c 'rm -f "$2"; exec "$1" join -q -o "$2" "$3" "$4" "$5"' j "$cli" "$joined" "${pieces[@]}")
read -r glue_t glue_m < <(measure sh -c 'rm -f "$2"; exec "$1" join --glue -q -o "$2" "$3" "$4" "$5"' j "$cli" "$joined" "${pieces[@]}")
mpgtx_t="-"; mpgtx_m="-"
if command -v mpgtx >/dev/null; then
  read -r mpgtx_t mpgtx_m < <(measure sh -c 'rm -f "$1"; out=$1; shift; exec mpgtx -j --force "$@" -o "$out"' m "$joined" "${pieces[@]}")
fi
rm -f "$repaired" "$copied" "$joined"
clean_bytes=$(stat -c %s "$clean")
pieces_bytes=$(cat "${pieces[@]}" | wc -c)
long_bytes=$(stat -c %s "$long")

printf '%-40s %10s %10s %12s\n' "what" "median s" "MB/s" "peak RSS KB"
printf '%-40s %10s %10s %12s\n' "cat clean > /dev/null" "$cat_t" "$(mbps "$clean_bytes" "$cat_t")" "$cat_m"
printf '%-40s %10s %10s %12s\n' "scan clean" "$scan_t" "$(mbps "$clean_bytes" "$scan_t")" "$scan_m"
printf '%-40s %10s %10s %12s\n' "scan with 1000 zero runs" "$dmg_t" "$(mbps "$clean_bytes" "$dmg_t")" "$dmg_m"
printf '%-40s %10s %10s %12s\n' "scan of a 100 MiB resynchronisation" "$long_t" "$(mbps "$long_bytes" "$long_t")" "$long_m"
printf '%-40s %10s %10s %12s\n' "cp clean" "$cp_t" "$(mbps "$clean_bytes" "$cp_t")" "$cp_m"
printf '%-40s %10s %10s %12s\n' "repair clean (scan + eq + save)" "$rep_t" "$(mbps "$clean_bytes" "$rep_t")" "$rep_m"
printf '%-40s %10s %10s %12s\n' "cat of three pieces > OUT" "$catj_t" "$(mbps "$pieces_bytes" "$catj_t")" "$catj_m"
printf '%-40s %10s %10s %12s\n' "join of three pieces" "$join_t" "$(mbps "$pieces_bytes" "$join_t")" "$join_m"
printf '%-40s %10s %10s %12s\n' "join --glue of three pieces" "$glue_t" "$(mbps "$pieces_bytes" "$glue_t")" "$glue_m"
printf '%-40s %10s %10s %12s\n' "mpgtx -j of three pieces" "$mpgtx_t" "-" "$mpgtx_m"
echo
echo "scan clean / cat:            $(ratio "$scan_t" "$cat_t")"
echo "scan damaged / scan clean:   $(ratio "$dmg_t" "$scan_t")"
echo "repair clean / cp:           $(ratio "$rep_t" "$cp_t")"
echo "join / cat:                  $(ratio "$join_t" "$catj_t")"
echo "glue / cat:                  $(ratio "$glue_t" "$catj_t")"
[ "$mpgtx_t" = "-" ] || echo "join / mpgtx -j:             $(ratio "$join_t" "$mpgtx_t")"
if [ -x "$build/bench/window_bench" ]; then
  echo
  echo "clean stream:"
  "$build/bench/window_bench" "$clean" "$runs" 2>/dev/null
  echo "stream with 1000 zero runs:"
  "$build/bench/window_bench" "$damaged" "$runs" 2>/dev/null
fi
