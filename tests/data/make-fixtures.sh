#!/usr/bin/env bash
# Regenerates the fixture streams of this folder with ffmpeg, mplex
# (mjpegtools) and twolame: `make fixtures`, which installs them first. The
# streams are committed, so building and testing need none of them.
# They are small program streams made from ffmpeg's synthetic test sources
# (testsrc pictures, sine tones), so they carry no third-party content.
# -fflags +bitexact and -flags +bitexact keep ffmpeg's output reproducible for
# one ffmpeg version; mplex writes no dates and no random values, so its output
# depends only on its inputs and its version. README.md says what each holds.
set -euo pipefail
cd "$(dirname "$0")"

# The video CD rip as a .dat file (RIFF CDXA header, raw 2,352-byte Mode 2
# Form 2 sectors) and damaged copies of it, made by cdxa-wrap.pl from the
# vcd-mplex.mpg in this folder; `make-fixtures.sh dat` makes only these, from
# the committed stream, without ffmpeg or mplex. vcd-dat.txt records where
# each copy is damaged; README.md describes the layout.
make_dat_fixtures() {
  local wrap=(perl cdxa-wrap.pl) unwrapped
  "${wrap[@]}" wrap vcd-mplex.mpg vcd-mplex.dat
  # Every sector sound, with an EDC that the bit-by-bit computation confirms,
  # and the payloads, unwrapped, exactly the stream they were cut from.
  "${wrap[@]}" check vcd-mplex.dat vcd-mplex.mpg
  unwrapped=$(mktemp -p . .unwrapped.XXXXXX)
  "${wrap[@]}" unwrap vcd-mplex.dat "$unwrapped"
  cmp "$unwrapped" vcd-mplex.mpg
  rm -f "$unwrapped"
  # Damage well inside the 164 sectors, a different sector for each copy;
  # flip and zero take the first video sector from the number given on.
  {
    "${wrap[@]}" layout vcd-mplex.dat
    "${wrap[@]}" edc vcd-mplex.dat 2
    "${wrap[@]}" flip vcd-mplex.dat vcd-dat-flip.dat 30
    "${wrap[@]}" zero vcd-mplex.dat vcd-dat-zero.dat 82
    "${wrap[@]}" drop vcd-mplex.dat vcd-dat-missing.dat 50
    "${wrap[@]}" duplicate vcd-mplex.dat vcd-dat-duplicate.dat 110
    "${wrap[@]}" sync vcd-mplex.dat vcd-dat-sync.dat 130
  } >vcd-dat.txt.tmp
  mv vcd-dat.txt.tmp vcd-dat.txt
  ls -l ./*.dat vcd-dat.txt
}
if [ "${1:-}" = dat ]; then
  make_dat_fixtures
  exit 0
fi

# The elementary streams that mplex multiplexes are made in a scratch folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

common=(-hide_banner -loglevel error -y -fflags +bitexact)
video=(-f lavfi -i "testsrc=size=176x144:rate=25:duration=3")
audio=(-f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3")
vcodec=(-c:v mpeg1video -b:v 400k -flags +bitexact)
acodec=(-c:a mp2 -b:a 128k -flags +bitexact)

# A program stream with one video and one audio stream.
ffmpeg "${common[@]}" "${video[@]}" "${audio[@]}" "${vcodec[@]}" "${acodec[@]}" \
  -f mpeg av.mpg

# The same sources muxed for a video CD: 2048-byte packs, system headers that
# list one stream each, padding packets, 20 zero bytes behind each audio packet.
ffmpeg "${common[@]}" "${video[@]}" "${audio[@]}" -s 352x288 -r 25 \
  -c:v mpeg1video -b:v 1150k -minrate 1150k -maxrate 1150k -bufsize 327680 \
  -flags +bitexact -c:a mp2 -b:a 224k -ar 44100 -ac 2 -t 2 \
  -f vcd vcd.mpg

# Video only.
ffmpeg "${common[@]}" "${video[@]}" "${vcodec[@]}" -t 2 -f mpeg video-only.mpg

# A video CD as ffmpeg writes it for a disc: one pack per 2324-byte sector,
# 20 zero bytes behind each audio packet, and whole zero sectors where the
# video runs below the disc's fixed rate of 75 sectors a second (the video's
# 700 kbit/s leaves room for them: eleven after the first sector, one or two
# between video sectors, and one last sector that follows straight on the 20
# zero bytes that close the last audio sector, so that 2344 zeros end the file).
ffmpeg "${common[@]}" "${video[@]}" "${audio[@]}" -target pal-vcd \
  -b:v 700k -minrate:v 700k -maxrate:v 700k -flags +bitexact -t 2 vcd-2324.mpg

# Elementary streams for mplex: MPEG-1 video for the video CD, MPEG-2 video
# for the super video CD and the DVD, MP2 audio at 44.1 and 48 kHz.
ffmpeg "${common[@]}" -f lavfi -i "testsrc=size=352x288:rate=25:duration=2" \
  -c:v mpeg1video -b:v 1150k -minrate 1150k -maxrate 1150k -bufsize 327680 \
  -flags +bitexact -f mpeg1video "$work/vcd.m1v"
ffmpeg "${common[@]}" -f lavfi -i "testsrc=size=480x576:rate=25:duration=2" \
  -c:v mpeg2video -b:v 1500k -maxrate 2500k -bufsize 1835008 -g 12 \
  -flags +bitexact -f mpeg2video "$work/svcd.m2v"
ffmpeg "${common[@]}" -f lavfi -i "testsrc=size=352x288:rate=25:duration=2" \
  -c:v mpeg2video -b:v 1000k -maxrate 2000k -bufsize 1835008 -g 12 \
  -flags +bitexact -f mpeg2video "$work/dvd.m2v"
ffmpeg "${common[@]}" -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" \
  -ac 2 -c:a mp2 -b:a 224k -flags +bitexact -f mp2 "$work/a44.mp2"
ffmpeg "${common[@]}" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2" \
  -ac 2 -c:a mp2 -b:a 192k -flags +bitexact -f mp2 "$work/a48.mp2"

# A video CD as mplex writes it: 2324-byte sectors, 20 zero bytes behind each
# audio packet, padding packets where the video runs short, an end code.
mplex -v 0 -f 1 -o vcd-mplex.mpg "$work/vcd.m1v" "$work/a44.mp2"

# A super video CD: MPEG-2 packs of 2324 bytes, each filled out by a padding
# packet rather than by zeros.
mplex -v 0 -f 4 -o svcd-mplex.mpg "$work/svcd.m2v" "$work/a44.mp2"

# An MPEG-1 system stream with one video and two audio streams (0xC0, 0xC1).
ffmpeg "${common[@]}" "${video[@]}" "${audio[@]}" \
  -f lavfi -i "sine=frequency=660:sample_rate=44100:duration=3" \
  -map 0:v -map 1:a -map 2:a "${vcodec[@]}" "${acodec[@]}" -t 2 \
  -f mpeg two-audio.mpg

# MPEG-2 program streams with 2048-byte packs: a DVD stream with AC-3 audio
# in private stream 1 (0xBD) and the navigation packets of private stream 2
# (0xBF), and a VOB with MP2 audio (0xC0).
dvdvideo=(-f lavfi -i "testsrc=size=352x288:rate=25:duration=3")
dvdaudio=(-f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3")
m2vcodec=(-c:v mpeg2video -b:v 1000k -maxrate 2000k -bufsize 1835008 -g 12 -flags +bitexact)
ffmpeg "${common[@]}" "${dvdvideo[@]}" "${dvdaudio[@]}" "${m2vcodec[@]}" \
  -c:a ac3 -b:a 192k -t 2 -f dvd dvd.mpg
ffmpeg "${common[@]}" "${dvdvideo[@]}" "${dvdaudio[@]}" "${m2vcodec[@]}" \
  -c:a mp2 -b:a 192k -t 2 -f vob vob.mpg

# An MPEG-2 program stream with no system header at all, as a real muxer
# writes it: mplex's DVD format without navigation sectors writes none (each
# of ffmpeg's program stream muxers puts one in the first pack, and none has
# an option to leave it out).
mplex -v 0 -f 9 -o no-system-header.mpg "$work/dvd.m2v" "$work/a48.mp2"

# MPEG audio frames that carry a CRC, which ffmpeg's encoder never writes:
# twolame -p, joint stereo at 48 kHz and mono at 24 kHz (MPEG-2's lower
# sample rates, with their allocation table), in an audio-only program stream.
ffmpeg "${common[@]}" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" \
  -ac 2 -flags +bitexact "$work/s48.wav"
ffmpeg "${common[@]}" -f lavfi -i "sine=frequency=660:sample_rate=24000:duration=3" \
  -ac 1 -flags +bitexact "$work/s24.wav"
twolame --quiet -p -m j -b 192 "$work/s48.wav" "$work/j48.mp2"
twolame --quiet -p -m m -b 64 "$work/s24.wav" "$work/m24.mp2"
ffmpeg "${common[@]}" -i "$work/j48.mp2" -i "$work/m24.mp2" -map 0:a -map 1:a -c:a copy \
  -f mpeg mp2-crc.mpg

ls -l ./*.mpg
make_dat_fixtures
