#!/usr/bin/env bash
# Lindqvale.exe under wine64 against the Linux Lindqvale: the same containers byte for byte
# (video step, then the audio step over the container), the same messages and exit codes.
#   lindqvale_matches_linux.sh DATA_DIR   (LINUX_BIN, WIN_BIN, WINE_RUN from the environment)
data=$(cd "$1" && pwd)
source "$(dirname "$0")/compare_lib.sh"
# Containers carry their creation time; both runs get the same one.
export SOURCE_DATE_EPOCH=1700000000

mkdir inputs
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=4" -ac 2 -c:a libmp3lame \
  -b:a 128k -id3v2_version 0 inputs/a.mp3
for sample in "$data"/*.avs; do
  name=$(basename "$sample")
  cp "$sample" inputs/v.avs
  run_both "$name: video" Lindqvale -f v.avs c.asm
  # The audio step reads the container the video step made.
  cp lin/c.asm inputs/c.asm
  run_both "$name: audio" Lindqvale a.mp3 c.asm
  rm inputs/c.asm
done

cp "$data/xavs_cif352x288_25fps_IBP_100f.avs" inputs/v.avs
run_both "help" Lindqvale --help
run_both "one argument" Lindqvale v.avs
run_both "missing video" Lindqvale -f missing.avs c.asm
run_both "missing container" Lindqvale a.mp3 missing.asm
run_both "output is the input" Lindqvale -f v.avs ./v.avs
run_both "output folder missing" Lindqvale -f v.avs no/such.asm
head -c 100000 /dev/urandom >inputs/noise
run_both "noise as video" Lindqvale -f noise c.asm
run_both "noise as container" Lindqvale a.mp3 noise
finish
