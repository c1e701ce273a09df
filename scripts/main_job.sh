#!/usr/bin/env bash
# The main job on a built-in example: the whole tool set on a short clip made with FFmpeg.
# Ostrander converts it headless to .avsts and to .asm (running Harrowgate, Quenby, Korvel
# and Lindqvale); the filter modules are registered in a registry of the demo's own; the
# .asm plays through BranwickSource and the .avs streams over RTSP into Tallowmere, both
# with avsplay; FFmpeg checks the transport stream. Ends with a report of pictures and
# audio frames at every step, the PSNR of the decoded pictures against the source and
# the time of each stage. Files go to out/demo/ (or $1). Steps whose programs are not
# built yet are skipped with a note.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin=$root/build/bin
count=$root/build/tests/media_count
out=${1:-out/demo}
mkdir -p "$out" && out=$(cd "$out" && pwd)
export QT_QPA_PLATFORM=offscreen
export AVS_REGISTRY=$out/registry.reg
ffmpeg() { command ffmpeg -nostdin -hide_banner "$@"; }

for f in Ostrander Harrowgate Quenby Korvel Lindqvale lame_enc.so; do
  [ -e "$bin/$f" ] || { echo "main_job: $bin/$f is missing; run scripts/build.sh release first" >&2; exit 1; }
done
[ -x "$count" ] || { echo "main_job: $count is missing; run scripts/build.sh release first" >&2; exit 1; }

seconds=4 fps=24 width=352 height=288
clip=$out/clip.avi
stages=$out/stages
rm -rf "$stages" "$out/play" "$out"/clip.avi.* "$AVS_REGISTRY"
mkdir -p "$stages" "$out/play"

report=()   # lines of the final table
failed=0
row() { report+=("$(printf '%-40s %9s %13s %18s %8s' "$@")"); }
note() { report+=("  $*"); }
problem() { note "PROBLEM: $*"; failed=1; }
# counted LABEL PICTURES FRAMES ...: a row, and a problem noted for any picture or frame
# lost.
counted() {
  local label=$1 pics=$2 frames=$3
  shift 3
  row "$label" "$pics" "$frames" "$@"
  [ -z "$pics" ] || [ "$pics" = "$src_pictures" ] ||
    problem "$label: $pics pictures, not $src_pictures"
  [ -z "$frames" ] || [ "$frames" = "$audio_frames" ] ||
    problem "$label: $frames audio frames, not $audio_frames"
}
skip() { echo "skipped: $1 not built"; note "skipped: $1 not built"; }
now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f s", (b - a) / 1e6 }'; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
pictures_in() { field pictures "$("$count" avs "$1" 2>/dev/null)"; }
frames_in() { field frames "$("$count" mp3 "$1" 2>/dev/null)"; }
# Average PSNR (all planes) of the pictures FFmpeg decodes from "$@" against the source.
psnr_of() {
  ffmpeg -v fatal "$@" -map 0:v:0 -fps_mode passthrough -s ${width}x${height} -pix_fmt yuv420p -f rawvideo -y "$out/decoded.yuv" &&
    ffmpeg -f rawvideo -s ${width}x${height} -pix_fmt yuv420p -i "$out/decoded.yuv" \
      -f rawvideo -s ${width}x${height} -pix_fmt yuv420p -i "$out/source.yuv" -lavfi psnr=shortest=1 -f null - 2>&1 |
    sed -n 's/.*PSNR y:\([0-9.inf]*\) u:.* average:\([0-9.inf]*\).*/\2 \1/p' |
    awk '{ printf "%.2f (Y %.2f)", $1, $2 }'
  rm -f "$out/decoded.yuv"
}
decoded_pictures() { ffmpeg -v quiet "$@" -map 0:v:0 -f framecrc - | grep -c '^0,'; }

echo "== making a ${seconds} s clip with FFmpeg: testsrc2 ${width}x${height} at $fps fps, 440 Hz stereo tone"
ffmpeg -v error -f lavfi -i "testsrc2=size=${width}x${height}:rate=$fps:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" -ac 2 \
  -c:v mpeg4 -q:v 2 -c:a pcm_s16le -y "$clip" || { echo "main_job: FFmpeg made no clip" >&2; exit 1; }
ffmpeg -v fatal -i "$clip" -map 0:v -fps_mode passthrough -pix_fmt yuv420p -f rawvideo -y "$out/source.yuv"
src_pictures=$(decoded_pictures -i "$clip")
src_samples=$(($(ffmpeg -v error -i "$clip" -map 0:a -f s16le - | wc -c) / 4))
row "step" "pictures" "audio frames" "PSNR dB avg (Y)" "time"
row "source clip.avi" "$src_pictures" "" "" ""
note "source audio: $src_samples samples at 44.1 kHz, stereo"

echo "== each stage alone, timed (the command lines Ostrander uses, default settings)"
opts=(-c 1 -p 1 -g 18 -q 24 -b 2 -a 0 -f 3 -o 0 -m 32 -t 1 -l 1 -n 24.000000)
t0=$(now); "$bin/Harrowgate" "$clip" "$stages/clip.avi.avs" "${opts[@]}" >/dev/null; t1=$(now)
counted "Harrowgate -> clip.avi.avs" "$(pictures_in "$stages/clip.avi.avs")" "" \
  "$(psnr_of -f cavsvideo -i "$stages/clip.avi.avs")" "$(secs "$t0" "$t1")"
t0=$(now); "$bin/Quenby" "$clip" "$stages/clip.avi.mp3" >/dev/null; t1=$(now)
audio_frames=$(frames_in "$stages/clip.avi.mp3")
row "Quenby -> clip.avi.mp3" "" "$audio_frames" "" "$(secs "$t0" "$t1")"
t0=$(now)
"$bin/Korvel" "$stages/clip.avi.avs" "$stages/clip.avi.mp3" "$stages/clip.avi.dat" "$stages/clip.avi.avsts"
t1=$(now)
row "Korvel -> clip.avi.avsts" "" "" "" "$(secs "$t0" "$t1")"
t0=$(now)
"$bin/Lindqvale" "$stages/clip.avi.avs" "$stages/clip.avi.asm" -f >/dev/null &&
  "$bin/Lindqvale" "$stages/clip.avi.mp3" "$stages/clip.avi.asm" >/dev/null
t1=$(now)
row "Lindqvale twice -> clip.avi.asm" "" "" "" "$(secs "$t0" "$t1")"

echo "== Ostrander --convert-ts and --convert-asm (started from build/bin)"
for kind in ts asm; do
  t0=$(now)
  (cd "$bin" && ./Ostrander --convert-$kind --output "$out" "$clip") >"$out/ostrander-$kind.log" 2>&1
  rc=$?; t1=$(now)
  note "Ostrander --convert-$kind: exit code $rc, $(secs "$t0" "$t1")"
  [ "$rc" -eq 0 ] || problem "Ostrander --convert-$kind failed (see $out/ostrander-$kind.log)"
done
left=$(cd "$out" && ls clip.avi.avs clip.avi.mp3 clip.avi.dat 2>/dev/null | tr '\n' ' ')
[ -z "$left" ] || problem "intermediate files left behind: $left"

ts=$out/clip.avi.avsts
asm=$out/clip.avi.asm
if [ -s "$ts" ]; then
  streams=$(ffprobe -v quiet -count_frames -show_entries stream=index,codec_name,codec_type,nb_read_frames \
    -of csv=p=0 "$ts" | awk NF | sort -u)
  echo "ffprobe on clip.avi.avsts (index, codec, type, frames decoded):"
  sed 's/^/  /' <<<"$streams"
  counted "clip.avi.avsts, FFmpeg decodes" "$(grep ',cavs,' <<<"$streams" | cut -d, -f4)" \
    "$(grep ',mp3,' <<<"$streams" | cut -d, -f4)" "$(psnr_of -i "$ts")" ""
else
  problem "Ostrander wrote no clip.avi.avsts"
fi
if [ -s "$asm" ]; then
  tracks=$(ffprobe -v quiet -show_entries stream=codec_name,nb_frames -of csv=p=0 "$asm" | sort)
  counted "clip.avi.asm, samples ffprobe reads" "$(grep '^cavs' <<<"$tracks" | cut -d, -f2)" \
    "$(grep '^mp3' <<<"$tracks" | cut -d, -f2)" "" ""
else
  problem "Ostrander wrote no clip.avi.asm"
fi

echo "== registering the filter modules (registry $AVS_REGISTRY)"
if [ -x "$bin/regsvr" ]; then
  for m in BranwickSource.so Tallowmere.so; do
    if [ -e "$bin/$m" ]; then "$bin/regsvr" "$bin/$m" || problem "regsvr $m failed"; else skip "$m"; fi
  done
else
  skip regsvr
fi

# play KEY INPUT: avsplay with --decode; the video and audio it delivers are kept as
# play/KEY.avs and play/KEY.mp3, counted and decoded.
play() {
  local key=$1 input=$2 t0 t1 rc
  t0=$(now)
  timeout 60 "$bin/avsplay" "$input" --decode --video "$out/play/$key.avs" --audio "$out/play/$key.mp3" \
    >"$out/play/$key.log" 2>&1
  rc=$?; t1=$(now)
  echo "avsplay $input (exit code $rc):"
  sed 's/^/  /' "$out/play/$key.log"
  [ "$rc" -eq 0 ] || problem "avsplay $input ended with exit code $rc"
  grep -q "decoded $src_pictures pictures, 0 decoding errors" "$out/play/$key.log" ||
    problem "avsplay ${input##*/}: its decoder did not decode $src_pictures pictures cleanly"
  [ "$(grep -c 'end of stream' "$out/play/$key.log")" = 2 ] ||
    problem "avsplay ${input##*/}: a stream did not reach its end"
  counted "avsplay ${input##*/} (${key%%-*})" "$(pictures_in "$out/play/$key.avs")" \
    "$(frames_in "$out/play/$key.mp3")" "$(psnr_of -f cavsvideo -i "$out/play/$key.avs")" "$(secs "$t0" "$t1")"
}

echo "== playing clip.avi.asm through BranwickSource"
if [ ! -x "$bin/avsplay" ]; then
  skip avsplay
elif [ ! -e "$bin/BranwickSource.so" ]; then
  skip BranwickSource.so
else
  play file-asm "$asm"
fi

echo "== streaming clip.avi.avs with rtspserve into Tallowmere"
if [ ! -x "$bin/rtspserve" ]; then
  skip rtspserve
elif [ ! -x "$bin/avsplay" ]; then
  skip avsplay
elif [ ! -e "$bin/Tallowmere.so" ]; then
  skip Tallowmere.so
else
  # Paced in real time, as a server streams. The server's BYE at the end tells the
  # receiving filter that the last picture and audio frame are complete, so every one
  # arrives.
  "$bin/rtspserve" --quiet --port 0 "$stages/clip.avi.avs" "$stages/clip.avi.mp3" \
    >"$out/play/rtspserve.out" 2>"$out/play/rtspserve.log" &
  server=$!
  url=
  for _ in $(seq 50); do
    url=$(head -n1 "$out/play/rtspserve.out" 2>/dev/null)
    [ -n "$url" ] && break
    sleep 0.1
  done
  if [ -n "$url" ]; then
    play rtsp-avs "$url"
  else
    problem "rtspserve printed no address"
  fi
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
fi
rm -f "$out/source.yuv"

echo
echo "== report (files in $out)"
printf '%s\n' "${report[@]}"
echo "Expected everywhere: $src_pictures pictures and $audio_frames audio frames (the MP3 Quenby writes," \
  "its Info header frame included). PSNR: average over Y, U and V of FFmpeg's decode against the source."
if [ "$failed" -ne 0 ]; then
  echo "main_job: some steps FAILED (see PROBLEM above)"
elif grep -q 'skipped:' <<<"${report[*]}"; then
  echo "main_job: no picture or audio frame lost in the steps that ran; some steps were skipped"
else
  echo "main_job: every step ran; no picture or audio frame lost"
fi
exit "$failed"
