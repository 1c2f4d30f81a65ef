#!/usr/bin/env bash
# Peak resident memory of mpgmend-cli on hostile inputs it makes itself:
#   - 100 MB of 4-byte end codes behind a valid pack and system header
#     (26 million blocks): scan, repair, scan --json;
#   - a stream with one broken block of 105 MB (a packet that swallowed
#     100 MiB of zeros): scan, repair, the dump of that block;
#   - an index file of 5 million records (from a scan of 20 MB of end codes):
#     repair --from-index;
#   - 20 MB of empty packets each followed by a stray byte, so that every
#     block is broken and listed: scan, repair, repair --verify, and
#     repair --apply auto alone and with --report, --verify or --dry-run
#     (each of which keeps the automatic repair's account of every block);
#   - the 100 MB of end codes again: repair --verify (the check of the
#     written file scans 26 million blocks once more);
#   - a clean stream of 5 GB (HOSTILE_BIG_SIZE bytes) and its index:
#     repair --from-index --verify;
#   - a video CD rip of 846 MB whose every sector has a damaged header and a
#     wrong EDC over a payload of zeros (two faulty sectors listed per
#     sector): scan;
#   - a sparse rip of 6 GB: one such sector, then zeros that were never
#     written (a faulty sector listed per sector, no disk taken): scan.
# The inputs take about 5.3 GB of disk (the 5 GB stream most); remove OUT_DIR
# to get it back.
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
big="$out/clean-5G.mpg"
badRip="$out/bad-sectors-846M.dat"
sparseRip="$out/sparse-6G.dat"
[ -f "$big" ] || "$synth" "$big" --size "${HOSTILE_BIG_SIZE:-5000000000}" >/dev/null
# A scan that finds broken blocks exits 3; a clean one 0.
[ -f "$big.index" ] || "$cli" scan -q --save-index "$big" >/dev/null || [ $? -eq 3 ]

# A RIFF CDXA rip of SECTORS sectors, each with its sync pattern, no BCD
# address (a damaged header) and a wrong EDC over 2,324 zero bytes; the
# first sector's payload begins with the 30-byte head (pack and system
# header) of the end-code stream. With "sparse" only that sector is
# written and the file is extended with zeros it does not store.
makeRip() {  # OUT SECTORS [sparse]
  perl -e '
    my ($out, $sectors, $headFile, $sparse) = @ARGV;
    open(my $h, "<:raw", $headFile) or die "$headFile: $!";
    read($h, my $head, 30) == 30 or die "$headFile: too short";
    open(my $f, ">:raw", $out) or die "$out: $!";
    my $data = $sectors * 2352;
    print $f "RIFF", pack("V", $data + 36), "CDXA", "fmt ", pack("V", 16), "\0" x 16,
      "data", pack("V", $data);
    my $sector = "\x00" . ("\xFF" x 10) . "\x00\xFF\xFF\xFF\x02" . ("\x00\x00\x20\x00" x 2)
      . ("\0" x 2324) . pack("V", 0x12345678);
    my $first = $sector;
    substr($first, 24, 30) = $head;
    print $f $first;
    if ($sparse) { truncate($f, 44 + $data) or die "$out: $!"; }
    else { my $left = $sectors - 1; print $f $sector x 256 while ($left -= 256) >= 0;
           print $f $sector x ($left + 256); }
    close($f) or die "$out: $!";
  ' "$1" "$2" "$endcodes" "${3:-}"
}
[ -f "$badRip" ] || makeRip "$badRip" 359693
[ -f "$sparseRip" ] || makeRip "$sparseRip" 2551020 sparse

# A stream of end codes holds its 30-byte head (two blocks) and one block per
# 4 bytes, one of broken packets one per 7 bytes; the long-run stream's
# blocks are counted from its scan.
endBlocks() { echo $(( 2 + ($(stat -L -c %s "$1") - 30) / 4 )); }
brokenBlocks() { echo $(( 2 + ($(stat -L -c %s "$1") - 30) / 7 )); }
# A scan that finds broken blocks exits with 3: under pipefail that status
# would end the script, so the commands here are let fail.
longBlocks=$( ("$cli" scan --json -q "$long" || true) | grep -o '{"code"' | wc -l)
longBlock=$( ("$cli" scan -q "$long" || true) | head -n 1 | cut -f 2)
# The blocks of a stream counted from its scan's JSON document, cut at its
# commas: grep -o over one line of hundreds of megabytes (a rip's sectors)
# takes minutes.
jsonBlocks() { ("$cli" scan --json -q "$1" || true) | tr ',' '\n' | LC_ALL=C grep -c '{"code"'; }
# A wide index (streams of 4 GiB and more) holds a 32-byte header and 30
# bytes a record, a narrow one 26 bytes a record.
indexBlocks() {
  local size
  size=$(stat -L -c %s "$1.index")
  if [ "$(stat -L -c %s "$1")" -ge 4294967296 ]; then
    echo $(( (size - 32) / 30 ))
  else
    echo $(( size / 26 ))
  fi
}

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
row "repair --verify" "100 MB of end codes" "$e" "$cli" repair -q "$endcodes" -o "$tmp" --force --verify
row "scan --json" "100 MB of end codes" "$e" "$cli" scan --json -q "$endcodes"
row "scan" "one 105 MB broken block" "$longBlocks" "$cli" scan -q "$long"
row "repair" "one 105 MB broken block" "$longBlocks" "$cli" repair -q "$long" -o "$tmp" --force
row "dump of that block" "one 105 MB broken block" "$longBlocks" "$cli" dump "$long" --block "$longBlock"
i=$(endBlocks "$indexed")
row "repair --from-index" "index of $i records" "$i" "$cli" repair -q --from-index "$indexed" -o "$tmp" --force
k=$(brokenBlocks "$broken")
row "scan" "20 MB, every block broken" "$k" "$cli" scan -q "$broken"
row "repair" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" -o "$tmp" --force
row "repair --verify" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" -o "$tmp" --force --verify
# --apply takes the values up to the next option, so the input comes first.
row "repair --apply auto" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" --apply auto -o "$tmp" --force
report="$out/hostile-report.json"
row "repair --apply auto --report" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" --apply auto -o "$tmp" --force --report "$report"
rm -f "$report"
row "repair --apply auto --verify" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" --apply auto -o "$tmp" --force --verify
row "repair --apply auto --dry-run" "20 MB, every block broken" "$k" "$cli" repair -q "$broken" --apply auto --dry-run
b=$(indexBlocks "$big")
row "repair --from-index --verify" "5 GB stream and its index" "$b" "$cli" repair -q --from-index "$big" -o "$tmp" --force --verify
r=$(jsonBlocks "$badRip")
row "scan" "846 MB rip, every sector's header and EDC bad" "$r" "$cli" scan -q "$badRip"
p=$(jsonBlocks "$sparseRip")
row "scan" "6 GB sparse rip" "$p" "$cli" scan -q "$sparseRip"
