#!/usr/bin/env bash
# speed_and_psnr.sh [ENCODER] — codes a 720p test pattern (200 pictures) with Harrowgate at
# several settings, and a 1080p one (100 pictures) with one and two threads, and prints the
# wall time, the CPU time, the bit rate and the PSNR of FFmpeg's decode against the source.
# Work files go to $WORK (default /tmp/harrowgate_bench).
set -euo pipefail
encoder=${1:-"$(dirname "$0")/../../build/bin/Harrowgate"}
work=${WORK:-/tmp/harrowgate_bench}
mkdir -p "$work"
src="$work/src.mkv"
[ -f "$src" ] || ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1280x720:rate=25 \
    -frames:v 200 -c:v ffv1 "$src"
src1080="$work/src1080.mkv"
[ -f "$src1080" ] || ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 \
    -frames:v 100 -c:v ffv1 "$src1080"

run() {
    local name=$1
    shift
    local src=$src
    local seconds=8  # 200 pictures at 25 a second
    if [ "$1" = --source ]; then
        src=$2
        seconds=4
        shift 2
    fi
    local out="$work/$name.avs"
    local times
    /usr/bin/time -o "$work/time.txt" -f "%e %U" "$encoder" "$src" "$out" "$@" >/dev/null 2>&1
    times=$(tail -1 "$work/time.txt")
    local kbit
    kbit=$(stat -c %s "$out" | awk -v s="$seconds" '{printf "%.0f", $1 * 8 / s / 1000}')
    local psnr
    psnr=$(ffmpeg -nostdin -f cavsvideo -i "$out" -i "$src" -lavfi \
        '[0:v]settb=1/25,setpts=N[a];[1:v]settb=1/25,setpts=N[b];[a][b]psnr' -f null - 2>&1 |
        grep -o 'average:[0-9.]*' | cut -d: -f2)
    printf '%-10s wall %5s s  cpu %5s s  %6s kbit/s  PSNR %s dB  (%s)\n' "$name" \
        "${times% *}" "${times#* }" "$kbit" "$psnr" "$*"
}

base="-c 1 -p 1 -g 18 -b 2 -f 3 -o 0 -m 32 -n 25"
run q24-l0-t1 $base -q 24 -a 0 -t 1 -l 0
run q24-l1-t1 $base -q 24 -a 0 -t 1 -l 1
run q24-l1-t2 $base -q 24 -a 0 -t 2 -l 1
run q24-o1 ${base/-o 0/-o 1} -q 24 -a 0 -t 1 -l 1
run rc2000 $base -q 24 -a 3 -s 2000 -t 1 -l 1
run rc6000 $base -q 24 -a 3 -s 6000 -t 1 -l 1
run 1080-t1 --source "$src1080" $base -q 24 -a 0 -t 1 -l 1
run 1080-t2 --source "$src1080" $base -q 24 -a 0 -t 2 -l 1
cmp -s "$work/q24-l1-t1.avs" "$work/q24-l1-t2.avs" && echo "-t 2 stream is byte-identical to -t 1"
cmp -s "$work/1080-t1.avs" "$work/1080-t2.avs" && echo "1080p: -t 2 stream is byte-identical to -t 1"
