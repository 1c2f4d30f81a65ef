#!/usr/bin/env bash
# Measures mpgmend beside the tools a user would otherwise pick, on inputs it
# makes itself, with the page cache warm. Every ratio is timed in interleaved
# pairs by bench/pairtime (ours, theirs, ours, theirs...: a neighbour's load
# lands on both sides of a pair) and reported as the median of the pairs'
# ratios with their spread, beside each side's median seconds, its peak
# resident memory and the machine's load. Prints the table, writes it to
# BENCHMARKS.md (in place of the part an earlier run made, keeping the
# sections written by hand after it) and its figures to
# bench/results/latest.csv, and prints each row's change against the CSV of
# the run before.
# Usage: bench/run.sh BUILD_DIR [OUT_DIR]
#   BENCH_QUICK=1   smaller inputs, fewer rows, the same method; writes
#                   OUT_DIR/quick.md and OUT_DIR/quick.csv instead
#   BENCH_SIZE      bytes of the inputs (default 1 GiB, quick 256 MiB)
#   BENCH_BIG_SIZE  bytes of the stream of the scan / cat row (default 2 GiB,
#                   quick as BENCH_SIZE)
#   BENCH_PAIRS     pairs per row (default 9, quick 7; at least 7 are kept)
#   BENCH_REPORT, BENCH_CSV  other places for the report and the CSV
set -euo pipefail

build=${1:?build directory}
out=${2:-bench/out}
here=$(cd "$(dirname "$0")" && pwd)
quick=${BENCH_QUICK:-0}
if [ "$quick" = 1 ]; then
  size=${BENCH_SIZE:-268435456}
  big=${BENCH_BIG_SIZE:-$size}
  pairs=${BENCH_PAIRS:-7}
  report=${BENCH_REPORT:-$out/quick.md}
  csv=${BENCH_CSV:-$out/quick.csv}
else
  size=${BENCH_SIZE:-1073741824}
  big=${BENCH_BIG_SIZE:-2147483648}
  pairs=${BENCH_PAIRS:-9}
  report=${BENCH_REPORT:-$here/../BENCHMARKS.md}
  csv=${BENCH_CSV:-$here/results/latest.csv}
fi
((pairs >= 7)) || pairs=7
synth="$build/bench/mpgsynth"
pairtime="$build/bench/pairtime"
cli="$build/src/cli/mpgmend-cli"
mkdir -p "$out" "$(dirname "$csv")"

# --- inputs ---------------------------------------------------------------
# mpgsynth's streams: packs of 2048 bytes, each a pack header and a packet,
# a padding packet in every 32nd, a system header and the end code.
synthBlocks() { local packs=$(($1 / 2048)); echo $((2 * packs + packs / 32 + 2)); }
clean="$out/clean-$size.mpg"
bigClean="$out/clean-$big.mpg"
damaged="$out/damaged-$size.mpg"
long="$out/long-run.mpg"
hammerSize=268435456
hammerClean="$out/clean-$hammerSize.mpg"
broken100k="$out/hammer-100000.mpg"
[ -f "$clean" ] || "$synth" "$clean" --size "$size"
[ -f "$bigClean" ] || "$synth" "$bigClean" --size "$big"
[ -f "$damaged" ] || "$synth" "$damaged" --size "$size" --zero-runs 1000
[ -f "$long" ] || "$synth" "$long" --size 16777216 --long-run 104857600
[ -f "$hammerClean" ] || "$synth" "$hammerClean" --size "$hammerSize"
[ -f "$broken100k" ] || "$synth" "$broken100k" --size "$hammerSize" --zero-runs 100000

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
for f in "$clean" "$bigClean" "$damaged" "$long" "$hammerClean" "$broken100k" "$real" \
  "${pieces[@]}"; do cat "$f" >/dev/null; done
tmp="$out/tmp.mpg"

load() { cut -d ' ' -f 1-3 /proc/loadavg; }
# user nice system idle iowait irq softirq steal, summed over all processors
cpuLine() { awk '$1 == "cpu" { t = 0; for (i = 2; i <= 9; ++i) t += $i; print t, $9; exit }' /proc/stat; }
loadBefore=$(load)
read -r cpuTotal0 cpuSteal0 < <(cpuLine)
started=$(date -u '+%Y-%m-%d %H:%M UTC')

# F[KEY.FIELD] holds pairtime's figures of each row, KEYS the rows in order.
declare -A F WHAT GOAL
KEYS=()
# pair KEY "WHAT" TARGET [pairtime options] -- OURS... --vs THEIRS...
# TARGET: "le X" (ratio at most X), "lt X" (below X), "ge X" (MB/s of ours
# over the bytes F[KEY.bytes], at least X), or "-".
pair() {
  local key=$1 what=$2 goal=$3 line field
  shift 3
  KEYS+=("$key")
  WHAT[$key]=$what
  GOAL[$key]=$goal
  echo "timing: $what" >&2
  if ! line=$("$pairtime" --pairs "$pairs" "$@"); then
    echo "  failed: $key" >&2
    F[$key.failed]=1
    return 0
  fi
  for field in $line; do F[$key.${field%%=*}]=${field#*=}; done
}

pair scan_cat "scan of a clean stream of $((big / 1048576)) MiB / \`cat FILE > /dev/null\`" "le 1.15" \
  --ok 0 -- "$cli" scan -q "$bigClean" --vs cat "$bigClean"
F[scan_cat.bytes]=$(stat -c %s "$bigClean")
# The ceiling of the scan's reading: the same file read with pread alone in
# the stream view's windows, into a buffer aligned to 64 bytes; and what a
# buffer 16 bytes past that costs the kernel's copy.
pair scan_pread "scan of the same stream / \`preadspeed\` (pread alone, 2,048,000-byte reads)" "-" \
  -- "$cli" scan -q "$bigClean" --vs "$build/bench/preadspeed" "$bigClean"
pair pread_shift "\`preadspeed --shift 16\` (buffer at 16 past a multiple of 64) / \`preadspeed\`" "-" \
  -- "$build/bench/preadspeed" "$bigClean" --shift 16 --vs "$build/bench/preadspeed" "$bigClean"
if [ "$quick" != 1 ]; then
  pair scan_mpegdemux "scan of a real stream / \`mpegdemux -c\`" "lt 1" \
    -- "$cli" scan -q "$real" --vs mpegdemux -c "$real" /dev/null
fi
pair zero_runs "scan with 1,000 zero runs / clean scan" "le 2" \
  --ok 0,3 -- "$cli" scan -q "$damaged" --vs "$cli" scan -q "$clean"
pair broken_100k "scan with 100,000 broken blocks / clean scan (256 MiB before the runs)" "le 2" \
  --ok 0,3 -- "$cli" scan -q "$broken100k" --vs "$cli" scan -q "$hammerClean"
pair zero_run "scan over one 100 MiB zero run (MB/s) / \`cat FILE > /dev/null\`" "ge 3000" \
  --ok 0,3 -- "$cli" scan -q "$long" --vs cat "$long"
F[zero_run.bytes]=$(stat -c %s "$long")
pair repair_cp "repair (scan + eq + save) / \`cp\`" "le 3" \
  --sync --remove "$tmp" -- "$cli" repair -q "$real" -o "$tmp" --vs cp "$real" "$tmp"
if [ "$quick" != 1 ]; then
  pair repair_ffmpeg "repair / \`ffmpeg -c copy -f mpeg\`" "lt 1" --sync --remove "$tmp" \
    -- "$cli" repair -q "$real" -o "$tmp" --vs ffmpeg -nostdin -v error -y -i "$real" -c copy -f mpeg "$tmp"
fi
pair join_cat "join of three pieces / \`cat A B C > OUT\`" "le 1.3" \
  --sync --remove "$tmp" --theirs-out "$tmp" -- "$cli" join -q -o "$tmp" "${pieces[@]}" --vs cat "${pieces[@]}"
pair join_cat_null "join of three pieces to /dev/null / \`cat A B C > /dev/null\`" "le 1.3" \
  -- "$cli" join -q --force -o /dev/null "${pieces[@]}" --vs cat "${pieces[@]}"
pair continuous "join --continuous / join, to a file" "le 1.2" --sync --remove "$tmp" \
  -- "$cli" join -q --continuous -o "$tmp" "${pieces[@]}" --vs "$cli" join -q -o "$tmp" "${pieces[@]}"
pair glue_cat "join --glue / \`cat A B C > OUT\`" "le 1.2" \
  --sync --remove "$tmp" --theirs-out "$tmp" -- "$cli" join --glue -q -o "$tmp" "${pieces[@]}" --vs cat "${pieces[@]}"
if [ "$quick" != 1 ]; then
  pair join_mpgtx "join / \`mpgtx -j\`" "lt 1" --sync --remove "$tmp" \
    -- "$cli" join -q -o "$tmp" "${pieces[@]}" --vs mpgtx -j --force "${pieces[@]}" -o "$tmp"
fi
rm -f "$tmp"

# The window's own benchmark times itself, in the program; its figures and
# tables are taken as it prints them.
windowBench="$build/bench/window_bench"
windowClean="" windowDamaged="" windowBroken=""
if [ -x "$windowBench" ]; then
  echo "timing: window_bench" >&2
  windowClean=$("$windowBench" "$clean" "$pairs" 2>/dev/null) || windowClean="(window_bench failed: $?)"
  if [ "$quick" != 1 ]; then
    windowDamaged=$("$windowBench" "$damaged" "$pairs" 2>/dev/null) || windowDamaged="(window_bench failed: $?)"
  fi
  # The window beside the command line doing the same work, scan and
  # hammer, at every row count, in pairs; under a virtual display where one
  # can be had, as a user's window runs, else offscreen.
  windowSize=$size
  [ "$quick" != 1 ] || windowSize=$((64 << 20))
  display=()
  command -v xvfb-run >/dev/null && display=(xvfb-run -a -s "-screen 0 1024x768x24")
  windowBroken=$("${display[@]}" "$windowBench" --pairs "$pairs" "$windowSize" 2>/dev/null) ||
    windowBroken="(window_bench --pairs failed: $?)"
fi

echo "timing: hammer" >&2
if [ "$quick" = 1 ]; then hammerRows=100000; else hammerRows="1000 10000 100000"; fi
hammer=$(HAMMER_ROWS=$hammerRows bash "$here/hammer.sh" "$build" "$out" "$pairs")

realBlocks=$( ("$cli" scan --json -q "$real" || true) | grep -o '"code"' | wc -l)
hostile=""
if [ "$quick" != 1 ]; then
  echo "measuring: hostile inputs" >&2
  hostile=$(bash "$here/hostile-memory.sh" "$build" "$out")
fi

loadAfter=$(load)
read -r cpuTotal1 cpuSteal1 < <(cpuLine)
steal=$(awk -v t0="$cpuTotal0" -v t1="$cpuTotal1" -v s0="$cpuSteal0" -v s1="$cpuSteal1" \
  'BEGIN { printf "%.1f", (t1 > t0 ? 100 * (s1 - s0) / (t1 - t0) : 0) }')

# --- the figures ------------------------------------------------------------------
mbps() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.0f", (t > 0 ? b / t / 1e6 : 0) }'; }
# The figure a row is judged by: MB/s of ours for "ge" rows, else the ratio.
figure() {
  case ${GOAL[$1]} in
    ge*) mbps "${F[$1.bytes]}" "${F[$1.ours]}" ;;
    *) printf '%.2f' "${F[$1.ratio]}" ;;
  esac
}
goalText() {
  case ${GOAL[$1]} in
    le*) echo "at most ${GOAL[$1]#le }" ;;
    lt*) echo "below ${GOAL[$1]#lt }" ;;
    ge*) echo "at least ${GOAL[$1]#ge } MB/s" ;;
    *) echo "" ;;
  esac
}
# yes / no by the median; "yes (not every pair)" when the worst pair misses.
met() {
  local key=$1
  awk -v goal="${GOAL[$key]}" -v r="${F[$key.ratio]}" -v hi="${F[$key.max]}" -v fig="$(figure "$key")" '
    BEGIN {
      split(goal, g, " "); v = g[2] + 0
      if (g[1] == "le") { ok = r <= v; all = hi <= v }
      else if (g[1] == "lt") { ok = r < v; all = hi < v }
      else if (g[1] == "ge") { ok = fig >= v; all = ok }
      else { print "-"; exit }
      print ok ? (all ? "yes" : "yes (not every pair)") : "no"
    }'
}
seconds() { awk -v s="$1" 'BEGIN { printf (s < 1 ? "%.4f" : "%.3f"), s }'; }
# window_bench --broken prints tables whose cells are separated by " | "
# (with or without the outer bars of markdown), each with its header line.
# mode=md makes markdown of them, a target and a met? column added beside the
# first column named "window / ..." (or "... / CLI"), judged by the first
# number in it; mode=csv makes CSV rows of those figures, keyed by the table's number and the row's first
# cell. Other lines pass through (md) and end a table.
windowTables='
  /^\|/ { sub(/^\| */, ""); sub(/ *\|$/, "") }
  /^[-|: ]+$/ { next }
  !/ \| / {
    if (mode == "md") { if (head && $0 != "") print ""; print }
    head = 0; col = 0; next
  }
  !head {
    head = 1; ++table
    for (i = 1; i <= NF; ++i) if (!col && tolower($i) ~ /window \/|\/ *(cli|command)/) col = i
    if (mode == "md") {
      printf "| %s |%s\n|", $0, col ? " target | met? |" : ""
      for (i = 1; i <= NF + (col ? 2 : 0); ++i) printf "---|"
      printf "\n"
    }
    next
  }
  {
    v = ""
    if (col && match($col, /[0-9]+(\.[0-9]+)?/)) v = substr($col, RSTART, RLENGTH)
    met = v != "" && v + 0 <= 1.5 ? "yes" : "no"
    if (mode == "md") {
      printf "| %s |%s\n", $0, col ? " at most 1.5 | " met " |" : ""
    } else if (v != "") {
      key = $1 (col > 3 ? "_" $3 : ""); gsub(/[^0-9A-Za-z_]/, "", key)
      printf "window_broken_%s%s,%s,,,%s,,,,,%s,le 1.5,%s,,,,,\"window_bench --broken: %s\"\n", \
        (table > 1 ? "t" table "_" : ""), key, pairs, v, v, met, $1
    }
  }'

{
  echo "key,pairs,ours_s,theirs_s,ratio,min,max,q1,q3,figure,target,met,ours_kb,theirs_kb,load1,steal,what"
  for k in "${KEYS[@]}"; do
    [ -z "${F[$k.failed]:-}" ] || continue
    echo "$k,${F[$k.pairs]},${F[$k.ours]},${F[$k.theirs]},${F[$k.ratio]},${F[$k.min]},${F[$k.max]},${F[$k.q1]},${F[$k.q3]},$(figure "$k"),${GOAL[$k]},$(met "$k"),${F[$k.ours_kb]},${F[$k.theirs_kb]},${F[$k.load1]},${F[$k.steal]},\"${WHAT[$k]}\""
  done
  # The ratios the window's and the hammer's benchmarks report, as they
  # print them: no seconds or memory of their own here.
  windowRow() {  # KEY TEXT TARGET
    local r ok
    r=$(sed -n 's/^window \/ sink: //p' <<<"$2")
    [ -n "$r" ] || return 0
    ok=$(awk -v r="$r" -v g="$3" 'BEGIN { split(g, v, " "); print g == "-" ? "-" : (r <= v[2] ? "yes" : "no") }')
    echo "$1,$pairs,,,$r,,,,,$r,$3,$ok,,,,,\"window_bench: window / recording sink\""
  }
  windowRow window_clean "$windowClean" "le 1.2"
  windowRow window_damaged "$windowDamaged" "-"
  awk -F ' \\| ' -v mode=csv -v pairs="$pairs" "$windowTables" <<<"$windowBroken"
  awk -F '|' -v pairs="$pairs" '
    $2 ~ /^ *[0-9]+ *$/ {
      rows = $2; gsub(/ /, "", rows); split($9, spread, "–"); gsub(/ /, "", spread[1]); gsub(/ /, "", spread[2])
      r = $8 + 0
      printf "hammer_%s,%s,,%s,%s,%s,%s,,,%s,le 1,%s,,,,,\"hammer_bench: slowest strategy / scan, %s rows\"\n", rows, pairs, $4 + 0, r, spread[1], spread[2], r, (r <= 1 ? "yes" : "no"), rows
    }' <<<"$hammer"
} > "$out/new.csv"

# --- the report ---------------------------------------------------------------
{
  echo "# Benchmarks"
  echo
  echo "Made by \`make bench$([ "$quick" = 1 ] && echo -quick)\` on $started: $(nproc) cores ($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)),"
  echo "$(free -g | awk '/^Mem:/ { print $2 }') GiB of memory, Linux $(uname -r), $(df -T "$out" | awk 'NR == 2 { print $2 }') file system."
  echo "Inputs of $((size / 1048576)) MiB (the first row $((big / 1048576)) MiB), page cache warm."
  echo "Each row is $pairs interleaved pairs (ours, theirs, ours...) timed by \`bench/pairtime\`"
  echo "(fork and exec, monotonic clock in nanoseconds, peak memory from wait4); the ratio is"
  echo "the median of the pairs' ratios, the spread the lowest and highest pair's ratio."
  echo "Load average (1, 5, 15 min) before: $loadBefore; after: $loadAfter; processor time"
  echo "stolen by the host meanwhile: $steal%. The last column is the 1-minute load when"
  echo "the row began and the steal during it."
  echo
  echo "| what | ours (s) | theirs (s) | ratio | spread | target | met? | load, steal |"
  echo "|---|---|---|---|---|---|---|---|"
  for k in "${KEYS[@]}"; do
    if [ -n "${F[$k.failed]:-}" ]; then
      echo "| ${WHAT[$k]} | | | failed | | $(goalText "$k") | - | |"
      continue
    fi
    shown=$(printf '%.2f' "${F[$k.ratio]}")
    case ${GOAL[$k]} in ge*) shown="$(figure "$k") MB/s ($shown × cat)" ;; esac
    printf '| %s | %s | %s | %s | %.2f–%.2f | %s | %s | %s, %s%% |\n' "${WHAT[$k]}" \
      "$(seconds "${F[$k.ours]}")" "$(seconds "${F[$k.theirs]}")" "$shown" \
      "${F[$k.min]}" "${F[$k.max]}" "$(goalText "$k")" "$(met "$k")" "${F[$k.load1]}" "${F[$k.steal]}"
  done
  for w in "$windowClean|clean stream of $((size / 1048576)) MiB" "$windowDamaged|1,000 zero runs"; do
    text=${w%%|*} name=${w#*|}
    [ -n "$text" ] || continue
    r=$(sed -n 's/^window \/ sink: //p' <<<"$text")
    goal=""; ok="-"
    if [[ $name == clean* ]]; then
      goal="at most 1.2"
      [ -n "$r" ] && ok=$(awk -v r="$r" 'BEGIN { print r <= 1.2 ? "yes" : "no" }')
    fi
    echo "| scan through the window / the same scan with a recording sink, $name (\`window_bench\`) | | | ${r:--} | | $goal | $ok | |"
  done
  echo
  if [ -z "${F[scan_cat.failed]:-}" ]; then
    echo "Throughput of the clean scan: $(mbps "${F[scan_cat.bytes]}" "${F[scan_cat.ours]}") MB/s, of \`cat\` $(mbps "${F[scan_cat.bytes]}" "${F[scan_cat.theirs]}") MB/s."
    if [ -z "${F[scan_pread.failed]:-}" ]; then
      echo "Of pread alone (the ceiling): $(mbps "${F[scan_cat.bytes]}" "${F[scan_pread.theirs]}") MB/s; the scan reaches $(awk -v r="${F[scan_pread.ratio]}" 'BEGIN { printf "%.0f", (r > 0 ? 100 / r : 0) }')% of it in the median pair."
    fi
    echo
  fi
  limit=$(( 65536 + realBlocks * 32 / 1024 ))
  bigLimit=$(( 65536 + $(synthBlocks "$big") * 32 / 1024 ))
  echo "Peak resident memory (KB, the highest of a row's runs); the limit for our programs"
  echo "is 64 MiB plus 32 bytes per block: $limit KB for the real stream ($realBlocks blocks),"
  echo "$bigLimit KB for the clean stream of the first row ($(synthBlocks "$big") blocks)."
  echo
  kb() { [ -n "${F[$1.failed]:-}" ] && echo "-" || echo "${F[$1.${2}_kb]:--}"; }
  within() {  # KEY LIMIT
    local v; v=$(kb "$1" ours)
    [ "$v" = - ] && { echo "-"; return; }
    [ "$v" -le "$2" ] && echo yes || echo NO
  }
  echo "| what | ours | within the limit | theirs |"
  echo "|---|---|---|---|"
  echo "| scan, clean stream / cat | $(kb scan_cat ours) | $(within scan_cat "$bigLimit") | $(kb scan_cat theirs) |"
  [ "$quick" = 1 ] || echo "| scan, real stream / mpegdemux | $(kb scan_mpegdemux ours) | $(within scan_mpegdemux "$limit") | $(kb scan_mpegdemux theirs) |"
  echo "| scan, 1,000 zero runs | $(kb zero_runs ours) | $(within zero_runs "$limit") | |"
  echo "| repair / cp | $(kb repair_cp ours) | $(within repair_cp "$limit") | $(kb repair_cp theirs) |"
  [ "$quick" = 1 ] || echo "| repair / ffmpeg | $(kb repair_ffmpeg ours) | $(within repair_ffmpeg "$limit") | $(kb repair_ffmpeg theirs) |"
  echo "| join / cat | $(kb join_cat ours) | $(within join_cat "$limit") | $(kb join_cat theirs) |"
  echo "| join --glue / cat | $(kb glue_cat ours) | $(within glue_cat "$limit") | $(kb glue_cat theirs) |"
  [ "$quick" = 1 ] || echo "| join / mpgtx | $(kb join_mpgtx ours) | $(within join_mpgtx "$limit") | $(kb join_mpgtx theirs) |"
  if [ -n "$windowBroken" ]; then
    echo
    echo "## The window at any row count"
    echo
    echo "\`window_bench --pairs $pairs\`, as it reports itself: the window, from the click to the end"
    echo "of its last job, beside the command line doing the same work; target: at most 1.5."
    echo
    awk -F ' \\| ' -v mode=md "$windowTables" <<<"$windowBroken"
  fi
  echo
  echo "$hammer"
  if [ -n "$hostile" ]; then
    echo
    echo "## Peak memory on hostile inputs"
    echo
    echo "\`bench/hostile-memory.sh\`: peak resident memory of \`mpgmend-cli\`; the limit is"
    echo "64 MiB plus 32 bytes per block."
    echo
    echo "$hostile"
  fi
} > "$out/new.md"

# The change of each row against the CSV of the run before.
changes=""
if [ -f "$csv" ]; then
  changes=$(echo "Against the previous run ($csv, $(date -u -r "$csv" '+%Y-%m-%d %H:%M UTC')):"
  awk -F, '
    NR == FNR { if (FNR > 1) { old[$1] = $5; oldFig[$1] = $10; oldTarget[$1] = $11 } next }
    FNR == 1 { next }
    {
      if (!($1 in old)) { printf "  %-22s new row: %s\n", $1, $10; next }
      unit = $11 ~ /^ge/ ? " MB/s" : ""
      a = unit ? oldFig[$1] : old[$1]; b = unit ? $10 : $5
      printf "  %-22s %s%s -> %s%s (%+.1f%%)\n", $1, (unit ? a : sprintf("%.3f", a)), unit,
        (unit ? b : sprintf("%.3f", b)), unit, (a > 0 ? 100 * (b - a) / a : 0)
    }' "$csv" "$out/new.csv")
fi
mv "$out/new.csv" "$csv"
# The report's made part goes between its two marks; what stands after the
# second (sections written by hand: figures of other scripts, earlier
# figures) is kept.
begin='<!-- made by bench/run.sh: from here -->'
end='<!-- made by bench/run.sh: to here -->'
{
  echo "$begin"
  cat "$out/new.md"
  echo "$end"
  kept=$( ([ -f "$report" ] && grep -nxF "$end" "$report" || true) | head -n 1 | cut -d : -f 1)
  if [ -n "$kept" ]; then tail -n +"$((kept + 1))" "$report"; fi
} > "$out/report.md"
mv "$out/report.md" "$report"
echo
cat "$out/new.md"
rm -f "$out/new.md"
if [ -n "$changes" ]; then echo; echo "$changes"; fi
