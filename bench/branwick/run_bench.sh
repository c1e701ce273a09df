#!/usr/bin/env bash
# Playing a large .asm through the graph (avsplay: file reader -> BranwickSource ->
# renderers) against reading the same file sequentially (the I/O limit, dd) and against
# FFmpeg demuxing it (ffmpeg -i X.asm -map 0 -c copy -f null -), in one run.
#   run_bench.sh [build folder] [megabytes of video]
# Needs about twice the file size in free space under $TMPDIR (default /tmp) while it
# builds the container; everything is removed at the end.
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
mb=${2:-1050}
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export AVS_REGISTRY=$work/registry.reg
"$bin/regsvr" -s "$bin/BranwickSource.so"

pictures=$("$build/bench/make_branwick_input" "$work/x.avs" "$mb")
seconds=$(awk -v n="$pictures" 'BEGIN { printf "%.2f", n / 25 }')
ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:r=44100:d=$seconds" -c:a libmp3lame \
  -b:a 128k "$work/x.mp3"
"$bin/Lindqvale" "$work/x.avs" "$work/x.asm" -f >/dev/null
rm -f "$work/x.avs"
"$bin/Lindqvale" "$work/x.mp3" "$work/x.asm" >/dev/null
bytes=$(stat -c %s "$work/x.asm")

timed() {
  local TIMEFORMAT='%3R'
  { time "$@" >/dev/null 2>&1; } 2>&1
}

# Warm the page cache once, then three rounds with the three readers taking turns;
# the best time of each counts.
cat "$work/x.asm" >/dev/null
declare -A best
for round in 1 2 3; do
  for who in read graph ffmpeg; do
    case $who in
      read) t=$(timed dd if="$work/x.asm" of=/dev/null bs=1M) ;;
      graph) t=$(timed "$bin/avsplay" "$work/x.asm") ;;
      ffmpeg) t=$(timed ffmpeg -nostdin -v error -i "$work/x.asm" -map 0 -c copy -f null -) ;;
    esac
    if [ -z "${best[$who]:-}" ] || awk -v a="$t" -v b="${best[$who]}" 'BEGIN{exit !(a<b)}'; then
      best[$who]=$t
    fi
  done
done
# The run must have played everything.
"$bin/avsplay" "$work/x.asm"

echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
echo "file: $bytes bytes, $pictures pictures 1920x1080 and ${seconds} s of MP3; best of 3"
awk -v b="$bytes" -v r="${best[read]}" -v g="${best[graph]}" -v f="${best[ffmpeg]}" 'BEGIN {
  printf "%-44s %8s %10s\n", "", "wall s", "MB/s"
  printf "%-44s %8.3f %10.1f\n", "sequential read (dd bs=1M)", r, b / 1e6 / r
  printf "%-44s %8.3f %10.1f\n", "avsplay through the graph", g, b / 1e6 / g
  printf "%-44s %8.3f %10.1f\n", "ffmpeg -map 0 -c copy -f null -", f, b / 1e6 / f
  printf "graph / I/O limit %.2f (target >= 0.6)\n", r / g
  printf "graph / ffmpeg    %.2f (target >= 1.3)\n", f / g
}'
