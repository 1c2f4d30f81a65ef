#!/usr/bin/env bash
# Pictures of the windows under a real X server: docs/screenshots/*.png.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
mkdir -p docs/screenshots
# A large stream for the join that is pictured while it runs, and a damaged
# copy of a video CD stream for the repair page: runs of zero bytes put into
# three of its packets, as a bad read leaves them.
# The pictures show the damaged stream by a short name: it is opened from
# a folder of its own.
large=$(mktemp --suffix=.mpg)
work=$(mktemp -d)
damaged=$work/film.mpg
trap 'rm -rf "$large" "$work"' EXIT
"$build/bench/mpgsynth" "$large" --size 600000000
stream=tests/data/vcd.mpg
piece() { dd if="$stream" iflag=skip_bytes,count_bytes skip="$1" count="$2" status=none; }
{
  piece 0 60000; head -c 300 /dev/zero
  piece 60000 90000; head -c 1200 /dev/zero
  piece 150000 100000; head -c 64 /dev/zero
  piece 250000 999999999
} > "$damaged"
repo=$(pwd)
program=$(cd "$build" && pwd)/tests/screenshots
(cd "$work" && xvfb-run -a -s "-screen 0 1024x768x24" \
  "$program" "$repo/docs/screenshots" film.mpg "$repo/tests/data/av.mpg" "$large")
