#!/usr/bin/env bash
# Korvel against FFmpeg remuxing the same inputs into MPEG-TS (-c copy -f mpegts).
#   bench/korvel/run_bench.sh [MEGABYTES [RUNS]]   (default 520 MB of AVS units, 3 runs)
# Generates synthetic AVS units with matching MP3 and time stamps, warms the page cache,
# then times both programs on the same files in this run, alternating, RUNS times each,
# and keeps each one's best run. Prints MB/s (10^6 bytes of input per second of wall
# clock), the ratio, CPU time and peak memory (/usr/bin/time -v). Outputs go to
# $BENCH_OUT (default /dev/shm when it exists) so that disk write-back, which is the same
# for both and very noisy on a shared machine, does not decide the result. A second input
# of a tenth of the size shows that Korvel's peak memory does not grow with the input.
# Both are also timed with the output thrown away (/dev/null).
set -euo pipefail
cd "$(dirname "$0")/../.."
megabytes=${1:-520}
runs=${2:-3}
gen=build/bench/make_korvel_inputs
korvel=build/bin/Korvel
for f in "$gen" "$korvel"; do
  [ -x "$f" ] || { echo "run_bench: $f is missing; run scripts/build.sh release first" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "run_bench: ffmpeg is missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "run_bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-bench.XXXXXX")
default_out=$work
[ -d /dev/shm ] && [ -w /dev/shm ] && default_out=/dev/shm
out=$(mktemp -d "${BENCH_OUT:-$default_out}/korvel-bench-out.XXXXXX")
trap 'rm -rf "$work" "$out"' EXIT

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

# Runs a command under /usr/bin/time; sets secs, cpu (user+system) and rss_kb.
timed() {
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "run_bench: failed: $*" >&2; cat "$work/stderr.txt" >&2; exit 1; }
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$work/time.txt")
  rss_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  cpu=$(awk -F': ' '/User time|System time/ {s+=$2} END {print s}' "$work/time.txt")
}
min() { awk -v a="$1" -v b="$2" 'BEGIN {print (a == "" || b < a) ? b : a}'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN {print (a == "" || b > a) ? b : a}'; }

echo "== generating $pictures pictures (~$megabytes MB of AVS units) and ${seconds} s of MP3 in $work"
make_inputs big "$pictures" "$seconds"
make_inputs small $(( pictures / 10 + 1 )) $(( seconds / 10 + 1 ))
input_bytes=$(( $(stat -c %s "$work/big.avs") + $(stat -c %s "$work/big.mp3") ))
echo "input: $(stat -c %s "$work/big.avs") bytes of video, $(stat -c %s "$work/big.mp3") bytes of audio; outputs in $out"
cat "$work/big.avs" "$work/big.mp3" "$work/big.dat" >/dev/null   # same warm cache for both
load=$(cut -d' ' -f1-3 /proc/loadavg)

k_secs= k_cpu= k_rss= f_secs= f_cpu= f_rss=
for ((i = 1; i <= runs; i++)); do
  timed "$korvel" "$work/big.avs" "$work/big.mp3" "$work/big.dat" "$out/korvel.ts"
  echo "run $i: Korvel $secs s (CPU $cpu s)"
  k_secs=$(min "$k_secs" "$secs") k_cpu=$(min "$k_cpu" "$cpu") k_rss=$(max "$k_rss" "$rss_kb")
  rm -f "$out/korvel.ts"
  timed ffmpeg -v error -y -f cavsvideo -i "$work/big.avs" -i "$work/big.mp3" \
    -map 0:v -map 1:a -c copy -f mpegts "$out/ffmpeg.ts"
  echo "run $i: ffmpeg $secs s (CPU $cpu s)"
  f_secs=$(min "$f_secs" "$secs") f_cpu=$(min "$f_cpu" "$cpu") f_rss=$(max "$f_rss" "$rss_kb")
  rm -f "$out/ffmpeg.ts"
done
# The same with the output thrown away: what each program itself costs, without the
# kernel's work of storing the output (about 0.35 s of CPU for 0.5 GB into tmpfs here).
kn_secs= fn_secs=
for ((i = 1; i <= runs; i++)); do
  timed "$korvel" "$work/big.avs" "$work/big.mp3" "$work/big.dat" /dev/null
  kn_secs=$(min "$kn_secs" "$secs")
  timed ffmpeg -v error -y -f cavsvideo -i "$work/big.avs" -i "$work/big.mp3" \
    -map 0:v -map 1:a -c copy -f mpegts /dev/null
  fn_secs=$(min "$fn_secs" "$secs")
done
timed "$korvel" "$work/small.avs" "$work/small.mp3" "$work/small.dat" "$out/small.ts"
s_rss=$rss_kb

echo "== best of $runs runs each (load average at the start: $load on $(nproc) cores)"
awk -v b="$input_bytes" -v ks="$k_secs" -v fs="$f_secs" -v kc="$k_cpu" -v fc="$f_cpu" \
    -v kr="$k_rss" -v fr="$f_rss" -v sr="$s_rss" -v kn="$kn_secs" -v fn="$fn_secs" 'BEGIN {
  km = b / 1e6 / ks; fm = b / 1e6 / fs;
  printf "input            %.1f MB\n", b / 1e6;
  printf "Korvel           %6.2f s  %8.1f MB/s  CPU %.2f s  peak %d kB\n", ks, km, kc, kr;
  printf "ffmpeg           %6.2f s  %8.1f MB/s  CPU %.2f s  peak %d kB\n", fs, fm, fc, fr;
  printf "ratio            %.2f x ffmpeg throughput (wall clock), %.2f x less CPU time\n", km / fm, fc / kc;
  printf "to /dev/null     Korvel %.2f s (%.1f MB/s), ffmpeg %.2f s (%.1f MB/s): %.2f x\n", kn, b / 1e6 / kn, fn, b / 1e6 / fn, fn / kn;
  printf "Korvel peak memory: %d kB on the full input, %d kB on a tenth of it\n", kr, sr;
}'
