#!/usr/bin/env bash
# The main job on a built-in example: generates a short AVS1-P2 elementary stream with
# its time-stamp file and an MP3, multiplexes them with Korvel and shows what ffprobe
# sees in the transport stream. Files go to out/korvel-demo/ (or $1).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
gen=build/bench/make_korvel_inputs
for f in "$bin/Korvel" "$gen"; do
  [ -x "$f" ] || { echo "main_job: $f is missing; run scripts/build.sh release first" >&2; exit 1; }
done
out=${1:-out/korvel-demo}
mkdir -p "$out"
pictures=75   # 3 s at 25 fps: sequence header every 12 pictures, I P B B P ...

echo "== generating $pictures pictures of synthetic AVS1-P2 video and their time stamps"
"$gen" "$out/demo.avs" "$out/demo.dat" "$pictures" 18 400 12 40

echo "== encoding 3 s of MP3"
if ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libmp3lame; then
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=3" -ac 2 \
    -c:a libmp3lame -b:a 128k -id3v2_version 0 "$out/demo.mp3"
else
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=3" -ac 2 "$out/demo.wav"
  lame --quiet -b 128 "$out/demo.wav" "$out/demo.mp3"
fi
ls -l "$out/demo.avs" "$out/demo.mp3" "$out/demo.dat"

echo "== Korvel demo.avs demo.mp3 demo.dat demo.avsts"
set +e
"$bin/Korvel" "$out/demo.avs" "$out/demo.mp3" "$out/demo.dat" "$out/demo.avsts"
rc=$?
set -e
echo "Korvel exit code: $rc"
[ "$rc" -eq 0 ] && [ -s "$out/demo.avsts" ] || { echo "main_job: no transport stream written" >&2; exit 1; }
ls -l "$out/demo.avsts"

echo "== what ffprobe sees (the picture data is synthetic, so only its structure is meaningful)"
ffprobe -v quiet -show_entries format=format_name,duration,size,nb_programs:program=program_id \
  -of default=nw=1 "$out/demo.avsts"
ffprobe -v quiet -count_packets \
  -show_entries stream=index,id,codec_name,codec_type,nb_read_packets,sample_rate \
  -of compact=p=0 "$out/demo.avsts" | awk 'NF && !seen[$0]++'
echo "first packets (stream, pts, size):"
ffprobe -v quiet -show_entries packet=stream_index,pts,size -of csv=p=0 "$out/demo.avsts" | grep -v '^$' | head -8
