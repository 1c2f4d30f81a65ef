#!/usr/bin/env bash
# Pictures of the windows under a real X server: docs/screenshots/*.png.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
mkdir -p docs/screenshots
# A large stream for the join that is pictured while it runs.
large=$(mktemp --suffix=.mpg)
trap 'rm -f "$large"' EXIT
"$build/bench/mpgsynth" "$large" --size 600000000
xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/tests/screenshots" docs/screenshots tests/data/vcd.mpg tests/data/av.mpg "$large"
