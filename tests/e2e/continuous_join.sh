#!/usr/bin/env bash
# A continuous join of three pieces cut from one ffmpeg stream, MPEG-1 and
# MPEG-2: the joined film lasts as long as its pieces together (within one
# frame), the time stamps of every stream rise across the seams, and ffmpeg
# decodes it without a word and with every frame of the pieces. The pieces
# stay as they were. Skipped (77) without ffmpeg and ffprobe.
set -euo pipefail
cli=${1:?mpgmend-cli}
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

duration() { ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1"; }
videoFrames() {
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of default=nw=1:nk=1 "$1" | head -1
}

# check FORMAT VIDEO-CODEC: a 6-second film at 25 fps with a group of
# pictures per second, cut at 0, 2 and 4 seconds. The video is copied, the
# audio made anew: copied, a piece would begin inside an audio frame, which
# ffmpeg reports for the piece alone already.
check() {
    local format=$1 codec=$2 dir=$work/$1
    mkdir -p "$dir"
    ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25:duration=6 \
        -f lavfi -i sine=frequency=440:duration=6 -c:v "$codec" -g 25 -bf 0 -b:v 800k \
        -c:a mp2 -f "$format" "$dir/film.mpg"
    local pieces=() k
    for k in 0 1 2; do
        ffmpeg -v error -ss $((k * 2)) -t 2 -i "$dir/film.mpg" -c:v copy -c:a mp2 -f "$format" \
            "$dir/piece$k.mpg" 2>"$dir/cut$k.txt" # the source's frames cut through
        pieces+=("$dir/piece$k.mpg")
    done
    local before
    before=$(sha256sum "${pieces[@]}")
    "$cli" join -q --continuous -o "$dir/joined.mpg" "${pieces[@]}" || fail "$format: join"
    "$cli" join -q -o "$dir/plain.mpg" "${pieces[@]}" || fail "$format: plain join"
    [ "$(sha256sum "${pieces[@]}")" = "$before" ] || fail "$format: the pieces changed"
    [ "$(stat -c %s "$dir/joined.mpg")" = "$(stat -c %s "$dir/plain.mpg")" ] ||
        fail "$format: the blocks changed size"

    local sum=0 frames=0 d
    for k in 0 1 2; do
        d=$(duration "${pieces[$k]}")
        sum=$(python3 -c "print($sum + $d)")
        frames=$((frames + $(videoFrames "${pieces[$k]}")))
    done
    d=$(duration "$dir/joined.mpg")
    python3 -c "import sys; sys.exit(abs($d - $sum) > 0.04)" ||
        fail "$format: joined lasts $d s, the pieces $sum s"
    local errors
    errors=$(ffmpeg -v error -i "$dir/joined.mpg" -f null - 2>&1)
    [ -z "$errors" ] || fail "$format: ffmpeg says $errors"
    [ "$(videoFrames "$dir/joined.mpg")" = "$frames" ] || fail "$format: frames lost"
    # Every stream's stamps rise, in the order of the file.
    ffprobe -v error -show_entries packet=stream_index,pts,dts -of csv=p=0 "$dir/joined.mpg" |
        python3 -c '
import sys
last = {}
for line in sys.stdin:
    s, pts, dts = line.strip().split(",")[:3]
    t = int(dts if dts not in ("", "N/A") else pts)
    if s in last and t <= last[s]:
        sys.exit("stream %s: %d after %d" % (s, t, last[s]))
    last[s] = t
' || fail "$format: a stamp goes back"
    echo "$format: $d s for $sum s, $frames frames"
}

check mpeg mpeg1video
check vob mpeg2video
