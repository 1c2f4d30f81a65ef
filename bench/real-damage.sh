#!/usr/bin/env bash
# The scan measured on damage as real files suffer it (bench/real_damage):
# the fixture streams of tests/data and longer streams of the same kinds,
# made here once with ffmpeg and mplex into OUT_DIR/streams, each damaged
# every way with a few seeds and judged by ffmpeg's decode. Prints the tables
# (markdown) and writes them to OUT_DIR/real-damage.md, one line per damaged
# file to OUT_DIR/real-damage.csv. `make bench-real-damage` runs it.
# Usage: bench/real-damage.sh BUILD_DIR [OUT_DIR]
#   REAL_SEEDS     copies per source and kind of damage (default 3)
#   REAL_SECONDS   length of the longer streams (default 6; 0: fixtures only)
#   REAL_REPAIR=1  also repair every copy and judge the repairs (--repair)
#   REAL_DAMAGE    only these kinds, comma-separated (CdMisread,ZeroHoles,...)
#   MPGMEND_CLI    another mpgmend-cli to measure
set -euo pipefail

build=${1:?build directory}
out=${2:-bench/out}/real-damage
here=$(cd "$(dirname "$0")" && pwd)
data="$here/../tests/data"
seconds=${REAL_SECONDS:-6}
cli=${MPGMEND_CLI:-$build/src/cli/mpgmend-cli}
streams="$out/streams"
mkdir -p "$streams"

# The longer streams: the fixtures' recipes (tests/data/make-fixtures.sh) at
# REAL_SECONDS seconds of a moving test picture.
make_streams() {
  local s=$seconds work="$streams/work"
  mkdir -p "$work"
  local common=(-hide_banner -loglevel error -y -nostdin)
  local pic=(-f lavfi -i "testsrc2=size=352x288:rate=25:duration=$s")
  local tone44=(-f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$s")
  local tone48=(-f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$s")
  local m2v=(-c:v mpeg2video -b:v 1000k -maxrate 2000k -bufsize 1835008 -g 12)
  ffmpeg "${common[@]}" "${pic[@]}" "${tone44[@]}" -c:v mpeg1video -b:v 1150k -c:a mp2 \
    -b:a 128k -f mpeg "$streams/mpeg1.mpg"
  ffmpeg "${common[@]}" "${pic[@]}" "${tone44[@]}" -target pal-vcd -b:v 700k -minrate:v 700k \
    -maxrate:v 700k "$streams/vcd.mpg"
  ffmpeg "${common[@]}" "${pic[@]}" "${tone48[@]}" "${m2v[@]}" -c:a ac3 -b:a 192k -f dvd \
    "$streams/dvd-ac3.mpg"
  ffmpeg "${common[@]}" "${pic[@]}" "${tone48[@]}" "${m2v[@]}" -c:a mp2 -b:a 192k -f vob \
    "$streams/dvd-mp2.mpg"
  if command -v mplex >/dev/null; then
    ffmpeg "${common[@]}" -f lavfi -i "testsrc2=size=352x288:rate=25:duration=$s" \
      -c:v mpeg1video -b:v 1150k -minrate 1150k -maxrate 1150k -bufsize 327680 \
      -f mpeg1video "$work/vcd.m1v"
    ffmpeg "${common[@]}" -f lavfi -i "testsrc2=size=480x576:rate=25:duration=$s" \
      -c:v mpeg2video -b:v 1500k -maxrate 2500k -bufsize 1835008 -g 12 -f mpeg2video \
      "$work/svcd.m2v"
    ffmpeg "${common[@]}" "${tone44[@]}" -ac 2 -c:a mp2 -b:a 224k -f mp2 "$work/a44.mp2"
    mplex -v 0 -f 4 -o "$streams/svcd.mpg" "$work/svcd.m2v" "$work/a44.mp2"
    mplex -v 0 -f 1 -o "$work/vcd-mplex.mpg" "$work/vcd.m1v" "$work/a44.mp2"
    perl "$data/cdxa-wrap.pl" wrap "$work/vcd-mplex.mpg" "$streams/vcd-dat.dat"
  else
    echo "real-damage.sh: no mplex (mjpegtools): no longer SVCD and .dat streams" >&2
  fi
  rm -rf "$work"
  touch "$streams/made-$seconds"
}

sources=(
  "mpeg1,mpeg=$data/av.mpg" "vcd,mpeg=$data/vcd-2324.mpg" "svcd,vob=$data/svcd-mplex.mpg"
  "dvd-ac3,dvd=$data/dvd.mpg" "dvd-mp2,vob=$data/vob.mpg" "vcd-dat,mpeg=$data/vcd-mplex.dat"
)
if [ "$seconds" != 0 ]; then
  [ -e "$streams/made-$seconds" ] || make_streams
  for f in mpeg1,mpeg=mpeg1.mpg vcd,mpeg=vcd.mpg svcd,vob=svcd.mpg dvd-ac3,dvd=dvd-ac3.mpg \
    dvd-mp2,vob=dvd-mp2.mpg vcd-dat,mpeg=vcd-dat.dat; do
    [ -e "$streams/${f#*=}" ] && sources+=("${f%%=*}=$streams/${f#*=}")
  done
fi

args=(--cli "$cli" --out "$out" --seeds "${REAL_SEEDS:-3}")
[ "${REAL_REPAIR:-0}" = 1 ] && args+=(--repair)
[ -n "${REAL_DAMAGE:-}" ] && args+=(--damage "$REAL_DAMAGE")
"$build/bench/real_damage" "${args[@]}" "${sources[@]}" | tee "$out/real-damage.md"
echo "per file: $out/real-damage.csv" >&2
