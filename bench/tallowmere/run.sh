#!/usr/bin/env bash
# run.sh [COPIES [REPEATS]]: makes three Harrowgate clips of FFmpeg's testsrc2
# pattern (1280x720, 300 pictures, an intra picture every 18; the same with
# intra pictures only; 1920x1080, 150 pictures, every 18) unless they are
# already in $AVS_BENCH_DIR (default /tmp/tallowmere_bench_clips), then runs
# tallowmere_bench REPEATS times (default 3) on the small-picture test stream
# (x2000) and on each clip repeated COPIES times (default 40). Needs build/
# (scripts/build.sh release) and the ffmpeg command.
set -euo pipefail
cd "$(dirname "$0")/../.."
copies=${1:-40}
repeats=${2:-3}
dir=${AVS_BENCH_DIR:-/tmp/tallowmere_bench_clips}
mkdir -p "$dir"
make_clip() {  # SIZE SECONDS NAME GOP
    [[ -s "$dir/$3.avs" ]] && return
    echo "making $dir/$3.avs ..." >&2
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$1:rate=25" -t "$2" -c:v ffv1 "$dir/$3.mkv"
    build/bin/Harrowgate "$dir/$3.mkv" "$dir/$3.avs" -g "$4" -q 24 -n 25 2>&1 | tail -n 1 >&2
    rm -f "$dir/$3.mkv"
}
make_clip 1280x720 12 hd720 18
make_clip 1280x720 12 intra720 1
make_clip 1920x1080 6 hd1080 18
exec build/bench/tallowmere_bench -r "$repeats" 2000 "$dir/hd720.avs" "$copies" \
    "$dir/intra720.avs" "$copies" "$dir/hd1080.avs" "$copies"
