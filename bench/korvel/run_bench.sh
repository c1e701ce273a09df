#!/usr/bin/env bash
# Korvel against FFmpeg remuxing the same inputs into MPEG-TS (-c copy -f mpegts).
#   bench/korvel/run_bench.sh [MEGABYTES]   (default 520 MB of AVS units)
# Generates synthetic AVS units with matching MP3 and time stamps, warms the page
# cache, times both programs on the same files in this run, and prints MB/s (10^6
# bytes of input per second), the ratio and peak memory (/usr/bin/time -v). A second,
# small input shows that Korvel's peak memory does not grow with the input.
set -euo pipefail
cd "$(dirname "$0")/../.."
megabytes=${1:-520}
gen=build/bench/make_korvel_inputs
korvel=build/bin/Korvel
for f in "$gen" "$korvel"; do
  [ -x "$f" ] || { echo "run_bench: $f is missing; run scripts/build.sh release first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "run_bench: ffmpeg is missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "run_bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

slices=18
slice_bytes=1500
picture_bytes=$(( slices * (slice_bytes + 4) + 9 ))
pictures=$(( megabytes * 1000000 / picture_bytes + 1 ))
seconds=$(( pictures * 40 / 1000 + 1 ))

make_inputs() {  # name pictures seconds
  "$gen" "$work/$1.avs" "$work/$1.dat" "$2" "$slices" "$slice_bytes" 12 40
  ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=$3" -ac 2 \
    -c:a libmp3lame -b:a 128k -id3v2_version 0 "$work/$1.mp3"
}

# Runs a command under /usr/bin/time; sets secs and rss_kb.
timed() {
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "run_bench: failed: $*" >&2; cat "$work/stderr.txt" >&2; exit 1; }
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$work/time.txt")
  rss_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
}

echo "== generating $pictures pictures (~$megabytes MB of AVS units) and ${seconds} s of MP3 in $work"
make_inputs big "$pictures" "$seconds"
make_inputs small $(( pictures / 10 + 1 )) $(( seconds / 10 + 1 ))
input_bytes=$(( $(stat -c %s "$work/big.avs") + $(stat -c %s "$work/big.mp3") ))
echo "input: $(stat -c %s "$work/big.avs") bytes of video, $(stat -c %s "$work/big.mp3") bytes of audio"
cat "$work/big.avs" "$work/big.mp3" "$work/big.dat" >/dev/null   # same warm cache for both

echo "== Korvel"
timed "$korvel" "$work/big.avs" "$work/big.mp3" "$work/big.dat" "$work/korvel.ts"
k_secs=$secs k_rss=$rss_kb
rm -f "$work/korvel.ts"
echo "== ffmpeg -c copy -f mpegts"
timed ffmpeg -v error -y -f cavsvideo -i "$work/big.avs" -i "$work/big.mp3" \
  -map 0:v -map 1:a -c copy -f mpegts "$work/ffmpeg.ts"
f_secs=$secs f_rss=$rss_kb
rm -f "$work/ffmpeg.ts"
echo "== Korvel on a tenth of the input (peak memory check)"
timed "$korvel" "$work/small.avs" "$work/small.mp3" "$work/small.dat" "$work/small.ts"
s_rss=$rss_kb

awk -v b="$input_bytes" -v ks="$k_secs" -v fs="$f_secs" -v kr="$k_rss" -v fr="$f_rss" -v sr="$s_rss" 'BEGIN {
  km = b / 1e6 / ks; fm = b / 1e6 / fs;
  printf "input            %.1f MB\n", b / 1e6;
  printf "Korvel           %6.2f s  %8.1f MB/s  peak %d kB\n", ks, km, kr;
  printf "ffmpeg           %6.2f s  %8.1f MB/s  peak %d kB\n", fs, fm, fr;
  printf "ratio            %.2f x ffmpeg throughput\n", km / fm;
  printf "Korvel peak memory: %d kB on the full input, %d kB on a tenth of it\n", kr, sr;
}'
