#!/usr/bin/env bash
# Regenerates the fixture streams of this folder with ffmpeg.
# The streams are small MPEG-1 system streams (mpeg1video + mp2) made from
# ffmpeg's synthetic test sources, so they carry no third-party content.
# -fflags +bitexact keeps the output reproducible for one ffmpeg version.
set -euo pipefail
cd "$(dirname "$0")"

common=(-hide_banner -loglevel error -y -fflags +bitexact)
video=(-f lavfi -i "testsrc=size=176x144:rate=25:duration=3")
audio=(-f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3")
vcodec=(-c:v mpeg1video -b:v 400k -flags +bitexact)
acodec=(-c:a mp2 -b:a 128k -flags +bitexact)

# A program stream with one video and one audio stream.
ffmpeg "${common[@]}" "${video[@]}" "${audio[@]}" "${vcodec[@]}" "${acodec[@]}" \
  -f mpeg av.mpg

# The same sources muxed for a video CD: 2324-byte packs, system headers that
# list one stream each, padding packets.
ffmpeg "${common[@]}" "${video[@]}" "${audio[@]}" -s 352x288 -r 25 \
  -c:v mpeg1video -b:v 1150k -minrate 1150k -maxrate 1150k -bufsize 327680 \
  -flags +bitexact -c:a mp2 -b:a 224k -ar 44100 -ac 2 -t 2 \
  -f vcd vcd.mpg

# Video only.
ffmpeg "${common[@]}" "${video[@]}" "${vcodec[@]}" -t 2 -f mpeg video-only.mpg

ls -l ./*.mpg
