#!/usr/bin/env bash
# End to end over the real programs: two short clips (one with a blank in its folder and
# file name, a picture size that is not whole macroblocks, another frame rate and mono
# audio) are converted headless by Ostrander to .avsts and to .asm with the real
# Harrowgate, Quenby, Korvel and Lindqvale. Every picture and every audio frame must
# arrive: in the transport stream as FFmpeg decodes it, in the container as ffprobe
# reads it, and through BranwickSource as avsplay plays it. The intermediate files must
# be gone.
#
#   wholeset_e2e.sh BUILD_DIR WORK_DIR
set -uo pipefail
build=${1:?usage: wholeset_e2e.sh BUILD_DIR WORK_DIR}
work=${2:?usage: wholeset_e2e.sh BUILD_DIR WORK_DIR}
bin=$(cd "$build/bin" && pwd)
count=$build/tests/media_count
export QT_QPA_PLATFORM=offscreen
ffmpeg() { command ffmpeg -nostdin "$@"; }

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
check_eq() {  # what, got, expected
  if [ "$2" = "$3" ]; then echo "ok: $1 = $2"; else fail "$1 is $2, expected $3"; fi
}
field() {  # key, "k=v k=v" text
  sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"
}

for p in Ostrander Harrowgate Quenby Korvel Lindqvale lame_enc.so; do
  [ -e "$bin/$p" ] || { echo "FAIL: $bin/$p is not built"; exit 1; }
done
[ -x "$count" ] || { echo "FAIL: $count is not built"; exit 1; }

rm -rf "$work"
mkdir -p "$work/clips two" "$work/out" "$work/ref" "$work/play"
a=$work/a.avi
b="$work/clips two/b clip.wmv"
ffmpeg -v error -f lavfi -i "testsrc2=size=352x288:rate=24:duration=3" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" -ac 2 \
  -c:v mpeg4 -q:v 2 -c:a pcm_s16le "$a" || { echo "FAIL: ffmpeg made no clip"; exit 1; }
ffmpeg -v error -f lavfi -i "mandelbrot=size=200x120:rate=25" \
  -f lavfi -i "sine=frequency=660:sample_rate=22050:duration=2" -t 2 -ac 1 \
  -c:v wmv2 -b:v 1M -c:a wmav2 -b:a 64k "$b" || { echo "FAIL: ffmpeg made no clip"; exit 1; }

# What the sources hold, and what each encoder alone makes of them: the reference the
# conversions are held to (Harrowgate and Quenby are deterministic).
declare -A pictures frames
for src in "$a" "$b"; do
  name=$(basename "$src")
  pictures[$name]=$(ffprobe -v error -select_streams v:0 -count_frames \
    -show_entries stream=nb_read_frames -of csv=p=0 "$src")
  "$bin/Harrowgate" "$src" "$work/ref/$name.avs" -n 24 >/dev/null 2>&1
  "$bin/Quenby" "$src" "$work/ref/$name.mp3" >/dev/null 2>&1
  pics=$(field pictures "$("$count" avs "$work/ref/$name.avs")")
  audio=$("$count" mp3 "$work/ref/$name.mp3")
  frames[$name]=$(field frames "$audio")
  check_eq "$name: Harrowgate pictures (source pictures)" "$pics" "${pictures[$name]}"
  # The MP3 must cover the whole source: frames x samples per frame >= source samples.
  channels=$(ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 "$src")
  src_samples=$(($(ffmpeg -v error -i "$src" -map 0:a:0 -f s16le - | wc -c) / (2 * channels)))
  mp3_samples=$(field samples "$audio")
  if [ -n "$mp3_samples" ] && [ "$mp3_samples" -ge "$src_samples" ]; then
    echo "ok: $name: MP3 of ${frames[$name]} frames covers the source's $src_samples samples"
  else
    fail "$name: MP3 holds ${mp3_samples:-no} samples, the source $src_samples"
  fi
done

# Ostrander starts its children from its current directory.
(cd "$bin" && ./Ostrander --convert-ts --output "$work/out" "$a" "$b") >"$work/ts.log" 2>&1
check_eq "Ostrander --convert-ts exit code" "$?" 0
(cd "$bin" && ./Ostrander --convert-asm --output "$work/out" "$a" "$b") >"$work/asm.log" 2>&1
check_eq "Ostrander --convert-asm exit code" "$?" 0

leftovers=$(cd "$work/out" && ls -- *.avs *.mp3 *.dat 2>/dev/null)
check_eq "intermediate files left in the output folder" "${leftovers:-none}" none

if [ -x "$bin/avsplay" ] && [ -e "$bin/BranwickSource.so" ] && [ -x "$bin/regsvr" ]; then
  export AVS_REGISTRY=$work/registry.reg
  "$bin/regsvr" "$bin/BranwickSource.so" >/dev/null || fail "regsvr BranwickSource.so"
  have_player=1
else
  echo "skipped: avsplay not built (playback of the .asm files is not checked)"
  have_player=0
fi

for src in "$a" "$b"; do
  name=$(basename "$src")
  ts=$work/out/$name.avsts
  asm=$work/out/$name.asm
  [ -s "$ts" ] || fail "$name: no .avsts"
  [ -s "$asm" ] || fail "$name: no .asm"

  # Transport stream: one cavs and one mp3 stream; every picture and frame decodes.
  # (ffprobe lists each stream once more under its program: keep one of each line.)
  streams=$(ffprobe -v error -count_frames -show_entries \
    stream=index,codec_name,codec_type,nb_read_frames -of csv=p=0 "$ts" 2>/dev/null | awk NF | sort -u)
  check_eq "$name.avsts streams" "$(cut -d, -f2,3 <<<"$streams" | tr '\n' ' ')" \
    "cavs,video mp3,audio "
  check_eq "$name.avsts pictures decoded" "$(grep ',cavs,' <<<"$streams" | cut -d, -f4)" \
    "${pictures[$name]}"
  check_eq "$name.avsts audio frames decoded" "$(grep ',mp3,' <<<"$streams" | cut -d, -f4)" \
    "${frames[$name]}"

  # Container: the track sample counts.
  tracks=$(ffprobe -v error -show_entries stream=codec_name,nb_frames -of csv=p=0 "$asm" | sort)
  check_eq "$name.asm video samples" "$(grep '^cavs' <<<"$tracks" | cut -d, -f2)" \
    "${pictures[$name]}"
  check_eq "$name.asm audio samples" "$(grep '^mp3' <<<"$tracks" | cut -d, -f2)" \
    "${frames[$name]}"

  # Playback through BranwickSource: the video and audio bytes delivered, counted and decoded.
  if [ "$have_player" = 1 ]; then
    v=$work/play/$name.avs
    m=$work/play/$name.mp3
    "$bin/avsplay" "$asm" --video "$v" --audio "$m" --decode >"$work/play/$name.log" 2>&1
    check_eq "$name.asm avsplay exit code" "$?" 0
    summary=$(cat "$work/play/$name.log")
    check_eq "$name.asm avsplay's own decode" \
      "$(grep -o 'decoded [0-9]* pictures, [0-9]* decoding errors' <<<"$summary")" \
      "decoded ${pictures[$name]} pictures, 0 decoding errors"
    check_eq "$name.asm streams that reached their end" "$(grep -c 'end of stream' <<<"$summary")" 2
    check_eq "$name.asm pictures played" "$(field pictures "$("$count" avs "$v")")" \
      "${pictures[$name]}"
    check_eq "$name.asm audio frames played" "$(field frames "$("$count" mp3 "$m")")" \
      "${frames[$name]}"
    decoded=$(ffmpeg -v error -f cavsvideo -i "$v" -fps_mode passthrough -f framecrc - 2>/dev/null | grep -c '^0,')
    check_eq "$name.asm played pictures FFmpeg decodes" "$decoded" "${pictures[$name]}"
  fi
done

# The pictures must be the source's, not just the right number of them.
yuv() { ffmpeg -v fatal -i "$1" -map 0:v -fps_mode passthrough -s 352x288 -pix_fmt yuv420p -f rawvideo -y "$2"; }
yuv "$a" "$work/a.src.yuv" && yuv "$work/out/a.avi.avsts" "$work/a.ts.yuv"
psnr=$(ffmpeg -hide_banner -f rawvideo -s 352x288 -pix_fmt yuv420p -i "$work/a.ts.yuv" \
  -f rawvideo -s 352x288 -pix_fmt yuv420p -i "$work/a.src.yuv" -lavfi psnr=shortest=1 -f null - 2>&1 |
  sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p')
echo "a.avi.avsts PSNR against the source: ${psnr:-none} dB"
awk -v p="${psnr:-0}" 'BEGIN { exit !(p == "inf" || p + 0 >= 35) }' ||
  fail "a.avi.avsts PSNR ${psnr:-none} dB is below 35 dB"

if [ "$failures" -ne 0 ]; then
  echo "== $failures check(s) failed; Ostrander's output:"
  cat "$work/ts.log" "$work/asm.log"
  exit 1
fi
echo "== all checks passed"
